#pragma once
// One run of qimctl as a small state machine on the link: identify the
// module, then scan, show, poll or write, and end with finished(exit code).
// Nothing waits: each step continues in the completion of the one before.

#include "DeviceTable.h"
#include "Options.h"
#include "Output.h"
#include "Reply.h"

#include <QObject>
#include <functional>

namespace qim {
class Link;
class PollLoop;
} // namespace qim

namespace qim::ctl {

// The exit code a transaction's status gives.
int ExitOf(int16_t status);

class Session : public QObject {
    Q_OBJECT
public:
    Session(Link& link, const Options& options, Printer& out, QObject* parent = nullptr);
    void start();
    // Ctrl+C: a watch or a scan ends after the transaction on the wire; a
    // single transaction is let finish. A second one ends the run at once.
    void interrupt();

Q_SIGNALS:
    void finished(int code);

private:
    using Next = std::function<void(int16_t status)>;
    void identify(std::function<void()> next);
    void scanNext(int address);
    void info();
    void read();
    void poll(Next done);
    void pollDiscrete(Next done);
    void pollAnalog(Next done);
    void pollTemperature(Next done);
    void write();
    // Tells a failed transaction on stderr and keeps its exit code; true when it failed.
    bool failed(const Reply& reply, const QString& what, int needBytes = 0);
    Record deviceRecord(const DeviceRecord& r) const;
    Record stamp() const;
    void finish(int code);

    Link& m_link;
    Options m_o;
    Printer& m_out;
    DeviceTable m_table;
    DeviceRecord m_module;
    int m_found = 0;
    PollLoop* m_loop = nullptr;
    bool m_inCycle = false;
    bool m_linkDown = false;
    bool m_spTold = false;
    int m_polls = 0;
    int m_interrupts = 0;
    int m_code = Exit::Ok;
    bool m_finished = false;
};

} // namespace qim::ctl

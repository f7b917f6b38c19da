#pragma once
// One run of qimctl as a small state machine on the link: identify the
// module, then scan, show, poll or write, and end with finished(exit code).
// Nothing waits: each step continues in the completion of the one before.

#include "BusScan.h"
#include "ConfigFile.h"
#include "DeviceTable.h"
#include "ModuleRequest.h"
#include "Options.h"
#include "Output.h"
#include "Reply.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace qim {
class Link;
} // namespace qim

namespace qim::ctl {

// The exit code a transaction's status gives.
int exitOf(int16_t status);

class Session : public QObject {
    Q_OBJECT
public:
    Session(Link& link, const Options& options, Printer& out, QObject* parent = nullptr);
    void start();
    // Ctrl+C: a watch or a scan ends after the transaction on the wire; a
    // single transaction is let finish. A second one ends the run at once.
    void interrupt();
    // What the link tells the user (a port or a connection that failed): said
    // in the line of the failure it caused.
    void linkMessage(const QString& text) { m_linkMessage = text.trimmed(); }

Q_SIGNALS:
    void finished(int code);

private:
    // A poll's rows are printed; done gets its exit code (0: it succeeded).
    using Done = std::function<void(int code)>;
    void identify(std::function<void()> next);
    void scan();
    void scanned(int address, const Reply& reply, int index);
    void scanEnded(BusScan::End how);
    void info();
    void read();
    void watchNext();
    void poll(Done done);
    void pollDiscrete(Done done);
    void pollAnalog(Done done);
    void pollTemperature(Done done);
    // A poll of one read: its row from the good reply (values unknown
    // without one), printed, or told as failed.
    void pollRead(const ModuleRequest& request, std::function<Record(const Reply*)> row, Done done);
    void write();
    // config: check a file here, send one to the module, or save what it holds.
    void checkConfig();
    void sendConfig();
    void saveConfig();
    // The module is of the file's model; otherwise it is said and the run ends.
    bool configures(ModuleKind kind);
    // A failed transaction: "the read of ... failed (no reply)", the link's
    // or the port's trouble included, and the exit code it gives.
    struct Failure {
        QString reason;
        QString why; // the part in brackets
        int code = Exit::Ok;
        explicit operator bool() const { return code != Exit::Ok; }
    };
    // No failure when the reply is good and holds needBytes.
    Failure failure(const Reply& reply, const QString& what, int needBytes = 0);
    // Tells a failure on stderr, one line.
    void complain(const Failure& f) const;
    // A failed poll: rows of unknown values in a watch, a line on stderr otherwise.
    void pollFailed(const Failure& f, const QList<Record>& values, const Done& done);
    // A poll's row: time, address, status, the values and the failure's reason.
    void print(const Record& values, const QString& reason = {});
    void printed(bool ok);
    Record deviceRecord(const DeviceRecord& r) const;
    void finish(int code);

    Link& m_link;
    Options m_o;
    Printer& m_out;
    DeviceTable m_table;
    DeviceRecord m_module;
    std::optional<ConfigFile::Settings> m_settings; // the file config send sends
    QString m_linkMessage;
    BusScan* m_scan = nullptr;
    int m_found = 0; // modules a scan listed
    QTimer m_next;   // the next poll of a watch
    QElapsedTimer m_pollStarted;
    bool m_spTold = false;
    int m_polls = 0;
    int m_interrupts = 0;
    int m_code = Exit::Ok;
    bool m_finished = false;
};

} // namespace qim::ctl

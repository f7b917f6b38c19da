#pragma once
// One bus scan: asks every address of a range for its identification
// (Report Slave ID), in order, and decodes the modules that answer into the
// device table. The scan dialog and qimctl run it.
//
//   start -> the table emptied, transactions from 0 -> Pausing
//   Pausing  --timer-->  Asking: the request to the current address
//   Asking   --reply-->  252: end, ConnectionError
//                        decoded into the next table entry, or an error;
//                        answered(); last address: end, Natural;
//                        otherwise next address, then
//                        stop asked? end, Stopped : Pausing
//
// Every request carries transaction identifier 0. Stop is looked at once per
// address, after its reply, so a stop during a pause still lets that pause's
// request go out and be counted. A reply too short to decode is an error.
// Without a pause each request goes out as the reply before is in; a pause
// of 0 is a zero-length timer, so the loop never holds the event loop.

#include "DeviceTable.h"

#include <QObject>
#include <QTimer>
#include <optional>

namespace qim {

class Link;

class BusScan : public QObject {
    Q_OBJECT
public:
    static constexpr int FirstAddress = 1;
    static constexpr int LastAddress = 247;
    // Why a scan from first to last cannot run; empty when it can.
    static QString rangeRefusal(int first, int last);

    enum class End { Natural, Stopped, ConnectionError, Abandoned };
    Q_ENUM(End)

    // The scan fills table, its owner's.
    BusScan(Link& link, DeviceTable& table, QObject* parent = nullptr);
    ~BusScan() override;

    // pauseMs: before each request, counted from the start or the reply before.
    void start(int first, int last, std::optional<int> pauseMs);
    void stop() { m_stopRequested = true; }
    // Ends the scan now: nothing more goes out, a reply on the wire is ignored.
    void abandon();
    bool running() const { return m_state != State::Idle; }

    int found() const { return m_found; }
    int errors() const { return m_errors; }
    // The address asked or next to ask; after a stop the first one not
    // asked, after a connection error the one that found no link.
    int address() const { return m_address; }

Q_SIGNALS:
    // The reply of address is counted: index is the table entry it was
    // decoded into, -1 when it counts as an error.
    void answered(int address, const qim::Reply& reply, int index);
    void finished(qim::BusScan::End how);

private:
    enum class State { Idle, Pausing, Asking };

    void next(); // the pause, if any, then ask()
    void ask();
    void onReply(const Reply& reply);
    void end(End how);

    Link& m_link;
    DeviceTable& m_table;
    QTimer m_pause;
    std::optional<int> m_pauseMs;
    State m_state = State::Idle;
    int m_address = 0;
    int m_last = LastAddress;
    int m_found = 0;
    int m_errors = 0;
    bool m_stopRequested = false;
    quint64 m_scans = 0; // a reply to an abandoned scan is not this one's
};

} // namespace qim

#pragma once
// The program's one link: a FIFO of transactions with exactly one on the
// wire, over the transport the settings name (its owner gives it the serial
// and the TCP one). Nothing here blocks: a wait is a timer or a transport's
// signal, and each transaction ends in its requester's completion callback.
//
// A read (polls, identification, the connection test) belongs to its
// requester and is dropped with it; a write (functions 5, 6 and 16, told by
// the frame) belongs to the link once given: it goes out even after its
// requester is gone, and a failure then is told through message().

#include "Frames.h"
#include "LinkSettings.h"
#include "Reply.h"
#include "TrafficRing.h"
#include "Transport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <optional>
#include <span>

namespace qim {

class Link : public QObject {
    Q_OBJECT
public:
    // The transports outlive the link.
    Link(Transport& serial, Transport& tcp, QObject* parent = nullptr);
    ~Link() override;

    const LinkSettings& settings() const { return m_settings; }
    // For transactions that start from now on; a request already queued
    // keeps the transport it was made for.
    void setSettings(const LinkSettings& settings) { m_settings = settings; }

    void readHoldingRegisters(uint8_t slave, int16_t start, int16_t count, Requester who);
    void readInputRegisters(uint8_t slave, int16_t start, int16_t count, Requester who);
    void reportSlaveId(uint8_t slave, Requester who);
    void writeSingleCoil(uint8_t slave, int16_t address, int32_t value, Requester who);
    void writeSingleRegister(uint8_t slave, int16_t address, int32_t value, Requester who);
    // values is indexed by register address; values[start .. start+count-1] go out.
    void writeMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                                std::span<const int32_t> values, Requester who);
    // The connection test: the serial port opens (and is named and set for
    // the transactions after it), or a fresh TCP connection is made. The
    // status is 255 when the link opened, 252 otherwise.
    void testConnection(Requester who);

    // The Modbus TCP transaction identifier the next request carries. A scan,
    // a poll run and a panel's write start again at 0; a poll loop moves on
    // once a cycle (65535 wraps to 0).
    void restartTransactions() { m_transactionId = 0; }
    void advanceTransaction() {
        m_transactionId = m_transactionId < 65535 ? m_transactionId + 1 : 0;
    }
    int transactionId() const { return m_transactionId; }

    // Drops every queued (not yet started) read of context; its writes stay.
    void cancel(const QObject* context);
    // Queued plus the one on the wire.
    int pending() const;
    bool serialPortOpen() const;
    bool tcpConnected() const;
    // Closes an open port and a kept connection (the program's end).
    void closeAll();
    const TrafficRing& traffic() const { return m_traffic; }

Q_SIGNALS:
    // A text for the user (port not available, TCP errors), raised before the
    // requester's callback runs.
    void message(const QString& text);
    void transactionFinished(const qim::TransactionRecord& record);

private:
    struct Job {
        Transport* transport = nullptr;
        bool test = false;
        Request request;
        QByteArray frame; // the request as its transport sends it, made when it starts
        QPointer<QObject> context;
        bool hasContext = false;
        Completion done;
        int coalesceKey = -1;
        bool write = false;
    };
    enum class Phase { Idle, Opening, Waiting };

    void submit(Request request, Requester who);
    void enqueue(Job job);
    void pump();
    void start();
    Transport& transport() const { return *m_current->transport; }
    void onReady();
    void armTimeout(int ms);
    void onTimer();
    void onEnded();
    void onFailed(const QString& text);
    void finishWait(bool final);
    void complete(Reply reply, bool noReply = false);

    LinkSettings m_settings;
    int m_transactionId = 0;
    Transport& m_serial;
    Transport& m_tcp;
    std::deque<Job> m_queue;
    std::optional<Job> m_current;
    Phase m_phase = Phase::Idle;
    bool m_inStart = false;
    quint64 m_seq = 0; // tells a deferred completion from a later transaction
    // One timer serves the timeouts of every transaction: it runs on from one
    // to the next (starting and stopping a timer for each cost more than the
    // rest of the transaction's own work) and looks at the deadline when it fires.
    QTimer m_timeout;
    qint64 m_deadlineMs = 0; // of the reply awaited, on m_clock
    qint64 m_timerDueMs = 0; // when m_timeout fires, on m_clock
    TrafficRing m_traffic;
    bool m_sent = false;    // the request on the wire went out
    QElapsedTimer m_clock;  // since the link was made
    qint64 m_startedMs = 0; // the transaction on the wire, since the epoch
    qint64 m_startedNs = 0; // and on m_clock
};

} // namespace qim

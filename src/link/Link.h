#pragma once
// The program's one link: a FIFO of transactions with exactly one on the
// wire, the serial (RTU) engine on QSerialPort and the TCP engine on
// QTcpSocket. Nothing here blocks: a wait is a timer or a socket signal, and
// each transaction ends in its requester's completion callback.

#include "Frames.h"
#include "Reply.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>
#include <deque>
#include <optional>

namespace qim {

// One finished transaction, for whoever watches the wire.
struct TransactionRecord {
    qint64 startedMs = 0; // since the epoch
    qint64 durationUs = 0;
    bool tcp = false;
    uint8_t slave = 0;
    uint8_t function = 0;
    QByteArray request;
    QByteArray reply; // exactly what arrived (TCP: header included)
    int16_t status = 0;
    bool noReply = false; // 253 with not a single byte received
};

// The newest transactions, kept by the link in a fixed ring: cheap enough to
// run always, so a traffic window opened after a failure still shows it.
class TrafficRing {
public:
    static constexpr int Capacity = 512;
    void append(const TransactionRecord& r);
    // Sequence number of the next record; records are numbered from 0.
    quint64 next() const { return m_next; }
    // The records numbered from `from` on that are still in the ring, oldest first.
    QList<TransactionRecord> since(quint64 from) const;
    void clear();

private:
    std::vector<TransactionRecord> m_slots = std::vector<TransactionRecord>(Capacity);
    quint64 m_next = 0;
};

class Link : public QObject {
    Q_OBJECT
public:
    enum class Kind {
        Serial,         // SerialTransaction
        Tcp,            // TCPTransaction
        OpenSerialPort, // the connection test of the serial link
        TcpConnect,     // the connection test of the TCP link
    };

    static Link& instance();

    // A read (polls, identification, the connection tests) belongs to its
    // requester; a write (functions 5, 6 and 16, told by the frame) belongs
    // to the link once given: it goes out even after its requester is gone,
    // and a failure then is told through message().
    void submit(Kind kind, Frame frame, Requester who);
    // Drops every queued (not yet started) read of context; its writes stay.
    void cancel(const QObject* context);
    // Queued plus the one on the wire.
    int pending() const;
    bool serialPortOpen() const { return m_port.isOpen(); }
    bool socketConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    // Closes an open port and a connected socket (the main window's unload).
    void closeAll();
    // Back to the state of a fresh start: nothing queued, nothing open.
    void reset();
    const TrafficRing& traffic() const { return m_traffic; }
    // How long a TCP connection stays open without a transaction.
    static constexpr int TcpIdleMs = 1000;

Q_SIGNALS:
    // A text for the user (port not available, TCP errors), raised before the
    // requester's callback runs.
    void message(const QString& text);
    void transactionFinished(const qim::TransactionRecord& record);

private:
    explicit Link(QObject* parent);

    struct Job {
        Kind kind = Kind::Serial;
        Frame frame;
        QPointer<QObject> context;
        bool hasContext = false;
        Completion done;
        int coalesceKey = -1;
        bool write = false;
    };
    // Sending: the serial port is open and the request is being written.
    enum class Phase { Idle, Opening, Sending, SerialWait, TcpConnecting, TcpWaiting };

    void pump();
    void start();
    void startOpenSerialPort();
    void startSerial();
    void startTcp();
    bool configurePort(int portNumber, int baudIndex);
    void finishSerial(bool timedOut);
    void finishTcp(bool finalCall);
    void failSerial(QSerialPort::SerialPortError error);
    void connectFailed(QAbstractSocket::SocketError error, bool unreachable);
    void complete(Reply reply, bool noReply = false);

    void onTimeout();
    void onSerialReadyRead();
    void onSerialError(QSerialPort::SerialPortError error);
    void onConnected();
    void onSocketReadyRead();
    void onSocketError(QAbstractSocket::SocketError error);

    // The TCP connection kept while transactions to one host and port follow
    // each other.
    void connectTcp();
    void sendTcp();
    void dropTcp();
    void keepTcp();
    void onTcpIdle();

    std::deque<Job> m_queue;
    std::optional<Job> m_current;
    Phase m_phase = Phase::Idle;
    bool m_inStart = false;
    quint64 m_seq = 0; // tells a deferred completion from a later transaction

    QSerialPort m_port;
    int m_portNumber = 0; // what the last OpenSerialPort set; 0 = never set
    QString m_device;     // the device COMn resolved to when the port was last named
    QTcpSocket m_socket;
    QTimer m_timeout;
    TrafficRing m_traffic;
    std::optional<ReplyCollector> m_rx; // the reply of the transaction on the wire
    qint64 m_startedMs = 0;
    QElapsedTimer m_clock;

    QTimer m_tcpIdle{this};     // closes the kept connection after a second without a transaction
    QElapsedTimer m_tcpLastUse; // since the kept connection's last transaction ended
    QString m_tcpHost;          // what the open connection was made to
    quint16 m_tcpPort = 0;
    bool m_tcpReused = false;     // the transaction on the wire went out on a kept connection
    bool m_inSocketError = false; // inside the socket's error signal
};

} // namespace qim

Q_DECLARE_METATYPE(qim::TransactionRecord)

#pragma once
// The simulator's transports: a Modbus TCP server and an RTU slave on a pty
// or a serial device. Internal to the simulator library.

#include "SimBus.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

class QSerialPort;
class QSocketNotifier;
class QTcpSocket;

namespace qimsim {

// What the bus does with one request that came over a transport: the reply
// frame in pieces, and whether the connection closes after it.
struct Chunk {
    QByteArray bytes;
    int delayMs = 0; // after the previous piece
};
struct Served {
    QList<Chunk> chunks; // empty: no reply
    bool closeAfter = false;
    // Serves an RTU frame (CRC already checked) or a whole Modbus TCP frame.
    static Served rtu(Bus& bus, const QByteArray& frame);
    static Served tcp(Bus& bus, const QByteArray& frame, int connection = 0);
};

// Sends reply pieces in order, each after its pause, without blocking.
class Outbox : public QObject {
    Q_OBJECT
public:
    std::function<void(const QByteArray&)> write;
    std::function<void()> close;

    explicit Outbox(QObject* parent = nullptr);
    void send(const Served& served);
    bool busy() const { return !m_pending.empty() || m_closing; }
    bool closing() const { return m_closing; }

Q_SIGNALS:
    void drained();

private:
    void next();
    std::deque<Chunk> m_pending;
    bool m_closeAfter = false;
    bool m_closing = false;
    QTimer m_timer;
};

// Finds RTU request frames in a byte stream: by the length each function
// code implies and the CRC, skipping line noise before a frame.
class RtuFramer {
public:
    // The length of the request frame starting at `at`: 0 when more bytes
    // are needed to tell, -1 for a function whose length is unknown.
    static int requestLength(const QByteArray& bytes, int at);
    static constexpr int BufferLimit = 512;

    QList<QByteArray> feed(const QByteArray& bytes);
    // The line fell silent: a frame of unknown length may end here; whatever
    // is left is noise or a cut frame and is dropped.
    QList<QByteArray> gap();
    bool empty() const { return m_buffer.isEmpty(); }

private:
    QByteArray m_buffer;
};

// One RTU line: a pty master or a serial device.
class RtuChannel : public QObject {
    Q_OBJECT
public:
    RtuChannel(Bus& bus, int gapMs, QObject* parent = nullptr);
    ~RtuChannel() override;
    // A new pty; its slave side stays open (raw) for the channel's life, so
    // the master never sees a hang-up between the program's opens.
    bool openPty(QString* error);
    bool openSerial(const QString& device, int baudRate, QString* error);
    QString device() const { return m_device; }
    void setGapMs(int ms) { m_gap.setInterval(ms); }

private:
    void onBytes(const QByteArray& bytes);
    void onGap();
    void pump();
    void writeBytes(const QByteArray& bytes);

    Bus& m_bus;
    RtuFramer m_framer;
    std::deque<QByteArray> m_frames;
    Outbox m_outbox;
    QTimer m_gap;
    int m_master = -1;
    int m_slaveKeep = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QSerialPort* m_port = nullptr;
    QString m_device;
};

// The Modbus TCP server: several connections, several requests on each.
class TcpTransport : public QObject {
    Q_OBJECT
public:
    explicit TcpTransport(Bus& bus, QObject* parent = nullptr);
    bool listen(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const { return m_server.serverPort(); }

private:
    void onConnection();
    Bus& m_bus;
    QTcpServer m_server;
};

} // namespace qimsim

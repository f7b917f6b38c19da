#include "SimTransports.h"

#include "Bytes.h"

#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace qimsim {

// ------------------------------------------------------------------ outbox

Outbox::Outbox(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Outbox::next);
}

void Outbox::send(const Served& served) {
    for (const Chunk& c : served.chunks)
        m_pending.push_back(c);
    m_closeAfter = m_closeAfter || served.closeAfter;
    if (!m_timer.isActive())
        next();
}

void Outbox::next() {
    while (!m_pending.empty()) {
        Chunk& c = m_pending.front();
        if (c.delayMs > 0) {
            m_timer.start(c.delayMs);
            c.delayMs = 0;
            return;
        }
        const QByteArray bytes = c.bytes;
        m_pending.pop_front();
        if (write && !bytes.isEmpty())
            write(bytes);
    }
    if (m_closeAfter) {
        m_closeAfter = false;
        m_closing = true;
        if (close)
            close();
        return;
    }
    Q_EMIT drained();
}

// ------------------------------------------------------------------ RTU framing

int RtuFramer::requestLength(const QByteArray& b, int at) {
    const int have = static_cast<int>(b.size()) - at;
    if (have < 2)
        return 0;
    const auto byteAt = [&](int i) { return static_cast<uint8_t>(b[at + i]); };
    switch (byteAt(1)) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 8:
        return 8;
    case 7:
    case 11:
    case 12:
    case 17:
        return 4;
    case 15:
    case 16:
        return have < 7 ? 0 : 9 + byteAt(6);
    case 20:
    case 21:
        return have < 3 ? 0 : 5 + byteAt(2);
    case 22:
        return 10;
    case 23:
        return have < 11 ? 0 : 13 + byteAt(10);
    case 24:
        return 6;
    default:
        return -1;
    }
}

QList<QByteArray> RtuFramer::feed(const QByteArray& bytes) {
    m_buffer += bytes;
    if (m_buffer.size() > BufferLimit)
        m_buffer.remove(0, m_buffer.size() - BufferLimit); // a babbling line
    QList<QByteArray> frames;
    for (bool found = true; found && !m_buffer.isEmpty();) {
        found = false;
        // The frame may sit behind noise: the first offset where a whole
        // frame with a good CRC stands wins, and the bytes before it go.
        for (int at = 0; at + 4 <= m_buffer.size(); ++at) {
            const int len = requestLength(m_buffer, at);
            if (len <= 0 || at + len > m_buffer.size())
                continue;
            if (qim::checkCRC(m_buffer.mid(at, len), len)) {
                frames << m_buffer.mid(at, len);
                m_buffer.remove(0, at + len);
                found = true;
                break;
            }
        }
    }
    return frames;
}

QList<QByteArray> RtuFramer::gap() {
    QList<QByteArray> frames = feed({});
    // A function of unknown length: the silence is its end.
    for (int at = 0; at + 4 <= m_buffer.size(); ++at) {
        const QByteArray rest = m_buffer.mid(at);
        if (requestLength(m_buffer, at) < 0 && qim::checkCRC(rest, static_cast<int>(rest.size()))) {
            frames << rest;
            break;
        }
    }
    m_buffer.clear();
    return frames;
}

// ------------------------------------------------------------------ RTU line

RtuChannel::RtuChannel(Bus& bus, int gapMs, QObject* parent)
    : QObject(parent), m_bus(bus), m_outbox(this) {
    m_gap.setSingleShot(true);
    m_gap.setInterval(gapMs);
    connect(&m_gap, &QTimer::timeout, this, &RtuChannel::onGap);
    m_outbox.write = [this](const QByteArray& b) { writeBytes(b); };
    connect(&m_outbox, &Outbox::drained, this, &RtuChannel::pump);
}

RtuChannel::~RtuChannel() {
    m_notifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
}

bool RtuChannel::openPty(QString* error) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        *error =
            QStringLiteral("cannot create a pty: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const char* name = ptsname(m_master);
    m_device = QString::fromLocal8Bit(name ? name : "");
    m_slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_slaveKeep < 0) {
        *error = QStringLiteral("cannot open %1: %2")
                     .arg(m_device, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    termios t{};
    tcgetattr(m_slaveKeep, &t);
    cfmakeraw(&t);
    t.c_cflag |= CSTOPB | CLOCAL | CREAD; // 8N2, as the line is set up
    cfsetspeed(&t, B19200);
    tcsetattr(m_slaveKeep, TCSANOW, &t);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        char buf[512];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            onBytes(QByteArray(buf, static_cast<int>(n)));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            m_notifier->setEnabled(false); // a dead line must not wake us for ever
    });
    return true;
}

bool RtuChannel::openSerial(const QString& device, int baudRate, QString* error) {
    m_port = new QSerialPort(this);
    m_port->setPortName(device);
    if (!m_port->open(QIODevice::ReadWrite)) {
        *error = QStringLiteral("cannot open %1: %2").arg(device, m_port->errorString());
        return false;
    }
    if (!m_port->setBaudRate(baudRate) || !m_port->setDataBits(QSerialPort::Data8) ||
        !m_port->setParity(QSerialPort::NoParity) || !m_port->setStopBits(QSerialPort::TwoStop) ||
        !m_port->setFlowControl(QSerialPort::NoFlowControl)) {
        *error = QStringLiteral("cannot set %1 to %2 baud, 8N2: %3")
                     .arg(device)
                     .arg(baudRate)
                     .arg(m_port->errorString());
        m_port->close();
        return false;
    }
    m_device = device;
    connect(m_port, &QSerialPort::readyRead, this, [this] { onBytes(m_port->readAll()); });
    return true;
}

void RtuChannel::onBytes(const QByteArray& bytes) {
    for (const QByteArray& f : m_framer.feed(bytes))
        m_frames.push_back(f);
    if (m_framer.empty())
        m_gap.stop();
    else
        m_gap.start();
    pump();
}

void RtuChannel::onGap() {
    for (const QByteArray& f : m_framer.gap())
        m_frames.push_back(f);
    pump();
}

void RtuChannel::pump() {
    // Half duplex: the next request is served once the previous reply is out.
    while (!m_outbox.busy() && !m_frames.empty()) {
        const QByteArray frame = m_frames.front();
        m_frames.pop_front();
        m_outbox.send(Served::rtu(m_bus, frame));
    }
}

void RtuChannel::writeBytes(const QByteArray& bytes) {
    if (m_port) {
        m_port->write(bytes);
        return;
    }
    if (m_master < 0)
        return;
    // A reply nobody reads fills the pty; the master's next request
    // discards what waits, so dropping the excess loses nothing of value.
    [[maybe_unused]] const ssize_t n = ::write(m_master, bytes.constData(), bytes.size());
}

// ------------------------------------------------------------------ TCP

namespace {

// One client connection: frames are taken from the stream by the MBAP
// length and answered in order; closed as the bus's TCP serving says.
class TcpSession : public QObject {
public:
    TcpSession(Bus& bus, QTcpSocket* socket, const TcpServing& serving, int number)
        : QObject(socket), m_bus(bus), m_socket(socket), m_serving(serving), m_number(number) {
        m_outbox.write = [this](const QByteArray& b) { m_socket->write(b); };
        m_outbox.close = [this] { m_socket->disconnectFromHost(); };
        connect(&m_outbox, &Outbox::drained, this, &TcpSession::pump);
        connect(socket, &QTcpSocket::readyRead, this, [this] {
            if (m_outbox.closing())
                return; // what comes after our last reply is never read
            m_buffer += m_socket->readAll();
            pump();
        });
        m_idle.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, this, [this] {
            if (!m_outbox.busy())
                m_socket->disconnectFromHost();
        });
        restartIdle();
    }

private:
    void pump() {
        while (!m_outbox.busy() && m_buffer.size() >= 7) {
            const auto at = [this](int i) { return static_cast<uint8_t>(m_buffer[i]); };
            const int protocol = at(2) << 8 | at(3);
            const int length = at(4) << 8 | at(5);
            if (protocol != 0 || length < 2 || length > 254) {
                // Not Modbus, or a frame we cannot find the end of.
                m_buffer.clear();
                m_socket->abort();
                return;
            }
            if (m_buffer.size() < 6 + length)
                return;
            const QByteArray frame = m_buffer.left(6 + length);
            m_buffer.remove(0, 6 + length);
            Served served = Served::tcp(m_bus, frame, m_number);
            if (!served.chunks.isEmpty() && m_serving.closeAfterReplies > 0 &&
                ++m_replies >= m_serving.closeAfterReplies)
                served.closeAfter = true;
            m_outbox.send(served);
        }
        restartIdle();
    }
    void restartIdle() {
        if (m_serving.idleCloseMs > 0)
            m_idle.start(m_serving.idleCloseMs);
    }

    Bus& m_bus;
    QTcpSocket* m_socket;
    TcpServing m_serving;
    int m_number;
    int m_replies = 0;
    QByteArray m_buffer;
    Outbox m_outbox{this};
    QTimer m_idle{this};
};

} // namespace

TcpTransport::TcpTransport(Bus& bus, QObject* parent) : QObject(parent), m_bus(bus) {
    connect(&m_server, &QTcpServer::newConnection, this, &TcpTransport::onConnection);
}

bool TcpTransport::listen(const QHostAddress& address, quint16 port, QString* error) {
    if (m_server.listen(address, port))
        return true;
    *error = QStringLiteral("cannot listen on %1 port %2: %3")
                 .arg(address.toString())
                 .arg(port)
                 .arg(m_server.errorString());
    return false;
}

void TcpTransport::onConnection() {
    while (QTcpSocket* s = m_server.nextPendingConnection()) {
        s->setParent(this);
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        new TcpSession(m_bus, s, m_bus.tcpServing(), m_bus.nextTcpConnection());
    }
}

} // namespace qimsim

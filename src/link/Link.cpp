#include "Link.h"

#include "Errors.h"
#include "PortNames.h"
#include "SocketSend.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QScopedValueRollback>
#include <unistd.h>

namespace qim {

namespace {
QPointer<Link> g_link;

bool isTransaction(Link::Kind k) {
    return k == Link::Kind::Serial || k == Link::Kind::Tcp;
}

bool loopbackOnly() {
    static const bool on = qEnvironmentVariableIsSet("QIMTOOL_LOOPBACK_ONLY");
    return on;
}

// Without a name lookup: a literal loopback address, or "localhost".
bool isLoopback(const QString& host) {
    const QString h = host.trimmed();
    return h.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           QHostAddress(h).isLoopback();
}
// Sends a request at once. A request is a few dozen bytes, which the tty
// driver takes whole: writing straight to the descriptor spares the port's
// buffered write, which arms and disarms a write notifier (two wake-ups of
// the event loop) for every transaction. Whatever the descriptor does not
// take (or an error, which the port then reports itself) goes the buffered
// way. Sockets keep the buffered way: a plain write to a socket whose peer
// has gone raises SIGPIPE.
void writeNow(QSerialPort& port, const QByteArray& bytes) {
    qsizetype sent = 0;
    if (const int fd = static_cast<int>(port.handle()); fd >= 0) {
        const ssize_t n = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
        sent = n > 0 ? n : 0;
    }
    if (sent < bytes.size()) {
        port.write(bytes.constData() + sent, bytes.size() - sent);
        port.flush();
    }
}

// Where a transaction's frame starts: after the MBAP header on TCP.
int pduAt(Link::Kind kind) {
    return kind == Link::Kind::Tcp ? 6 : 0;
}

uint8_t frameByte(const Frame& f, int i) {
    return i < f.bytes.size() ? static_cast<uint8_t>(f.bytes[i]) : 0;
}

uint16_t frameWord(const Frame& f, int i) {
    return static_cast<uint16_t>(frameByte(f, i) << 8 | frameByte(f, i + 1));
}

// Told by the function code, so no caller can file a write as a read.
bool isWrite(Link::Kind kind, const Frame& f) {
    if (!isTransaction(kind))
        return false;
    const auto fn = static_cast<Function>(frameByte(f, pduAt(kind) + 1));
    return fn == Function::WriteSingleCoil || fn == Function::WriteSingleRegister ||
           fn == Function::WriteMultipleRegisters;
}

// The module, function and addresses a write changes: a newer write with the
// same target replaces a queued one whoever gave it (a slider's position
// still waiting when its window was closed and opened again).
QByteArray writeTarget(Link::Kind kind, const Frame& f) {
    const int at = pduAt(kind);
    const bool multiple = frameByte(f, at + 1) == uint8_t(Function::WriteMultipleRegisters);
    return f.bytes.mid(at, multiple ? 6 : 4);
}

// The message for a write whose window has gone by the time it failed.
QString writeFailedMessage(Link::Kind kind, const Frame& f, int16_t status, bool noReply) {
    const int at = pduAt(kind);
    const uint8_t function = frameByte(f, at + 1);
    const int first = frameWord(f, at + 2);
    QString what;
    if (function == uint8_t(Function::WriteSingleCoil)) {
        what = QStringLiteral("coil %1").arg(first);
    } else if (function == uint8_t(Function::WriteMultipleRegisters) && frameWord(f, at + 4) > 1) {
        what = QStringLiteral("holding registers %1 to %2")
                   .arg(first)
                   .arg(first + frameWord(f, at + 4) - 1);
    } else {
        what = QStringLiteral("holding register %1").arg(first);
    }
    QString why;
    switch (status) {
    case Status::LinkDown:
        why = QStringLiteral("link not available");
        break;
    case Status::WrongLength:
        why = noReply ? QStringLiteral("no reply") : QStringLiteral("wrong length");
        break;
    case Status::CrcError:
        why = QStringLiteral("CRC error");
        break;
    default:
        why = QStringLiteral("exception code %1").arg(status);
        break;
    }
    return QStringLiteral(" Module %1: the write of %2 failed (%3).")
        .arg(frameByte(f, at))
        .arg(what, why);
}
} // namespace

void TrafficRing::append(const TransactionRecord& r) {
    m_slots[m_next % Capacity] = r;
    ++m_next;
}

QList<TransactionRecord> TrafficRing::since(quint64 from) const {
    QList<TransactionRecord> out;
    const quint64 first = std::max(from, m_next > Capacity ? m_next - Capacity : 0);
    for (quint64 i = first; i < m_next; ++i)
        out << m_slots[i % Capacity];
    return out;
}

void TrafficRing::clear() {
    for (TransactionRecord& r : m_slots)
        r = {};
    m_next = 0;
}

Link& Link::instance() {
    if (!g_link)
        g_link = new Link(QCoreApplication::instance());
    return *g_link;
}

Link::Link(QObject* parent) : QObject(parent), m_port(this), m_socket(this), m_timeout(this) {
    qRegisterMetaType<qim::TransactionRecord>();
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    // The line buffer of the original serial component: a babbling line
    // cannot grow our memory, the excess stays in the driver until discarded.
    m_port.setReadBufferSize(2048);
    connect(&m_timeout, &QTimer::timeout, this, &Link::onTimeout);
    connect(&m_port, &QSerialPort::readyRead, this, &Link::onSerialReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &Link::onSerialError);
    connect(&m_socket, &QTcpSocket::connected, this, &Link::onConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &Link::onSocketReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &Link::onSocketError);
    m_tcpIdle.setSingleShot(true);
    connect(&m_tcpIdle, &QTimer::timeout, this, &Link::onTcpIdle);
}

void Link::submit(Kind kind, Frame frame, Requester who) {
    const bool write = isWrite(kind, frame);
    if (who.coalesceKey >= 0) {
        for (Job& queued : m_queue) {
            if (queued.coalesceKey != who.coalesceKey || queued.kind != kind ||
                queued.write != write)
                continue;
            const bool same = write ? writeTarget(kind, queued.frame) == writeTarget(kind, frame)
                                    : who.context && queued.context == who.context;
            if (same) {
                queued.frame = std::move(frame);
                queued.context = who.context;
                queued.hasContext = who.context != nullptr;
                queued.done = std::move(who.done);
                return;
            }
        }
    }
    Job job;
    job.kind = kind;
    job.frame = std::move(frame);
    job.context = who.context;
    job.hasContext = who.context != nullptr;
    job.done = std::move(who.done);
    job.coalesceKey = who.coalesceKey;
    job.write = write;
    m_queue.push_back(std::move(job));
    pump();
}

void Link::cancel(const QObject* context) {
    // A write is a command the user already gave: it is not the window's to take back.
    std::erase_if(m_queue, [context](const Job& j) {
        return !j.write && j.hasContext && j.context == context;
    });
}

int Link::pending() const {
    return static_cast<int>(m_queue.size()) + (m_current ? 1 : 0);
}

void Link::closeAll() {
    if (m_port.isOpen())
        m_port.close();
    m_tcpIdle.stop();
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        m_socket.abort();
}

void Link::reset() {
    m_queue.clear();
    m_current.reset();
    m_phase = Phase::Idle;
    m_timeout.stop();
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
    m_portNumber = 0;
    m_socket.abort();
    m_tcpIdle.stop();
    m_tcpHost.clear();
    m_tcpPort = 0;
    m_tcpReused = false;
    m_rx.reset();
    m_traffic.clear();
}

void Link::pump() {
    while (!m_current && !m_queue.empty()) {
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        if (!job.write && job.hasContext && !job.context)
            continue; // a read whose window is gone
        m_current = std::move(job);
        start();
    }
}

void Link::start() {
    m_inStart = true;
    ++m_seq;
    m_rx.reset();
    m_startedMs = QDateTime::currentMSecsSinceEpoch();
    m_clock.start();
    switch (m_current->kind) {
    case Kind::OpenSerialPort:
        startOpenSerialPort();
        break;
    case Kind::Serial:
        General::TxBuffer = m_current->frame.bytes;
        startSerial();
        break;
    case Kind::Tcp:
    case Kind::TcpConnect:
        General::TxBuffer = m_current->frame.bytes;
        startTcp();
        break;
    }
    m_inStart = false;
}

void Link::complete(Reply reply, bool noReply) {
    if (m_inStart) {
        // Never call back from inside submit(): the requester may not be ready.
        m_inStart = false;
        m_timeout.stop();
        m_phase = Phase::Idle;
        const quint64 seq = m_seq;
        QMetaObject::invokeMethod(
            this,
            [this, reply, noReply, seq] {
                if (m_current && m_seq == seq)
                    complete(reply, noReply);
            },
            Qt::QueuedConnection);
        return;
    }
    m_timeout.stop();
    m_phase = Phase::Idle;
    Job job = std::move(*m_current);
    m_current.reset();

    if (isTransaction(job.kind)) {
        TransactionRecord rec;
        rec.startedMs = m_startedMs;
        rec.durationUs = m_clock.nsecsElapsed() / 1000;
        rec.tcp = job.kind == Kind::Tcp;
        const int at = pduAt(job.kind);
        rec.slave = frameByte(job.frame, at);
        rec.function = frameByte(job.frame, at + 1);
        rec.request = job.frame.bytes;
        rec.reply = m_rx ? m_rx->bytes() : QByteArray();
        rec.status = reply.status;
        rec.noReply = noReply;
        m_traffic.append(rec);
        Q_EMIT transactionFinished(rec);
    }

    const bool orphan = job.hasContext && !job.context;
    // Nobody is left to show a failed write: the link tells it itself.
    if (orphan && job.write && !reply.ok())
        Q_EMIT message(writeFailedMessage(job.kind, job.frame, reply.status, noReply));
    if (job.done && !orphan)
        job.done(reply);
    pump();
}

// ---------------------------------------------------------------- serial

bool Link::configurePort(int portNumber, int baudIndex) {
    m_portNumber = portNumber;
    m_device = PortNames::Resolve(portNumber).device;
    m_port.setPortName(m_device);
    // A baud index outside the list leaves the line speed as it was.
    if (const int rate = BaudRateOf(baudIndex))
        m_port.setBaudRate(rate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::TwoStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    return !m_port.portName().isEmpty();
}

void Link::startOpenSerialPort() {
    General::Connected = false;
    m_timeout.stop();
    if (m_port.isOpen())
        m_port.close();
    m_phase = Phase::Opening;
    const bool named = configurePort(General::ComPortIndex + 1, General::BaudIndex);
    if (!named || !m_port.open(QIODevice::ReadWrite)) {
        failSerial(named ? m_port.error() : QSerialPort::DeviceNotFoundError);
        return;
    }
    // The test only proves the port opens; the first transaction opens it for good.
    m_port.close();
    General::Connected = true;
    complete({Status::Ok, {}, false});
}

void Link::startSerial() {
    m_timeout.stop();
    m_phase = Phase::Opening;
    if (m_portNumber == 0)
        configurePort(General::ComPortIndex + 1, General::BaudIndex);
    const bool wasOpen = m_port.isOpen();
    if (!wasOpen) {
        // Re-resolve: a pinned COMn may point at a new device since the last open.
        m_device = PortNames::Resolve(m_portNumber).device;
        m_port.setPortName(m_device);
        if (m_port.portName().isEmpty()) {
            failSerial(QSerialPort::DeviceNotFoundError);
            return;
        }
        if (!m_port.open(QIODevice::ReadWrite)) {
            failSerial(m_port.error());
            return;
        }
    }
    // From here on an error of the port ends the transaction (onSerialError),
    // which leaves this phase: look before going on.
    m_phase = Phase::Sending;
    if (wasOpen && m_port.clear(QSerialPort::Input))
        m_port.readAll();
    if (m_phase != Phase::Sending)
        return;
    m_rx.emplace(false, m_current->frame.expectedLength);
    writeNow(m_port, m_current->frame.bytes);
    if (m_phase != Phase::Sending)
        return;
    m_phase = Phase::SerialWait;
    m_timeout.start(General::SerialTimeout);
}

void Link::finishSerial(bool timedOut) {
    m_timeout.stop();
    m_rx->feed(m_port.readAll());
    const QByteArray rx = m_rx->bytes();
    const int16_t status = m_rx->verdict(true);
    General::RxBuffer = rx;
    General::RxCount = static_cast<int32_t>(rx.size());
    General::CommStatus = status;
    complete({status, rx, false}, timedOut && rx.isEmpty());
}

void Link::failSerial(QSerialPort::SerialPortError error) {
    m_timeout.stop();
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
    General::CommStatus = Status::LinkDown;
    // Whatever the driver calls it, an error after the device itself has gone
    // (an adapter pulled, a pty closed) means the port is not available.
    const int number = !m_device.isEmpty() && !QFileInfo::exists(m_device)
                           ? Errors::PortNotAvailable
                           : Errors::SerialErrorNumber(error);
    Q_EMIT message(number == Errors::PortNotAvailable
                       ? PortUnavailableMessage()
                       : QStringLiteral(" Communication Error %1").arg(number));
    complete({Status::LinkDown, {}, false});
}

void Link::onSerialReadyRead() {
    if (m_phase == Phase::SerialWait && m_port.bytesAvailable() == m_current->frame.expectedLength)
        finishSerial(false);
}

void Link::onSerialError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || m_phase == Phase::Opening)
        return; // open() failures are handled where open() is called
    if (m_phase == Phase::Sending || m_phase == Phase::SerialWait) {
        failSerial(error);
        return;
    }
    // Between transactions (the adapter was pulled): close quietly; the next
    // transaction reports it when the port does not open.
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

// ---------------------------------------------------------------- TCP
//
// One connection is kept while transactions to the same host and port follow
// each other: connecting for every request costs a connect, accept and close
// each time and leaves a socket in TIME_WAIT per request, which on a real
// network runs out of local ports after some tens of thousands of polls. It
// is closed after a second without a transaction, on any error or timeout,
// when the host or port changes, and at exit.

void Link::startTcp() {
    m_timeout.stop();
    m_rx.emplace(true, m_current->frame.expectedLength);
    // The connection test always proves a fresh connection; a transaction
    // reuses the kept one if it was made to the host and port set now.
    if (m_current->kind == Kind::Tcp && !m_inSocketError &&
        m_socket.state() == QAbstractSocket::ConnectedState && m_tcpHost == General::IPAddress &&
        m_tcpPort == static_cast<quint16>(General::ServerPort)) {
        General::Connected = true;
        m_tcpReused = true;
        sendTcp();
        return;
    }
    connectTcp();
}

void Link::connectTcp() {
    General::Connected = false;
    m_tcpReused = false;
    if (m_inSocketError) {
        // Qt goes on tearing the failed socket down after its error signal
        // returns, and would take a connection begun here with it: begin it
        // on the next turn of the event loop.
        m_phase = Phase::TcpConnecting;
        const quint64 seq = m_seq;
        QMetaObject::invokeMethod(
            this,
            [this, seq] {
                if (m_current && m_seq == seq && m_phase == Phase::TcpConnecting)
                    connectTcp();
            },
            Qt::QueuedConnection);
        return;
    }
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_phase = Phase::TcpConnecting;
    if (loopbackOnly() && !isLoopback(General::IPAddress)) {
        // The test fixtures set this: a test that forgot to aim the link at
        // its loopback slave fails loudly instead of reaching a real network.
        qWarning("qimlink: refused to connect to %s: only loopback is allowed here",
                 qPrintable(General::IPAddress));
        connectFailed(QAbstractSocket::NetworkError, true);
        return;
    }
    m_tcpHost = General::IPAddress;
    m_tcpPort = static_cast<quint16>(General::ServerPort);
    m_timeout.start(General::TCPConnectTimeout);
    m_socket.connectToHost(m_tcpHost, m_tcpPort);
}

void Link::onConnected() {
    if (m_phase != Phase::TcpConnecting)
        return;
    m_timeout.stop();
    General::Connected = true;
    // Request and reply alternate on a kept connection: never hold a request back.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_current->kind == Kind::TcpConnect) {
        keepTcp();
        complete({Status::Ok, {}, true});
        return;
    }
    sendTcp();
}

void Link::sendTcp() {
    // The wait is armed before the write: a write to a connection that has
    // just gone may report its error at once, and its handler owns the
    // transaction from then on.
    m_phase = Phase::TcpWaiting;
    m_timeout.start(General::TCPTimeout);
    const QByteArray& bytes = m_current->frame.bytes;
    const qsizetype sent = SendNow(m_socket.socketDescriptor(), bytes.constData(), bytes.size());
    if (sent < bytes.size()) {
        m_socket.write(bytes.constData() + sent, bytes.size() - sent);
        m_socket.flush(); // out now, not on the next turn of the event loop
    }
}

void Link::dropTcp() {
    m_tcpIdle.stop();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
}

void Link::keepTcp() {
    m_tcpLastUse.start();
    if (!m_tcpIdle.isActive())
        m_tcpIdle.start(TcpIdleMs);
}

void Link::onTcpIdle() {
    // The timer runs on while transactions follow each other (restarting it
    // for each would register and remove a timer every time); when it fires
    // it looks at how long the connection has really been idle.
    const qint64 idle = m_tcpLastUse.isValid() ? m_tcpLastUse.elapsed() : TcpIdleMs;
    if (m_phase == Phase::TcpConnecting || m_phase == Phase::TcpWaiting)
        m_tcpIdle.start(TcpIdleMs);
    else if (idle < TcpIdleMs)
        m_tcpIdle.start(static_cast<int>(TcpIdleMs - idle));
    else
        dropTcp();
}

void Link::connectFailed(QAbstractSocket::SocketError error, bool unreachable) {
    m_timeout.stop();
    m_socket.abort();
    General::Connected = false;
    const bool test = m_current->kind == Kind::TcpConnect;
    if (unreachable) {
        if (test)
            Q_EMIT message(QStringLiteral(" Device at ") + General::IPAddress +
                           QStringLiteral(" was not found!"));
        else
            General::CommStatus = Status::LinkDown;
    } else {
        General::CommStatus = Status::LinkDown;
        if (test)
            Q_EMIT message(
                QStringLiteral(" TCP/IP Error %1").arg(Errors::SocketErrorNumber(error)));
        else if (Errors::IsLocalShortage(error))
            // Not the server's fault, and without a word a poll loop would
            // just stop: say why.
            Q_EMIT message(QStringLiteral("TCP/IP Error %1").arg(Errors::SocketErrorNumber(error)));
    }
    complete({Status::LinkDown, {}, true});
}

void Link::onSocketReadyRead() {
    if (m_phase != Phase::TcpWaiting) {
        m_socket.readAll();
        // Bytes nobody asked for (a late reply, a babbling server): the
        // stream no longer lines up with our requests, so the connection goes.
        if (m_phase != Phase::TcpConnecting)
            dropTcp();
        return;
    }
    if (m_rx->feed(m_socket.readAll()))
        finishTcp(false);
}

void Link::finishTcp(bool finalCall) {
    m_timeout.stop();
    if (finalCall)
        m_rx->feed(m_socket.readAll());
    const QByteArray& rx = m_rx->bytes();
    const int16_t status = m_rx->verdict(finalCall);
    if (!rx.isEmpty())
        General::RxCount = static_cast<int32_t>(rx.size());
    // A reply we could not use leaves the previous reply bytes in place.
    if (status != Status::WrongLength)
        General::RxBuffer = rx.mid(6);
    General::CommStatus = status;
    // The connection stays only after a reply that ended exactly where it
    // should. After a timeout or a reply of the wrong length, more bytes of
    // it may still come and would be taken for the next transaction's reply.
    if (finalCall || status == Status::WrongLength)
        dropTcp();
    else
        keepTcp();
    complete({status, rx.mid(6), true}, rx.isEmpty());
}

void Link::onSocketError(QAbstractSocket::SocketError error) {
    const QScopedValueRollback inError(m_inSocketError, true);
    switch (m_phase) {
    case Phase::TcpConnecting:
        connectFailed(error, Errors::IsUnreachable(error));
        return;
    case Phase::TcpWaiting:
        if (error == QAbstractSocket::RemoteHostClosedError) {
            // A kept connection the server closed before answering, with
            // not a byte back: most likely it closed it while idle and our
            // request crossed its close. A read goes out once more, on a
            // fresh connection; a write may have been carried out and fails
            // with 253 instead.
            if (m_tcpReused && m_rx->bytes().isEmpty() && m_socket.bytesAvailable() == 0 &&
                !m_current->write) {
                m_timeout.stop();
                connectTcp();
                return;
            }
            // The reply cannot grow any more: judge what came.
            finishTcp(true);
            return;
        }
        m_timeout.stop();
        m_socket.abort();
        General::CommStatus = Status::LinkDown;
        Q_EMIT message(QStringLiteral("TCP/IP Error %1").arg(Errors::SocketErrorNumber(error)));
        complete({Status::LinkDown, {}, true});
        return;
    default:
        // The kept connection failed, or the server closed it, while nothing
        // was on the wire: drop it quietly; the next transaction connects afresh.
        dropTcp();
        return;
    }
}

void Link::onTimeout() {
    switch (m_phase) {
    case Phase::SerialWait:
        finishSerial(true);
        return;
    case Phase::TcpConnecting:
        connectFailed(QAbstractSocket::SocketTimeoutError, true);
        return;
    case Phase::TcpWaiting:
        finishTcp(true);
        return;
    default:
        return;
    }
}

} // namespace qim

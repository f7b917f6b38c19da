#include "TcpTransport.h"

#include "Errors.h"
#include "SocketSend.h"

#include <QScopedValueRollback>

namespace qim {

namespace {
QString errorText(QAbstractSocket::SocketError error) {
    return QStringLiteral("TCP/IP Error %1").arg(Errors::socketErrorNumber(error));
}
} // namespace

TcpTransport::TcpTransport(QObject* parent)
    : Transport(parent), m_socket(this), m_connectTimeout(this), m_idle(this) {
    m_connectTimeout.setSingleShot(true);
    m_connectTimeout.setTimerType(Qt::PreciseTimer);
    connect(&m_connectTimeout, &QTimer::timeout, this,
            [this] { connectFailed(QAbstractSocket::SocketTimeoutError, true); });
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &TcpTransport::onIdle);
    connect(&m_socket, &QTcpSocket::connected, this, &TcpTransport::onConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &TcpTransport::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &TcpTransport::onError);
}

void TcpTransport::open(const LinkSettings& settings, const Request* request) {
    const bool test = !request;
    m_settings = settings;
    m_test = test;
    // What was learned of a server holds for its host and port until the
    // user sets the link again.
    if (test || m_host != settings.host || m_port != settings.port)
        m_freshEach = false;
    // The connection test always proves a fresh connection; a transaction
    // reuses the kept one if it was made to the host and port set now.
    if (!test && !m_inError && !m_freshEach && isOpen() && m_host == settings.host &&
        m_port == settings.port && keptConnectionUsable()) {
        m_reused = true;
        Q_EMIT ready();
        return;
    }
    connectNow();
}

bool TcpTransport::keptConnectionUsable() {
    // A close that has already arrived is noticed before a request is sent
    // into it; so are bytes nobody asked for.
    const SocketLook look = m_socket.bytesAvailable() > 0
                                ? SocketLook::Unasked
                                : lookAtSocket(m_socket.socketDescriptor());
    if (look == SocketLook::Quiet)
        return true;
    if (look == SocketLook::Closed)
        learnFromClose(m_lastUse.isValid() ? m_lastUse.elapsed() : IdleMs);
    drop();
    return false;
}

void TcpTransport::learnFromClose(qint64 sinceReplyMs) {
    if (sinceReplyMs >= 0 && sinceReplyMs < AfterReplyMs)
        m_freshEach = true;
}

void TcpTransport::connectNow() {
    m_reused = false;
    m_state = State::Connecting;
    const quint64 attempt = ++m_attempt;
    if (m_inError) {
        // Qt goes on tearing the failed socket down after its error signal
        // returns, and would take a connection begun here with it: begin it
        // on the next turn of the event loop.
        QMetaObject::invokeMethod(
            this,
            [this, attempt] {
                if (m_state == State::Connecting && m_attempt == attempt)
                    connectNow();
            },
            Qt::QueuedConnection);
        return;
    }
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_host = m_settings.host;
    m_port = m_settings.port;
    m_connectTimeout.start(m_settings.tcpConnectTimeoutMs);
    m_socket.connectToHost(m_host, m_port);
}

void TcpTransport::onConnected() {
    if (m_state != State::Connecting)
        return;
    m_connectTimeout.stop();
    m_state = State::Idle;
    // Request and reply alternate on a kept connection: never hold a request back.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_test)
        keep();
    Q_EMIT ready();
}

void TcpTransport::connectFailed(QAbstractSocket::SocketError error, bool unreachable) {
    m_connectTimeout.stop();
    m_socket.abort();
    m_state = State::Idle;
    QString message;
    if (unreachable) {
        if (m_test)
            message =
                QStringLiteral(" Device at ") + m_settings.host + QStringLiteral(" was not found!");
    } else if (m_test) {
        message = QLatin1Char(' ') + errorText(error);
    } else if (Errors::isLocalShortage(error)) {
        // Not the server's fault, and without a word a poll loop would just
        // stop: say why.
        message = errorText(error);
    }
    Q_EMIT failed(message);
}

void TcpTransport::send(const Request& request, const QByteArray& frame) {
    m_state = State::Waiting;
    m_replied = false;
    m_rx = Tcp::ReplyCollector(request);
    m_sentSinceReplyMs = m_reused && m_lastUse.isValid() ? m_lastUse.elapsed() : -1;
    const qsizetype sent = sendNow(m_socket.socketDescriptor(), frame.constData(), frame.size());
    if (sent < frame.size()) {
        m_socket.write(frame.constData() + sent, frame.size() - sent);
        m_socket.flush(); // out now, not on the next turn of the event loop
    }
}

Reply TcpTransport::finish(bool final) {
    if (final)
        m_rx.feed(m_socket);
    const int16_t status = m_rx.verdict(final);
    m_state = State::Idle;
    // After a timeout or a reply of the wrong length more bytes of it may
    // still come, and would be taken for the next transaction's reply.
    if (!final && status != Status::WrongLength && !m_freshEach)
        keep();
    else
        drop();
    return {status, m_rx.reply()};
}

void TcpTransport::close() {
    m_idle.stop();
    if (isOpen())
        m_socket.abort();
}

void TcpTransport::drop() {
    m_idle.stop();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
}

void TcpTransport::keep() {
    m_lastUse.start();
    if (!m_idle.isActive())
        m_idle.start(IdleMs);
}

void TcpTransport::onIdle() {
    // The timer runs on while transactions follow each other (restarting it
    // for each would register and remove a timer every time); when it fires
    // it looks at how long the connection has really been idle.
    const qint64 idle = m_lastUse.isValid() ? m_lastUse.elapsed() : IdleMs;
    if (m_state != State::Idle)
        m_idle.start(IdleMs);
    else if (idle < IdleMs)
        m_idle.start(static_cast<int>(IdleMs - idle));
    else
        drop();
}

void TcpTransport::onReadyRead() {
    if (m_state != State::Waiting) {
        m_socket.readAll();
        // Bytes nobody asked for (a late reply, a babbling server): the
        // stream no longer lines up with our requests, so the connection goes.
        if (m_state != State::Connecting)
            drop();
        return;
    }
    m_replied = true;
    if (m_rx.feed(m_socket))
        Q_EMIT replied();
}

void TcpTransport::onError(QAbstractSocket::SocketError error) {
    const QScopedValueRollback inError(m_inError, true);
    switch (m_state) {
    case State::Connecting:
        connectFailed(error, Errors::isUnreachable(error));
        return;
    case State::Waiting:
        if (error == QAbstractSocket::RemoteHostClosedError) {
            // Closed (or reset) with not a byte of the reply, the request having
            // gone out right after the last reply: the server closes after
            // replies, and our request crossed its close.
            if (!m_replied)
                learnFromClose(m_sentSinceReplyMs);
            // The reply cannot grow any more (what the socket still holds is
            // part of it); the link judges what came, or asks again on a
            // fresh connection.
            m_rx.feed(m_socket);
            Q_EMIT ended();
            return;
        }
        m_socket.abort();
        m_state = State::Idle;
        Q_EMIT failed(errorText(error));
        return;
    case State::Idle:
        // The kept connection failed, or the server closed it, while nothing
        // was on the wire: drop it quietly; the next transaction connects afresh.
        if (error == QAbstractSocket::RemoteHostClosedError && m_lastUse.isValid())
            learnFromClose(m_lastUse.elapsed());
        drop();
        return;
    }
}

} // namespace qim

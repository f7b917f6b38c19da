#pragma once
// Modbus TCP. One connection is kept while transactions to the same host and
// port follow each other: connecting for every request costs a connect,
// accept and close each time and leaves a socket in TIME_WAIT per request,
// which on a real network runs out of local ports after some tens of
// thousands of polls. It is closed after a second without a transaction, on
// any error or timeout, when the host or port changes, and at exit.
//
// Many small gateways and module firmwares answer one request (or a few) per
// connection and then close it. A server seen closing a kept connection
// right after a reply gets a fresh connection for every transaction, as
// learned for its host and port until the settings change.

#include "Transport.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

namespace qim {

class TcpTransport : public Transport {
    Q_OBJECT
public:
    static constexpr int IdleMs = 1000;
    // A close within this time of the server's reply is its way of working,
    // not its idle timer.
    static constexpr int AfterReplyMs = 100;
    explicit TcpTransport(QObject* parent = nullptr);

    QString name() const override { return QStringLiteral("TCP"); }
    QByteArray frame(const Request& request) const override { return Tcp::frame(request); }
    void open(const LinkSettings& settings, const Request* request) override;
    void send(const Request& request, const QByteArray& frame) override;
    Reply finish(bool final) override;
    const QByteArray& received() const override { return m_rx.bytes(); }
    void close() override;
    bool isOpen() const override { return m_socket.state() == QAbstractSocket::ConnectedState; }
    bool reused() const override { return m_reused; }
    int replyTimeoutMs(const LinkSettings& s) const override { return s.tcpTimeoutMs; }

private:
    enum class State { Idle, Connecting, Waiting };
    void connectNow();
    bool keptConnectionUsable();
    void learnFromClose(qint64 sinceReplyMs);
    void connectFailed(QAbstractSocket::SocketError error, bool unreachable);
    void drop();
    void keep();
    void onConnected();
    void onReadyRead();
    void onError(QAbstractSocket::SocketError error);
    void onIdle();

    QTcpSocket m_socket;
    State m_state = State::Idle;
    LinkSettings m_settings; // of the transaction being opened
    bool m_test = false;
    QTimer m_connectTimeout;
    QTimer m_idle;           // closes the kept connection after a second without a transaction
    QElapsedTimer m_lastUse; // since the kept connection's last transaction ended
    QString m_host;          // what the open connection was made to
    quint16 m_port = 0;
    bool m_reused = false;          // the request on the wire went out on a kept connection
    bool m_freshEach = false;       // the server at m_host:m_port closes after its replies
    bool m_replied = false;         // a byte of the reply on the wire came back
    qint64 m_sentSinceReplyMs = -1; // how long the kept connection was idle when the request went
    bool m_inError = false;         // inside the socket's error signal
    quint64 m_attempt = 0;          // tells a deferred connect from a later one
    Tcp::ReplyCollector m_rx{Request{}}; // the reply of the request sent
};

} // namespace qim

#include "TestSupport.h"

#include "Bytes.h"
#include "Link.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace qimtest {

void prepareEnvironment() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/qimtest-XXXXXX"));
    qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

namespace {
QtMessageHandler g_previous = nullptr;
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg &&
        (message == QLatin1String("This plugin does not support raise()") ||
         message == QLatin1String("This plugin does not support propagateSizeHints()")))
        return;
    if (g_previous)
        g_previous(type, context, message);
}
// The length of a complete RTU request that starts with these bytes, or 0
// when more bytes are needed to tell.
int rtuRequestLength(const QByteArray& head) {
    if (head.size() < 2)
        return 0;
    switch (static_cast<uint8_t>(head[1])) {
    case 17:
        return 4;
    case 16:
        return head.size() < 7 ? 0 : 9 + static_cast<uint8_t>(head[6]);
    default:
        return 8;
    }
}
} // namespace

void quietOffscreenPlatform() {
    QtMessageHandler previous = qInstallMessageHandler(quietHandler);
    if (previous != quietHandler)
        g_previous = previous;
}

QStringList readCsvLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

QByteArray withCrc(QByteArray body) {
    const int32_t crc = qim::crc16(body, static_cast<int>(body.size()));
    body.append(static_cast<char>(qim::loByte(crc)));
    body.append(static_cast<char>(qim::hiByte(crc)));
    return body;
}

PtySlave::PtySlave(Script s, QObject* parent) : QObject(parent), script(std::move(s)) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    grantpt(m_master);
    unlockpt(m_master);
    m_device = QString::fromLocal8Bit(ptsname(m_master));
    // Hold the slave side open so the master never sees a hang-up between
    // the link's opens, and make it raw so nothing is echoed or cooked.
    m_slaveKeep = ::open(ptsname(m_master), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(m_slaveKeep, &t);
    cfmakeraw(&t);
    tcsetattr(m_slaveKeep, TCSANOW, &t);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PtySlave::onReadable);
}

PtySlave::~PtySlave() {
    vanish();
}

void PtySlave::vanish() {
    m_notifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeep >= 0)
        ::close(m_slaveKeep);
    m_master = m_slaveKeep = -1;
}

void PtySlave::onReadable() {
    char buf[512];
    const ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n <= 0)
        return;
    m_rx.append(buf, n);
    for (;;) {
        const int len = rtuRequestLength(m_rx);
        if (len == 0 || m_rx.size() < len)
            return;
        const QByteArray request = m_rx.left(len);
        m_rx.remove(0, len);
        requests << request;
        int at = 0;
        for (const Chunk& c : script(request)) {
            at += c.delayMs;
            if (at == 0)
                send(c.bytes);
            else
                QTimer::singleShot(at, this, [this, b = c.bytes] { send(b); });
        }
    }
}

void PtySlave::send(const QByteArray& bytes) {
    if (m_master >= 0 && ::write(m_master, bytes.constData(), bytes.size()) > 0)
        ++sent;
}

TcpSlave::TcpSlave(Script s, QObject* parent) : QObject(parent), script(std::move(s)) {
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, &TcpSlave::onConnection);
}

void TcpSlave::onConnection() {
    while (QTcpSocket* s = m_server.nextPendingConnection()) {
        ++connections;
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QTcpSocket::readyRead, this, [this, s] {
            const QByteArray request = s->readAll();
            requests << request;
            int at = 0;
            for (const Chunk& c : script(request)) {
                at += c.delayMs;
                auto act = [s = QPointer<QTcpSocket>(s), b = c.bytes] {
                    if (!s)
                        return;
                    if (b == "<close>")
                        s->disconnectFromHost();
                    else if (b == "<reset>") {
                        // Linger 0: the close sends RST, as a crashing gateway does.
                        const linger l{1, 0};
                        ::setsockopt(static_cast<int>(s->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                                     &l, sizeof l);
                        s->abort();
                    } else
                        s->write(b);
                };
                if (at == 0)
                    act();
                else
                    QTimer::singleShot(at, this, act);
            }
        });
    }
}

NeverAccepting::NeverAccepting() {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_listen, 0);
    socklen_t len = sizeof a;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    // Fill the accept queue; later handshakes are dropped by the kernel.
    for (int i = 0; i < 3; ++i) {
        const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
        m_fill << c;
    }
    usleep(100 * 1000);
}

NeverAccepting::~NeverAccepting() {
    for (int c : m_fill)
        ::close(c);
    ::close(m_listen);
}

QStringList takeMessages() {
    QStringList texts;
    // Bounded: a program that raised a box for every OK would otherwise hang the test.
    for (int i = 0; i < 100; ++i) {
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible())
                box = b;
        if (!box)
            break;
        texts << box->text();
        box->button(QMessageBox::Ok)->click();
    }
    return texts;
}

qim::Reply ask(qim::Link& link, uint8_t unit, int fc, int start, QList<int> v) {
    return await([&](qim::Requester r) {
               const auto s = static_cast<int16_t>(start);
               const auto n = static_cast<int16_t>(fc == 16 ? v.size() : v.value(0));
               std::vector<int32_t> image(static_cast<size_t>(start));
               image.insert(image.end(), v.begin(), v.end());
               if (fc == 3 || fc == 4)
                   fc == 3 ? link.readHoldingRegisters(unit, s, n, r)
                           : link.readInputRegisters(unit, s, n, r);
               else if (fc == 5 || fc == 6)
                   fc == 5 ? link.writeSingleCoil(unit, s, v.value(0), r)
                           : link.writeSingleRegister(unit, s, v.value(0), r);
               else if (fc == 16)
                   link.writeMultipleRegisters(unit, s, n, image, r);
               else
                   link.reportSlaveId(unit, r);
           })
        .reply;
}

} // namespace qimtest

#pragma once
// Fixtures shared by the test programs: an isolated per-user runtime folder,
// pty pairs, scripted serial and TCP slaves, a port that never accepts, and
// a recorder for the link's messages.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <memory>

#include "Link.h"
#include "PortNames.h"
#include "SerialTransport.h"
#include "TcpTransport.h"

namespace qimtest {

// Points XDG_RUNTIME_DIR at a private temporary folder, so tests never see a
// demo simulator's published ports and Qt has a valid runtime folder.
void prepareEnvironment();

// The offscreen platform warns that it "does not support" raise() and size
// hints; those are limits of the test platform, not faults of ours. Call in
// initTestCase (after QtTest has installed its own handler): it drops exactly
// those lines and passes every other message on to QtTest.
void quietOffscreenPlatform();

// One piece of a scripted reply: bytes sent after a pause.
struct Chunk {
    QByteArray bytes;
    int delayMs = 0;
};
using Script = std::function<QList<Chunk>(const QByteArray& request)>;

QByteArray withCrc(QByteArray body);

// The lines of a CSV file the program saved (CRLF line ends), empty lines
// left out; nothing when the file cannot be read.
QStringList readCsvLines(const QString& path);

// A pty whose slave side our link opens; the test plays the module on the
// master side.
class PtySlave : public QObject {
    Q_OBJECT
public:
    explicit PtySlave(Script script, QObject* parent = nullptr);
    ~PtySlave() override;
    QString device() const { return m_device; }
    // Publishes the pty as COMn in the runtime folder.
    bool publishAs(int n) { return qim::PortNames::publish(n, m_device); }
    QList<QByteArray> requests;
    int sent = 0; // replies written to the line
    Script script;
    // The port vanishes: closes both ends, as when an adapter is pulled.
    void vanish();
    // Bytes nobody asked for, as noise on the line.
    void send(const QByteArray& bytes);

private:
    void onReadable();
    int m_master = -1;
    int m_slaveKeep = -1;
    QString m_device;
    QByteArray m_rx;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// A loopback server answering each request by script; a script that
// returns an empty list stays silent. A chunk whose bytes are "<close>"
// closes the connection instead.
class TcpSlave : public QObject {
    Q_OBJECT
public:
    explicit TcpSlave(Script script, QObject* parent = nullptr);
    quint16 port() const { return m_server.serverPort(); }
    QList<QByteArray> requests;
    Script script;
    int connections = 0;

private:
    void onConnection();
    QTcpServer m_server;
};

// A loopback port whose accept queue is full: connection attempts hang.
class NeverAccepting {
public:
    NeverAccepting();
    ~NeverAccepting();
    quint16 port() const { return m_port; }

private:
    int m_listen = -1;
    QList<int> m_fill;
    quint16 m_port = 0;
};

// The texts of the message boxes on screen, oldest first, pressing OK on
// each as a user does (the presenter then shows the next one).
QStringList takeMessages();

// A link on the program's own transports, as main() makes it.
struct OwnTransports {
    qim::SerialTransport serial;
    qim::TcpTransport tcp;
};
class RealLink : private OwnTransports, public qim::Link {
public:
    RealLink() : qim::Link(serial, tcp) {}
};

template <class Edit> void configure(qim::Link& link, Edit edit) {
    qim::LinkSettings s = link.settings();
    edit(s);
    link.setSettings(s);
}
// Aims the link at a loopback TCP port, or at the serial port COMn it has.
inline void aim(qim::Link& link, bool tcp, quint16 port) {
    configure(link, [&](qim::LinkSettings& s) {
        s.transport =
            tcp ? qim::LinkSettings::Transport::Tcp : qim::LinkSettings::Transport::Serial;
        s.host = QStringLiteral("127.0.0.1");
        s.port = port;
    });
}

// Records what the link asks the user to read.
class MessageLog : public QObject {
    Q_OBJECT
public:
    explicit MessageLog(qim::Link& link) {
        connect(&link, &qim::Link::message, this, [this](const QString& t) { texts << t; });
    }
    QStringList texts;
};

} // namespace qimtest

// QTEST_MAIN with the environment prepared first, for a widget or a console test.
#define QIM_TEST_MAIN_OF(Application, TestObject, ...)                                             \
    int main(int argc, char** argv) {                                                              \
        qimtest::prepareEnvironment();                                                             \
        Application app(argc, argv);                                                               \
        __VA_ARGS__;                                                                               \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
#define QIM_TEST_MAIN(TestObject)                                                                  \
    QIM_TEST_MAIN_OF(QApplication, TestObject, app.setAttribute(Qt::AA_Use96Dpi, true))
#define QIM_TEST_GUILESS_MAIN(TestObject) QIM_TEST_MAIN_OF(QCoreApplication, TestObject)

#include "Reply.h"
#include <QElapsedTimer>
#include <QTest>
#include <optional>
#include <source_location>

namespace qimtest {

// Issues one request through `issue` and waits for its callback. A callback
// that never comes fails the test where Await was called, and the reply then
// reads as status 0, which no check takes for a result.
struct Outcome {
    qim::Reply reply;
    qint64 elapsedMs = 0;
};
template <class Issue>
Outcome await(Issue issue, int timeoutMs = 15000,
              std::source_location where = std::source_location::current()) {
    auto box = std::make_shared<std::optional<qim::Reply>>();
    QElapsedTimer t;
    t.start();
    issue(qim::Requester{nullptr, [box](const qim::Reply& r) { *box = r; }});
    if (!QTest::qWaitFor([&] { return box->has_value(); }, timeoutMs)) {
        QTest::qFail(qPrintable(QStringLiteral("no reply within %1 ms").arg(timeoutMs)),
                     where.file_name(), static_cast<int>(where.line()));
        return {{}, t.elapsed()};
    }
    return {**box, t.elapsed()};
}

// One request by its function code, as the panels send it: v is the count of
// a read (3, 4), the value of a single write (5, 6) or the values of a write
// from start (16); any other code asks for the identification.
qim::Reply ask(qim::Link& link, uint8_t unit, int fc, int start = 0, QList<int> v = {1});

} // namespace qimtest

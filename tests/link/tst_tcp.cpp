// The TCP engine over loopback, with the test playing the server.
#include "Link.h"
#include "TcpTransport.h"
#include "TestSupport.h"

#include <QProcess>
#include <QTest>
#include <sys/resource.h>
#include <unistd.h>

using namespace qim;
using namespace qimtest;

namespace {
QByteArray hex(const char* h) {
    return QByteArray::fromHex(h);
}
// A reply to "read 12 input registers" from unit 1: 33 bytes in all.
QByteArray twelveRegisters() {
    QByteArray r = hex("000100000019010418");
    for (int k = 0; k < 12; ++k)
        r += static_cast<char>(0) + QByteArray(1, static_cast<char>(k + 1));
    return r;
}
} // namespace

class TestTcp : public QObject {
    Q_OBJECT
    std::unique_ptr<TcpSlave> server;
    MessageLog* log = nullptr;
    QList<Chunk> answer;
    std::unique_ptr<Link> link;
    Outcome readTwelve() {
        return await([this](Requester r) { link->readInputRegisters(1, 0, 12, r); });
    }

    // Runs one test function again in a network namespace of its own, where
    // only a couple of local ports are left for connections.
    void runInNamespace(const char* function) {
        if (QProcess::execute(QStringLiteral("unshare"),
                              QStringLiteral("-n ip link set lo up").split(' ')) != 0)
            QSKIP("no network namespace of our own here (unshare -n needs root)");
        QProcess child;
        child.setEnvironment(QProcess::systemEnvironment() << QStringLiteral("QIMTEST_NETNS=1"));
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(
            QStringLiteral("unshare"),
            {QStringLiteral("-n"), QStringLiteral("sh"), QStringLiteral("-c"),
             QStringLiteral("ip link set lo up && sysctl -qw "
                            "net.ipv4.ip_local_port_range='40000 40001' && exec \"$0\" \"$1\""),
             QCoreApplication::applicationFilePath(), QString::fromLatin1(function)});
        QTRY_COMPARE_WITH_TIMEOUT(child.state(), QProcess::NotRunning, 30000);
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                 child.readAll().constData());
    }

private Q_SLOTS:
    void init() {
        link = std::make_unique<RealLink>();
        log = new MessageLog(*link);
        answer.clear();
        server = std::make_unique<TcpSlave>([this](const QByteArray&) { return answer; });
        aim(*link, true, server->port());
        configure(*link, [](LinkSettings& s) {
            s.tcpTimeoutMs = 400;
            s.tcpConnectTimeoutMs = 1000;
        });
    }
    void cleanup() {
        delete log;
        link.reset();
        server.reset();
    }

    // Polls follow each other on one connection, each ended by its reply's
    // last byte (the timeout is far off; the reply comes in two segments) and
    // each traffic record with its own reply; the connection test proves a
    // fresh connection, which the next poll then uses.
    void pollsShareOneConnection() {
        configure(*link, [](LinkSettings& s) { s.tcpTimeoutMs = 60'000; });
        const QByteArray whole = twelveRegisters();
        answer = {{whole.left(10)}, {whole.mid(10), 20}};
        for (int i = 0; i < 20; ++i)
            QCOMPARE(readTwelve().reply.status, 255);
        QCOMPARE(server->connections, 1);
        QCOMPARE(server->requests.size(), 20);
        QCOMPARE(server->requests.value(0), hex("00000000000601040000000C"));
        QCOMPARE(link->traffic().since(19).value(0).reply, whole);
        QCOMPARE(await([this](Requester r) { link->testConnection(r); }).reply.status, 255);
        const Reply last = readTwelve().reply;
        QVERIFY(last.hasRegisters(12) && last.bytes.size() == 27 && last.byteAt(0) == 1);
        QVERIFY(last.reg(0) == 1 && last.reg(11) == 12);
        QCOMPARE(server->connections, 2);
    }

    // A kept connection that went between polls (a second without a
    // transaction, or the server closing it), or whose host or port is no
    // longer the one set, is replaced quietly: the next request goes out
    // once, on a fresh connection.
    void keptConnectionReplaced_data() {
        QTest::addColumn<QByteArray>("end"); // what the server does after its reply, or what is set
        QTest::newRow("a second idle") << QByteArray();
        QTest::newRow("server closes it") << QByteArray("<close>");
        QTest::newRow("server resets it") << QByteArray("<reset>");
        QTest::newRow("other port") << QByteArray("port");
        QTest::newRow("other host name") << QByteArray("host");
    }
    void keptConnectionReplaced() {
        QFETCH(QByteArray, end);
        answer = {{twelveRegisters()}};
        if (end.startsWith('<'))
            answer << Chunk{end, 20};
        QCOMPARE(readTwelve().reply.status, 255);
        TcpSlave other([](const QByteArray&) { return QList<Chunk>{{twelveRegisters()}}; });
        if (end == "port")
            configure(*link, [&](LinkSettings& s) { s.port = other.port(); });
        else if (end == "host")
            configure(*link, [](LinkSettings& s) { s.host = QStringLiteral("localhost"); });
        else
            QTRY_VERIFY_WITH_TIMEOUT(!link->tcpConnected(), 5 * TcpTransport::IdleMs);
        answer = {{twelveRegisters()}};
        QCOMPARE(readTwelve().reply.status, 255);
        QCOMPARE(other.connections, end == "port" ? 1 : 0);
        QCOMPARE(server->connections + other.connections, 2);
        QCOMPARE(server->requests.size() + other.requests.size(), 2);
        QVERIFY(log->texts.isEmpty());
    }

    // How each kind of server answers a transaction and the connection test:
    // refused and never accepting are 252, and only the test says so.
    void connecting_data() {
        QTest::addColumn<int>("server"); // 0 alive, 1 refusing, 2 never accepting
        QTest::addColumn<bool>("test");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("shown");
        QTest::newRow("alive, test") << 0 << true << 255 << false;
        QTest::newRow("refusing") << 1 << false << 252 << false;
        QTest::newRow("refusing, test") << 1 << true << 252 << true;
        QTest::newRow("never accepting") << 2 << false << 252 << false;
        QTest::newRow("never accepting, test") << 2 << true << 252 << true;
    }
    void connecting() {
        QFETCH(int, server);
        QFETCH(bool, test);
        QFETCH(int, status);
        QFETCH(bool, shown);
        NeverAccepting hang;
        if (server == 1)
            this->server.reset(); // the port is free now: connections are refused
        // Only a server that never accepts makes the link wait its connect
        // timeout: for the others it is far off.
        configure(*link, [&](LinkSettings& s) {
            s.tcpConnectTimeoutMs = server == 2 ? 1000 : 60'000;
            s.port = server == 2 ? hang.port() : s.port;
        });
        const Outcome o =
            test ? await([this](Requester r) { link->testConnection(r); }) : readTwelve();
        QCOMPARE(o.reply.status, status);
        QCOMPARE(link->tcpConnected(), status == 255);
        QCOMPARE(log->texts,
                 shown ? QStringList{QStringLiteral(" Device at 127.0.0.1 was not found!")}
                       : QStringList{});
        QVERIFY(server != 2 || o.elapsedMs >= 950); // not before its timeout (timers run 5% early)
    }

    void badRepliesAre253AndDropTheConnection_data() {
        QTest::addColumn<QList<Chunk>>("chunks");
        QTest::newRow("silent server") << QList<Chunk>{};
        QTest::newRow("late reply") << QList<Chunk>{{twelveRegisters(), 600}};
        QTest::newRow("too long") << QList<Chunk>{{twelveRegisters() + "zz"}};
        QTest::newRow("nine bytes without exception bit")
            << QList<Chunk>{{hex("000100000003010402")}};
        QTest::newRow("closed mid-reply")
            << QList<Chunk>{{twelveRegisters().left(12)}, {"<close>", 20}};
        QTest::newRow("reset mid-reply")
            << QList<Chunk>{{twelveRegisters().left(12)}, {"<reset>", 20}};
    }
    void badRepliesAre253AndDropTheConnection() {
        QFETCH(QList<Chunk>, chunks);
        answer = {{twelveRegisters()}};
        QCOMPARE(readTwelve().reply.status, 255);
        answer = chunks;
        const Outcome o = readTwelve();
        QCOMPARE(o.reply.status, 253);
        QVERIFY(!o.reply.hasRegisters(12));
        QVERIFY(log->texts.isEmpty());
        // The connection went with the failure: bytes of that reply still to
        // come are never taken for the next one's.
        QVERIFY(!link->tcpConnected());
        answer = {{hex("000100000003018402"), 300}};
        QCOMPARE(readTwelve().reply.status, 2);
    }

    // A connection that fails because this machine ran out of descriptors or
    // local ports is shown, 252: a poll loop that ends must say why. Qt names
    // the two SocketResourceError and UnknownSocketError.
    // The case of the ports needs a network namespace of its own: ctest runs
    // it alone (tst_tcp_localports), reported as skipped where it cannot run.
    void localShortageIsShown_data() {
        QTest::addColumn<bool>("ports");
        QTest::addColumn<QString>("text");
        if (qEnvironmentVariableIsSet("QIMTEST_LOCAL_PORTS"))
            QTest::newRow("no local port left") << true << QStringLiteral("TCP/IP Error 10000");
        else
            QTest::newRow("no descriptor left") << false << QStringLiteral("TCP/IP Error 10055");
    }
    void localShortageIsShown() {
        QFETCH(bool, ports);
        QFETCH(QString, text);
        if (ports && !qEnvironmentVariableIsSet("QIMTEST_NETNS"))
            return runInNamespace("localShortageIsShown:no local port left");
        std::vector<std::unique_ptr<QTcpSocket>> holders;
        std::vector<int> fillers;
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        if (ports) {
            // The namespace leaves a port or two for connections: take them.
            while (holders.size() < 8) {
                auto s = std::make_unique<QTcpSocket>();
                s->connectToHost(QHostAddress::LocalHost, server->port());
                QTRY_VERIFY(s->state() == QAbstractSocket::ConnectedState ||
                            s->state() == QAbstractSocket::UnconnectedState);
                if (s->state() != QAbstractSocket::ConnectedState)
                    break;
                holders.push_back(std::move(s));
            }
            QVERIFY(holders.size() < 8);
        } else {
            rlimit low = limit;
            low.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 1024);
            setrlimit(RLIMIT_NOFILE, &low);
            for (int fd; (fd = ::dup(0)) >= 0;)
                fillers.push_back(fd);
        }
        const Outcome o = readTwelve();
        for (int fd : fillers)
            ::close(fd);
        setrlimit(RLIMIT_NOFILE, &limit);
        QCOMPARE(o.reply.status, 252);
        QCOMPARE(log->texts, QStringList{text});
    }
};

QIM_TEST_GUILESS_MAIN(TestTcp)
#include "tst_tcp.moc"

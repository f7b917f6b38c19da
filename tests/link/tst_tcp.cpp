// The TCP engine over loopback, with the test playing the server.
#include "General.h"
#include "Link.h"
#include "Requests.h"
#include "TestSupport.h"

#include <QTest>

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

private Q_SLOTS:
    void initTestCase() { log = new MessageLog; }
    void cleanupTestCase() { delete log; }
    void init() {
        Link::instance().reset();
        AssignLinkDefaults();
        General::CommMode = 1;
        General::TCPTimeout = 400;
        General::TCPConnectTimeout = 1000;
        answer.clear();
        server = std::make_unique<TcpSlave>([this](const QByteArray&) { return answer; });
        General::IPAddress = QStringLiteral("127.0.0.1");
        General::ServerPort = server->port();
        log->texts.clear();
    }
    void cleanup() {
        Link::instance().reset();
        server.reset();
    }

    void goodReplyAtTheSameIndicesAsSerial() {
        General::TransactionId = 1;
        answer = {{twelveRegisters()}};
        const Outcome o = Await([](Requester r) { TCPReadInputRegisters(1, 0, 12, r); });
        QCOMPARE(o.reply->status, 255);
        QCOMPARE(General::RxCount, 33);
        QCOMPARE(General::RxBuffer.size(), 27);
        QCOMPARE(static_cast<uint8_t>(General::RxBuffer[0]), 1);
        QCOMPARE(o.reply->reg(0).value(), 1);
        QCOMPARE(o.reply->reg(11).value(), 12);
        QVERIFY(o.reply->hasRegisters(12));
        QCOMPARE(server->requests.value(0), hex("00010000000601040000000C"));
        QVERIFY(o.elapsedMs < 300);
    }

    void everyRequestGetsAFreshConnection() {
        answer = {{twelveRegisters()}};
        for (int i = 0; i < 3; ++i)
            QCOMPARE(Await([](Requester r) { TCPReadInputRegisters(1, 0, 12, r); }).reply->status,
                     255);
        QCOMPARE(server->connections, 3);
    }

    void exceptionReply() {
        answer = {{hex("000100000003018402")}};
        const Outcome o = Await([](Requester r) { TCPReadInputRegisters(1, 0, 12, r); });
        QCOMPARE(o.reply->status, 2);
        QCOMPARE(General::RxCount, 9);
    }

    void replyInTwoSegmentsIsCollected() {
        const QByteArray r = twelveRegisters();
        answer = {{r.left(10)}, {r.mid(10), 120}};
        const Outcome o = Await([](Requester rq) { TCPReadInputRegisters(1, 0, 12, rq); });
        QCOMPARE(o.reply->status, 255);
        QCOMPARE(o.reply->reg(11).value(), 12);
    }

    void failuresKeepThePreviousReplyBytes_data() {
        QTest::addColumn<QList<Chunk>>("chunks");
        QTest::addColumn<int>("rxCount");
        QTest::newRow("silent server") << QList<Chunk>{} << 33;
        QTest::newRow("too long") << QList<Chunk>{{twelveRegisters() + "zz"}} << 35;
        QTest::newRow("nine bytes without exception bit")
            << QList<Chunk>{{hex("000100000003010402")}} << 9;
        QTest::newRow("closed mid-reply")
            << QList<Chunk>{{twelveRegisters().left(12)}, {"<close>", 20}} << 12;
        QTest::newRow("reset mid-reply")
            << QList<Chunk>{{twelveRegisters().left(12)}, {"<reset>", 20}} << 12;
    }
    void failuresKeepThePreviousReplyBytes() {
        QFETCH(QList<Chunk>, chunks);
        QFETCH(int, rxCount);
        answer = {{twelveRegisters()}};
        QCOMPARE(Await([](Requester r) { TCPReadInputRegisters(1, 0, 12, r); }).reply->status, 255);
        const QByteArray previous = General::RxBuffer;
        answer = chunks;
        const Outcome o = Await([](Requester r) { TCPReadInputRegisters(1, 0, 12, r); });
        QCOMPARE(o.reply->status, 253);
        QCOMPARE(General::CommStatus, 253);
        QCOMPARE(General::RxBuffer, previous);
        QCOMPARE(General::RxCount, rxCount);
        QVERIFY(!o.reply->hasRegisters(12));
        QVERIFY(log->texts.isEmpty());
    }

    void nothingListeningIs252WithoutMessage() {
        server.reset(); // the port is free now: connections are refused
        const Outcome o = Await([](Requester r) { TCPReadInputRegisters(1, 0, 12, r); });
        QCOMPARE(o.reply->status, 252);
        QCOMPARE(General::Connected, false);
        QVERIFY(log->texts.isEmpty());
    }

    void connectionNeverAccepted() {
        NeverAccepting hang;
        General::ServerPort = hang.port();
        General::TCPConnectTimeout = 1000;
        Outcome o = Await([](Requester r) { TCPReadInputRegisters(1, 0, 12, r); });
        QCOMPARE(o.reply->status, 252);
        QVERIFY(o.elapsedMs >= 980);
        QVERIFY(log->texts.isEmpty());

        o = Await([](Requester r) { TCPConnect(r); });
        QCOMPARE(General::Connected, false);
        QVERIFY(o.elapsedMs >= 980);
        QCOMPARE(log->texts, QStringList{QStringLiteral(" Device at 127.0.0.1 was not found!")});
    }

    void tcpConnectToALiveServer() {
        const Outcome o = Await([](Requester r) { TCPConnect(r); });
        QCOMPARE(o.reply->status, 255);
        QCOMPARE(General::Connected, true);
        QVERIFY(Link::instance().socketConnected());
        Link::instance().closeAll();
        QVERIFY(!Link::instance().socketConnected());
    }

    void refusedConnectionTestIsNotFound() {
        server.reset();
        const Outcome o = Await([](Requester r) { TCPConnect(r); });
        QCOMPARE(General::Connected, false);
        QCOMPARE(log->texts, QStringList{QStringLiteral(" Device at 127.0.0.1 was not found!")});
        QVERIFY(o.elapsedMs < 900); // refused is known at once
    }

    // The fixtures allow loopback only: the program's default host is refused
    // before any packet leaves, as if it were unreachable, with a warning
    // that fails any test which forgot to aim the link at its slave.
    void testsNeverLeaveLoopback() {
        AssignLinkDefaults();
        General::CommMode = 1;
        QTest::ignoreMessage(QtWarningMsg, "qimlink: refused to connect to 192.168.1.0: only "
                                           "loopback is allowed here");
        const Outcome o = Await([](Requester r) { TCPReadInputRegisters(1, 0, 12, r); });
        QCOMPARE(o.reply->status, 252);
        QVERIFY(!Link::instance().socketConnected());
    }
};

QIM_TEST_GUILESS_MAIN(TestTcp)
#include "tst_tcp.moc"

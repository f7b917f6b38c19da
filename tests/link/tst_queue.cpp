// The one transaction queue: order, ownership of replies, dropped requesters.
#include "General.h"
#include "Link.h"
#include "Requests.h"
#include "TestSupport.h"

#include <QTest>

using namespace qim;
using namespace qimtest;

namespace {
// The server answers a read of one holding register with the unit identifier
// times 100, so every reply tells whose it is.
QList<Chunk> echoUnit(const QByteArray& req) {
    const char unit = req.size() > 6 ? req[6] : 0;
    QByteArray r = req.left(4) + QByteArray::fromHex("0005") + unit + "\x03\x02";
    const int v = static_cast<uint8_t>(unit) * 100;
    r += static_cast<char>(v >> 8);
    r += static_cast<char>(v & 0xFF);
    return {{r, 30}};
}
} // namespace

class TestQueue : public QObject {
    Q_OBJECT
    std::unique_ptr<TcpSlave> server;

private Q_SLOTS:
    void init() {
        Link::instance().reset();
        AssignLinkDefaults();
        server = std::make_unique<TcpSlave>(echoUnit);
        General::CommMode = 1;
        General::IPAddress = QStringLiteral("127.0.0.1");
        General::ServerPort = server->port();
        General::TCPTimeout = 1000;
    }
    void cleanup() { Link::instance().reset(); }

    void interleavedRequestersGetTheirOwnReplies() {
        QObject a, b;
        QList<int> gotA, gotB;
        for (int i = 0; i < 3; ++i) {
            TCPReadHoldingRegisters(1, 0, 1,
                                    {&a, [&](const Reply& r) { gotA << r.reg(0).value_or(-1); }});
            TCPReadHoldingRegisters(2, 0, 1,
                                    {&b, [&](const Reply& r) { gotB << r.reg(0).value_or(-1); }});
        }
        QCOMPARE(Link::instance().pending(), 6);
        QTRY_COMPARE_WITH_TIMEOUT(gotA.size() + gotB.size(), 6, 10000);
        QCOMPARE(gotA, (QList<int>{100, 100, 100}));
        QCOMPARE(gotB, (QList<int>{200, 200, 200}));
        // Strictly one after the other, in the order asked.
        QCOMPARE(server->requests.size(), 6);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(server->requests[i][6], char(i % 2 ? 2 : 1));
    }

    void destroyedRequestersAreDropped() {
        QObject first;
        bool firstCalled = false;
        auto queued = std::make_unique<QObject>();
        auto onWire = std::make_unique<QObject>();
        bool queuedCalled = false, onWireCalled = false;
        TCPReadHoldingRegisters(1, 0, 1,
                                {onWire.get(), [&](const Reply&) { onWireCalled = true; }});
        TCPReadHoldingRegisters(7, 0, 1,
                                {queued.get(), [&](const Reply&) { queuedCalled = true; }});
        TCPReadHoldingRegisters(3, 0, 1, {&first, [&](const Reply&) { firstCalled = true; }});
        onWire.reset(); // on the wire: finishes there, nobody is called
        queued.reset(); // still queued: never sent
        QTRY_VERIFY_WITH_TIMEOUT(firstCalled, 5000);
        QVERIFY(!onWireCalled);
        QVERIFY(!queuedCalled);
        QCOMPARE(server->requests.size(), 2);
        QCOMPARE(server->requests[1][6], char(3));
    }

    void cancelDropsOnlyThatRequestersQueue() {
        QObject a, b;
        int calls = 0;
        TCPReadHoldingRegisters(1, 0, 1, {&a, [&](const Reply&) { ++calls; }});
        TCPReadHoldingRegisters(1, 0, 1, {&a, [&](const Reply&) { ++calls; }});
        TCPReadHoldingRegisters(2, 0, 1, {&b, [&](const Reply&) { ++calls; }});
        Link::instance().cancel(&a);
        QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 5000);
        QTest::qWait(100);
        QCOMPARE(calls, 2);
        QCOMPARE(server->requests.size(), 2);
    }

    void newerQueuedPositionReplacesTheOlder() {
        QObject panel, other;
        QList<int> sent;
        TCPReadHoldingRegisters(9, 0, 1, {&other, [](const Reply&) {}});
        for (int v : {10, 20, 30, 40})
            TCPWriteSingleRegister(1, 2, v, {&panel, [&sent, v](const Reply&) { sent << v; }, 2});
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 1, 5000);
        QTest::qWait(100);
        QCOMPARE(sent, QList<int>{40});
        QCOMPARE(server->requests.size(), 2);
        QCOMPARE(server->requests[1].right(2), QByteArray::fromHex("0028"));
    }

    void callbacksNeverRunInsideTheCall() {
        General::ServerPort = 1; // nothing listens: refused, found out quickly
        bool called = false;
        TCPReadHoldingRegisters(1, 0, 1, {nullptr, [&](const Reply&) { called = true; }});
        QVERIFY(!called);
        QTRY_VERIFY(called);
    }

    void recordsEachTransactionOnce() {
        QList<TransactionRecord> records;
        auto c = connect(&Link::instance(), &Link::transactionFinished,
                         [&](const TransactionRecord& r) { records << r; });
        QObject a, b;
        int done = 0;
        TCPReadHoldingRegisters(4, 0, 1, {&a, [&](const Reply&) { ++done; }});
        TCPReadHoldingRegisters(5, 0, 1, {&b, [&](const Reply&) { ++done; }});
        QTRY_COMPARE(done, 2);
        disconnect(c);
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].slave, 4);
        QCOMPARE(records[0].function, 3);
        QCOMPARE(records[0].status, 255);
        QVERIFY(records[0].tcp);
        QCOMPARE(records[1].reply.size(), 11);
    }
};

QIM_TEST_GUILESS_MAIN(TestQueue)
#include "tst_queue.moc"

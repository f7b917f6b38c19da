// The one transaction queue: order, ownership of replies, dropped requesters.
#include "Link.h"
#include "TestSupport.h"

#include <QTest>

using namespace qim;
using namespace qimtest;

namespace {
// The server answers a read of one holding register with the unit identifier
// times 100, so every reply tells whose it is.
QList<Chunk> echoUnit(const QByteArray& req) {
    const char unit = req.size() > 6 ? req[6] : 0;
    const char function = req.size() > 7 ? req[7] : 0;
    if (function == 5 || function == 6)
        return {{req, 30}}; // a write's reply repeats its request
    if (function == 16)
        return {{req.left(4) + QByteArray::fromHex("0006") + req.mid(6, 6), 30}};
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
    std::unique_ptr<Link> link;
    void set(const std::function<void(LinkSettings&)>& edit) {
        LinkSettings s = link->settings();
        edit(s);
        link->setSettings(s);
    }

private Q_SLOTS:
    void init() {
        link = std::make_unique<RealLink>();
        server = std::make_unique<TcpSlave>(echoUnit);
        set([&](LinkSettings& s) {
            s.transport = LinkSettings::Transport::Tcp;
            s.host = QStringLiteral("127.0.0.1");
            s.port = server->port();
        });
    }
    void cleanup() { link.reset(); }

    void interleavedRequestersGetTheirOwnReplies() {
        QObject a, b;
        QList<int> gotA, gotB;
        for (int i = 0; i < 3; ++i) {
            link->readHoldingRegisters(
                1, 0, 1, {&a, [&](const Reply& r) { gotA << r.reg(0).value_or(-1); }});
            link->readHoldingRegisters(
                2, 0, 1, {&b, [&](const Reply& r) { gotB << r.reg(0).value_or(-1); }});
        }
        QCOMPARE(link->pending(), 6);
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
        link->readHoldingRegisters(1, 0, 1,
                                   {onWire.get(), [&](const Reply&) { onWireCalled = true; }});
        link->readHoldingRegisters(7, 0, 1,
                                   {queued.get(), [&](const Reply&) { queuedCalled = true; }});
        link->readHoldingRegisters(3, 0, 1, {&first, [&](const Reply&) { firstCalled = true; }});
        onWire.reset(); // on the wire: finishes there, nobody is called
        queued.reset(); // still queued: never sent
        QTRY_VERIFY_WITH_TIMEOUT(firstCalled, 5000);
        QVERIFY(!onWireCalled);
        QVERIFY(!queuedCalled);
        QCOMPARE(server->requests.size(), 2);
        QCOMPARE(server->requests[1][6], char(3));
    }

    void newerQueuedPositionReplacesTheOlder() {
        QObject panel, other;
        QList<int> sent;
        link->readHoldingRegisters(9, 0, 1, {&other, [](const Reply&) {}});
        for (int v : {10, 20, 30, 40})
            link->writeSingleRegister(1, 2, v,
                                      {&panel, [&sent, v](const Reply&) { sent << v; }, 2});
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 1, 5000);
        QTest::qWait(100);
        QCOMPARE(sent, QList<int>{40});
        QCOMPARE(server->requests.size(), 2);
        QCOMPARE(server->requests[1].right(2), QByteArray::fromHex("0028"));
    }

    // A window's writes are the link's once given: cancelling the window's
    // requests and destroying it drops its reads only. Its writes go out in
    // order, the newest slider position included, and one that fails with
    // nobody left to tell is told by the link.
    void writesOutliveTheirRequester_data() {
        QTest::addColumn<QByteArray>("unit9Reply"); // "" = silence
        QTest::addColumn<QString>("shown");
        QTest::newRow("silent") << QByteArray() << QStringLiteral("no reply");
        QTest::newRow("exception") << QByteArray::fromHex("0000000000030990"
                                                          "02")
                                   << QStringLiteral("exception code 2");
        QTest::newRow("short") << QByteArray::fromHex("00000000000409100007")
                               << QStringLiteral("wrong length");
    }
    void writesOutliveTheirRequester() {
        QFETCH(QByteArray, unit9Reply);
        QFETCH(QString, shown);
        server->script = [unit9Reply](const QByteArray& req) {
            if (req.size() > 6 && req[6] == 9)
                return unit9Reply.isEmpty() ? QList<Chunk>{} : QList<Chunk>{{unit9Reply}};
            return echoUnit(req);
        };
        MessageLog log(*link);
        int calls = 0;
        const auto count = [&calls](const Reply&) { ++calls; };
        std::array<int32_t, 27> image{};
        auto panel = std::make_unique<QObject>();
        link->readHoldingRegisters(1, 0, 1, {panel.get(), count}); // on the wire
        link->readHoldingRegisters(2, 0, 1, {panel.get(), count}); // a poll: dropped
        link->writeSingleCoil(1, 2, 0xFF00, {panel.get(), count});
        link->writeSingleRegister(1, 2, 30, {panel.get(), count, 2});
        link->writeSingleRegister(1, 2, 45, {panel.get(), count, 2});
        link->writeMultipleRegisters(9, 7, 20, image, {panel.get(), count});
        link->cancel(panel.get());
        panel.reset();
        // Opened again, the window's newer position replaces the one still waiting.
        QObject reopened;
        link->writeSingleRegister(1, 2, 50, {&reopened, count, 2});
        QTRY_COMPARE_WITH_TIMEOUT(link->pending(), 0, 5000);
        QCOMPARE(server->requests.size(), 4);
        QCOMPARE(server->requests[0].mid(6, 2), QByteArray::fromHex("0103"));
        QCOMPARE(server->requests[1].mid(6), QByteArray::fromHex("01050002ff00"));
        QCOMPARE(server->requests[2].mid(6), QByteArray::fromHex("010600020032"));
        QCOMPARE(server->requests[3].mid(6, 6), QByteArray::fromHex("091000070014"));
        QCOMPARE(calls, 1); // the reopened window's own write, and nothing of the gone one
        QCOMPARE(log.texts,
                 QStringList{QStringLiteral(
                                 " Module 9: the write of holding registers 7 to 26 failed (%1).")
                                 .arg(shown)});
    }

    void callbacksNeverRunInsideTheCall() {
        set([&](LinkSettings& s) { s.port = 1; }); // nothing listens: refused, found out quickly
        bool called = false;
        link->readHoldingRegisters(1, 0, 1, {nullptr, [&](const Reply&) { called = true; }});
        QVERIFY(!called);
        QTRY_VERIFY(called);
    }
};

QIM_TEST_GUILESS_MAIN(TestQueue)
#include "tst_queue.moc"

// The long run: the discrete panel polls a simulated module over TCP at
// interval 0 until its own limit of 100,000 polls ends the scan, every
// request accounted for, in memory that does not grow with the run.
#include "../app/Driver.h"
#include "DiscretePanel.h"
#include "PollLoop.h"
#include "SimBus.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>

using namespace qim;
using namespace apptest;

namespace {

// What the module saw, checked request by request as it arrives. A poll is a
// write of the outputs (function 6) and a read of the inputs (function 3),
// each with the next transaction identifier: one lost, repeated or reordered
// request breaks the sequence.
struct Tally {
    qint64 requests = 0;
    qint64 firstBreak = 0; // the first request out of sequence, counted from 1
    uint16_t nextId = 1;

    void take(const qimsim::RequestRecord& r) {
        const int expectedFunction = requests % 2 == 0 ? 6 : 3;
        const bool inSequence = r.tcp && r.address == 5 && r.function == expectedFunction &&
                                r.transactionId == nextId && r.start == 0 &&
                                (r.function == 6 || r.count == 1);
        ++requests;
        if (!inSequence && firstBreak == 0)
            firstBreak = requests;
        // The identifier wraps from 65535 to 0.
        nextId = static_cast<uint16_t>(r.transactionId == 65535 ? 0 : r.transactionId + 1);
    }
};

// The anonymous memory the process holds (its heap, not the libraries' pages
// it happens to touch), in kB; -1 where the system does not say.
qint64 anonymousKb() {
    QFile f(QStringLiteral("/proc/self/smaps_rollup"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("Anonymous:"))
            return line.mid(10).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
// Where the growth is measured from: well after start-up, once every cache
// and pool has what it needs.
constexpr qint64 MeasuredFromPoll = 20'000;

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qimtest::quietOffscreenPlatform(); }

    void hundredThousandPollsAtIntervalZero() {
        qimsim::Bus bus;
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0));
        bus.addModule(5, 10);
        App app;
        // Generous: a late reply on a busy machine is not what this run looks for.
        qimtest::aim(app.link, true, bus.tcpPort());
        app.settings([](LinkSettings& s) { s.tcpTimeoutMs = s.tcpConnectTimeoutMs = 5000; });
        QVERIFY(app.openPanel(5, 10));
        Window p(QStringLiteral("frmQIM_K520"));
        auto* panel = qobject_cast<DiscretePanel*>(p.widget());
        QVERIFY(panel);

        Tally tally;
        qint64 before = -1;
        QObject watch; // ends the connection with this test
        connect(&bus, &qimsim::Bus::requestReceived, &watch, [&](const qimsim::RequestRecord& r) {
            tally.take(r);
            bus.clearRequests(); // the module's record is not what is measured
            if (tally.requests == 2 * MeasuredFromPoll)
                before = anonymousKb();
        });

        QElapsedTimer clock;
        clock.start();
        PollLoop* loop = panel->pollLoop();
        // A real event loop while it runs: a polling wait would sleep between
        // its looks and make the run take many times longer.
        QSignalSpy finished(loop, &PollLoop::finished);
        p.type("TextScanTimer", QStringLiteral("0"));
        p.click("CmdScan");
        QCOMPARE(p.status(3), QStringLiteral("SCAN"));
        QVERIFY(finished.wait(3'600'000));
        QCOMPARE(p.status(3), QStringLiteral("STOP"));
        qInfo("100,000 polls in %.1f s", static_cast<double>(clock.elapsed()) / 1000.0);

        // The cycle that finds the count at the limit still makes its requests.
        const qint64 cycles = PollLoop::PollLimit + 1;
        QCOMPARE(p.status(2), QStringLiteral("Poll: 100000"));
        QCOMPARE(p.status(1), QStringLiteral("Err: 0"));
        QVERIFY(p.enabled("CmdScan") && !p.enabled("CmdStop") && p.enabled("CmdCancel"));
        QVERIFY2(tally.firstBreak == 0,
                 qPrintable(QStringLiteral("request %1 out of sequence").arg(tally.firstBreak)));
        QCOMPARE(tally.requests, 2 * cycles);
        QVERIFY(app.messages().isEmpty());
        // Nothing is left over on the link or waiting to go out.
        QCOMPARE(app.link.pending(), 0);
        QTest::qWait(200);
        QCOMPARE(tally.requests, 2 * cycles);
        // The program does not grow with the run: 100 bytes kept a poll
        // would come to 8 MB from the measuring point on.
#ifdef __SANITIZE_ADDRESS__
        QSKIP("the sanitizer holds freed memory in quarantine: growth not measured");
#endif
        const qint64 after = anonymousKb();
        QVERIFY(before >= 0 && after >= 0);
        const qint64 perPoll = (after - before) * 1024 / (cycles - MeasuredFromPoll);
        qInfo("anonymous memory %lld kB at poll %lld, %lld kB at the end: %lld bytes a poll",
              before, MeasuredFromPoll, after, perPoll);
        QVERIFY2(perPoll < 25, qPrintable(QStringLiteral("%1 bytes a poll").arg(perPoll)));
    }
};

QIM_TEST_MAIN(TestSoak)
#include "tst_soak.moc"

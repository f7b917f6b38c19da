// The discrete modules' panel against the simulated bus: what it sends, in
// which order, what it shows, and how a scan ends.
#include "DiscretePanel.h"
#include "PanelTestKit.h"
#include "Pictures.h"
#include "PollLoop.h"

using namespace qim;
using namespace paneltest;
using Kind = qimsim::Fault::Kind;

class TestDiscretePanel : public QObject, PanelFixture {
    Q_OBJECT
    qimsim::Module* module = nullptr;

    DiscretePanel* discrete() const { return static_cast<DiscretePanel*>(panel.data()); }
    // Which pictures of a kind show "on", by number.
    QList<int> on(const char* prefix) const {
        QList<int> lit;
        for (int n = 1; n <= 8; ++n)
            if (w<StatePicture>(QLatin1String(prefix) + QString::number(n))->state() == 1)
                lit << n;
        return lit;
    }
    QList<int> inputs() const { return on("Image_Input"); }

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }
    void init() {
        QVERIFY(tcpBus());
        module = bus->addModule(5, 10);
    }
    void cleanup() { QVERIFY(closePanel()); }

    void talksOnlyToADiscreteModule() {
        open<DiscretePanel>(5, 30);
        QVERIFY(!enabled("CmdScan") && !enabled("CmdStop"));
        QCOMPARE(label("lblAddress"), QStringLiteral("Address: "));
        DeviceRecord other; // shown again for another module, it keeps its own
        other.address = 9;
        other.code = 10;
        discrete()->showModule(other);
        QVERIFY(!enabled("CmdScan"));
    }

    void intervalBounds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("10000") << "10000" << true;
        QTest::newRow("0") << "0" << true;
        for (const char* t : {"10000.5", "-1", "abc", ""})
            QTest::newRow(t) << t << false;
    }
    void intervalBounds() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        open<DiscretePanel>(5, 10);
        scan(text);
        QCOMPARE(sb(3), accepted ? QStringLiteral("SCAN") : QStringLiteral("STOP"));
        QCOMPARE(enabled("CmdScan"), !accepted);
        QCOMPARE(enabled("CmdStop"), accepted);
        if (!accepted) {
            QCOMPARE(messages(),
                     QStringList{"Time between polls must be a number from 0 to 10000"});
            QTest::qWait(100);
            QVERIFY(bus->requests().isEmpty());
        }
    }

    void cycleWritesOutputsThenReadsInputs() {
        open<DiscretePanel>(5, 10);
        click("Chk_Output3");
        QCOMPARE(on("Image_Output"), QList<int>{3}); // idle: only the picture changes
        module->forceRead(3, 0, 129);
        scan("0");
        QTRY_COMPARE(inputs(), (QList<int>{1, 8}));
        const auto red = [&](int n) { // what the eye sees of an input's LED
            const QImage led = w(QStringLiteral("Image_Input%1").arg(n))->grab().toImage();
            return led.pixelColor(16, 16).red();
        };
        QVERIFY(red(1) > 200 && red(2) < 160);
        click("Chk_Output8");
        QTRY_VERIFY(RequestsOf(*bus, 6).last().values == QVector<uint16_t>{0x84});
        QVERIFY(stop());

        const auto reqs = bus->requests();
        QVERIFY(reqs.size() >= 4 && reqs.size() % 2 == 0);
        for (int i = 0; i < reqs.size(); ++i) {
            QCOMPARE(reqs[i].address, 5);
            QCOMPARE(reqs[i].start, 0);
            QCOMPARE(reqs[i].transactionId, i + 1); // advanced before each request
            QCOMPARE(reqs[i].function, i % 2 ? 3 : 6);
        }
        QCOMPARE(reqs[0].values, QVector<uint16_t>{4}); // output 3 is bit 2
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: %1").arg(reqs.size() / 2));
    }

    // Each output write the module refuses is an error.
    void refusedWritesCount() {
        open<DiscretePanel>(5, 10);
        module->setFault(6, FaultOf(Kind::Exception));
        scan("0");
        QTRY_VERIFY(polls() >= 2);
        QVERIFY(stop());
        QCOMPARE(sb(1), QStringLiteral("Err: %1").arg(polls()));
    }

    // The cycle that ends a loop (at the poll limit, or on 252: a lost link
    // ends the scan) is counted but never drawn: the status bar shows the
    // counts of the cycle before.
    void lastCycleIsNotDrawn_data() {
        QTest::addColumn<bool>("linkLost");
        QTest::newRow("poll limit") << false;
        QTest::newRow("link lost") << true;
    }
    void lastCycleIsNotDrawn() {
        QFETCH(bool, linkLost);
        open<DiscretePanel>(5, 10);
        module->setFault(3, FaultOf(Kind::Exception));
        scan("0");
        if (linkLost) {
            QTRY_VERIFY(polls() >= 3);
            bus->stop();
        } else {
            for (int i = 0; i < PollLoop::PollLimit - 2; ++i)
                discrete()->pollLoop()->countPoll();
        }
        QVERIFY(waitStopped());
        const PollLoop& loop = *discrete()->pollLoop();
        QVERIFY(loop.errorCount() > loop.shownErrorCount());
        QCOMPARE(sb(1), QStringLiteral("Err: %1").arg(loop.shownErrorCount()));
        QCOMPARE(sb(2), QStringLiteral("Poll: %1").arg(loop.pollCount()));
        if (!linkLost) {
            // Two cycles count up to the limit; the third makes its requests,
            // finds the limit and ends.
            QCOMPARE(bus->requests().size(), 6);
            QCOMPARE(sb(1), QStringLiteral("Err: 2"));
            QCOMPARE(sb(2), QStringLiteral("Poll: 100000"));
        }
    }
};

QIM_TEST_MAIN(TestDiscretePanel)
#include "tst_discretepanel.moc"

// The discrete modules' panel against the simulated bus: what it sends, in
// which order, what it shows, and how a scan ends.
#include "PanelTestSupport.h"
#include "Panels.h"
#include "Pictures.h"
#include "PollLoop.h"
#include "TestSupport.h"
#include "frmQIM_K520.h"

#include <QSignalSpy>

using namespace qim;
using namespace paneltest;
using Kind = qimsim::Fault::Kind;

class TestDiscretePanel : public QObject, PanelFixture {
    Q_OBJECT
    qimsim::Module* module = nullptr;

    bool open(uint8_t address, uint8_t code, int index = 0) {
        SelectDevice(address, code, index);
        panel = frmQIM_K520::open();
        return panel;
    }
    frmQIM_K520* discrete() const { return static_cast<frmQIM_K520*>(panel.data()); }
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
    void initTestCase() {
        qimtest::QuietOffscreenPlatform();
        MessagePresenter::instance();
    }
    void init() {
        QVERIFY(tcpBus());
        module = bus->addModule(5, 10);
    }
    void cleanup() { QVERIFY(closePanel()); }

    void loadAndSelection() {
        // Another kind of module, or a selection outside the used table, can only be closed.
        for (auto [index, code] : {std::pair{0, 30}, std::pair{247, 10}}) {
            QVERIFY(open(5, static_cast<uint8_t>(code), index));
            QVERIFY(!enabled("CmdScan") && !enabled("CmdStop") && enabled("CmdCancel"));
            QCOMPARE(label("lblAddress"), QStringLiteral("Address: "));
            QVERIFY(closePanel());
        }
        QVERIFY(open(5, 11));
        QCOMPARE(panel->windowTitle(), QStringLiteral("QIM-K520 / QIM-K530"));
        QCOMPARE(label("lblAddress"), QStringLiteral("Address: 5"));
        QCOMPARE(w<QLineEdit>("TextScanTimer")->text(), QStringLiteral("100"));
        QVERIFY(enabled("CmdScan") && !enabled("CmdStop"));
        QCOMPARE((QStringList{sb(1), sb(2), sb(3)}), (QStringList{"Err: 0", "Poll: 0", "STOP"}));
        QVERIFY(inputs().isEmpty() && on("Image_Output").isEmpty());

        // Opening again only brings it forward; it keeps its module.
        SelectDevice(9, 10, 3);
        QVERIFY(OpenPanelFor(10));
        QCOMPARE(frmQIM_K520::instance(), discrete());
        QCOMPARE(label("lblAddress"), QStringLiteral("Address: 5"));
        QVERIFY(!OpenPanelFor(99));
    }

    void intervalValidation_data() {
        QTest::addColumn<QString>("text");
        for (const char* t : {"10000.5", "-1", "abc", ""})
            QTest::newRow(t) << t;
    }
    void intervalValidation() {
        QFETCH(QString, text);
        QVERIFY(open(5, 10));
        scan(text);
        QCOMPARE(messages(), QStringList{"Time between polls must be a number from 0 to 10000"});
        QCOMPARE(w<QLineEdit>("TextScanTimer")->text(), text);
        QVERIFY(enabled("CmdScan"));
        QCOMPARE(sb(3), QStringLiteral("STOP"));
        QTest::qWait(100);
        QVERIFY(bus->requests().isEmpty());
    }

    void cycleWritesOutputsThenReadsInputs() {
        QVERIFY(open(5, 10));
        click("Chk_Output3");
        QCOMPARE(on("Image_Output"), QList<int>{3}); // idle: only the picture changes
        module->forceRead(3, 0, 129);
        QTest::qWait(100);
        QVERIFY(bus->requests().isEmpty());

        scan("0");
        QTRY_COMPARE(inputs(), (QList<int>{1, 8}));
        module->forceRead(3, 0, 0xFF42); // only the low byte is inputs
        QTRY_COMPARE(inputs(), (QList<int>{2, 7}));
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
        QCOMPARE(reqs[1].count, 1);
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: %1").arg(reqs.size() / 2));
        QCOMPARE(on("Image_Output"), (QList<int>{3, 8}));
    }

    // Every write refused, every read good: one error a cycle, inputs shown.
    void failedWriteCountsOneErrorAndStillShowsInputs() {
        QVERIFY(open(5, 10));
        module->setFault(6, FaultOf(Kind::Exception));
        module->forceRead(3, 0, 129);
        scan("0");
        QTRY_COMPARE(inputs(), (QList<int>{1, 8}));
        QTRY_VERIFY(discrete()->pollLoop()->PollCount >= 3);
        QVERIFY(stop());
        const int polls = discrete()->pollLoop()->PollCount;
        QCOMPARE(sb(1), QStringLiteral("Err: %1").arg(polls));
        QCOMPARE(sb(2), QStringLiteral("Poll: %1").arg(polls));
    }

    // A read that comes back a byte short is an error and leaves the inputs
    // as they were; polling goes on.
    void shortReadsKeepTheLastInputs() {
        QVERIFY(open(5, 10));
        module->forceRead(3, 0, 129);
        scan("0");
        QTRY_COMPARE(inputs(), (QList<int>{1, 8}));
        module->forceRead(3, 0, 0);
        module->setFault(3, FaultOf(Kind::MissingByte));
        QTRY_VERIFY(discrete()->pollLoop()->ErrorCount >= 3);
        QCOMPARE(inputs(), (QList<int>{1, 8}));
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
        module->clearFaults();
        QTRY_VERIFY(inputs().isEmpty());
        QVERIFY(stop());
    }

    void stopLetsTheCycleInProgressFinish() {
        QVERIFY(open(5, 10));
        // Stop during the wait: the wait, the write and the read still happen.
        scan("300");
        QVERIFY(stop());
        QCOMPARE(bus->requests().size(), 2);
        QCOMPARE(sb(2), QStringLiteral("Poll: 1"));
        QVERIFY(enabled("CmdScan") && enabled("CmdCancel") && !enabled("CmdStop"));

        // Stop while the write is on the wire: the read still follows, then nothing.
        bus->clearRequests();
        module->setFault(6, FaultOf(Kind::Delay, 150));
        QSignalSpy received(bus.get(), &qimsim::Bus::requestReceived);
        scan("0");
        QVERIFY(received.wait(5000));
        QVERIFY(stop());
        QTest::qWait(200);
        QCOMPARE(bus->requests().size(), 2);
        QCOMPARE(bus->requests()[1].function, 3);
    }

    void pollLimitEndsTheScan() {
        QVERIFY(open(5, 10));
        scan("0");
        discrete()->pollLoop()->PollCount = PollLoop::PollLimit - 2;
        QVERIFY(waitStopped());
        // Two cycles count up to the limit; the third makes its requests,
        // finds the limit and ends.
        QCOMPARE(bus->requests().size(), 6);
        QCOMPARE(sb(2), QStringLiteral("Poll: 100000"));
        QVERIFY(enabled("CmdScan"));
    }

    void unavailablePortEndsTheScan() {
        General::CommMode = 0;
        General::ComPortIndex = 30; // COM31: nothing there
        QVERIFY(open(5, 10));
        scan("0");
        QVERIFY(waitStopped());
        QCOMPARE(discrete()->pollLoop()->ErrorCount, 2);
        QCOMPARE(discrete()->pollLoop()->PollCount, 0);
        QCOMPARE(messages().value(0), PortUnavailableMessage());
        QVERIFY(enabled("CmdScan"));
    }

    // Closed from the title bar while polling: nothing more goes out.
    void closingWhilePolling() {
        QVERIFY(open(5, 10));
        scan("10000");
        QVERIFY(messages().isEmpty());
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
        QVERIFY(!enabled("CmdScan") && !enabled("CmdCancel") && !enabled("TextScanTimer"));
        QVERIFY(closePanel()); // while it waits
        QTest::qWait(300);
        QVERIFY(bus->requests().isEmpty());
        QVERIFY(tcpBus());
        module = bus->addModule(5, 10);
        module->setFault(6, FaultOf(Kind::Delay, 200));
        QVERIFY(open(5, 10));
        QSignalSpy received(bus.get(), &qimsim::Bus::requestReceived);
        scan("0");
        QVERIFY(received.wait(5000));
        QVERIFY(closePanel()); // while its write is on the wire
        QTest::qWait(500);
        QCOMPARE(bus->requests().size(), 1);
    }

    void serialStory() {
        QVERIFY(serialBus());
        module = bus->addModule(7, 11);
        module->forceRead(3, 0, 0x24);
        QVERIFY(open(7, 11));
        click("Chk_Output1");
        click("Chk_Output8");
        scan("10");
        QTRY_COMPARE_WITH_TIMEOUT(inputs(), (QList<int>{3, 6}), 10000);
        QVERIFY(stop());
        const auto reqs = bus->requests();
        QVERIFY(reqs.size() >= 2 && !reqs[0].tcp);
        QCOMPARE(reqs[0].address, 7);
        QCOMPARE(reqs[0].values, QVector<uint16_t>{0x81});
        QCOMPARE(reqs[1].function, 3);
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
    }
};

QIM_TEST_MAIN(TestDiscretePanel)
#include "tst_discretepanel.moc"

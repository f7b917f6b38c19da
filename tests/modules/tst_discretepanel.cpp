// The discrete modules' panel against the simulated bus: what it sends, in
// which order, what it shows, and how a scan ends.
#include "DiscretePanel.h"
#include "PanelTestSupport.h"
#include "Panels.h"
#include "Pictures.h"
#include "PollLoop.h"
#include "StatusPanels.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace qim;
using namespace paneltest;

namespace {
QList<int> litInputs(QWidget* panel) {
    QList<int> lit;
    for (int n = 1; n <= 8; ++n)
        if (panel->findChild<StatePicture*>(QStringLiteral("Image_Input%1").arg(n))->state() == 1)
            lit << n;
    return lit;
}
} // namespace

class TestDiscretePanel : public QObject {
    Q_OBJECT
    std::unique_ptr<qimsim::Bus> bus;
    qimsim::Module* module = nullptr;

    DiscretePanel* openFor(uint8_t address, uint8_t code) {
        SelectDevice(address, code);
        if (!OpenPanelFor(code))
            return nullptr;
        return DiscretePanel::instance();
    }
    static QString sb(QWidget* panel, int i) {
        return panel->findChild<StatusPanels*>(QStringLiteral("SB"))->text(i);
    }
    // Presses Scan with the given interval text.
    static void scan(QWidget* panel, const QString& interval) {
        panel->findChild<QLineEdit*>(QStringLiteral("TextScanTimer"))->setText(interval);
        panel->findChild<QPushButton*>(QStringLiteral("CmdScan"))->click();
    }
    static bool waitStopped(QWidget* panel, int timeoutMs = 10000) {
        return QTest::qWaitFor([&] { return sb(panel, 3) == QLatin1String("STOP"); }, timeoutMs);
    }

private Q_SLOTS:
    void initTestCase() {
        IgnoreOffscreenPlatformNotes();
        MessagePresenter::instance();
    }
    void init() {
        bus = TcpBus();
        QVERIFY(bus);
        module = bus->addModule(5, 10);
        MessagePresenter::instance().clearHistory();
    }
    void cleanup() {
        QVERIFY(CloseAndWait(DiscretePanel::instance()));
        MessagePresenter::instance().dismissAll();
        Link::instance().reset();
        bus.reset();
    }

    void loadShowsTheSelectedModuleOnly() {
        // A module of another kind, or a selection outside the table's used
        // range, leaves the panel able only to close.
        for (auto [index, code] : {std::pair{0, 30}, std::pair{247, 10}}) {
            SelectDevice(5, static_cast<uint8_t>(code), index);
            auto* panel = DiscretePanel::open();
            FIND(scanBtn, QPushButton, panel, "CmdScan");
            FIND(stopBtn, QPushButton, panel, "CmdStop");
            FIND(closeBtn, QPushButton, panel, "CmdCancel");
            FIND(address, QLabel, panel, "lblAddress");
            QVERIFY(!scanBtn->isEnabled());
            QVERIFY(!stopBtn->isEnabled());
            QVERIFY(closeBtn->isEnabled());
            QCOMPARE(address->text(), QStringLiteral("Address: "));
            QVERIFY(CloseAndWait(panel));
        }

        for (uint8_t code : {10, 11}) {
            auto* panel = openFor(5, code);
            QVERIFY(panel);
            QCOMPARE(panel->objectName(), QStringLiteral("frmQIM_K520"));
            QCOMPARE(panel->windowTitle(), QStringLiteral("QIM-K520 / QIM-K530"));
            FIND(address, QLabel, panel, "lblAddress");
            FIND(interval, QLineEdit, panel, "TextScanTimer");
            FIND(scanBtn, QPushButton, panel, "CmdScan");
            QCOMPARE(address->text(), QStringLiteral("Address: 5"));
            QCOMPARE(interval->text(), QStringLiteral("100"));
            QVERIFY(scanBtn->isEnabled());
            QCOMPARE(sb(panel, 1), QStringLiteral("Err: 0"));
            QCOMPARE(sb(panel, 2), QStringLiteral("Poll: 0"));
            QCOMPARE(sb(panel, 3), QStringLiteral("STOP"));
            for (int n = 1; n <= 8; ++n) {
                FIND(led, StatePicture, panel, qPrintable(QStringLiteral("Image_Input%1").arg(n)));
                FIND(contact, StatePicture, panel,
                     qPrintable(QStringLiteral("Image_Output%1").arg(n)));
                FIND(box, QCheckBox, panel, qPrintable(QStringLiteral("Chk_Output%1").arg(n)));
                QCOMPARE(led->kind(), StatePicture::Kind::Led);
                QCOMPARE(contact->kind(), StatePicture::Kind::Contact);
                QCOMPARE(led->state(), 0);
                QCOMPARE(contact->state(), 0);
                QVERIFY(!box->isChecked());
            }
            QVERIFY(CloseAndWait(panel));
        }
    }

    void openingAgainKeepsTheModule() {
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        SelectDevice(9, 11, 3);
        QVERIFY(OpenPanelFor(11));
        QCOMPARE(DiscretePanel::instance(), panel);
        QCOMPARE(panel->findChild<QLabel*>(QStringLiteral("lblAddress"))->text(),
                 QStringLiteral("Address: 5"));
        QCOMPARE(panel->SlaveAddress, 5);
        QVERIFY(!OpenPanelFor(99));
    }

    void intervalValidation_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("above 10000") << "10000.5";
        QTest::newRow("negative") << "-1";
        QTest::newRow("not a number") << "abc";
        QTest::newRow("empty") << "";
    }
    void intervalValidation() {
        QFETCH(QString, text);
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        scan(panel, text);
        QCOMPARE(MessagePresenter::instance().history(),
                 QStringList{"Time between polls must be a number from 0 to 10000"});
        QCOMPARE(panel->findChild<QLineEdit*>(QStringLiteral("TextScanTimer"))->text(), text);
        QVERIFY(panel->findChild<QPushButton*>(QStringLiteral("CmdScan"))->isEnabled());
        QCOMPARE(sb(panel, 3), QStringLiteral("STOP"));
        QTest::qWait(200);
        QVERIFY(bus->requests().isEmpty());
    }

    // The longest interval is accepted; a window closed from its title bar
    // while it waits sends nothing afterwards.
    void longestIntervalAndClosingWhileWaiting() {
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        scan(panel, QStringLiteral("10000"));
        QVERIFY(MessagePresenter::instance().history().isEmpty());
        QCOMPARE(sb(panel, 3), QStringLiteral("SCAN"));
        QVERIFY(panel->findChild<QPushButton*>(QStringLiteral("CmdStop"))->isEnabled());
        QVERIFY(!panel->findChild<QPushButton*>(QStringLiteral("CmdCancel"))->isEnabled());
        QVERIFY(!panel->findChild<QLineEdit*>(QStringLiteral("TextScanTimer"))->isEnabled());
        QVERIFY(CloseAndWait(panel));
        QTest::qWait(300);
        QVERIFY(bus->requests().isEmpty());
    }

    void cycleWritesOutputsThenReadsInputs() {
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        FIND(box3, QCheckBox, panel, "Chk_Output3");
        box3->click();
        // Idle: only the picture changes.
        for (int n = 1; n <= 8; ++n)
            QCOMPARE(
                panel->findChild<StatePicture*>(QStringLiteral("Image_Output%1").arg(n))->state(),
                n == 3 ? 1 : 0);
        QTest::qWait(100);
        QVERIFY(bus->requests().isEmpty());

        module->forceRead(3, 0, 129);
        scan(panel, QStringLiteral("0"));
        QTRY_VERIFY_WITH_TIMEOUT(bus->requests().size() >= 4, 10000);
        QTRY_COMPARE(litInputs(panel), (QList<int>{1, 8}));
        // Only the low byte is the inputs.
        module->forceRead(3, 0, 0xFF42);
        QTRY_COMPARE(litInputs(panel), (QList<int>{2, 7}));
        panel->findChild<QPushButton*>(QStringLiteral("CmdStop"))->click();
        QVERIFY(waitStopped(panel));

        const auto reqs = bus->requests();
        QVERIFY(reqs.size() >= 4);
        QCOMPARE(reqs.size() % 2, 0);
        for (int i = 0; i < reqs.size(); ++i) {
            const auto& r = reqs[i];
            QCOMPARE(r.address, 5);
            QCOMPARE(r.start, 0);
            QCOMPARE(r.transactionId, i + 1); // advanced before each request
            if (i % 2 == 0) {
                QCOMPARE(r.function, 6);
                QCOMPARE(r.values, (QVector<uint16_t>{4})); // output 3 = bit 2
            } else {
                QCOMPARE(r.function, 3);
                QCOMPARE(r.count, 1);
            }
        }
        QCOMPARE(sb(panel, 1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(panel, 2), QStringLiteral("Poll: %1").arg(reqs.size() / 2));
        // The output pictures follow the boxes, never the inputs.
        QCOMPARE(panel->findChild<StatePicture*>(QStringLiteral("Image_Output3"))->state(), 1);
        QCOMPARE(panel->findChild<StatePicture*>(QStringLiteral("Image_Output2"))->state(), 0);
    }

    void outputBoxesWorkWhileScanning() {
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        scan(panel, QStringLiteral("20"));
        QTRY_VERIFY(!RequestsOf(*bus, 6).isEmpty());
        FIND(box1, QCheckBox, panel, "Chk_Output1");
        FIND(box8, QCheckBox, panel, "Chk_Output8");
        QVERIFY(box1->isEnabled());
        box1->click();
        box8->click();
        QTRY_VERIFY(RequestsOf(*bus, 6).last().values == QVector<uint16_t>{0x81});
        box1->click();
        QTRY_VERIFY(RequestsOf(*bus, 6).last().values == QVector<uint16_t>{0x80});
        panel->findChild<QPushButton*>(QStringLiteral("CmdStop"))->click();
        QVERIFY(waitStopped(panel));
    }

    // Every write refused, every read good: one error a cycle, and the
    // inputs are shown all the same.
    void failedWriteCountsOneErrorAndStillShowsInputs() {
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        qimsim::Fault fault;
        fault.kind = qimsim::Fault::Exception;
        fault.exceptionCode = 2;
        module->setFault(6, fault);
        module->forceRead(3, 0, 129);
        scan(panel, QStringLiteral("0"));
        QTRY_COMPARE(litInputs(panel), (QList<int>{1, 8}));
        QTRY_VERIFY(panel->pollLoop()->PollCount >= 3);
        panel->findChild<QPushButton*>(QStringLiteral("CmdStop"))->click();
        QVERIFY(waitStopped(panel));
        const int polls = panel->pollLoop()->PollCount;
        QCOMPARE(sb(panel, 1), QStringLiteral("Err: %1").arg(polls));
        QCOMPARE(sb(panel, 2), QStringLiteral("Poll: %1").arg(polls));
        QCOMPARE(RequestsOf(*bus, 3).size(), polls);
    }

    // A read that fails, or comes back a byte short, is an error and leaves
    // the inputs as they were; polling goes on.
    void failedReadsKeepTheLastInputs() {
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        module->forceRead(3, 0, 129);
        scan(panel, QStringLiteral("0"));
        QTRY_COMPARE(litInputs(panel), (QList<int>{1, 8}));
        QTRY_VERIFY(sb(panel, 2) != QLatin1String("Poll: 0"));

        module->forceRead(3, 0, 0);
        qimsim::Fault shortReply;
        shortReply.kind = qimsim::Fault::MissingByte;
        module->setFault(3, shortReply);
        QTRY_VERIFY_WITH_TIMEOUT(panel->pollLoop()->ErrorCount >= 3, 10000);
        QCOMPARE(litInputs(panel), (QList<int>{1, 8}));
        QCOMPARE(sb(panel, 3), QStringLiteral("SCAN"));

        module->clearFaults();
        QTRY_COMPARE_WITH_TIMEOUT(litInputs(panel), QList<int>{}, 5000);
        panel->findChild<QPushButton*>(QStringLiteral("CmdStop"))->click();
        QVERIFY(waitStopped(panel));
        // Every failed cycle counted exactly one error, and only failed ones.
        const int errors = panel->pollLoop()->ErrorCount;
        QVERIFY(errors >= 3);
        QCOMPARE(sb(panel, 1), QStringLiteral("Err: %1").arg(errors));
    }

    void stopLetsTheCycleInProgressFinish() {
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        FIND(stopBtn, QPushButton, panel, "CmdStop");
        // Stop during the wait: the wait, the write and the read still happen.
        scan(panel, QStringLiteral("300"));
        stopBtn->click();
        QVERIFY(waitStopped(panel));
        QCOMPARE(bus->requests().size(), 2);
        QCOMPARE(sb(panel, 2), QStringLiteral("Poll: 1"));
        QVERIFY(panel->findChild<QPushButton*>(QStringLiteral("CmdScan"))->isEnabled());
        QVERIFY(panel->findChild<QPushButton*>(QStringLiteral("CmdCancel"))->isEnabled());
        QVERIFY(!stopBtn->isEnabled());

        // Stop while the write is on the wire: the read still follows.
        bus->clearRequests();
        qimsim::Fault slow;
        slow.kind = qimsim::Fault::Delay;
        slow.delayMs = 150;
        module->setFault(6, slow);
        scan(panel, QStringLiteral("0"));
        QSignalSpy received(bus.get(), &qimsim::Bus::requestReceived);
        QVERIFY(received.wait(5000));
        stopBtn->click();
        QVERIFY(waitStopped(panel));
        QCOMPARE(bus->requests().size(), 2);
        QCOMPARE(bus->requests()[1].function, 3);
        QTest::qWait(200);
        QCOMPARE(bus->requests().size(), 2);
    }

    void pollLimitEndsTheScan() {
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        scan(panel, QStringLiteral("0"));
        panel->pollLoop()->PollCount = PollLoop::PollLimit - 2;
        QVERIFY(waitStopped(panel));
        // Two cycles counted up to the limit; the third made its requests,
        // found the limit and ended without touching the status panels.
        QCOMPARE(bus->requests().size(), 6);
        QCOMPARE(sb(panel, 2), QStringLiteral("Poll: 100000"));
        QVERIFY(panel->findChild<QPushButton*>(QStringLiteral("CmdScan"))->isEnabled());
    }

    void unavailablePortEndsTheScan() {
        Link::instance().reset();
        General::CommMode = 0;
        General::ComPortIndex = 30; // COM31: nothing is published there
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        scan(panel, QStringLiteral("0"));
        QVERIFY(waitStopped(panel));
        QCOMPARE(panel->pollLoop()->PollCount, 0);
        QCOMPARE(panel->pollLoop()->ErrorCount, 2);
        QVERIFY(!MessagePresenter::instance().history().isEmpty());
        QCOMPARE(MessagePresenter::instance().history().first(), PortUnavailableMessage());
        QVERIFY(panel->findChild<QPushButton*>(QStringLiteral("CmdScan"))->isEnabled());
    }

    void closingWhileARequestIsOnTheWire() {
        auto* panel = openFor(5, 10);
        QVERIFY(panel);
        qimsim::Fault slow;
        slow.kind = qimsim::Fault::Delay;
        slow.delayMs = 200;
        module->setFault(6, slow);
        scan(panel, QStringLiteral("0"));
        QSignalSpy received(bus.get(), &qimsim::Bus::requestReceived);
        QVERIFY(received.wait(5000));
        QVERIFY(CloseAndWait(panel));
        QTest::qWait(500);
        // The write finished on the wire; no read followed it.
        QCOMPARE(bus->requests().size(), 1);
        QCOMPARE(Link::instance().pending(), 0);
    }

    void serialStory() {
        bus = SerialBus();
        QVERIFY(bus);
        module = bus->addModule(7, 11);
        module->forceRead(3, 0, 0x24);
        auto* panel = openFor(7, 11);
        QVERIFY(panel);
        panel->findChild<QCheckBox*>(QStringLiteral("Chk_Output1"))->click();
        panel->findChild<QCheckBox*>(QStringLiteral("Chk_Output8"))->click();
        scan(panel, QStringLiteral("10"));
        QTRY_COMPARE_WITH_TIMEOUT(litInputs(panel), (QList<int>{3, 6}), 10000);
        panel->findChild<QPushButton*>(QStringLiteral("CmdStop"))->click();
        QVERIFY(waitStopped(panel));
        const auto reqs = bus->requests();
        QVERIFY(reqs.size() >= 2);
        QVERIFY(!reqs[0].tcp);
        QCOMPARE(reqs[0].address, 7);
        QCOMPARE(reqs[0].function, 6);
        QCOMPARE(reqs[0].values, (QVector<uint16_t>{0x81}));
        QCOMPARE(reqs[1].function, 3);
        QCOMPARE(sb(panel, 1), QStringLiteral("Err: 0"));
    }
};

QIM_TEST_MAIN(TestDiscretePanel)
#include "tst_discretepanel.moc"

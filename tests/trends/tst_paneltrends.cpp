// The panels' trend windows against the simulated bus: fed with exactly the
// values of good polls and nothing on failed ones, one window per panel,
// no request of their own, polling untouched by closing the trend, the
// trend closed with its panel; and the story of a loop heating up.
#include "AnalogScale.h"
#include "DeviceTable.h"
#include "General.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "PanelTrends.h"
#include "Panels.h"
#include "SimBus.h"
#include "SimModels.h"
#include "StatusPanels.h"
#include "TempRegisters.h"
#include "TestSupport.h"
#include "TrendExport.h"
#include "TrendWindow.h"
#include "frmQIM_M640.h"
#include "frmQIM_P750.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

using namespace qim;

namespace {
constexpr uint8_t AnalogSlave = 3;
constexpr uint8_t TemperatureSlave = 4;

void select(uint8_t address, uint8_t code) {
    ClearDeviceTable();
    DeviceTable[0].DeviceAddress = address;
    DeviceTable[0].DeviceCode = code;
    SelectedAddress = 0;
}

qimsim::Fault silence() {
    qimsim::Fault f;
    f.kind = qimsim::Fault::Silence;
    return f;
}

int topLevelsNamed(const QString& name) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            ++n;
    return n;
}
} // namespace

class TestPanelTrends : public QObject {
    Q_OBJECT
    std::unique_ptr<qimsim::Bus> bus;
    QPointer<QWidget> panel;

    template <class T = QWidget> T* c(const char* name) const {
        T* w = panel ? panel->findChild<T*>(QLatin1String(name)) : nullptr;
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    QString sb(int i) const { return c<StatusPanels>("SB")->text(i); }
    int polls() const { return sb(2).mid(6).toInt(); }
    int errors() const { return sb(1).mid(5).toInt(); }
    void scan(const char* interval) {
        c<QLineEdit>("TextScanTimer")->setText(QLatin1String(interval));
        c<QPushButton>("CmdScan")->click();
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
    }
    void stop() {
        c<QPushButton>("CmdStop")->click();
        QTRY_COMPARE_WITH_TIMEOUT(sb(3), QStringLiteral("STOP"), 10000);
    }
    int reads() const {
        int n = 0;
        for (const auto& r : bus->requests())
            n += r.function == 4 ? 1 : 0;
        return n;
    }

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }
    void init() {
        Link::instance().reset();
        AssignLinkDefaults();
        bus = std::make_unique<qimsim::Bus>();
        bus->addModule(AnalogSlave, 20);
        bus->addModule(TemperatureSlave, 30);
        QVERIFY(bus->listenTcp(QHostAddress::LocalHost, 0));
        General::CommMode = 1;
        General::IPAddress = QStringLiteral("127.0.0.1");
        General::ServerPort = bus->tcpPort();
        General::TCPTimeout = 300;
        General::TCPConnectTimeout = 500;
        TempInputRegs.fill(0);
        TempOutputRegs.fill(0);
        TempControlReg = 0;
        TempConfigReg = 0;
        MessagePresenter::instance().clearHistory();
    }
    void cleanup() {
        if (panel)
            panel->close();
        QTRY_VERIFY(panel.isNull());
        QTRY_VERIFY(!AnalogTrend() && !TemperatureTrend());
        MessagePresenter::instance().dismissAll();
        Link::instance().reset();
        bus.reset();
    }

    void analogTrendHoldsWhatThePanelShowed() {
        select(AnalogSlave, 20);
        QVERIFY(OpenPanelFor(20));
        panel = frmQIM_M640::instance();
        // Inputs pinned to edge counts; input 2 on the +/- 10 V range.
        const uint16_t counts[8] = {0, 1, 100, 32768, 65535, 4095, 12345, 54321};
        for (int k = 0; k < 8; ++k)
            bus->module(AnalogSlave)->forceRead(4, k, counts[k]);
        c<QComboBox>("ComboCH2Range")->setCurrentIndex(0);

        QCOMPARE(c<QPushButton>("Cmd_Trend")->text(), QStringLiteral("Trend"));
        c<QPushButton>("Cmd_Trend")->click();
        TrendWindow* trend = AnalogTrend();
        QVERIFY(trend);
        QCOMPARE(trend->objectName(), QStringLiteral("frmTrend_M640"));
        QVERIFY(trend->isVisible());
        QVERIFY(trend->store().empty());

        scan("20");
        QTRY_VERIFY_WITH_TIMEOUT(trend->store().size() >= 3, 10000);
        // What the labels show, sample for sample.
        const TrendStore& volts = trend->store();
        const auto text = [](float v) { return QString::fromLatin1(TrendValueText(v)); };
        for (int k = 0; k < 8; ++k) {
            const QString label =
                c<QLabel>(QStringLiteral("lblADC%1").arg(k + 1).toLatin1())->text();
            QCOMPARE(text(volts.value(k, volts.size() - 1)), label);
            QCOMPARE(volts.value(k, 0), volts.value(k, volts.size() - 1));
        }
        QCOMPARE(text(volts.value(0, 0)), QStringLiteral("0"));
        QCOMPARE(text(volts.value(1, 0)), QStringLiteral("-10.2397"));
        QCOMPARE(text(volts.value(2, 0)), QStringLiteral("0.0156"));
        QCOMPARE(text(volts.value(4, 0)), QStringLiteral("10.24"));

        // Counts shown from here on: a new scale with the raw numbers.
        c<QComboBox>("ComboADCData")->setCurrentIndex(1);
        QTRY_VERIFY_WITH_TIMEOUT(trend->scale() == 1 && trend->store().size() >= 2, 10000);
        for (int k = 0; k < 8; ++k)
            QCOMPARE(trend->store().value(k, 0), float(counts[k]));
        stop();
        // One row per good poll, and no request of the trend's own.
        const int rows = volts.size() + trend->store().size();
        QCOMPARE(errors(), 0);
        QCOMPARE(rows, polls());
        QCOMPARE(reads(), polls());
    }

    void failedPollsAddNothing() {
        select(TemperatureSlave, 30);
        QVERIFY(OpenPanelFor(30));
        panel = frmQIM_P750::instance();
        qimsim::Module* m = bus->module(TemperatureSlave);
        m->forceRead(4, 0, 0x0FFF);           // loop 1 reads -1 degree
        m->forceRead(4, 1, 2048);             // loop 2 reads -2048
        m->forceRead(4, 5, (75 << 8) | 0x21); // loop 2 at 75 %
        m->forceRead(4, 2, 5000);             // 904 once decoded
        TempOutputRegs[LoopBase(1)] = 150;    // the set point the program holds
        TempOutputRegs[LoopBase(4)] = 1023;
        c<QPushButton>("Cmd_Trend")->click();
        TrendWindow* trend = TemperatureTrend();
        QVERIFY(trend);
        QCOMPARE(trend->objectName(), QStringLiteral("frmTrend_P750"));

        scan("20");
        QTRY_VERIFY_WITH_TIMEOUT(trend->store().size() >= 3, 10000);
        const TrendStore& st = trend->store();
        QCOMPARE(st.value(0, 0), -1.0f);
        QCOMPARE(st.value(1, 0), -2048.0f);
        QCOMPARE(st.value(2, 0), 904.0f);
        QCOMPARE(st.value(4, 0), 150.0f);
        QCOMPARE(st.value(7, 0), 1023.0f);
        QCOMPARE(st.value(9, 0), 75.0f);
        QCOMPARE(st.value(8, 0), 0.0f);

        // The module goes silent: polls fail, the trend gets nothing.
        m->setFault(4, silence());
        const int before = polls();
        QTRY_VERIFY_WITH_TIMEOUT(errors() >= 2, 10000);
        const int rowsDuringFault = st.size();
        QTRY_VERIFY_WITH_TIMEOUT(errors() >= 3, 10000);
        QCOMPARE(st.size(), rowsDuringFault);
        QVERIFY(polls() > before);
        // Back again: the line goes on after a break, with the same values.
        m->clearFaults();
        QTRY_VERIFY_WITH_TIMEOUT(st.size() >= rowsDuringFault + 2, 10000);
        QVERIFY(st.gapBefore(rowsDuringFault));
        QVERIFY(!st.gapBefore(rowsDuringFault + 1));
        QCOMPARE(st.value(0, st.size() - 1), -1.0f);
        stop();
        QCOMPARE(st.size(), polls() - errors());
        QCOMPARE(reads(), polls());
        int breaks = 0;
        for (int i = 0; i < st.size(); ++i)
            breaks += st.gapBefore(i) ? 1 : 0;
        QCOMPARE(breaks, 1);

        // Scan again: a new run of polls, a break before it.
        const int rows = st.size();
        scan("20");
        QTRY_VERIFY_WITH_TIMEOUT(st.size() > rows, 10000);
        stop();
        QVERIFY(st.gapBefore(rows));
    }

    void oneTrendPerPanelClosedWithIt() {
        select(TemperatureSlave, 30);
        QVERIFY(OpenPanelFor(30));
        panel = frmQIM_P750::instance();
        c<QPushButton>("Cmd_Trend")->click();
        QPointer<TrendWindow> first = TemperatureTrend();
        c<QPushButton>("Cmd_Trend")->click();
        QCOMPARE(TemperatureTrend(), first.data());
        QCOMPARE(topLevelsNamed(QStringLiteral("frmTrend_P750")), 1);
        // A trend is not a child of its panel: each moves on its own.
        QVERIFY(first->isWindow() && first->parentWidget() == nullptr);

        // Closing the panel closes its trend.
        panel->close();
        QTRY_VERIFY(first.isNull());
        QVERIFY(!TemperatureTrend());
        QVERIFY(OpenPanelFor(30));
        panel = frmQIM_P750::instance();
        QVERIFY(!TemperatureTrend());
    }

    void closingTheTrendLeavesPollingAlone() {
        select(AnalogSlave, 20);
        QVERIFY(OpenPanelFor(20));
        panel = frmQIM_M640::instance();
        scan("30");
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= 2, 10000);
        c<QPushButton>("Cmd_Trend")->click();
        QPointer<TrendWindow> trend = AnalogTrend();
        QTRY_VERIFY_WITH_TIMEOUT(trend->store().size() >= 2, 10000);
        trend->close();
        QTRY_VERIFY(trend.isNull());
        QVERIFY(!AnalogTrend());
        // Polling goes on as it was, with nothing kept for a closed trend.
        const int at = polls();
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= at + 3, 10000);
        QCOMPARE(errors(), 0);
        QVERIFY(c<QPushButton>("CmdStop")->isEnabled());
        QVERIFY(!c<QPushButton>("CmdCancel")->isEnabled());
        QVERIFY(MessagePresenter::instance().history().isEmpty());
        // Opened again, it starts empty and fills from the next poll on.
        c<QPushButton>("Cmd_Trend")->click();
        QVERIFY(AnalogTrend() && AnalogTrend() != nullptr);
        QVERIFY(AnalogTrend()->store().size() <= 1);
        QTRY_VERIFY_WITH_TIMEOUT(AnalogTrend()->store().size() >= 2, 10000);
        stop();
        QCOMPARE(reads(), polls());
        QVERIFY(AnalogTrend()->isVisible()); // Stop leaves the trend open
    }

    // A user polling the temperature module opens Trend and watches the
    // process value climb toward a new set point while the heater power
    // falls (proportional control).
    void storyWatchingALoopHeatUp() {
        bus->setSpeedFactor(40);
        select(TemperatureSlave, 30);
        QVERIFY(OpenPanelFor(30));
        panel = frmQIM_P750::instance();
        TempControlReg = PackControl({2, 0, 0, 0});
        TempOutputRegs[LoopBase(1)] = 150;     // set point
        TempOutputRegs[LoopBase(1) + 2] = 50;  // band
        TempOutputRegs[LoopBase(1) + 3] = 400; // alarm high
        c<QPushButton>("Cmd_Trend")->click();
        TrendWindow* trend = TemperatureTrend();
        trend->setSpan(TrendWindow::All);
        c<QPushButton>("Cmd_Write")->click();
        QTRY_COMPARE_WITH_TIMEOUT(Link::instance().pending(), 0, 5000);
        QCOMPARE(bus->module(TemperatureSlave)->holding(LoopBase(1)), std::optional<uint16_t>(150));
        scan("50");
        const TrendStore& st = trend->store();
        QTRY_VERIFY_WITH_TIMEOUT(st.size() >= 2 && st.value(0, st.size() - 1) >= 110, 30000);
        stop();
        QCOMPARE(errors(), 0);

        const int last = st.size() - 1;
        QVERIFY2(st.value(0, 0) < 60, "starts not far above the room");
        QCOMPARE(st.value(4, 0), 150.0f);
        QCOMPARE(st.value(4, last), 150.0f);
        QCOMPARE(st.value(8, 0), 100.0f); // full power far below the set point
        QVERIFY(st.value(8, last) < 80);  // less and less as it nears it
        // Climbing and falling all the way, give or take a reading.
        for (int i = 1; i <= last; ++i) {
            QVERIFY(st.value(0, i) >= st.value(0, i - 1) - 2);
            QVERIFY(st.value(8, i) <= st.value(8, i - 1) + 5);
        }
        trend->redraw();
        QCOMPARE(trend->drawnRuns(0).size(), 1);
        QVERIFY(trend->drawnRuns(4).size() == 1 && trend->drawnRuns(8).size() == 1);
        QVERIFY(trend->readoutText().contains(QStringLiteral("SP1 150 \u00b0C")));
    }
};

QIM_TEST_MAIN(TestPanelTrends)
#include "tst_paneltrends.moc"

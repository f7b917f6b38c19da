// The analog module's panel against the simulated bus: inputs as volts or
// counts per channel range, the ADC configuration and DAC writes, counting.
#include "AnalogPanel.h"
#include "PanelTestSupport.h"
#include "Panels.h"
#include "PollLoop.h"
#include "StatusPanels.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace qim;
using namespace paneltest;

class TestAnalogPanel : public QObject {
    Q_OBJECT
    std::unique_ptr<qimsim::Bus> bus;
    qimsim::Module* module = nullptr;
    AnalogPanel* panel = nullptr;

    template <class T> T* w(const QString& name) const { return panel->findChild<T*>(name); }
    QPushButton* button(const char* name) const { return w<QPushButton>(QLatin1String(name)); }
    QString sb(int i) const { return w<StatusPanels>(QStringLiteral("SB"))->text(i); }
    QString adc(int n) const { return w<QLabel>(QStringLiteral("lblADC%1").arg(n))->text(); }
    QStringList adcTexts() const {
        QStringList t;
        for (int n = 1; n <= 8; ++n)
            t << adc(n);
        return t;
    }
    void setRange(int n, int code) const {
        w<QComboBox>(QStringLiteral("ComboCH%1Range").arg(n))->setCurrentIndex(code);
    }
    void setDacs(const QStringList& texts) const {
        for (int i = 0; i < 8; ++i)
            w<QLineEdit>(QStringLiteral("TextDAC%1").arg(i + 1))->setText(texts[i]);
    }
    // Runs the poll loop until the labels show `expected`, then stops it.
    bool pollUntil(const QStringList& expected) {
        w<QLineEdit>(QStringLiteral("TextScanTimer"))->setText(QStringLiteral("0"));
        button("CmdScan")->click();
        const bool seen = QTest::qWaitFor([&] { return adcTexts() == expected; }, 10000);
        button("CmdStop")->click();
        return QTest::qWaitFor([&] { return sb(3) == QLatin1String("STOP"); }, 10000) && seen;
    }
    // Presses a write button and waits for its outcome to be counted.
    bool pressAndWait(const char* name) {
        const QString before = sb(2);
        button(name)->click();
        return QTest::qWaitFor([&] { return sb(2) != before; }, 5000);
    }
    QList<uint16_t> holding(int from, int count) const {
        QList<uint16_t> v;
        for (int r = from; r < from + count; ++r)
            v << module->holding(r).value_or(0xDEAD);
        return v;
    }

private Q_SLOTS:
    void initTestCase() {
        IgnoreOffscreenPlatformNotes();
        MessagePresenter::instance();
        QLocale::setDefault(QLocale::c());
    }
    void init() {
        bus = TcpBus();
        QVERIFY(bus);
        module = bus->addModule(4, 20);
        SelectDevice(4, 20);
        QVERIFY(OpenPanelFor(20));
        panel = AnalogPanel::instance();
        QVERIFY(panel);
        MessagePresenter::instance().clearHistory();
    }
    void cleanup() {
        QVERIFY(CloseAndWait(AnalogPanel::instance()));
        MessagePresenter::instance().dismissAll();
        Link::instance().reset();
        bus.reset();
    }

    void loadDefaults() {
        QCOMPARE(panel->objectName(), QStringLiteral("frmQIM_M640"));
        QCOMPARE(panel->windowTitle(), QStringLiteral("QIM-M640"));
        QCOMPARE(w<QLabel>(QStringLiteral("lblAddress"))->text(), QStringLiteral("Address: 4"));
        for (const char* name : {"CmdScan", "CmdConfigADC", "CmdWriteDAC", "CmdCancel"})
            QVERIFY2(button(name)->isEnabled(), name);
        QVERIFY(!button("CmdStop")->isEnabled());
        QCOMPARE(adcTexts(), QStringList(8, QStringLiteral("0")));
        QCOMPARE(w<QLineEdit>(QStringLiteral("TextScanTimer"))->text(), QStringLiteral("100"));
        QCOMPARE(w<QLineEdit>(QStringLiteral("TextTS"))->text(), QStringLiteral("10"));
        QCOMPARE(w<QComboBox>(QStringLiteral("ComboADCData"))->currentText(),
                 QStringLiteral("Voltage"));
        QCOMPARE(w<QComboBox>(QStringLiteral("ComboMode"))->currentText(), QStringLiteral("Auto"));
        QCOMPARE(w<QComboBox>(QStringLiteral("ComboAverage"))->currentText(),
                 QStringLiteral("8 Sampels"));
        auto* dacData = w<QComboBox>(QStringLiteral("ComboDACData"));
        QCOMPARE(dacData->currentText(), QStringLiteral("Counts"));
        QVERIFY(!dacData->isEnabled());
        auto* range1 = w<QComboBox>(QStringLiteral("ComboCH1Range"));
        QCOMPARE(range1->count(), 5);
        QCOMPARE(range1->itemText(1), QStringLiteral("+/- 5V  "));
        for (int n = 1; n <= 8; ++n) {
            QCOMPARE(w<QComboBox>(QStringLiteral("ComboCH%1Range").arg(n))->currentText(),
                     QStringLiteral("+ 10V"));
            QCOMPARE(w<QLineEdit>(QStringLiteral("TextDAC%1").arg(n))->text(), QStringLiteral("0"));
        }
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: 0"));
        QCOMPARE(sb(3), QStringLiteral("STOP"));
    }

    void otherModulesCannotBeDriven() {
        QVERIFY(CloseAndWait(panel));
        SelectDevice(4, 10);
        panel = AnalogPanel::open();
        QCOMPARE(w<QLabel>(QStringLiteral("lblAddress"))->text(), QStringLiteral("Address: "));
        for (const char* name : {"CmdScan", "CmdConfigADC", "CmdWriteDAC", "CmdStop"})
            QVERIFY2(!button(name)->isEnabled(), name);
        QVERIFY(button("CmdCancel")->isEnabled());
    }

    void openingAgainKeepsTheModule() {
        SelectDevice(9, 20, 2);
        QVERIFY(OpenPanelFor(20));
        QCOMPARE(AnalogPanel::instance(), panel);
        QCOMPARE(panel->SlaveAddress, 4);
        QCOMPARE(w<QLabel>(QStringLiteral("lblAddress"))->text(), QStringLiteral("Address: 4"));
    }

    // The documented values, each channel on its own range in one poll.
    void voltsAcrossTheRanges() {
        const int counts[8] = {0, 65535, 0, 65535, 0, 65535, 1, 100};
        const int codes[8] = {0, 0, 2, 2, 4, 4, 0, 3};
        for (int k = 0; k < 8; ++k) {
            module->forceRead(4, k, counts[k]);
            setRange(k + 1, codes[k]);
        }
        QVERIFY(pollUntil({"-10.24", "10.24", "-2.56", "2.56", "0", "5.12", "-10.2397", "0.0156"}));
        QCOMPARE(panel->AdcCounts[7], 100);
        for (const auto& r : bus->requests()) {
            QCOMPARE(r.function, 4);
            QCOMPARE(r.start, 0);
            QCOMPARE(r.count, 8);
        }
    }

    void countsDisplayAndBack() {
        for (int k = 0; k < 8; ++k)
            module->forceRead(4, k, 1000 * k + 7);
        QVERIFY(pollUntil(
            {"0.0011", "0.1573", "0.3136", "0.4699", "0.6261", "0.7824", "0.9386", "1.0949"}));
        // Switching takes effect from the next good poll, not at once.
        w<QComboBox>(QStringLiteral("ComboADCData"))->setCurrentIndex(1);
        QCOMPARE(adc(2), QStringLiteral("0.1573"));
        QVERIFY(pollUntil({"7", "1007", "2007", "3007", "4007", "5007", "6007", "7007"}));
        w<QComboBox>(QStringLiteral("ComboADCData"))->setCurrentIndex(0);
        QVERIFY(pollUntil(
            {"0.0011", "0.1573", "0.3136", "0.4699", "0.6261", "0.7824", "0.9386", "1.0949"}));
    }

    void rangeChangeAffectsOnlyItsChannelAndSendsNothing() {
        for (int k = 0; k < 8; ++k)
            module->forceRead(4, k, 65535);
        QVERIFY(pollUntil(QStringList(8, QStringLiteral("10.24"))));
        bus->clearRequests();
        setRange(5, 2);
        QCOMPARE(adc(5), QStringLiteral("10.24"));
        QTest::qWait(100);
        QVERIFY(bus->requests().isEmpty());
        QVERIFY(pollUntil({"10.24", "10.24", "10.24", "10.24", "2.56", "10.24", "10.24", "10.24"}));
        QCOMPARE(RequestsOf(*bus, 16).size(), 0);
    }

    void shortOrFailedReadsCountAndKeepTheLabels() {
        for (int k = 0; k < 8; ++k)
            module->forceRead(4, k, 65535);
        QVERIFY(pollUntil(QStringList(8, QStringLiteral("10.24"))));
        for (int k = 0; k < 8; ++k)
            module->forceRead(4, k, 0);
        qimsim::Fault shortReply;
        shortReply.kind = qimsim::Fault::MissingByte;
        module->setFault(4, shortReply);
        button("CmdScan")->click();
        QTRY_VERIFY_WITH_TIMEOUT(panel->pollLoop()->ErrorCount >= 2, 10000);
        QCOMPARE(adcTexts(), QStringList(8, QStringLiteral("10.24")));
        button("CmdStop")->click();
        QTRY_COMPARE_WITH_TIMEOUT(sb(3), QStringLiteral("STOP"), 10000);
        QCOMPARE(panel->pollLoop()->ErrorCount, panel->pollLoop()->PollCount);
    }

    void scanningStateAndIntervalValidation() {
        for (const QString& bad :
             {QStringLiteral("10000.5"), QStringLiteral("-1"), QStringLiteral("abc"), QString()}) {
            w<QLineEdit>(QStringLiteral("TextScanTimer"))->setText(bad);
            button("CmdScan")->click();
        }
        QCOMPARE(
            MessagePresenter::instance().history(),
            QStringList(4, QStringLiteral("Time between polls must be a number from 0 to 10000")));
        QCOMPARE(sb(3), QStringLiteral("STOP"));

        w<QLineEdit>(QStringLiteral("TextScanTimer"))->setText(QStringLiteral("10000"));
        button("CmdScan")->click();
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
        for (const char* name : {"CmdScan", "CmdConfigADC", "CmdWriteDAC", "CmdCancel"})
            QVERIFY2(!button(name)->isEnabled(), name);
        QVERIFY(!w<QLineEdit>(QStringLiteral("TextScanTimer"))->isEnabled());
        QVERIFY(button("CmdStop")->isEnabled());
        // The input settings stay usable while polling.
        QVERIFY(w<QComboBox>(QStringLiteral("ComboCH1Range"))->isEnabled());
        QVERIFY(w<QComboBox>(QStringLiteral("ComboADCData"))->isEnabled());
        // Closed from its title bar while waiting: nothing is sent afterwards.
        QVERIFY(CloseAndWait(panel));
        QTest::qWait(300);
        QVERIFY(bus->requests().isEmpty());
    }

    void configPacksTheChosenSettings() {
        // The defaults.
        QVERIFY(pressAndWait("CmdConfigADC"));
        auto writes = RequestsOf(*bus, 16);
        QCOMPARE(writes.size(), 1);
        QCOMPARE(writes[0].address, 4);
        QCOMPARE(writes[0].start, 8);
        QCOMPARE(writes[0].count, 3);
        QCOMPARE(writes[0].transactionId, 0);
        QCOMPARE(holding(8, 3), (QList<uint16_t>{2563, 6939, 6939}));

        // All ranges +/- 10V, no averaging, manual, 255 ms.
        for (int n = 1; n <= 8; ++n)
            setRange(n, 0);
        w<QComboBox>(QStringLiteral("ComboAverage"))->setCurrentIndex(0);
        w<QComboBox>(QStringLiteral("ComboMode"))->setCurrentIndex(1);
        w<QLineEdit>(QStringLiteral("TextTS"))->setText(QStringLiteral("255"));
        QVERIFY(pressAndWait("CmdConfigADC"));
        QCOMPARE(holding(8, 3), (QList<uint16_t>{65408, 0, 0}));

        // Ranges 1..4 on inputs 1..4, the rest +/- 10V.
        for (int n = 1; n <= 4; ++n)
            setRange(n, n);
        QVERIFY(pressAndWait("CmdConfigADC"));
        QCOMPARE(holding(9, 2), (QList<uint16_t>{8977, 0}));
        QCOMPARE(RequestsOf(*bus, 16).size(), 3);
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: 3"));
        QVERIFY(holding(0, 8) == QList<uint16_t>(8, 0)); // the DACs untouched
    }

    void samplingIntervalValidation_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("sent"); // -1: refused with the message
        QTest::newRow("zero") << "0" << -1;
        QTest::newRow("above 255") << "256" << -1;
        QTest::newRow("not a number") << "12a" << -1;
        QTest::newRow("empty") << "" << -1;
        // Would round to an interval of 0, which the module cannot hold.
        QTest::newRow("half") << "0.5" << -1;
        QTest::newRow("just enough") << "0.6" << 1;
        QTest::newRow("largest") << "255" << 255;
        QTest::newRow("half to even") << "12.5" << 12;
    }
    void samplingIntervalValidation() {
        QFETCH(QString, text);
        QFETCH(int, sent);
        w<QLineEdit>(QStringLiteral("TextTS"))->setText(text);
        if (sent < 0) {
            button("CmdConfigADC")->click();
            QCOMPARE(MessagePresenter::instance().history(),
                     QStringList{"Sampling Interval must be a number from 1 to 255"});
            QCOMPARE(w<QLineEdit>(QStringLiteral("TextTS"))->text(), text);
            QTest::qWait(100);
            QVERIFY(bus->requests().isEmpty());
            QCOMPARE(sb(2), QStringLiteral("Poll: 0"));
        } else {
            QVERIFY(pressAndWait("CmdConfigADC"));
            QVERIFY(MessagePresenter::instance().history().isEmpty());
            QCOMPARE(module->holding(8).value_or(0) >> 8, sent);
            QCOMPARE(panel->SamplingInterval, sent);
        }
    }

    void dacWrite() {
        setDacs({"0", "1", "2.5", "3.5", "4095", "100", "2048", "4094.6"});
        QVERIFY(pressAndWait("CmdWriteDAC"));
        const auto writes = RequestsOf(*bus, 16);
        QCOMPARE(writes.size(), 1);
        QCOMPARE(writes[0].start, 0);
        QCOMPARE(writes[0].count, 8);
        QCOMPARE(writes[0].transactionId, 0);
        QCOMPARE(holding(0, 8), (QList<uint16_t>{0, 1, 2, 4, 4095, 100, 2048, 4095}));
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: 1"));
    }

    void dacValidation_data() {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("message");
        const QStringList good(8, QStringLiteral("5"));
        auto with = [&](int i, const QString& t) {
            QStringList l = good;
            l[i] = t;
            return l;
        };
        QTest::newRow("AO1 above range")
            << with(0, "4095.5") << "AO1 must be a number from 0 to 4095";
        QTest::newRow("AO2 negative") << with(1, "-1") << "AO2 must be a number from 0 to 4095";
        QTest::newRow("AO4 empty") << with(3, "") << "AO4 must be a number from 0 to 4095";
        QTest::newRow("CL1 text") << with(4, "x") << "CL1 must be a number from 0 to 4095";
        QTest::newRow("CL4 above") << with(7, "5000") << "CL4 must be a number from 0 to 4095";
        QStringList two = with(2, "abc");
        two[6] = QStringLiteral("-3");
        QTest::newRow("first bad one wins") << two << "AO3 must be a number from 0 to 4095";
    }
    void dacValidation() {
        QFETCH(QStringList, texts);
        QFETCH(QString, message);
        setDacs(texts);
        button("CmdWriteDAC")->click();
        QCOMPARE(MessagePresenter::instance().history(), QStringList{message});
        QTest::qWait(100);
        QVERIFY(bus->requests().isEmpty());
        QCOMPARE(panel->DacValues, (std::array<int32_t, 8>{}));
        QCOMPARE(sb(2), QStringLiteral("Poll: 0"));
    }

    void failedWritesRaiseBothCounts() {
        qimsim::Fault refuse;
        refuse.kind = qimsim::Fault::Exception;
        refuse.exceptionCode = 4;
        module->setFault(16, refuse);
        QVERIFY(pressAndWait("CmdConfigADC"));
        QCOMPARE(sb(1), QStringLiteral("Err: 1"));
        QCOMPARE(sb(2), QStringLiteral("Poll: 1"));
        QVERIFY(pressAndWait("CmdWriteDAC"));
        QCOMPARE(sb(1), QStringLiteral("Err: 2"));
        QCOMPARE(sb(2), QStringLiteral("Poll: 2"));
        QVERIFY(button("CmdConfigADC")->isEnabled());

        // A refused Scan still zeroes the counts, so the next write counts from 0.
        w<QLineEdit>(QStringLiteral("TextScanTimer"))->setText(QStringLiteral("abc"));
        button("CmdScan")->click();
        module->clearFaults();
        QVERIFY(pressAndWait("CmdConfigADC"));
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: 1"));
    }

    void serialStory() {
        QVERIFY(CloseAndWait(panel));
        bus = SerialBus();
        QVERIFY(bus);
        module = bus->addModule(6, 20);
        SelectDevice(6, 20);
        panel = AnalogPanel::open();
        module->forceRead(4, 2, 32768);
        setRange(3, 1);
        w<QLineEdit>(QStringLiteral("TextDAC8"))->setText(QStringLiteral("4095"));
        QVERIFY(pressAndWait("CmdWriteDAC"));
        QCOMPARE(module->holding(7).value_or(0), 4095);
        QVERIFY(pressAndWait("CmdConfigADC"));
        QCOMPARE(module->holding(9).value_or(0), 6939 - 3 * 256 + 1 * 256);
        w<QLineEdit>(QStringLiteral("TextScanTimer"))->setText(QStringLiteral("10"));
        button("CmdScan")->click();
        QTRY_COMPARE_WITH_TIMEOUT(adc(3), QStringLiteral("0.0001"), 10000);
        button("CmdStop")->click();
        QTRY_COMPARE_WITH_TIMEOUT(sb(3), QStringLiteral("STOP"), 10000);
        QCOMPARE(panel->pollLoop()->ErrorCount, 0);
        QVERIFY(!bus->requests().first().tcp);
    }
};

QIM_TEST_MAIN(TestAnalogPanel)
#include "tst_analogpanel.moc"

// The analog module's panel against the simulated bus: inputs as volts or
// counts per channel range, the ADC configuration and DAC writes, counting.
#include "PanelTestSupport.h"
#include "Panels.h"
#include "PollLoop.h"
#include "TestSupport.h"
#include "frmQIM_M640.h"

#include <QComboBox>

using namespace qim;
using namespace paneltest;
using Kind = qimsim::Fault::Kind;

class TestAnalogPanel : public QObject, PanelFixture {
    Q_OBJECT
    qimsim::Module* module = nullptr;

    frmQIM_M640* analog() const { return static_cast<frmQIM_M640*>(panel.data()); }
    void pick(const QString& box, int index) const { w<QComboBox>(box)->setCurrentIndex(index); }
    void setRange(int n, int code) const { pick(QStringLiteral("ComboCH%1Range").arg(n), code); }
    QStringList adc() const {
        QStringList t;
        for (int n = 1; n <= 8; ++n)
            t << label(QStringLiteral("lblADC%1").arg(n));
        return t;
    }
    // Polls until the value labels show `expected`, then stops.
    bool pollUntil(const QStringList& expected) {
        scan(QStringLiteral("0"));
        const bool seen = QTest::qWaitFor([&] { return adc() == expected; }, 10000);
        return stop() && seen;
    }
    // Presses a write button and waits until its outcome is counted.
    bool press(const char* name) {
        const QString before = sb(2);
        click(QLatin1String(name));
        return QTest::qWaitFor([&] { return sb(2) != before; }, 5000);
    }
    QList<uint16_t> holding(int from, int count) const {
        QList<uint16_t> v;
        for (int r = from; r < from + count; ++r)
            v << module->holding(r).value_or(0xDEAD);
        return v;
    }
    void forceAll(const QList<int>& counts) const {
        for (int k = 0; k < 8; ++k)
            module->forceRead(4, k, counts.value(k, counts.last()));
    }

private Q_SLOTS:
    void initTestCase() {
        qimtest::QuietOffscreenPlatform();
        MessagePresenter::instance();
        QLocale::setDefault(QLocale::c());
    }
    void init() {
        QVERIFY(tcpBus());
        module = bus->addModule(4, 20);
        SelectDevice(4, 20);
        QVERIFY(OpenPanelFor(20));
        panel = frmQIM_M640::instance();
    }
    void cleanup() { QVERIFY(closePanel()); }

    void loadAndSelection() {
        QCOMPARE(panel->windowTitle(), QStringLiteral("QIM-M640"));
        QCOMPARE(label("lblAddress"), QStringLiteral("Address: 4"));
        QVERIFY(enabled("CmdScan") && enabled("CmdConfigADC") && enabled("CmdWriteDAC"));
        QVERIFY(!enabled("CmdStop") && !enabled("ComboDACData"));
        QCOMPARE(adc(), QStringList(8, "0"));
        QCOMPARE(w<QComboBox>("ComboCH1Range")->itemText(1), QStringLiteral("+/- 5V  "));
        QCOMPARE(w<QComboBox>("ComboCH8Range")->currentText(), QStringLiteral("+ 10V"));
        QCOMPARE(w<QComboBox>("ComboAverage")->currentText(), QStringLiteral("8 Sampels"));

        // Opening again only brings it forward; it keeps its module.
        SelectDevice(9, 20, 2);
        QVERIFY(OpenPanelFor(20));
        QCOMPARE(frmQIM_M640::instance(), analog());
        QCOMPARE(label("lblAddress"), QStringLiteral("Address: 4"));

        QVERIFY(closePanel());
        SelectDevice(4, 10);
        panel = frmQIM_M640::open();
        QCOMPARE(label("lblAddress"), QStringLiteral("Address: "));
        QVERIFY(!enabled("CmdScan") && !enabled("CmdConfigADC") && !enabled("CmdWriteDAC"));
    }

    // The documented values, each channel on its own range in one poll.
    void voltsAcrossTheRanges() {
        forceAll({0, 65535, 0, 65535, 0, 65535, 1, 100});
        const int codes[8] = {0, 0, 2, 2, 4, 4, 0, 3};
        for (int k = 0; k < 8; ++k)
            setRange(k + 1, codes[k]);
        QVERIFY(pollUntil({"-10.24", "10.24", "-2.56", "2.56", "0", "5.12", "-10.2397", "0.0156"}));
        for (const auto& r : bus->requests())
            QVERIFY(r.function == 4 && r.start == 0 && r.count == 8);
    }

    void countsDisplayAndBack() {
        forceAll({7, 1007, 2007, 3007, 4007, 5007, 6007, 7007});
        const QStringList volts{"0.0011", "0.1573", "0.3136", "0.4699",
                                "0.6261", "0.7824", "0.9386", "1.0949"};
        QVERIFY(pollUntil(volts));
        pick("ComboADCData", 1);
        QCOMPARE(adc(), volts); // from the next good poll on, not at once
        QVERIFY(pollUntil({"7", "1007", "2007", "3007", "4007", "5007", "6007", "7007"}));
        pick("ComboADCData", 0);
        QVERIFY(pollUntil(volts));
    }

    void rangeChangeAffectsOnlyItsChannelAndSendsNothing() {
        forceAll({65535});
        QVERIFY(pollUntil(QStringList(8, "10.24")));
        bus->clearRequests();
        setRange(5, 2);
        QCOMPARE(adc()[4], QStringLiteral("10.24"));
        QTest::qWait(100);
        QVERIFY(bus->requests().isEmpty());
        QVERIFY(pollUntil({"10.24", "10.24", "10.24", "10.24", "2.56", "10.24", "10.24", "10.24"}));
        QVERIFY(RequestsOf(*bus, 16).isEmpty());
    }

    void shortReadsCountAndKeepTheLabels() {
        forceAll({65535});
        QVERIFY(pollUntil(QStringList(8, "10.24")));
        forceAll({0});
        module->setFault(4, FaultOf(Kind::MissingByte));
        scan("0");
        QTRY_VERIFY(analog()->pollLoop()->ErrorCount >= 2);
        QVERIFY(stop());
        QCOMPARE(adc(), QStringList(8, "10.24"));
        QCOMPARE(analog()->pollLoop()->ErrorCount, analog()->pollLoop()->PollCount);
    }

    void scanningStateAndIntervalValidation() {
        for (const char* bad : {"10000.5", "-1", "abc", ""})
            scan(bad);
        QCOMPARE(messages(), QStringList(4, "Time between polls must be a number from 0 to 10000"));
        scan("10000");
        QCOMPARE(sb(3), QStringLiteral("SCAN"));
        for (const char* name : {"CmdScan", "CmdConfigADC", "CmdWriteDAC", "CmdCancel"})
            QVERIFY2(!enabled(name), name);
        QVERIFY(enabled("CmdStop") && enabled("ComboCH1Range") && enabled("ComboADCData"));
        QVERIFY(closePanel()); // from the title bar, while it waits
        QTest::qWait(300);
        QVERIFY(bus->requests().isEmpty());
    }

    void configPacksTheChosenSettings() {
        QVERIFY(press("CmdConfigADC")); // the defaults
        const auto writes = RequestsOf(*bus, 16);
        QCOMPARE(writes.size(), 1);
        QVERIFY(writes[0].address == 4 && writes[0].start == 8 && writes[0].count == 3);
        QCOMPARE(writes[0].transactionId, 0);
        QCOMPARE(holding(8, 3), (QList<uint16_t>{2563, 6939, 6939}));

        for (int n = 1; n <= 8; ++n)
            setRange(n, 0);
        pick("ComboAverage", 0);
        pick("ComboMode", 1);
        type("TextTS", "255");
        QVERIFY(press("CmdConfigADC"));
        QCOMPARE(holding(8, 3), (QList<uint16_t>{65408, 0, 0}));

        for (int n = 1; n <= 4; ++n)
            setRange(n, n);
        QVERIFY(press("CmdConfigADC"));
        QCOMPARE(holding(9, 2), (QList<uint16_t>{8977, 0}));
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: 3"));
        QCOMPARE(holding(0, 8), QList<uint16_t>(8, 0)); // the DACs untouched
    }

    void samplingIntervalValidation_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("sent"); // -1: refused with the message
        for (const char* bad : {"0", "256", "12a", ""})
            QTest::newRow(bad) << bad << -1;
        QTest::newRow("0.5 would send 0") << "0.5" << -1;
        QTest::newRow("0.6") << "0.6" << 1;
        QTest::newRow("255") << "255" << 255;
        QTest::newRow("12.5 to even") << "12.5" << 12;
    }
    void samplingIntervalValidation() {
        QFETCH(QString, text);
        QFETCH(int, sent);
        type("TextTS", text);
        if (sent < 0) {
            click("CmdConfigADC");
            QCOMPARE(messages(), QStringList{"Sampling Interval must be a number from 1 to 255"});
            QCOMPARE(w<QLineEdit>("TextTS")->text(), text);
            QTest::qWait(100);
            QVERIFY(bus->requests().isEmpty());
        } else {
            QVERIFY(press("CmdConfigADC"));
            QVERIFY(messages().isEmpty());
            QCOMPARE(module->holding(8).value_or(0) >> 8, sent);
        }
    }

    void dacWrite() {
        const QStringList texts{"0", "1", "2.5", "3.5", "4095", "100", "2048", "4094.6"};
        for (int i = 0; i < 8; ++i)
            type(QStringLiteral("TextDAC%1").arg(i + 1), texts[i]);
        QVERIFY(press("CmdWriteDAC"));
        const auto writes = RequestsOf(*bus, 16);
        QCOMPARE(writes.size(), 1);
        QVERIFY(writes[0].start == 0 && writes[0].count == 8 && writes[0].transactionId == 0);
        QCOMPARE(holding(0, 8), (QList<uint16_t>{0, 1, 2, 4, 4095, 100, 2048, 4095}));
        QCOMPARE(sb(2), QStringLiteral("Poll: 1"));
    }

    void dacValidation_data() {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("message");
        auto with = [](int i, const char* t) {
            QStringList l(8, "5");
            l[i] = t;
            return l;
        };
        QTest::newRow("AO1 4095.5") << with(0, "4095.5") << "AO1 must be a number from 0 to 4095";
        QTest::newRow("AO2 -1") << with(1, "-1") << "AO2 must be a number from 0 to 4095";
        QTest::newRow("CL1 x") << with(4, "x") << "CL1 must be a number from 0 to 4095";
        QTest::newRow("CL4 empty") << with(7, "") << "CL4 must be a number from 0 to 4095";
        QStringList two = with(2, "abc");
        two[6] = "-3";
        QTest::newRow("first bad one") << two << "AO3 must be a number from 0 to 4095";
    }
    void dacValidation() {
        QFETCH(QStringList, texts);
        QFETCH(QString, message);
        for (int i = 0; i < 8; ++i)
            type(QStringLiteral("TextDAC%1").arg(i + 1), texts[i]);
        click("CmdWriteDAC");
        QCOMPARE(messages(), QStringList{message});
        QTest::qWait(100);
        QVERIFY(bus->requests().isEmpty());
        QCOMPARE(analog()->DacValues, (std::array<int32_t, 8>{}));
    }

    void failedWritesRaiseBothCounts() {
        module->setFault(16, FaultOf(Kind::Exception));
        QVERIFY(press("CmdConfigADC"));
        QCOMPARE((QStringList{sb(1), sb(2)}), (QStringList{"Err: 1", "Poll: 1"}));
        QVERIFY(press("CmdWriteDAC"));
        QCOMPARE((QStringList{sb(1), sb(2)}), (QStringList{"Err: 2", "Poll: 2"}));
        // A refused Scan still zeroes the counts: the next write counts from 0.
        scan("abc");
        module->clearFaults();
        QVERIFY(press("CmdConfigADC"));
        QCOMPARE((QStringList{sb(1), sb(2)}), (QStringList{"Err: 0", "Poll: 1"}));
    }
};

QIM_TEST_MAIN(TestAnalogPanel)
#include "tst_analogpanel.moc"

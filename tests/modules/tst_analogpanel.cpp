// The analog panel against the simulated bus: volts or counts per range,
// fed to its trend; the converter and DAC writes, their entries, counting.
#include "AnalogPanel.h"
#include "PanelTestKit.h"
#include "TrendExport.h"
#include "TrendWindow.h"

#include <QComboBox>

using namespace qim;
using namespace paneltest;
using Kind = qimsim::Fault::Kind;

class TestAnalogPanel : public QObject, PanelFixture {
    Q_OBJECT
    qimsim::Module* module = nullptr;

    AnalogPanel* analog() const { return static_cast<AnalogPanel*>(panel.data()); }
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
    bool press(const QString& name) {
        const QString before = sb(2);
        click(name);
        return QTest::qWaitFor([&] { return sb(2) != before; }, 5000);
    }
    void forceAll(const QList<int>& counts) const {
        for (int k = 0; k < 8; ++k)
            module->forceRead(4, k, counts.value(k, counts.last()));
    }

private Q_SLOTS:
    void initTestCase() {
        qimtest::QuietOffscreenPlatform();
        QLocale::setDefault(QLocale::c());
    }
    void init() {
        QVERIFY(tcpBus());
        module = bus->addModule(4, 20);
        open<AnalogPanel>(4, 20);
    }
    void cleanup() {
        QPointer<TrendWindow> trend = analog() ? analog()->trendWindow() : nullptr;
        QVERIFY(closePanel());
        QTRY_VERIFY(trend.isNull()); // the trend goes with its panel
    }

    // Each channel on its own range in one poll; the trend holds what the labels show.
    void voltsAndCountsReachTheLabelsAndTheTrend() {
        forceAll({0, 65535, 0, 65535, 0, 65535, 1, 100});
        const int codes[8] = {0, 0, 2, 2, 4, 4, 0, 3};
        for (int k = 0; k < 8; ++k)
            setRange(k + 1, codes[k]);
        click("Cmd_Trend");
        TrendWindow* trend = analog()->trendWindow();
        QVERIFY(trend && trend->isVisible() && trend->parentWidget() == nullptr);
        const QStringList volts{"-10.24", "10.24", "-2.56",    "2.56",
                                "0",      "5.12",  "-10.2397", "0.0156"};
        QVERIFY(pollUntil(volts));
        const TrendStore& st = trend->store();
        QVERIFY(st.size() >= 1);
        for (int k = 0; k < 8; ++k)
            QCOMPARE(QString::fromLatin1(TrendValueText(st.value(k, st.size() - 1))), volts[k]);
        for (const auto& r : bus->requests())
            QVERIFY(r.function == 4 && r.start == 0 && r.count == 8);

        // Counts from the next good poll on: a scale of their own in the trend.
        pick("ComboADCData", 1);
        const QStringList counts{"0", "65535", "0", "65535", "0", "65535", "1", "100"};
        QVERIFY(pollUntil(counts));
        QCOMPARE(trend->scale(), 1);
        QCOMPARE(trend->store().value(7, 0), 100.0f);
        QCOMPARE(trend->store().size(), polls()); // one row per good poll
    }

    void shortReadsCountAndKeepTheLabels() {
        forceAll({65535});
        QVERIFY(pollUntil(QStringList(8, "10.24")));
        forceAll({0});
        module->setFault(4, FaultOf(Kind::MissingByte));
        scan("0");
        for (const char* name : {"CmdScan", "CmdConfigADC", "CmdWriteDAC", "CmdCancel"})
            QVERIFY2(!enabled(name), name);
        QTRY_VERIFY(polls() >= 2);
        QVERIFY(stop());
        QCOMPARE(adc(), QStringList(8, "10.24"));
        QCOMPARE(sb(1).mid(5).toInt(), polls());
    }

    void configSendsTheChosenSettings() {
        QVERIFY(press("CmdConfigADC")); // the defaults
        const auto writes = RequestsOf(*bus, 16);
        QCOMPARE(writes.size(), 1);
        QVERIFY(writes[0].address == 4 && writes[0].start == 8 && writes[0].transactionId == 0);
        QCOMPARE(writes[0].values, (QVector<uint16_t>{2563, 6939, 6939}));
        for (int n = 1; n <= 8; ++n)
            setRange(n, n <= 4 ? n : 0);
        pick("ComboAverage", 0);
        pick("ComboMode", 1);
        type("TextTS", "255");
        QVERIFY(press("CmdConfigADC"));
        QCOMPARE(RequestsOf(*bus, 16).last().values, (QVector<uint16_t>{65408, 8977, 0}));
        QCOMPARE((QStringList{sb(1), sb(2)}), (QStringList{"Err: 0", "Poll: 2"}));
    }

    // The entry boxes read by the model's rules: a refusal shows its message
    // and sends nothing; an accepted entry is what the module receives.
    void entries_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("sent"); // -1: refused with the message
        QTest::addColumn<QString>("message");
        QTest::newRow("TS 256") << "TextTS"
                                << "256" << -1
                                << "Sampling Interval must be a number from 1 to 255";
        QTest::newRow("TS 12.5") << "TextTS"
                                 << "12.5" << 12 << "";
        QTest::newRow("AO2 -1") << "TextDAC2"
                                << "-1" << -1 << "AO2 must be a number from 0 to 4095";
        QTest::newRow("CL1 4094.6") << "TextDAC5"
                                    << "4094.6" << 4095 << "";
    }
    void entries() {
        QFETCH(QString, box);
        QFETCH(QString, text);
        QFETCH(int, sent);
        QFETCH(QString, message);
        type(box, text);
        const bool dac = box.startsWith(QLatin1String("TextDAC"));
        const QString button = dac ? QStringLiteral("CmdWriteDAC") : QStringLiteral("CmdConfigADC");
        if (sent < 0) {
            click(button);
            QCOMPARE(messages(), QStringList{message});
            QTest::qWait(100);
            QVERIFY(bus->requests().isEmpty());
            return;
        }
        QVERIFY(press(button));
        QVERIFY(messages().isEmpty());
        const int reg = dac ? box.mid(7).toInt() - 1 : 8;
        QCOMPARE(module->holding(reg).value_or(0) >> (dac ? 0 : 8), sent);
        if (dac)
            QCOMPARE(RequestsOf(*bus, 16).last().count, 8);
    }
};

QIM_TEST_MAIN(TestAnalogPanel)
#include "tst_analogpanel.moc"

// The three module panels against the simulated bus, worked as a user works
// them: the poll panel they share (its interval, Scan and Stop, its counts,
// how a loop ends) and each panel's own part: what it sends and in which
// order, what it shows and gives its trend, its entries, and the
// temperature module's register dialogs.
#include "AnalogPanel.h"
#include "DiscretePanel.h"
#include "PanelTestKit.h"
#include "Pictures.h"
#include "TemperaturePanel.h"
#include "TrendExport.h"
#include "TrendWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>

using namespace qim;
using namespace paneltest;
using Kind = qimsim::Fault::Kind;

class TestPanels : public QObject, PanelFixture {
    Q_OBJECT
    qimsim::Module* module = nullptr;
    const QStringList loopBoxes{"Text_SetPoint", "Text_CycleTime", "Text_Band", "Text_AlarmHigh",
                                "Text_AlarmLow"};

    // A module of code at address, and panel P open for it.
    template <class P, class... Extra> P* openFor(uint8_t address, uint8_t code, Extra&... extra) {
        module = bus->addModule(address, code);
        return open<P>(address, code, extra...);
    }
    template <class P> P* as() const { return static_cast<P*>(panel.data()); }
    // Which pictures of a kind show "on", by number.
    QList<int> on(const char* prefix) const {
        QList<int> lit;
        for (int n = 1; n <= 8; ++n)
            if (w<StatePicture>(QLatin1String(prefix) + QString::number(n))->state() == 1)
                lit << n;
        return lit;
    }
    QList<int> inputs() const { return on("Image_Input"); }
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
    QList<int> lit(int loop) const {
        QList<int> on;
        const char* suffixes[] = {"OC", "SCG", "SCV", "TCF", "TS", "ON", "ALL", "ALH"};
        for (int b = 0; b < 8; ++b)
            if (w<StatePicture>(QStringLiteral("StatusLED%1_%2").arg(loop).arg(suffixes[b]))
                    ->state())
                on << b;
        return on;
    }
    // The register dialogs are windows of their own.
    static qimtest::Window dialog(const char* name) {
        return qimtest::Window(QStringLiteral("frmQIM_P750_%1").arg(QLatin1String(name)));
    }
    Temperature::LoopBlock block(int loop) const { return regs.image.loops[loop - 1]; }
    // Opens loop n's dialog, types the five values and presses OK.
    void enterLoop(int n, const QStringList& values) {
        click(QStringLiteral("Cmd_ControlLoop%1").arg(n));
        for (int i = 0; i < 5; ++i)
            dialog("ControlLoop").type(loopBoxes[i], values[i]);
        dialog("ControlLoop").click(QStringLiteral("Cmd_OK"));
    }
    // Every entry, box, slider and value label of the panel, by name.
    QStringList fields() const {
        QStringList f;
        for (const QWidget* c : panel->findChildren<QWidget*>()) {
            if (c->window() != panel) // a file dialog's own boxes
                continue;
            const QString name = c->objectName() + '=';
            if (const auto* e = qobject_cast<const QLineEdit*>(c); e && !c->inherits("QSpinBox"))
                f << name + e->text();
            else if (const auto* b = qobject_cast<const QComboBox*>(c))
                f << name + b->currentText();
            else if (const auto* s = qobject_cast<const QSlider*>(c))
                f << name + QString::number(s->value());
            else if (c->objectName().contains(QRegularExpression("PWM|SPTemp")))
                f << name + qobject_cast<const QLabel*>(c)->text();
        }
        return f;
    }
    // Answers the panel's file dialog with path, as a user picks a file.
    void answer(const char* dialogName, const QString& path) const {
        QFileDialog* d = nullptr;
        QTRY_VERIFY((d = panel->findChild<QFileDialog*>(QLatin1String(dialogName))));
        d->selectFile(path);
        static_cast<QDialog*>(d)->accept(); // the dialog's own Open or Save button
    }
    bool idle() const {
        return QTest::qWaitFor([&] { return link->pending() == 0; }, 5000);
    }

private Q_SLOTS:
    void initTestCase() {
        qimtest::quietOffscreenPlatform();
        QLocale::setDefault(QLocale::c());
    }
    void init() { QVERIFY(tcpBus()); }
    void cleanup() {
        const auto* p = qobject_cast<PollPanel*>(panel.data());
        QPointer<TrendWindow> trend = p ? p->trendWindow() : nullptr;
        QVERIFY(closePanel());
        QTRY_VERIFY(trend.isNull()); // a trend goes with its panel
        for (const char* d : {"Config", "Control", "ControlLoop"})
            if (dialog(d).open())
                dialog(d).close();
    }

    void talksOnlyToAModuleOfItsKind() {
        module = bus->addModule(5, 10);
        open<DiscretePanel>(5, 30);
        QVERIFY(!enabled("CmdScan") && !enabled("CmdStop"));
        QCOMPARE(label("lblAddress"), QStringLiteral("Address: "));
        DeviceRecord other; // shown again for another module, it keeps its own
        other.address = 9;
        other.code = 10;
        as<DiscretePanel>()->showModule(other);
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
        openFor<DiscretePanel>(5, 10);
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

    void discreteCycleWritesOutputsThenReadsInputs() {
        openFor<DiscretePanel>(5, 10);
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
        QTRY_VERIFY(requestsOf(*bus, 6).last().values == QVector<uint16_t>{0x84});
        QVERIFY(stop());

        const auto reqs = bus->requests();
        QVERIFY(reqs.size() >= 4 && reqs.size() % 2 == 0);
        for (int i = 0; i < reqs.size(); ++i) {
            QCOMPARE(reqs[i].transactionId, i + 1); // advanced before each request
            QCOMPARE(reqs[i].function, i % 2 ? 3 : 6);
        }
        QCOMPARE(reqs[0].values, QVector<uint16_t>{4}); // output 3 is bit 2
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        QCOMPARE(sb(2), QStringLiteral("Poll: %1").arg(reqs.size() / 2));
    }

    // Each output write the module refuses is an error.
    void discreteRefusedWritesCount() {
        openFor<DiscretePanel>(5, 10);
        module->setFault(6, faultOf(Kind::Exception));
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
        openFor<DiscretePanel>(5, 10);
        module->setFault(3, faultOf(Kind::Exception));
        scan("0");
        if (linkLost) {
            QTRY_VERIFY(polls() >= 3);
            bus->stop();
        } else {
            for (int i = 0; i < PollLoop::PollLimit - 2; ++i)
                as<DiscretePanel>()->pollLoop()->countPoll();
        }
        QVERIFY(waitStopped());
        const PollLoop& loop = *as<DiscretePanel>()->pollLoop();
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

    // Each channel on its own range in one poll; the trend holds what the labels show.
    void analogVoltsAndCountsReachTheLabelsAndTheTrend() {
        openFor<AnalogPanel>(4, 20);
        forceAll({0, 65535, 0, 65535, 0, 65535, 1, 100});
        const int codes[8] = {0, 0, 2, 2, 4, 4, 0, 3};
        for (int k = 0; k < 8; ++k)
            setRange(k + 1, codes[k]);
        click("Cmd_Trend");
        TrendWindow* trend = as<AnalogPanel>()->trendWindow();
        QVERIFY(trend && trend->isVisible() && trend->parentWidget() == nullptr);
        const QStringList volts{"-10.24", "10.24", "-2.56",    "2.56",
                                "0",      "5.12",  "-10.2397", "0.0156"};
        QVERIFY(pollUntil(volts));
        const TrendStore& st = trend->store();
        QVERIFY(st.size() >= 1);
        for (int k = 0; k < 8; ++k)
            QCOMPARE(QString::fromLatin1(trendValueText(st.value(k, st.size() - 1))), volts[k]);

        // Counts from the next good poll on: a scale of their own in the trend.
        pick("ComboADCData", 1);
        const QStringList counts{"0", "65535", "0", "65535", "0", "65535", "1", "100"};
        QVERIFY(pollUntil(counts));
        QCOMPARE(trend->scale(), 1);
        QCOMPARE(trend->store().value(7, 0), 100.0f);
        QCOMPARE(trend->store().size(), polls()); // one row per good poll
    }

    void analogShortReadsCountAndKeepTheLabels() {
        openFor<AnalogPanel>(4, 20);
        forceAll({65535});
        QVERIFY(pollUntil(QStringList(8, "10.24")));
        forceAll({0});
        module->setFault(4, faultOf(Kind::MissingByte));
        scan("0");
        for (const char* name : {"CmdScan", "CmdConfigADC", "CmdWriteDAC", "CmdCancel"})
            QVERIFY2(!enabled(name), name);
        QTRY_VERIFY(polls() >= 2);
        QVERIFY(stop());
        QCOMPARE(adc(), QStringList(8, "10.24"));
        QCOMPARE(sb(1).mid(5).toInt(), polls());
    }

    // Config and Write send what the boxes show, the panel's defaults first;
    // a refused entry shows its message and sends nothing.
    void analogWritesSendWhatTheBoxesShow() {
        openFor<AnalogPanel>(4, 20);
        QVERIFY(press("CmdConfigADC"));
        QCOMPARE(requestsOf(*bus, 16).value(0).values, (QVector<uint16_t>{2563, 6939, 6939}));
        QCOMPARE(requestsOf(*bus, 16).value(0).transactionId, 0);
        for (int n = 1; n <= 8; ++n)
            setRange(n, n <= 4 ? n : 0);
        pick("ComboAverage", 0);
        pick("ComboMode", 1);
        type("TextTS", "256");
        click("CmdConfigADC");
        type("TextDAC2", "-1");
        click("CmdWriteDAC");
        QCOMPARE(messages(), (QStringList{"Sampling Interval must be a number from 1 to 255",
                                          "AO2 must be a number from 0 to 4095"}));
        type("TextTS", "255");
        QVERIFY(press("CmdConfigADC"));
        QCOMPARE(requestsOf(*bus, 16).last().values, (QVector<uint16_t>{65408, 8977, 0}));
        type("TextDAC2", "7");
        type("TextDAC5", "4094.6");
        QVERIFY(press("CmdWriteDAC"));
        QCOMPARE(requestsOf(*bus, 16).last().values,
                 (QVector<uint16_t>{0, 7, 0, 0, 4095, 0, 0, 0}));
        QCOMPARE(requestsOf(*bus, 16).size(), 3);
        QCOMPARE((QStringList{sb(1), sb(2)}), (QStringList{"Err: 0", "Poll: 3"}));
    }

    // A poll shows each loop's own registers (its labels, its LEDs, the set
    // point the program holds), and the trend records them as shown.
    void temperaturePollShowsEveryLoop() {
        openFor<TemperaturePanel>(4, 30, dialogs);
        for (int n = 1; n <= 4; ++n) {
            module->forceRead(4, n - 1, 100 * n);                      // PV
            module->forceRead(4, n + 3, (10 * n) << 8 | 1 << (n - 1)); // power, one flag
            module->forceRead(4, n + 7, n);                            // CJ
            regs.image.loops[n - 1][Temperature::SetPoint] = 300 + n;
        }
        click("Cmd_Trend");
        scan("0");
        QTRY_COMPARE(label("Label_PVTemp4"), QStringLiteral("400"));
        QVERIFY(stop());
        const TrendStore& st = as<TemperaturePanel>()->trendWindow()->store();
        const int row = st.size() - 1;
        for (int n = 1; n <= 4; ++n) {
            const auto shows = [&](const char* name) { return label(name + QString::number(n)); };
            QCOMPARE((QStringList{shows("Label_PVTemp"), shows("Label_CJTemp"),
                                  shows("Label_SPTemp"), shows("Label_HeaterPower")}),
                     (QStringList{QString::number(100 * n), QString::number(n),
                                  QString::number(300 + n), QStringLiteral("%1%").arg(10 * n)}));
            QCOMPARE(lit(n), QList<int>{n - 1});
            QCOMPARE(
                (QList<float>{st.value(n - 1, row), st.value(n + 3, row), st.value(n + 7, row)}),
                (QList<float>{100.0f * n, 300.0f + n, 10.0f * n}));
        }
    }

    void temperatureOutputsAndRegistersReachTheModule() {
        openFor<TemperaturePanel>(4, 30, dialogs);
        link->restartTransactions();
        click("Check_Relay3");
        w<QSlider>("Slider_PWM2")->setValue(40);
        QVERIFY(idle());
        QCOMPARE(module->coil(2), std::optional<bool>(true));
        QCOMPARE(module->holding(2), std::optional<uint16_t>(40));
        QCOMPARE(link->transactionId(), 0); // outputs leave the identifier as it was
        click("Check_Relay3");
        QVERIFY(idle());
        QCOMPARE(module->coil(2), std::optional<bool>(false));

        click("Cmd_ConfigReg");
        const qimtest::Window config = dialog("Config");
        config.pick("Combo_Sampling", 5);
        config.pick("Combo_Type", 4);
        config.pick("Combo_Average", 2);
        config.get<QCheckBox>("Check_Alarm3")->setChecked(true);
        click("Cmd_ControlReg");
        dialog("Control").pick("Combo_ControlLoop4", 2);
        dialog("Control").pick("Combo_ControlLoop3", 1);
        // A refused entry stores nothing of the five; one loop's values never
        // land in another loop's block.
        enterLoop(4, {"1000", "3", "20", "1024", "5"});
        QCOMPARE(messages(), QStringList{"Alarm High must be a number from 0 to 1023"});
        QCOMPARE(block(4), Temperature::LoopBlock{});
        dialog("ControlLoop").type("Text_AlarmHigh", "1010");
        dialog("ControlLoop").click("Cmd_OK");
        QCOMPARE(block(4), (Temperature::LoopBlock{1000, 3, 20, 1010, 5}));
        QCOMPARE(block(3), Temperature::LoopBlock{});
        bus->clearRequests();
        click("Cmd_Write");
        QVERIFY(idle());
        QCOMPARE(module->holding(5), std::optional<uint16_t>(0x4542));
        QCOMPARE(module->holding(6), std::optional<uint16_t>(0x2100));
        QCOMPARE(module->holding(22), std::optional<uint16_t>(1000));
        for (const auto& q : bus->requests())
            QCOMPARE(q.transactionId, 0);
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        // One command: all three go out whatever the first returns, one error.
        module->setFault(6, faultOf(qimsim::Fault::Kind::Exception));
        click("Cmd_Write");
        QTRY_COMPARE(sb(1), QStringLiteral("Err: 1"));
        QCOMPARE(bus->requests().size(), 6);
    }

    // Saved from one panel and opened in a fresh one (the registers anew, as
    // after a restart), a configuration gives the same fields and the same
    // writes; opening sends nothing, and a file that cannot be used changes nothing.
    void configurationsSaveAndOpen_data() {
        QTest::addColumn<bool>("analog");
        QTest::newRow("QIM-M640") << true;
        QTest::newRow("QIM-P750") << false;
    }
    void configurationsSaveAndOpen() {
        QFETCH(bool, analog);
        QTemporaryDir dir;
        const auto reopen = [&] {
            if (analog)
                open<AnalogPanel>(4, 20);
            else
                open<TemperaturePanel>(4, 30, dialogs);
        };
        const auto writes = [&] {
            bus->clearRequests();
            if (analog)
                return press("CmdConfigADC") && press("CmdWriteDAC");
            click("Cmd_Write");
            return idle();
        };
        if (analog) {
            openFor<AnalogPanel>(4, 20);
            for (int n = 1; n <= 8; ++n)
                setRange(n, n % 5);
            pick("ComboAverage", 1);
            pick("ComboMode", 1);
            type("TextTS", "37");
            type("TextDAC2", "7");
            type("TextDAC8", "4095");
        } else {
            openFor<TemperaturePanel>(4, 30, dialogs);
            click("Cmd_ConfigReg");
            dialog("Config").pick("Combo_Sampling", 5);
            dialog("Config").get<QCheckBox>("Check_Alarm2")->setChecked(true);
            click("Cmd_ControlReg");
            dialog("Control").pick("Combo_ControlLoop3", 2);
            enterLoop(2, {"1023", "127", "0", "600", "7"});
            w<QSlider>("Slider_PWM3")->setValue(60);
            QVERIFY(idle());
        }
        QVERIFY(writes());
        const auto sent = bus->requests();
        const QStringList before = fields();
        click("CmdSaveConfig");
        answer("dlgSaveConfig", dir.filePath("a.json"));
        QVERIFY(closePanel());
        regs = {};
        dialogs.reload();
        reopen();
        QVERIFY(fields() != before);
        const QStringList fresh = fields();

        QFile other(dir.filePath("other.json"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write(ConfigFile::toJson(analog ? ConfigFile::Settings(Temperature::Image{})
                                              : ConfigFile::Settings(Analog::Settings{})));
        other.close();
        bus->clearRequests();
        click("CmdOpenConfig");
        answer("dlgOpenConfig", other.fileName());
        QCOMPARE(messages(), QStringList{analog ? "other.json is a configuration of a QIM-P750, "
                                                  "not of a QIM-M640"
                                                : "other.json is a configuration of a QIM-M640, "
                                                  "not of a QIM-P750"});
        QCOMPARE(fields(), fresh);
        click("CmdOpenConfig");
        answer("dlgOpenConfig", dir.filePath("a.json"));
        QCOMPARE(fields(), before);
        QVERIFY(bus->requests().isEmpty());
        QVERIFY(writes());
        const auto again = bus->requests();
        QCOMPARE(again.size(), sent.size());
        for (qsizetype i = 0; i < sent.size(); ++i)
            QVERIFY(again[i].function == sent[i].function && again[i].start == sent[i].start &&
                    again[i].values == sent[i].values);
    }

    // The panel goes, the registers and the dialogs stay: a dialog lives until
    // its own OK or close, and a new panel and its dialogs show the registers.
    void temperatureRegistersAndDialogsOutliveThePanel() {
        openFor<TemperaturePanel>(4, 30, dialogs);
        module->forceRead(4, 2, 456);
        scan("0");
        QTRY_COMPARE(label("Label_PVTemp3"), QStringLiteral("456"));
        QVERIFY(stop());
        regs.image.control = 0x2112;
        regs.image.config = 0x8F00;
        click("Cmd_ControlLoop2");
        dialog("ControlLoop").type("Text_SetPoint", "500");
        QVERIFY(closePanel());
        QCOMPARE(dialog("ControlLoop").text("Text_SetPoint"), QStringLiteral("500"));
        open<TemperaturePanel>(4, 30, dialogs);
        QCOMPARE(label("Label_PVTemp3"), QStringLiteral("456"));
        click("Cmd_ControlLoop2");
        dialog("ControlLoop").click("Cmd_OK");
        QCOMPARE(regs.image.loops[1][Temperature::SetPoint], 500);
        click("Cmd_ControlReg");
        QCOMPARE(dialog("Control").get<QComboBox>("Combo_ControlLoop4")->currentIndex(), 2);
        QCOMPARE(dialog("Control").text("Label_ControlReg"), QStringLiteral("0x2112"));
        click("Cmd_ConfigReg");
        QCOMPARE(dialog("Config").get<QComboBox>("Combo_Sampling")->currentIndex(), 15);
        QCOMPARE(dialog("Config").text("Label_Config"), QStringLiteral("0x8F00"));
    }
};

QIM_TEST_MAIN(TestPanels)
#include "tst_panels.moc"

// The temperature panel and its register dialogs against the simulated
// module: what a poll shows and feeds the trend, what every write puts on
// the wire, the dialogs' entries, and the registers outliving the panel.
#include "PanelTestKit.h"
#include "Pictures.h"
#include "TemperaturePanel.h"
#include "TrendWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSlider>

using namespace qim;
using namespace paneltest;

class TestTempPanel : public QObject, PanelFixture {
    Q_OBJECT
    qimsim::Module* module = nullptr;
    const QStringList loopBoxes{"Text_SetPoint", "Text_CycleTime", "Text_Band", "Text_AlarmHigh",
                                "Text_AlarmLow"};

    TemperaturePanel* temp() const { return static_cast<TemperaturePanel*>(panel.data()); }
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
    bool idle() const {
        return QTest::qWaitFor([&] { return link->pending() == 0; }, 5000);
    }

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }
    void init() {
        QVERIFY(tcpBus());
        module = bus->addModule(4, 30);
        open<TemperaturePanel>(4, 30, dialogs);
    }
    void cleanup() {
        QVERIFY(closePanel());
        for (const char* d : {"Config", "Control", "ControlLoop"})
            if (dialog(d).open())
                dialog(d).close();
    }

    // A poll shows each loop's own registers (its labels, its LEDs, the set
    // point the program holds), and the trend records them as shown.
    void pollShowsEveryLoop() {
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
        const TrendStore& st = temp()->trendWindow()->store();
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
        for (const auto& r : bus->requests())
            QVERIFY(r.function == 4 && r.start == 0 && r.count == 12);
    }

    void outputsAndRegistersReachTheModule() {
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
        QCOMPARE(config.text("Label_Config"), QStringLiteral("0x4542"));
        click("Cmd_ControlReg");
        dialog("Control").pick("Combo_ControlLoop4", 2);
        dialog("Control").pick("Combo_ControlLoop3", 1);
        QCOMPARE(dialog("Control").text("Label_ControlReg"), QStringLiteral("0x2100"));
        enterLoop(4, {"1000", "3", "20", "1010", "5"});
        bus->clearRequests();
        click("Cmd_Write");
        QVERIFY(idle());
        const auto r = bus->requests();
        QCOMPARE(r.size(), 3);
        QCOMPARE(module->holding(5), std::optional<uint16_t>(0x4542));
        QCOMPARE(module->holding(6), std::optional<uint16_t>(0x2100));
        QVERIFY(r[2].function == 16 && r[2].start == 7 && r[2].count == 20);
        QCOMPARE(r[2].values.mid(15), (QVector<uint16_t>{1000, 3, 20, 1010, 5}));
        for (const auto& q : r)
            QCOMPARE(q.transactionId, 0);
        QCOMPARE(sb(1), QStringLiteral("Err: 0"));
        module->setFault(16, FaultOf(qimsim::Fault::Kind::Exception));
        click("Cmd_Write");
        QTRY_COMPARE(sb(1), QStringLiteral("Err: 1"));
    }

    // The panel goes, the registers and the dialogs stay: a dialog lives until
    // its own OK or close, and a new panel and its dialogs show the registers.
    void registersAndDialogsOutliveThePanel() {
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
        for (int loop : {2, 3, 4})
            QCOMPARE(dialog("Control")
                         .get<QComboBox>(QStringLiteral("Combo_ControlLoop%1").arg(loop))
                         ->currentIndex(),
                     loop == 4 ? 2 : 1);
        click("Cmd_ConfigReg");
        const qimtest::Window config = dialog("Config");
        QCOMPARE(config.get<QComboBox>("Combo_Sampling")->currentIndex(), 15);
        QVERIFY(config.get<QCheckBox>("Check_Alarm4")->isChecked() &&
                !config.get<QCheckBox>("Check_Alarm1")->isChecked());
        QCOMPARE(config.text("Label_Config"), QStringLiteral("0x8F00"));
    }

    // The dialog checks its five entries by the model's rules: a refusal
    // shows its message and stores nothing of the five.
    void loopEntries_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored"); // -1: refused
        QTest::addColumn<QString>("message");
        QTest::newRow("band 0") << 2 << "0" << 0 << "";
        QTest::newRow("alarm high 1024")
            << 3 << "1024" << -1 << "Alarm High must be a number from 0 to 1023";
    }
    void loopEntries() {
        QFETCH(int, row);
        QFETCH(QString, typed);
        QFETCH(int, stored);
        QFETCH(QString, message);
        const Temperature::LoopBlock before{11, 12, 13, 14, 15};
        regs.image.loops[3] = before;
        QStringList values(5, "7");
        values[row] = typed;
        enterLoop(4, values);
        Temperature::LoopBlock expected{7, 7, 7, 7, 7};
        expected[row] = stored;
        QCOMPARE(messages(), stored < 0 ? QStringList{message} : QStringList{});
        QCOMPARE(block(4), stored < 0 ? before : expected); // a refusal stores nothing
        QCOMPARE(block(3), Temperature::LoopBlock{});
    }
};

QIM_TEST_MAIN(TestTempPanel)
#include "tst_temp_panel.moc"

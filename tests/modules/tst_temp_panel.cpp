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
    std::array<int32_t, 5> block(int loop) const {
        std::array<int32_t, 5> b;
        std::copy_n(regs.outputs.begin() + LoopBase(loop), 5, b.begin());
        return b;
    }
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

    // Each row on a loop of its own: every loop shows its own registers.
    void pollDecodes_data() {
        QTest::addColumn<int>("loop");
        QTest::addColumn<int>("pv");
        QTest::addColumn<int>("cj");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("shown"); // PV, CJ, heater power
        QTest::addColumn<QList<int>>("leds");
        QTest::newRow("-1") << 1 << 0x0FFF << 200 << 0x4B21 << QStringList{"-1", "-56", "75%"}
                            << QList<int>{0, 5};
        QTest::newRow("top") << 2 << 2047 << 127 << 0xFF << QStringList{"2047", "127", "0%"}
                             << QList<int>{0, 1, 2, 3, 4, 5, 6, 7};
        QTest::newRow("bottom") << 3 << 2048 << 128 << 0x6490
                                << QStringList{"-2048", "-128", "100%"} << QList<int>{4, 7};
        QTest::newRow("above the field")
            << 4 << 5000 << 300 << 0 << QStringList{"904", "44", "0%"} << QList<int>{};
    }
    void pollDecodes() {
        QFETCH(int, loop);
        QFETCH(int, pv);
        QFETCH(int, cj);
        QFETCH(int, status);
        QFETCH(QStringList, shown);
        QFETCH(QList<int>, leds);
        module->forceRead(4, loop - 1, pv);
        module->forceRead(4, loop + 3, status);
        module->forceRead(4, loop + 7, cj);
        regs.outputs[LoopBase(loop)] = 321; // the set point the program holds
        click("Cmd_Trend");
        scan("0");
        const auto shows = [&](const char* name) { return label(name + QString::number(loop)); };
        QTRY_COMPARE(shows("Label_PVTemp"), shown[0]);
        QVERIFY(stop());
        QCOMPARE((QStringList{shows("Label_CJTemp"), shows("Label_HeaterPower")}), shown.mid(1));
        QCOMPARE(lit(loop), leds);
        QCOMPARE(shows("Label_SPTemp"), QStringLiteral("321"));
        for (const auto& r : bus->requests())
            QVERIFY(r.function == 4 && r.start == 0 && r.count == 12);
        // The trend holds PV, SP and heater power as shown.
        const TrendStore& st = temp()->trendWindow()->store();
        const int row = st.size() - 1;
        QCOMPARE(QString::number(st.value(loop - 1, row)), shown[0]);
        QCOMPARE(st.value(loop + 3, row), 321.0f);
        QCOMPARE(QString::number(st.value(loop + 7, row)) + "%", shown[2]);
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
        QCOMPARE(r[2].values.mid(0, 15), QVector<uint16_t>(15, 0));
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
        regs.control = 0x2112;
        regs.config = 0x8F00;
        click("Cmd_ControlLoop2");
        dialog("ControlLoop").type("Text_SetPoint", "500");
        QVERIFY(closePanel());
        QCOMPARE(dialog("ControlLoop").text("Text_SetPoint"), QStringLiteral("500"));
        open<TemperaturePanel>(4, 30, dialogs);
        QCOMPARE(label("Label_PVTemp3"), QStringLiteral("456"));
        click("Cmd_ControlLoop2");
        dialog("ControlLoop").click("Cmd_OK");
        QCOMPARE(regs.outputs[LoopBase(2)], 500);
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

    void loopEntries_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored"); // -1: refused
        QTest::addColumn<QString>("message");
        const QString sp = "Set Point must be a number from 0 to 1023";
        QTest::newRow("set point 1023") << 0 << "1023" << 1023 << "";
        QTest::newRow("set point 1024") << 0 << "1024" << -1 << sp;
        QTest::newRow("set point empty") << 0 << "" << -1 << sp;
        QTest::newRow("set point 100.5 to even") << 0 << "100.5" << 100 << "";
        QTest::newRow("scaler 128")
            << 1 << "128" << -1 << "Cycle Time must be a number from 0 to 127";
        QTest::newRow("band 0") << 2 << "0" << 0 << "";
        QTest::newRow("band 128") << 2 << "128" << -1 << "Band must be a number from 0 to 127";
        QTest::newRow("alarm high 1024")
            << 3 << "1024" << -1 << "Alarm High must be a number from 0 to 1023";
        QTest::newRow("alarm low -0.6")
            << 4 << "-0.6" << -1 << "Alarm Low must be a number from 0 to 1023";
    }
    void loopEntries() {
        QFETCH(int, row);
        QFETCH(QString, typed);
        QFETCH(int, stored);
        QFETCH(QString, message);
        const std::array<int32_t, 5> before{11, 12, 13, 14, 15};
        std::copy(before.begin(), before.end(), regs.outputs.begin() + LoopBase(4));
        QStringList values(5, "7");
        values[row] = typed;
        enterLoop(4, values);
        std::array<int32_t, 5> expected{7, 7, 7, 7, 7};
        expected[row] = stored;
        QCOMPARE(messages(), stored < 0 ? QStringList{message} : QStringList{});
        QCOMPARE(block(4), stored < 0 ? before : expected); // a refusal stores nothing
        QCOMPARE(block(3), (std::array<int32_t, 5>{}));
    }
};

QIM_TEST_MAIN(TestTempPanel)
#include "tst_temp_panel.moc"

// The temperature module's register dialogs, opened from the panel as a user
// does: decoding on load, repacking on every change, the hexadecimal label,
// the control loop entries' ranges and messages, and that nothing is sent.
#include "General.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "Panels.h"
#include "TempTestSupport.h"
#include "TestSupport.h"
#include "frmQIM_P750_Config.h"
#include "frmQIM_P750_Control.h"
#include "frmQIM_P750_ControlLoop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace qim;
using namespace qimtest;

namespace {
QStringList items(const QString& combo) {
    QStringList out;
    auto* c = Find<QComboBox>(combo);
    for (int i = 0; c && i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}
void type(const QString& name, const QString& value) {
    auto* e = Find<QLineEdit>(name);
    QVERIFY2(e, qPrintable(name));
    e->setText(value);
}
void choose(const QString& combo, int index) {
    auto* c = Find<QComboBox>(combo);
    QVERIFY2(c, qPrintable(combo));
    c->setCurrentIndex(index);
}

const QStringList LoopBoxes = {"Text_SetPoint", "Text_CycleTime", "Text_Band", "Text_AlarmHigh",
                               "Text_AlarmLow"};

std::array<int32_t, 5> block(int loop) {
    std::array<int32_t, 5> b;
    for (int i = 0; i < 5; ++i)
        b[i] = TempOutputRegs[LoopBase(loop) + i];
    return b;
}
} // namespace

class TestTempDialogs : public QObject {
    Q_OBJECT
    // Any request at all would reach this slave: the dialogs must send none.
    std::unique_ptr<TcpSlave> module;

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }
    void init() {
        Link::instance().reset();
        AssignLinkDefaults();
        module = std::make_unique<TcpSlave>([](const QByteArray&) { return QList<Chunk>{}; });
        General::CommMode = 1;
        General::IPAddress = QStringLiteral("127.0.0.1");
        General::ServerPort = module->port();
        General::TCPTimeout = 200;
        FreshTemperatureStart(7);
        QVERIFY(OpenPanelFor(30));
        QVERIFY(Find(QStringLiteral("frmQIM_P750")));
    }
    void cleanup() {
        QVERIFY(ClosePanel());
        QVERIFY(!frmQIM_P750_Config::instance());
        QVERIFY(!frmQIM_P750_ControlLoop::instance());
        QTest::qWait(50);
        QCOMPARE(module->connections, 0);
        Link::instance().reset();
    }

    void configurationListsAndFreshStart() {
        Press("Cmd_ConfigReg");
        auto* dlg = frmQIM_P750_Config::instance();
        QVERIFY(dlg && dlg->isVisible());
        QCOMPARE(dlg->windowTitle(), QStringLiteral("QIM-P750 Configuration Register"));
        QCOMPARE(items("Combo_Average"),
                 (QStringList{"0 - 1 Sample", "1 - 2 Samples", "3 - 4 Samples", "4 - 8 Samples"}));
        QCOMPARE(items("Combo_Type"),
                 (QStringList{"0 - K", "1 - J", "2 - N", "3 - S", "4 - T", "5 - E", "6 - R"}));
        QCOMPARE(items("Combo_Sampling"),
                 (QStringList{"0 - 100msec", "1 - 200msec", "2 - 300msec", "3 - 400msec",
                              "4 - 500msec", "5 - 600msec", "6 - 700msec", "7 - 800msec",
                              "8 - 900msec", "9 - 1sec", "10 - 1.1sec", "11 - 1.2sec",
                              "12 - 1.3sec", "13 - 1.4sec", "14 - 1.5sec", "15 - 1.6sec"}));
        QCOMPARE(Text("Combo_Average"), QStringLiteral("0 - 1 Sample"));
        QCOMPARE(Text("Combo_Type"), QStringLiteral("0 - K"));
        QCOMPARE(Text("Combo_Sampling"), QStringLiteral("0 - 100msec"));
        for (int i = 1; i <= 4; ++i) {
            auto* c = Find<QCheckBox>(QStringLiteral("Check_Alarm%1").arg(i));
            QVERIFY(c);
            QCOMPARE(c->text(), QStringLiteral("Enable Alarm %1").arg(i));
            QVERIFY(!c->isChecked());
        }
        QCOMPARE(Text("Label_Config"), QStringLiteral("0x0"));
    }

    void configurationRepacksOnEveryChangeAndReloads() {
        Press("Cmd_ConfigReg");
        choose("Combo_Sampling", 15);
        QCOMPARE(Text("Label_Config"), QStringLiteral("0xF00"));
        QCOMPARE(TempConfigReg, 0xF00);
        Find<QCheckBox>("Check_Alarm4")->setChecked(true);
        QCOMPARE(Text("Label_Config"), QStringLiteral("0x8F00"));
        QCOMPARE(TempConfigReg, 0x8F00);

        // Pressing the button again only brings it forward: no reload.
        auto* first = frmQIM_P750_Config::instance();
        TempConfigReg = 0x10;
        Press("Cmd_ConfigReg");
        QCOMPARE(frmQIM_P750_Config::instance(), first);
        QCOMPARE(Text("Label_Config"), QStringLiteral("0x8F00"));
        TempConfigReg = 0x8F00;

        // Closed and reopened, it shows the last choices again.
        Press("Cmd_OK");
        QTRY_VERIFY(!frmQIM_P750_Config::instance());
        Press("Cmd_ConfigReg");
        QCOMPARE(Text("Combo_Sampling"), QStringLiteral("15 - 1.6sec"));
        QVERIFY(Find<QCheckBox>("Check_Alarm4")->isChecked());
        QCOMPARE(Text("Label_Config"), QStringLiteral("0x8F00"));

        // Type 4, averaging position 2, sampling 5, alarm 3, built by hand...
        choose("Combo_Sampling", 5);
        Find<QCheckBox>("Check_Alarm4")->setChecked(false);
        choose("Combo_Type", 4);
        choose("Combo_Average", 2);
        Find<QCheckBox>("Check_Alarm3")->setChecked(true);
        QCOMPARE(Text("Label_Config"), QStringLiteral("0x4542"));
        QCOMPARE(TempConfigReg, 0x4542);
        // ...and decoded again by a fresh dialog closed through its frame.
        frmQIM_P750_Config::instance()->close();
        QTRY_VERIFY(!frmQIM_P750_Config::instance());
        Press("Cmd_ConfigReg");
        QCOMPARE(Text("Combo_Average"), QStringLiteral("3 - 4 Samples"));
        QCOMPARE(Text("Combo_Type"), QStringLiteral("4 - T"));
        QCOMPARE(Text("Combo_Sampling"), QStringLiteral("5 - 600msec"));
        QVERIFY(Find<QCheckBox>("Check_Alarm3")->isChecked());
        QVERIFY(!Find<QCheckBox>("Check_Alarm1")->isChecked());
        QCOMPARE(Text("Label_Config"), QStringLiteral("0x4542"));
    }

    void controlRegisterLoadsAndPacks() {
        TempControlReg = 0x2102;
        Press("Cmd_ControlReg");
        auto* dlg = frmQIM_P750_Control::instance();
        QVERIFY(dlg && dlg->isVisible());
        QCOMPARE(dlg->windowTitle(), QStringLiteral("QIM_P750 Control Register"));
        for (int n = 1; n <= 4; ++n)
            QCOMPARE(items(QStringLiteral("Combo_ControlLoop%1").arg(n)),
                     (QStringList{"0 - Manual", "1 - ON/OFF", "2 - Proportional"}));
        QCOMPARE(Text("Combo_ControlLoop1"), QStringLiteral("2 - Proportional"));
        QCOMPARE(Text("Combo_ControlLoop2"), QStringLiteral("0 - Manual"));
        QCOMPARE(Text("Combo_ControlLoop3"), QStringLiteral("1 - ON/OFF"));
        QCOMPARE(Text("Combo_ControlLoop4"), QStringLiteral("2 - Proportional"));
        QCOMPARE(Text("Label_ControlReg"), QStringLiteral("0x2102"));
        Press("Cmd_OK");
        QTRY_VERIFY(!frmQIM_P750_Control::instance());
        QCOMPARE(TempControlReg, 0x2102);

        Press("Cmd_ControlReg");
        choose("Combo_ControlLoop1", 0);
        QCOMPARE(Text("Label_ControlReg"), QStringLiteral("0x2100"));
        choose("Combo_ControlLoop2", 1);
        choose("Combo_ControlLoop3", 2);
        choose("Combo_ControlLoop4", 1);
        QCOMPARE(Text("Label_ControlReg"), QStringLiteral("0x1210"));
        QCOMPARE(TempControlReg, 0x1210);
    }

    void loopDialogFreshStartAndWindowTexts() {
        Press("Cmd_ControlLoop2");
        auto* dlg = frmQIM_P750_ControlLoop::instance();
        QVERIFY(dlg && dlg->isVisible());
        QCOMPARE(dlg->windowTitle(), QStringLiteral("QIM-P750 Control Loop Registers"));
        QCOMPARE(Text("Label_ControlLoopNumber"), QStringLiteral("Control Loop #2"));
        for (const QString& box : LoopBoxes)
            QCOMPARE(Text(box), QStringLiteral("0"));
        QStringList captions;
        for (QLabel* l : dlg->findChildren<QLabel*>())
            captions << l->text();
        for (const char* t :
             {"Set Point (SP)", "Loop Sampling Time Scaler", "Band/Gain", "Alarm High", "Alarm Low",
              "From 0 To 1023 Deg C", "From 0 To 255 ", "From 1 To 255", "LST = Ts X (LSTS + 1)"})
            QVERIFY2(captions.contains(QLatin1String(t)), t);

        // OK stores what it shows into loop 2's block and nowhere else.
        type("Text_SetPoint", "250");
        type("Text_AlarmLow", "20");
        Press("Cmd_OK");
        QTRY_VERIFY(!frmQIM_P750_ControlLoop::instance());
        QCOMPARE(block(2), (std::array<int32_t, 5>{250, 0, 0, 0, 20}));
        QCOMPARE(block(1), (std::array<int32_t, 5>{}));
        QCOMPARE(block(3), (std::array<int32_t, 5>{}));
        QCOMPARE(TempOutputRegs[27], 0);

        // Reopened, it shows what was stored.
        Press("Cmd_ControlLoop2");
        QCOMPARE(Text("Text_SetPoint"), QStringLiteral("250"));
        QCOMPARE(Text("Text_AlarmLow"), QStringLiteral("20"));
    }

    void loopEntryBounds_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored"); // -1: rejected
        QTest::addColumn<QString>("message");
        const QString sp = "Set Point must be a number from 0 to 1023";
        const QString ct = "Cycle Time must be a number from 0 to 127";
        const QString band = "Band must be a number from 0 to 127";
        const QString hi = "Alarm High must be a number from 0 to 1023";
        const QString lo = "Alarm Low must be a number from 0 to 1023";
        QTest::newRow("set point 1023") << 0 << "1023" << 1023 << "";
        QTest::newRow("set point 1024") << 0 << "1024" << -1 << sp;
        QTest::newRow("set point empty") << 0 << "" << -1 << sp;
        QTest::newRow("set point letter") << 0 << "x" << -1 << sp;
        QTest::newRow("set point -1") << 0 << "-1" << -1 << sp;
        QTest::newRow("set point 100.5 to even") << 0 << "100.5" << 100 << "";
        QTest::newRow("set point 101.5 to even") << 0 << "101.5" << 102 << "";
        QTest::newRow("scaler 200 inside its hint") << 1 << "200" << -1 << ct;
        QTest::newRow("band 0 outside its hint") << 2 << "0" << 0 << "";
        QTest::newRow("band 128") << 2 << "128" << -1 << band;
        QTest::newRow("alarm high 1024") << 3 << "1024" << -1 << hi;
        QTest::newRow("alarm low -0.6") << 4 << "-0.6" << -1 << lo;
    }
    void loopEntryBounds() {
        QFETCH(int, row);
        QFETCH(QString, typed);
        QFETCH(int, stored);
        QFETCH(QString, message);
        // Loop 4's block holds something, so a rejection that stored
        // anything (even an entry checked before the bad one) shows.
        const std::array<int32_t, 5> before{11, 12, 13, 14, 15};
        for (int i = 0; i < 5; ++i)
            TempOutputRegs[LoopBase(4) + i] = before[i];
        Press("Cmd_ControlLoop4");
        for (const QString& box : LoopBoxes)
            type(box, "7");
        type(LoopBoxes[row], typed);
        Press("Cmd_OK");
        if (stored < 0) {
            QCOMPARE(MessagePresenter::instance().history(), QStringList{message});
            QVERIFY(frmQIM_P750_ControlLoop::instance()->isVisible());
            QCOMPARE(Text(LoopBoxes[row]), typed); // kept as typed
            QCOMPARE(block(4), before);
        } else {
            QVERIFY(MessagePresenter::instance().history().isEmpty());
            QTRY_VERIFY(!frmQIM_P750_ControlLoop::instance());
            std::array<int32_t, 5> expected{7, 7, 7, 7, 7};
            expected[row] = stored;
            QCOMPARE(block(4), expected);
        }
    }

    void firstBadEntryWinsAndEntriesAreUnrelated() {
        Press("Cmd_ControlLoop1");
        type("Text_SetPoint", "2000");
        type("Text_AlarmLow", "abc");
        Press("Cmd_OK");
        QCOMPARE(MessagePresenter::instance().history(),
                 QStringList{"Set Point must be a number from 0 to 1023"});
        type("Text_SetPoint", "300");
        Press("Cmd_OK");
        QCOMPARE(MessagePresenter::instance().history().last(),
                 QStringLiteral("Alarm Low must be a number from 0 to 1023"));
        QCOMPARE(block(1), (std::array<int32_t, 5>{}));
        // An alarm low above the alarm high is the user's business.
        type("Text_AlarmHigh", "50");
        type("Text_AlarmLow", "900");
        Press("Cmd_OK");
        QTRY_VERIFY(!frmQIM_P750_ControlLoop::instance());
        QCOMPARE(block(1), (std::array<int32_t, 5>{300, 0, 0, 50, 900}));
    }

    void loopDialogStoresIntoTheLoopItShows() {
        const std::array<int32_t, 5> one{100, 11, 12, 103, 104}, three{300, 31, 32, 303, 304};
        for (int i = 0; i < 5; ++i) {
            TempOutputRegs[LoopBase(1) + i] = one[i];
            TempOutputRegs[LoopBase(3) + i] = three[i];
        }
        Press("Cmd_ControlLoop1");
        type("Text_SetPoint", "999");
        // Another loop's button while it is open: it now edits loop 3.
        Press("Cmd_ControlLoop3");
        QCOMPARE(frmQIM_P750_ControlLoop::instance()->loop(), 3);
        QCOMPARE(Text("Label_ControlLoopNumber"), QStringLiteral("Control Loop #3"));
        QCOMPARE(Text("Text_SetPoint"), QStringLiteral("300"));
        QCOMPARE(Text("Text_AlarmLow"), QStringLiteral("304"));
        type("Text_Band", "42");
        // Whatever SelectedLoop says by now, OK stores where the caption says.
        SelectedLoop = 2;
        Press("Cmd_OK");
        QTRY_VERIFY(!frmQIM_P750_ControlLoop::instance());
        QCOMPARE(block(3), (std::array<int32_t, 5>{300, 31, 42, 303, 304}));
        QCOMPARE(block(1), one);
        QCOMPARE(block(2), (std::array<int32_t, 5>{}));

        // The same loop's button again keeps what was typed.
        Press("Cmd_ControlLoop3");
        type("Text_Band", "43");
        Press("Cmd_ControlLoop3");
        QCOMPARE(Text("Text_Band"), QStringLiteral("43"));
        // Closing through the frame stores nothing.
        frmQIM_P750_ControlLoop::instance()->close();
        QTRY_VERIFY(!frmQIM_P750_ControlLoop::instance());
        QCOMPARE(TempOutputRegs[LoopBase(3) + 2], 42);
    }
};

QIM_TEST_MAIN(TestTempDialogs)
#include "tst_temp_dialogs.moc"

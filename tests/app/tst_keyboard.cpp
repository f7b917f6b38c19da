// Keyboard use: the tab chains of the main window and the dialogs, Enter and
// Escape, the device list's keys, the menus without a mouse, and the focus
// passing between a loop's start and stop buttons.
#include "AboutBox.h"
#include "AppTest.h"
#include "CommSetupDialog.h"
#include "DeviceTable.h"
#include "Link.h"
#include "MainWindow.h"
#include "Panels.h"
#include "ScanBusDialog.h"
#include "TempRegisters.h"
#include "frmQIM_P750.h"

#include "../modules/PanelTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>

using namespace qim;
using namespace qimtest;

namespace {

QString focusName() {
    const QWidget* w = QApplication::focusWidget();
    return w ? w->objectName() : QStringLiteral("(none)");
}

// The controls Tab visits, from first until it comes round again.
QStringList tabChain(QWidget* first) {
    first->setFocus(Qt::TabFocusReason);
    QStringList names;
    for (int i = 0; i < 40 && QApplication::focusWidget(); ++i) {
        if (i > 0 && QApplication::focusWidget() == first)
            break;
        names << focusName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return names;
}

void press(int key) {
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key));
}

// A menu popup asks the offscreen platform to grab the keyboard, which it
// cannot and says so; the menus work all the same.
QtMessageHandler g_previous = nullptr;
void quietMenus(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg &&
        message == QLatin1String("This plugin does not support grabbing the keyboard"))
        return;
    if (g_previous)
        g_previous(type, context, message);
}

bool activate(QWidget* w) {
    w->show();
    w->activateWindow();
    return QTest::qWaitFor([w] { return w->isActiveWindow(); }, 5000);
}

QWidget* window(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            return w;
    return nullptr;
}

} // namespace

class TestKeyboard : public QObject, paneltest::PanelFixture {
    Q_OBJECT
    QPointer<MainWindow> main;

private Q_SLOTS:
    void initTestCase() {
        qimtest::QuietOffscreenPlatform();
        g_previous = qInstallMessageHandler(quietMenus);
    }
    void init() {
        apptest::resetMessages();
        Link::instance().reset();
        main = new MainWindow;
        QVERIFY(activate(main));
    }
    void cleanup() {
        apptest::resetMessages();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != main && w->isWindow() && w->isVisible())
                w->close();
        delete main.data();
        QTest::qWait(20);
        bus.reset();
        Link::instance().reset();
    }

    void mainWindowDeviceListAndMenus() {
        auto* list = apptest::child<QListWidget>(main, "DeviceList");
        QCOMPARE(focusName(), QStringLiteral("DeviceList"));
        // The grid is read only: Tab goes between the list and the button,
        // which stays out of the way until a module is selected.
        QCOMPARE(tabChain(list), QStringList{"DeviceList"});

        ClearDeviceTable();
        DeviceTable[0].DeviceAddress = 7;
        DeviceTable[0].DeviceCode = 40; // no panel
        DeviceTable[1].DeviceAddress = 9;
        DeviceTable[1].DeviceCode = 11;
        main->appendDevice(DeviceListLine(DeviceTable[0]));
        main->appendDevice(DeviceListLine(DeviceTable[1]));

        // Enter with nothing selected opens nothing.
        list->setFocus();
        press(Qt::Key_Return);
        QVERIFY(!window("frmQIM_K520"));

        // The arrow keys select, Enter opens the selected module's panel.
        press(Qt::Key_Down);
        QCOMPARE(SelectedAddress, 0);
        QCOMPARE(tabChain(list), (QStringList{"DeviceList", "CmdControl"}));
        list->setFocus();
        press(Qt::Key_Return); // code 40: no panel, nothing happens
        QVERIFY(!window("frmQIM_K520"));
        press(Qt::Key_Down);
        QCOMPARE(SelectedAddress, 1);
        press(Qt::Key_Enter);
        QTRY_VERIFY(window("frmQIM_K520"));
        window("frmQIM_K520")->close();
        QTRY_VERIFY(!window("frmQIM_K520"));

        // A double click opens it too.
        QVERIFY(activate(main));
        const QRect second = list->visualItemRect(list->item(1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
        QTRY_VERIFY(window("frmQIM_K520"));
        window("frmQIM_K520")->close();

        // The menu captions carry no mnemonics; Alt reaches the menu bar,
        // the arrows move along it and Enter runs a command.
        QVERIFY(activate(main));
        QMenuBar* bar = main->menuBar();
        QTest::keyPress(main, Qt::Key_Alt, Qt::AltModifier);
        QTest::keyRelease(main, Qt::Key_Alt);
        QVERIFY(bar->activeAction());
        QCOMPARE(bar->activeAction()->objectName(), QStringLiteral("mnuComm"));
        press(Qt::Key_Right);
        QCOMPARE(bar->activeAction()->objectName(), QStringLiteral("mnuScan"));
        press(Qt::Key_Return);
        QTRY_VERIFY(main->scanBus());
        main->scanBus()->close();

        // Help opens its menu; Enter there is About.
        QVERIFY(activate(main));
        QTest::keyPress(main, Qt::Key_Alt, Qt::AltModifier);
        QTest::keyRelease(main, Qt::Key_Alt);
        press(Qt::Key_Left);
        QCOMPARE(bar->activeAction()->menu()->objectName(), QStringLiteral("mnuHelp"));
        press(Qt::Key_Return);
        QTRY_VERIFY(bar->activeAction()->menu()->isVisible());
        QTest::keyClick(bar->activeAction()->menu(), Qt::Key_Return);
        QTRY_VERIFY(main->about());
    }

    void connectionDialogKeys() {
        General::IPAddress = QStringLiteral("127.0.0.1");
        main->openCommSetup();
        QPointer<CommSetupDialog> d = main->commSetup();
        QVERIFY(activate(d));
        // Top to bottom through the link in use; disabled controls are skipped.
        QCOMPARE(focusName(), QStringLiteral("ComboCommMode"));
        QCOMPARE(tabChain(apptest::child<QWidget>(d, "ComboCommMode")),
                 (QStringList{"ComboCommMode", "ComboPortNumber", "ComboBaudRate",
                              "TextRS422ResTimeOut", "CmdOk", "CmdCancel"}));
        // The arrow keys change a list without opening it.
        apptest::child<QWidget>(d, "ComboCommMode")->setFocus();
        press(Qt::Key_Down);
        QCOMPARE(tabChain(apptest::child<QWidget>(d, "ComboCommMode")),
                 (QStringList{"ComboCommMode", "TextIPAddress", "TextServerPort",
                              "TextTCPConTimeOut", "TextTCPResTimeOut", "CmdOk", "CmdCancel"}));

        // Enter in a box is Ok: the entries are checked.
        apptest::type(d, "TextServerPort", QStringLiteral("0"));
        apptest::child<QWidget>(d, "TextServerPort")->setFocus();
        press(Qt::Key_Return);
        QCOMPARE(apptest::messages(), QStringList{"Server Port must be a number from 1 to 65535"});
        apptest::acknowledgeAll();
        QVERIFY(activate(d));

        // Enter on a focused Cancel cancels: nothing is stored, no test runs.
        apptest::type(d, "TextServerPort", QStringLiteral("1502"));
        apptest::child<QWidget>(d, "CmdCancel")->setFocus();
        press(Qt::Key_Return);
        QTRY_VERIFY(!d);
        QCOMPARE(General::CommMode, int16_t(0));
        QCOMPARE(General::ServerPort, 502);
        QCOMPARE(apptest::messages().size(), 1);

        // Escape cancels too.
        QVERIFY(activate(main));
        main->openCommSetup();
        d = main->commSetup();
        QVERIFY(activate(d));
        press(Qt::Key_Down);
        apptest::type(d, "TextServerPort", QStringLiteral("1502"));
        press(Qt::Key_Escape);
        QTRY_VERIFY(!d);
        QCOMPARE(General::CommMode, int16_t(0));
        QCOMPARE(General::ServerPort, 502);
    }

    void scanDialogStartStopAndClose() {
        QVERIFY(tcpBus());
        bus->addDemoModules();
        main->openScanBus();
        QPointer<ScanBusDialog> d = main->scanBus();
        QVERIFY(activate(d));
        QCOMPARE(focusName(), QStringLiteral("TextStartAddress"));
        QCOMPARE(tabChain(apptest::child<QWidget>(d, "TextStartAddress")),
                 (QStringList{"TextStartAddress", "TextEndAddress", "TextTime", "CmdStart",
                              "CmdCancel"}));

        // Enter in a box starts; the focus lands on Stop, where Enter stops;
        // then it is back on Start.
        QSignalSpy ended(d.data(), &ScanBusDialog::scanEnded);
        apptest::type(d, "TextTime", QStringLiteral("200"));
        apptest::child<QWidget>(d, "TextTime")->setFocus();
        press(Qt::Key_Return);
        QVERIFY(d->scanning());
        QTRY_COMPARE(focusName(), QStringLiteral("CmdStop"));
        QTRY_VERIFY(!bus->requests().isEmpty());
        press(Qt::Key_Return);
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.at(0).at(0).value<ScanBusDialog::End>(), ScanBusDialog::End::Stopped);
        QTRY_COMPARE(focusName(), QStringLiteral("CmdStart"));

        // Space on Start, then Space on Stop, the same way.
        press(Qt::Key_Space);
        QVERIFY(d->scanning());
        QTRY_COMPARE(focusName(), QStringLiteral("CmdStop"));
        press(Qt::Key_Space);
        QVERIFY(ended.wait(5000));
        QTRY_COMPARE(focusName(), QStringLiteral("CmdStart"));

        // Enter on a focused Close closes; it does not start a scan.
        const auto sent = bus->requests().size();
        apptest::child<QWidget>(d, "CmdCancel")->setFocus();
        press(Qt::Key_Return);
        QTRY_VERIFY(!d);
        QTest::qWait(300);
        QCOMPARE(bus->requests().size(), sent);
    }

    void panelScanAndStopHandTheFocusOver() {
        QVERIFY(tcpBus());
        bus->addDemoModules();
        const struct {
            uint8_t address, code;
            const char* window;
        } panels[] = {{1, 10, "frmQIM_K520"}, {3, 20, "frmQIM_M640"}, {4, 30, "frmQIM_P750"}};
        for (const auto& p : panels) {
            paneltest::SelectDevice(p.address, p.code);
            QVERIFY(OpenPanelFor(p.code));
            panel = window(QLatin1String(p.window));
            QVERIFY(panel);
            QVERIFY(activate(panel));
            w(QStringLiteral("TextScanTimer"))->setFocus();
            QTest::keyClick(w(QStringLiteral("TextScanTimer")), Qt::Key_Tab);
            QCOMPARE(focusName(), QStringLiteral("CmdScan"));
            press(Qt::Key_Space);
            QTRY_COMPARE(focusName(), QStringLiteral("CmdStop"));
            QTRY_VERIFY(sb(2) != QLatin1String("Poll: 0"));
            press(Qt::Key_Space);
            QVERIFY(waitStopped());
            QTRY_COMPARE(focusName(), QStringLiteral("CmdScan"));
            QVERIFY(closePanel());
        }
    }

    void registerDialogsEnterAndEscape() {
        // The loop dialog stores on Enter (its OK), after its checks, and
        // leaves the image alone on Escape.
        paneltest::SelectDevice(4, 30);
        frmQIM_P750* p = frmQIM_P750::open();
        QVERIFY(activate(p));
        TempOutputRegs.fill(0);
        apptest::click(p, "Cmd_ControlLoop2");
        QWidget* d = window(QStringLiteral("frmQIM_P750_ControlLoop"));
        QVERIFY(d && activate(d));
        QCOMPARE(focusName(), QStringLiteral("Text_SetPoint"));
        apptest::type(d, "Text_SetPoint", QStringLiteral("1024"));
        press(Qt::Key_Return);
        QCOMPARE(apptest::messages(), QStringList{"Set Point must be a number from 0 to 1023"});
        apptest::acknowledgeAll();
        QVERIFY(activate(d));
        apptest::type(d, "Text_SetPoint", QStringLiteral("250"));
        press(Qt::Key_Return);
        QTRY_VERIFY(!window(QStringLiteral("frmQIM_P750_ControlLoop")));
        QCOMPARE(TempOutputRegs[LoopBase(2)], 250);

        QVERIFY(activate(p));
        apptest::click(p, "Cmd_ControlLoop2");
        d = window(QStringLiteral("frmQIM_P750_ControlLoop"));
        QVERIFY(d && activate(d));
        apptest::type(d, "Text_SetPoint", QStringLiteral("300"));
        press(Qt::Key_Escape);
        QTRY_VERIFY(!window(QStringLiteral("frmQIM_P750_ControlLoop")));
        QCOMPARE(TempOutputRegs[LoopBase(2)], 250);
        p->close();

        // The about box closes on Enter.
        QVERIFY(activate(main));
        main->openAbout();
        QTRY_VERIFY(main->about() && main->about()->isActiveWindow());
        QCOMPARE(focusName(), QStringLiteral("cmdOK"));
        press(Qt::Key_Return);
        QTRY_VERIFY(!main->about());
    }
};

QIM_TEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"

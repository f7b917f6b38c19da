// Start-up, the main window, its menus and windows, the about box.
#include "AboutBox.h"
#include "AppTest.h"
#include "CommSetupDialog.h"
#include "DeviceTable.h"
#include "Link.h"
#include "MainWindow.h"
#include "Panels.h"
#include "PortNames.h"
#include "Requests.h"
#include "ScanBusDialog.h"
#include "SplashWindow.h"
#include "Startup.h"
#include "StatusPanels.h"
#include "TrafficWindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>

using namespace qim;
using namespace qimtest;
using namespace apptest;

namespace {
QString padded(const QString& s, int n) {
    return s + QString(n - s.size(), QLatin1Char(' '));
}
int openWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += w->isVisible() ? 1 : 0;
    return n;
}
void trigger(const QObject* main, const char* action) {
    child<QAction>(main, action)->trigger();
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    QPointer<MainWindow> main;

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }
    void init() {
        resetMessages();
        Link::instance().reset();
    }
    void cleanup() {
        resetMessages();
        if (main)
            delete main.data();
        Link::instance().reset();
    }

    void startupShowsTheSplashForFiveSeconds() {
        Startup startup; // the program's own duration, once
        startup.start();
        QPointer<SplashWindow> splash = startup.splash();
        QVERIFY(splash && splash->isVisible());
        QCOMPARE(child<QLabel>(splash, "Label1")->text(), QStringLiteral("QIMTool"));
        QCOMPARE(child<QLabel>(splash, "Label2")->text(), QStringLiteral("Version V1.10"));
        QCOMPARE(child<QTimer>(splash, "TimerSplash")->interval(), 5000);
        QTest::qWait(2500);
        QVERIFY(!startup.mainWindow());
        QVERIFY(!SplashDone);
        QTRY_VERIFY_WITH_TIMEOUT(startup.mainWindow() && startup.mainWindow()->isVisible(), 10000);
        main = startup.mainWindow();
        QVERIFY(SplashDone);
        QTRY_VERIFY(!splash); // unloaded once the main window is up
    }

    void splashCannotBeClosedBeforeItsTick() {
        Startup startup(200);
        startup.start();
        QPointer<SplashWindow> splash = startup.splash();
        splash->close();
        QVERIFY(splash && splash->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(startup.mainWindow(), 5000);
        main = startup.mainWindow();
        QTRY_VERIFY(!splash);
    }

    // Right after start, the link's first message (a pinned port whose
    // adapter is gone) is shown: the presenter comes up with the program,
    // not with the first window that has something to say.
    void theFirstLinkMessageAfterStartIsShown() {
        delete &MessagePresenter::instance(); // as in a fresh program
        QVERIFY(PortNames::Publish(6, QStringLiteral("/dev/qimtool-unplugged-adapter")));
        Startup startup(100);
        startup.start();
        QTRY_VERIFY_WITH_TIMEOUT(startup.mainWindow(), 5000);
        main = startup.mainWindow();
        trigger(main, "mnuComm");
        CommSetupDialog* d = main->commSetup();
        child<QComboBox>(d, "ComboPortNumber")->setCurrentIndex(5);
        click(d, "CmdOk");
        QTRY_VERIFY(MessagePresenter::instance().current());
        QCOMPARE(MessagePresenter::instance().current()->text(), PortUnavailableMessage());
        QCOMPARE(messages(), QStringList{PortUnavailableMessage()});
        QCOMPARE(main->statusPanels()->text(1), QStringLiteral("Disconnected"));
        PortNames::Unpublish(6);
    }

    void loadAssignsDefaults() {
        General::CommMode = 1;
        General::ComPortIndex = 7;
        General::IPAddress = QStringLiteral("127.0.0.5");
        General::TCPConnectTimeout = 1234;
        main = new MainWindow;
        main->show();
        QCOMPARE(General::CommMode, 0);
        QCOMPARE(General::BaudIndex, 1);
        QCOMPARE(General::ComPortIndex, 1);
        QCOMPARE(General::SerialTimeout, 1000);
        QCOMPARE(General::IPAddress, QStringLiteral("192.168.1.0"));
        QCOMPARE(General::ServerPort, 502);
        QCOMPARE(General::TCPTimeout, 1000);
        QCOMPARE(General::TCPConnectTimeout, 3000);
        QCOMPARE(General::IPAddressMode, 0);
        General::IPAddress = QStringLiteral("127.0.0.1"); // never the default host

        QCOMPARE(main->windowTitle(), QStringLiteral("QIMTool V1.10"));
        auto* sb = child<StatusPanels>(main, "SBMain");
        QCOMPARE(sb->text(1), QStringLiteral("Disconnected"));
        QCOMPARE(sb->text(2), QString());
        QCOMPARE(sb->text(3), QString());
        QVERIFY(!child<QPushButton>(main, "CmdControl")->isEnabled());
        QCOMPARE(child<QPushButton>(main, "CmdControl")->text(),
                 QStringLiteral("Control And Monitor"));
        QCOMPARE(child<QListWidget>(main, "DeviceList")->count(), 0);

        auto* fg = child<QTableWidget>(main, "FG");
        QCOMPARE(fg->rowCount(), 13);
        QCOMPARE(fg->columnCount(), 2);
        const QStringList labels = {"Device Name",     "Device Address",    "Device Code",
                                    "Vendor",          "Firmware Revision", "Hardware Revision",
                                    "Connection Mode", "Baud Rate",         "Device Type",
                                    "Input Register",  "Output Register",   "Discrete Input",
                                    "Discrete Output"};
        for (int row = 0; row < 13; ++row) {
            QCOMPARE(fg->item(row, 0)->text(), labels[row]);
            QCOMPARE(fg->item(row, 1)->text(), QString());
        }

        // Connection, Scan and Traffic straight on the menu bar; About under Help.
        const QList<QAction*> bar = main->menuBar()->actions();
        QCOMPARE(bar.size(), 4);
        QCOMPARE(bar[0]->objectName(), QStringLiteral("mnuComm"));
        QCOMPARE(bar[0]->text(), QStringLiteral("Connection"));
        QCOMPARE(bar[1]->objectName(), QStringLiteral("mnuScan"));
        QCOMPARE(bar[1]->text(), QStringLiteral("Scan"));
        QCOMPARE(bar[2]->objectName(), QStringLiteral("mnuTraffic"));
        QCOMPARE(bar[2]->text(), QStringLiteral("Traffic"));
        QMenu* help = bar[3]->menu();
        QVERIFY(help);
        QCOMPARE(help->objectName(), QStringLiteral("mnuHelp"));
        QCOMPARE(help->title(), QStringLiteral("Help"));
        QCOMPARE(help->actions().value(0)->objectName(), QStringLiteral("mnuAbout"));
    }

    void windowsOpenOncePerKind() {
        main = new MainWindow;
        main->show();
        General::IPAddress = QStringLiteral("127.0.0.1");

        trigger(main, "mnuAbout");
        QPointer<AboutBox> about = main->about();
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->windowTitle(), QStringLiteral("About"));
        QCOMPARE(child<QLabel>(about, "Label1")->text(), QStringLiteral("QIMTool"));
        QCOMPARE(child<QLabel>(about, "Label2")->text(),
                 QStringLiteral("Version ") + main->windowTitle().section(' ', 1));
        QVERIFY(child<QLabel>(about, "Label3")->text().contains("Modbus master"));
        trigger(main, "mnuAbout");
        QCOMPARE(main->about(), about.data());
        click(about, "cmdOK");
        QTRY_VERIFY(!about);
        trigger(main, "mnuAbout");
        QVERIFY(main->about() && main->about()->isVisible());

        // Opening an open dialog brings it forward without loading it again.
        trigger(main, "mnuScan");
        QPointer<ScanBusDialog> scan = main->scanBus();
        type(scan, "TextStartAddress", "9");
        trigger(main, "mnuScan");
        QCOMPARE(main->scanBus(), scan.data());
        QCOMPARE(child<QLineEdit>(scan, "TextStartAddress")->text(), QStringLiteral("9"));
        trigger(main, "mnuComm");
        QPointer<CommSetupDialog> comm = main->commSetup();
        type(comm, "TextServerPort", "1502");
        trigger(main, "mnuComm");
        QCOMPARE(main->commSetup(), comm.data());
        QCOMPARE(child<QLineEdit>(comm, "TextServerPort")->text(), QStringLiteral("1502"));
        // Closing discards the window; the next one loads afresh.
        click(scan, "CmdCancel");
        QTRY_VERIFY(!scan);
        trigger(main, "mnuScan");
        QCOMPARE(child<QLineEdit>(main->scanBus(), "TextStartAddress")->text(),
                 QStringLiteral("1"));
    }

    void selectingAnEntryShowsItInTheGrid() {
        main = new MainWindow;
        main->show();
        ClearDeviceTable();
        const uint8_t codes[] = {10, 20, 40};
        const uint8_t addresses[] = {3, 7, 200};
        for (int i = 0; i < 3; ++i) {
            QVERIFY(AddFoundDevice(
                i, {Status::Ok,
                    rtuIdReply(addresses[i], identification(codes[i], 1, 10, 'B', 1, 7)), false}));
            main->appendDevice(DeviceListLine(DeviceTable[static_cast<size_t>(i)]));
        }
        auto* list = child<QListWidget>(main, "DeviceList");
        auto* fg = child<QTableWidget>(main, "FG");
        auto* control = child<QPushButton>(main, "CmdControl");
        QCOMPARE(list->item(0)->text(), padded("QIM-K520", 32) + QString(10, ' ') + "3");
        // An unlisted code shows a blank name, not stray characters.
        QCOMPARE(list->item(2)->text(), QString(42, ' ') + "200");

        list->setCurrentRow(2);
        QCOMPARE(SelectedAddress, 2);
        QVERIFY(control->isEnabled());
        const QStringList shown = {QString(32, ' '),
                                   "200",
                                   "40",
                                   padded("Velmora Labs", 32),
                                   padded("1.10", 32),
                                   padded("B", 32),
                                   padded("TCP/IP", 32),
                                   QString(32, ' '),
                                   QString(64, ' '),
                                   "8",
                                   "8",
                                   "8",
                                   "8"};
        for (int row = 0; row < 13; ++row)
            QCOMPARE(fg->item(row, 1)->text(), shown[row]);
        QVERIFY(fg->item(0, 1)->textAlignment() & Qt::AlignLeft);

        // Control And Monitor on a code without a panel does nothing.
        const int windows = openWindows();
        QVERIFY(!OpenPanelFor(40));
        click(main, "CmdControl");
        QCOMPARE(openWindows(), windows);
        QVERIFY(messages().isEmpty());

        // The arrow keys move the selection like a click.
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(SelectedAddress, 1);
        QCOMPARE(fg->item(2, 1)->text(), QStringLiteral("20"));
        QCOMPARE(fg->item(0, 1)->text(), padded("QIM-M640", 32));

        // A new scan empties the list; the grid and the button stay as they were.
        main->clearDeviceList();
        SelectedAddress = 0;
        QCOMPARE(list->count(), 0);
        QCOMPARE(fg->item(2, 1)->text(), QStringLiteral("20"));
        QVERIFY(control->isEnabled());
    }

    void closingEndsTheLinkAndEveryWindow() {
        main = new MainWindow;
        main->show();
        General::IPAddress = QStringLiteral("127.0.0.1");
        TcpSlave server([](const QByteArray&) { return QList<Chunk>{}; });
        General::ServerPort = server.port();
        General::CommMode = 1;
        const Outcome o = Await([](Requester r) { TCPConnect(r); });
        QVERIFY(o.reply && o.reply->ok());
        QVERIFY(Link::instance().socketConnected());

        trigger(main, "mnuAbout");
        trigger(main, "mnuScan");
        QPointer<AboutBox> about = main->about();
        QPointer<ScanBusDialog> scan = main->scanBus();
        trigger(main, "mnuTraffic");
        QPointer<QWidget> other = OpenTrafficWindow(); // the open one, brought forward
        QCOMPARE(other->objectName(), QStringLiteral("frmTraffic"));
        QVERIFY(other->isVisible());
        ShowMessage(QStringLiteral("still waiting for OK"));
        QVERIFY(MessagePresenter::instance().current());

        QSignalSpy ending(main.data(), &MainWindow::programEnding);
        main->close();
        QCOMPARE(ending.size(), 1);
        QVERIFY(!Link::instance().socketConnected());
        QVERIFY(!MessagePresenter::instance().current());
        QTRY_VERIFY(!main && !about && !scan && !other);
    }

    void closingClosesAnOpenSerialPort() {
        main = new MainWindow;
        main->show();
        PtySlave slave([](const QByteArray& req) {
            return QList<Chunk>{{WithCrc(req.left(2) + QByteArray::fromHex("020000"))}};
        });
        QVERIFY(slave.publishAs(2));
        General::SerialTimeout = 500;
        const Outcome o = Await([](Requester r) { ReadHoldingRegisters(1, 0, 1, r); });
        QVERIFY(o.reply && o.reply->ok());
        QVERIFY(Link::instance().serialPortOpen());
        main->close();
        QVERIFY(!Link::instance().serialPortOpen());
        PortNames::Unpublish(2);
    }
};

QIM_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

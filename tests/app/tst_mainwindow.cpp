// The main window, its scan, a panel and the traffic window against the
// simulated bus, end to end as a user works them.
#include "Driver.h"
#include "Errors.h"
#include "Pictures.h"
#include "ScanDialog.h"
#include "SimBus.h"
#include "SplashWindow.h"
#include "Startup.h"
#include "TrafficWindow.h"

#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>

using namespace qim;
using namespace qimtest;
using namespace apptest;

namespace {
using End = ScanDialog::End;
QString padded(const char* s, int n) {
    return QString::fromLatin1(s).leftJustified(n, QLatin1Char(' '));
}
} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
    std::unique_ptr<App> app;
    std::unique_ptr<qimsim::Bus> bus;
    Window d{nullptr};
    std::unique_ptr<QSignalSpy> ended;

    void open() {
        app->window().click(QStringLiteral("mnuScan"));
        d = Window(QStringLiteral("frmScanBus"));
        ended = std::make_unique<QSignalSpy>(qobject_cast<ScanDialog*>(d.widget()),
                                             &ScanDialog::scanEnded);
    }
    void start(const QString& from, const QString& to, const QString& interval) {
        d.type("TextStartAddress", from);
        d.type("TextEndAddress", to);
        d.type("TextTime", interval);
        d.click("CmdStart");
    }
    std::optional<End> end() {
        if (ended->isEmpty() && !ended->wait(30000))
            return std::nullopt;
        return ended->takeFirst().at(0).value<End>();
    }
    QStringList list() const {
        QStringList lines;
        for (auto* item :
             app->window().get<QListWidget>("DeviceList")->findItems("*", Qt::MatchWildcard))
            lines << item->text();
        return lines;
    }
    // The grid's values, for a row of the device list when one is given.
    QStringList select(int row = -1) {
        if (row >= 0)
            app->window().get<QListWidget>("DeviceList")->setCurrentRow(row);
        auto* grid = app->window().get<QTableWidget>("FG");
        QStringList out;
        for (int r = 0; r < grid->rowCount(); ++r)
            out << grid->item(r, 1)->text();
        return out;
    }
    // Module 3 misbehaves at function, times times (-1: until told otherwise);
    // value is the delay or the exception code.
    void misbehave(int function, qimsim::Fault::Kind kind, int times = -1, int value = 0) {
        qimsim::Fault f;
        f.kind = kind;
        f.times = times;
        f.delayMs = value;
        f.exceptionCode = uint8_t(value);
        bus->module(3)->setFault(function, f);
    }
    // One read of module 3's register 0, the module misbehaving as told.
    void transact(qimsim::Fault::Kind fault = qimsim::Fault::None, uint8_t code = 0) {
        misbehave(3, fault, -1, code);
        ask(app->link, 3, 3);
    }

private Q_SLOTS:
    void initTestCase() { quietOffscreenPlatform(); }
    void init() {
        app = std::make_unique<App>();
        bus = std::make_unique<qimsim::Bus>();
        QVERIFY(bus->openPty(2));
        QVERIFY(bus->listenTcp(QHostAddress::LocalHost, 0));
        bus->addModule(3, 10)->identity().baudCode = 0; // each speed the modules report
        bus->addModule(4, 40)->identity().baudCode = 1; // a code without a panel
        bus->addModule(5, 30)->identity().baudCode = 3;
        bus->addModule(247, 11);
    }
    void cleanup() {
        app.reset();
        bus.reset();
    }

    // Every address of the range is asked once, in order; the modules that
    // answer fill the list in that order and the grid shows the selected one.
    void scanShowsEachModule_data() {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("serial") << false;
        QTest::newRow("tcp") << true;
    }
    void scanShowsEachModule() {
        QFETCH(bool, tcp);
        aim(app->link, tcp, bus->tcpPort());
        open();
        start("2", "5", "0");
        QCOMPARE(end(), End::Natural);
        QCOMPARE(d.text("lblSlaveAddress"), QStringLiteral("5"));
        QCOMPARE(d.text("lblIPAddress"), tcp ? QStringLiteral("127.0.0.1") : QString());
        QCOMPARE(d.text("lblDeviceCount"), QStringLiteral("3"));
        QCOMPARE(d.text("lblErrorCount"), QStringLiteral("1"));
        QVERIFY(d.enabled("CmdStart") && d.enabled("CmdCancel") && !d.enabled("CmdStop"));
        QCOMPARE(list(), (QStringList{padded("QIM-K520", 42) + "3", QString(42, ' ') + "4",
                                      padded("QIM-P750", 42) + "5"}));
        QCOMPARE(
            select(0),
            (QStringList{padded("QIM-K520", 32), "3", "10", padded("Velmora Labs", 32),
                         padded("1.4", 32), padded("B", 32), padded(tcp ? "TCP/IP" : "RS422", 32),
                         padded("115200", 32), padded("8 Discrete Inputs & 8 Discrete Outputs", 64),
                         "0", "1", "8", "8"}));
        QCOMPARE(select(2).value(7), padded("9600", 32));
        // An unlisted code: its grid shows blanks (and no panel opens, below).
        const QStringList unknown = select(1);
        QVERIFY(unknown[0] == QString(32, ' ') && unknown[2] == "40" &&
                unknown[7] == padded("57600", 32));

        // A new scan empties the list and starts over; the grid stays.
        start("3", "3", "0");
        QCOMPARE(end(), End::Natural);
        QVERIFY(list().size() == 1 && app->main->selected() == 0);
        QCOMPARE(app->main->devices().at(1).code, 0);
        QCOMPARE(select().value(1), QStringLiteral("4"));
        QVERIFY(app->messages().isEmpty());
    }

    void refusedEntriesSendNothing_data() {
        QTest::addColumn<QStringList>("entries"); // start, end, time
        QTest::addColumn<QString>("message");
        const auto row = [](const char* start, const char* end, const char* time, const char* m) {
            QTest::addRow("%s %s %s", start, end, time) << QStringList{start, end, time} << m;
        };
        row("", "247", "0", "Start Address must be a number from 1 to 247");
        row("1", "248", "x", "End Address must be a number from 1 to 247");
        row("1", "247", "10001", "Time between polls must be a number from 0 to 10000");
        row("9.6", "9.4", "0",
            "End address must be equal or higher then start address"); // rounded first
    }
    void refusedEntriesSendNothing() {
        QFETCH(QStringList, entries);
        QFETCH(QString, message);
        open();
        start("247", "247", "0"); // the last address, into the list
        QCOMPARE(end(), End::Natural);
        start(entries[0], entries[1], entries[2]);
        QCOMPARE(app->messages(), QStringList{message});
        QVERIFY(d.enabled("CmdStart"));
        QTest::qWait(100);
        QCOMPARE(bus->requests().size(), 1);
        QCOMPARE(list(), QStringList{padded("QIM-K530", 42) + "247"});
    }

    // The other ends. Stop, after the request under way, which is counted:
    // Enter in a box starts, the focus lands on Stop where Enter stops, then
    // on Start. Closed by its title bar while a request is on the wire: the
    // reply finds nobody and nothing more goes out. The port gone: at the
    // first request, after the link's own message.
    void stopClosingOrNoLinkEndsTheScan() {
        open();
        misbehave(17, qimsim::Fault::Delay, -1, 500);
        app->settings([](LinkSettings& s) { s.serialTimeoutMs = 2000; });
        QVERIFY(QTest::qWaitForWindowActive(d.widget()));
        d.type("TextStartAddress", "3");
        d.type("TextTime", "0");
        d.focus("TextTime");
        d.press(Qt::Key_Return);
        QVERIFY(!d.enabled("CmdStart") && !d.enabled("CmdCancel") && !d.enabled("TextTime"));
        QTRY_COMPARE(Window::focused(), QStringLiteral("CmdStop"));
        QTRY_COMPARE(bus->requests().size(), 1);
        d.press(Qt::Key_Return);
        QCOMPARE(end(), End::Stopped);
        QCOMPARE(d.text("lblDeviceCount"), QStringLiteral("1"));
        QTRY_COMPARE(Window::focused(), QStringLiteral("CmdStart"));

        d.click("CmdStart");
        QTRY_COMPARE(bus->requests().size(), 2);
        d.close();
        QTRY_VERIFY(!d.widget());
        QTest::qWait(700);
        QCOMPARE(bus->requests().size(), 2);
        QCOMPARE(app->link.pending(), 0);
        QVERIFY(list().isEmpty());

        bus->closePty(); // the adapter pulled
        open();
        start("1", "5", "0");
        QCOMPARE(end(), End::ConnectionError);
        QCOMPARE(app->messages(),
                 (QStringList{Errors::portUnavailableMessage(), "Connection Error"}));
        QCOMPARE(bus->requests().size(), 2);
    }

    // A panel counts each failed poll of a misbehaving module and shows the
    // module again as soon as it answers.
    void panelCountsAFaultyModuleAndRecovers_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("fault");
        QTest::newRow("rtu silence") << false << int(qimsim::Fault::Silence);
        QTest::newRow("rtu wrong crc") << false << int(qimsim::Fault::WrongCrc);
        QTest::newRow("tcp exception") << true << int(qimsim::Fault::Exception);
        QTest::newRow("tcp closed mid-reply") << true << int(qimsim::Fault::CloseMidReply);
    }
    void panelCountsAFaultyModuleAndRecovers() {
        QFETCH(bool, tcp);
        QFETCH(int, fault);
        qimsim::Module* module = bus->module(3);
        module->forceRead(3, 0, 0x01); // input 1 lit
        aim(app->link, tcp, bus->tcpPort());
        QVERIFY(app->openPanel(3, 10));
        Window p(QStringLiteral("frmQIM_K520"));
        const auto lit = [&p](int n) {
            return p.get<StatePicture>(QStringLiteral("Image_Input%1").arg(n))->state() == 1;
        };
        p.type("TextScanTimer", QStringLiteral("10"));
        p.click("CmdScan");
        QTRY_VERIFY(lit(1));
        QTRY_COMPARE(p.status(1), QStringLiteral("Err: 0"));

        // Three reads go wrong; then the module answers with input 8 lit.
        misbehave(3, qimsim::Fault::Kind(fault), 3, 4);
        module->forceRead(3, 0, 0x80);
        QTRY_VERIFY_WITH_TIMEOUT(lit(8), 10000);
        QVERIFY(!lit(1));
        QTRY_COMPARE(p.status(1), QStringLiteral("Err: 3")); // counts are drawn once a frame
        const int polls = p.status(2).mid(6).toInt();
        QTRY_VERIFY(p.status(2).mid(6).toInt() >= polls + 3);
        QCOMPARE(p.status(1), QStringLiteral("Err: 3"));
        p.click("CmdStop");
        QTRY_VERIFY(p.enabled("CmdScan"));
        QVERIFY(app->messages().isEmpty());
    }

    // The arrows select, Enter or a double click opens the selected module's
    // panel, which asks that module; its Scan and Stop hand the focus over.
    void theDeviceListByKeyboardAndMouse() {
        open();
        start("3", "4", "0");
        QCOMPARE(end(), End::Natural);
        d.close();
        const Window main = app->window();
        app->main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(app->main));
        main.focus("DeviceList"); // the first entry current, none selected
        const qsizetype windows = QApplication::topLevelWidgets().size();
        main.press(Qt::Key_Return); // nothing selected: nothing opens
        main.press(Qt::Key_Down);
        QCOMPARE(app->main->selected(), 1);
        main.press(Qt::Key_Return); // no panel for the module
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        main.press(Qt::Key_Up);
        main.press(Qt::Key_Enter);
        const Window panel(QStringLiteral("frmQIM_K520"));
        QVERIFY(QTest::qWaitForWindowActive(panel.widget()));
        panel.type("TextScanTimer", "50");
        panel.focus("CmdScan");
        bus->clearRequests();
        panel.press(Qt::Key_Space);
        QTRY_COMPARE(Window::focused(), QStringLiteral("CmdStop"));
        QTRY_VERIFY(!bus->requests().isEmpty());
        QCOMPARE(bus->requests().first().address, 3); // the module selected
        panel.press(Qt::Key_Space);
        QTRY_COMPARE(Window::focused(), QStringLiteral("CmdScan"));
        panel.close();
        QTRY_VERIFY(!panel.widget());

        auto* list = main.get<QListWidget>("DeviceList");
        Q_EMIT list->itemDoubleClicked(list->item(0));
        QTRY_VERIFY(Window(QStringLiteral("frmQIM_K520")).open());
    }

    // Each menu opens its window once, a panel once per kind. Closing the
    // main window ends the program: the link closes, every other window
    // goes, and no message waits for an OK.
    void closingEndsTheLinkAndEveryWindow() {
        QVERIFY(ask(app->link, 3, 3).ok());
        aim(app->link, true, bus->tcpPort());
        QVERIFY(await([this](Requester r) { app->link.testConnection(r); }).reply.ok());
        QVERIFY(app->link.serialPortOpen() && app->link.tcpConnected());
        for (int twice = 0; twice < 2; ++twice) {
            for (const char* menu : {"mnuAbout", "mnuScan", "mnuComm", "mnuTraffic"})
                app->window().click(QString::fromLatin1(menu));
            for (const uint8_t code : {10, 11, 20, 30}) // both discrete models share a panel
                QVERIFY(app->openPanel(0, code));
        }
        QList<QPointer<QWidget>> others;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w != app->main)
                others << w;
        QCOMPARE(others.size(), 7);
        app->presenter.show(QStringLiteral("still waiting for OK"));

        QSignalSpy ending(app->main.data(), &MainWindow::programEnding);
        app->main->close();
        QCOMPARE(ending.size(), 1);
        QVERIFY(!app->link.serialPortOpen() && !app->link.tcpConnected());
        QVERIFY(qimtest::takeMessages().isEmpty()); // no box waits for an OK
        QTRY_VERIFY(!app->main);
        for (const QPointer<QWidget>& w : others)
            QTRY_VERIFY(!w);
    }

    // The start: the splash's tick brings the main window, and the splash goes.
    void startUpShowsTheMainWindowAndEndsTheSplash() {
        const auto shown = [](const char* name) {
            int n = 0;
            for (QWidget* w : QApplication::topLevelWidgets())
                n += w->isVisible() && w->objectName() == QLatin1String(name);
            return n;
        };
        const int mains = shown("frmMain");
        Startup start(app->link, app->presenter, 0);
        start.start();
        QTRY_COMPARE(shown("frmMain"), mains + 1);
        QTRY_COMPARE(shown("frmSplash"), 0);
    }

    // The rows keep the newest 10,000 transactions, also of one long burst.
    void trafficKeepsTheNewestRows() {
        TrafficModel m;
        QList<TransactionRecord> burst(TrafficModel::MaxRows + 2);
        for (qsizetype i = 0; i < burst.size(); ++i)
            burst[i].durationUs = i;
        m.append(burst.mid(0, 3));
        m.append(burst);
        QCOMPARE(m.rowCount(), TrafficModel::MaxRows);
        QCOMPARE(m.record(0).durationUs, 2);
        QCOMPARE(m.record(TrafficModel::MaxRows - 1).durationUs, TrafficModel::MaxRows + 1);
    }

    // The traffic window: one row per transaction with its outcome, from
    // before it opened on; pause; filters, copy and CSV of every row.
    void trafficRowsTellEachOutcome() {
        bus->module(3)->forceRead(3, 0, 7);
        transact(); // before the window opens: shown all the same
        app->window().click(QStringLiteral("mnuTraffic"));
        const Window window(QStringLiteral("frmTraffic"));
        auto* w = qobject_cast<TrafficWindow*>(window.widget());
        TrafficModel* m = w->model();
        const auto cell = [m](int row, int column) { return m->cellText(m->record(row), column); };
        transact(qimsim::Fault::Exception, 2);
        transact(qimsim::Fault::Silence);
        transact(qimsim::Fault::WrongCrc);
        transact(qimsim::Fault::ExtraByte);
        QTRY_COMPARE(m->rowCount(), 5);
        const char* outcomes[] = {"OK", "2 Illegal Data Address", "timeout", "CRC error",
                                  "wrong length"};
        for (int r = 0; r < 5; ++r)
            QCOMPARE(cell(r, TrafficModel::Outcome), QString::fromLatin1(outcomes[r]));
        QCOMPARE(cell(0, TrafficModel::Request), QStringLiteral("03 03 00 00 00 01 85 E8"));
        QCOMPARE(cell(0, TrafficModel::Reply), QStringLiteral("03 03 02 00 07 80 46"));
        QVERIFY(!m->data(m->index(0, 0), Qt::BackgroundRole).isValid());
        QVERIFY(m->data(m->index(2, 0), Qt::BackgroundRole).isValid());

        // Paused, no row comes; resumed, the next one does (module 9: a timeout).
        window.click("CmdPause");
        transact();
        QTest::qWait(200);
        QCOMPARE(m->rowCount(), 5);
        window.click("CmdPause");
        ask(app->link, 9, 3);
        QTRY_COMPARE(m->rowCount(), 6);

        window.pick("ComboSlaveFilter", 3);
        QCOMPARE(w->filter()->rowCount(), 5);
        window.pick("ComboOutcomeFilter", 1);
        QCOMPARE(w->filter()->rowCount(), 4);
        window.pick("ComboSlaveFilter", 0);
        QCOMPARE(w->filter()->rowCount(), 5);
        window.get<QTableView>("tblTraffic")->selectRow(0);
        const QStringList cells = w->selectedRowsText().split(QLatin1Char('\t'));
        QVERIFY(cells.value(2) == "3" && cells.value(6) == "2 Illegal Data Address");

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("traffic.csv"));
        QVERIFY(w->saveCsv(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 8); // header, every row (unfiltered), final newline
        QCOMPARE(lines[0], "Time,Link,Slave,Function,Request,Reply,Outcome,Duration (ms)");
        QVERIFY(lines[2].contains(
            ",RTU,3,3,03 03 00 00 00 01 85 E8,03 83 02 61 31,2 Illegal Data Address,"));
    }
};

QIM_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

// The main window and its scan against the simulated bus, end to end as a
// user works them; one window per kind, and the end of the program.
#include "Driver.h"
#include "Errors.h"
#include "ScanDialog.h"
#include "SimBus.h"

#include <QListWidget>
#include <QSignalSpy>
#include <QTableWidget>

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

    template <class Edit> void open(Edit edit) {
        app->settings(edit);
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
    // The grid's values for a row of the device list.
    QStringList select(int row) {
        app->window().get<QListWidget>("DeviceList")->setCurrentRow(row);
        auto* grid = app->window().get<QTableWidget>("FG");
        QStringList out;
        for (int r = 0; r < grid->rowCount(); ++r)
            out << grid->item(r, 1)->text();
        return out;
    }
    void slow(int ms) {
        qimsim::Fault f;
        f.kind = qimsim::Fault::Delay;
        f.delayMs = ms;
        bus->module(3)->setFault(17, f);
        app->settings([](LinkSettings& s) { s.serialTimeoutMs = 2000; });
    }
    static void serial(LinkSettings& s) { s.serialTimeoutMs = 40; }

private Q_SLOTS:
    void initTestCase() { QuietOffscreenPlatform(); }
    void init() {
        app = std::make_unique<App>();
        bus = std::make_unique<qimsim::Bus>();
        QVERIFY(bus->openPty(2));
        QVERIFY(bus->listenTcp(QHostAddress::LocalHost, 0));
        bus->addModule(3, 10);
        bus->addModule(5, 40); // a code without a panel
        bus->addModule(20, 30);
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
        app->window().click(QStringLiteral("mnuComm"));
        const Window c(QStringLiteral("frmCommSetup"));
        c.pick("ComboCommMode", tcp ? 1 : 0);
        c.type("TextServerPort", QString::number(bus->tcpPort()));
        c.click("CmdOk");
        QTRY_VERIFY(!c.open());
        QCOMPARE(app->window().status(2),
                 tcp ? QStringLiteral("127.0.0.1") : QStringLiteral("COM2"));

        open([](LinkSettings& s) { s.serialTimeoutMs = s.tcpTimeoutMs = 40; });
        start("1", "20", "0");
        QCOMPARE(end(), End::Natural);
        const QList<qimsim::RequestRecord> asked = bus->requests();
        QCOMPARE(asked.size(), 20);
        for (int i = 0; i < 20; ++i)
            QVERIFY(asked[i].address == i + 1 && asked[i].function == 17 && asked[i].tcp == tcp);
        QVERIFY(!tcp || asked.last().transactionId == 0);
        QCOMPARE(d.text("lblSlaveAddress"), QStringLiteral("20"));
        QCOMPARE(d.text("lblIPAddress"), tcp ? QStringLiteral("127.0.0.1") : QString());
        QCOMPARE(d.text("lblDeviceCount"), QStringLiteral("3"));
        QCOMPARE(d.text("lblErrorCount"), QStringLiteral("17"));
        QVERIFY(d.enabled("CmdStart") && d.enabled("CmdCancel") && !d.enabled("CmdStop"));
        QCOMPARE(list(), (QStringList{padded("QIM-K520", 42) + "3", QString(42, ' ') + "5",
                                      padded("QIM-P750", 42) + "20"}));
        QCOMPARE(
            select(0),
            (QStringList{padded("QIM-K520", 32), "3", "10", padded("Velmora Labs", 32),
                         padded("1.4", 32), padded("B", 32), padded(tcp ? "TCP/IP" : "RS422", 32),
                         padded("19200", 32), padded("8 Discrete Inputs & 8 Discrete Outputs", 64),
                         "0", "1", "8", "8"}));
        // No panel for an unlisted code: its grid shows blanks, nothing opens.
        const QStringList unknown = select(1);
        QVERIFY(unknown[0] == QString(32, ' ') && unknown[2] == "40");
        const qsizetype windows = QApplication::topLevelWidgets().size();
        app->window().click(QStringLiteral("CmdControl"));
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);

        // A new scan empties the list and starts over; the grid stays.
        start("3", "3", "0");
        QCOMPARE(end(), End::Natural);
        QVERIFY(list().size() == 1 && app->main->selected() == 0);
        QCOMPARE(app->main->devices().at(1).code, 0);
        QCOMPARE(app->window().get<QTableWidget>("FG")->item(1, 1)->text(), QStringLiteral("5"));
        QVERIFY(app->messages().isEmpty());
    }

    void refusedEntriesSendNothing_data() {
        QTest::addColumn<QStringList>("entries"); // start, end, time
        QTest::addColumn<QString>("message");
        const auto row = [](const char* start, const char* end, const char* time, const char* m) {
            QTest::addRow("%s %s %s", start, end, time)
                << QStringList{start, end, time} << QString::fromLatin1(m);
        };
        row("", "247", "0", "Start Address must be a number from 1 to 247");
        row("1", "248", "x", "End Address must be a number from 1 to 247");
        row("1", "0.4", "0", "End Address must be a number from 1 to 247");
        row("1", "247", "10001", "Time between polls must be a number from 0 to 10000");
        row("9.6", "9.4", "0",
            "End address must be equal or higher then start address"); // rounded first
    }
    void refusedEntriesSendNothing() {
        QFETCH(QStringList, entries);
        QFETCH(QString, message);
        open(serial);
        start("247", "247", "0"); // the last address, into the list
        QCOMPARE(end(), End::Natural);
        start(entries[0], entries[1], entries[2]);
        QCOMPARE(app->messages(), QStringList{message});
        QVERIFY(d.enabled("CmdStart"));
        QTest::qWait(100);
        QCOMPARE(bus->requests().size(), 1);
        QCOMPARE(list(), QStringList{padded("QIM-K530", 42) + "247"});
    }

    // Replies that claim success but are too short for an identification
    // block are counted as errors and never decoded.
    void shortRepliesAreErrors() {
        qimsim::Fault f;
        f.kind = qimsim::Fault::Garbage;
        for (const bool tcp : {false, true}) {
            f.garbage = tcp ? QByteArray::fromHex("000000000003031100")
                            : WithCrc(QByteArray::fromHex("031100"));
            bus->module(3)->setFault(17, f);
            open([&](LinkSettings& s) {
                s.transport = tcp ? LinkSettings::Transport::Tcp : LinkSettings::Transport::Serial;
                s.port = bus->tcpPort();
                serial(s);
            });
            start("3", "5", "0");
            QCOMPARE(end(), End::Natural);
            QCOMPARE(d.text("lblErrorCount"), QStringLiteral("2"));
            QCOMPARE(d.text("lblDeviceCount"), QStringLiteral("1"));
            QCOMPARE(list(), QStringList{QString(42, ' ') + "5"});
        }
    }

    // Stop ends the scan after the request under way, which is counted; a
    // Stop during the pause still lets that pause's request go out. Enter in
    // a box starts, the focus lands on Stop where Enter stops, then on Start.
    void stopEndsTheScanAfterTheRequestUnderWay() {
        open(serial);
        slow(500);
        QVERIFY(QTest::qWaitForWindowActive(d.widget()));
        d.type("TextStartAddress", "3");
        d.type("TextTime", "0");
        d.focus("TextTime");
        d.press(Qt::Key_Return);
        QVERIFY(!d.enabled("CmdStart") && !d.enabled("CmdCancel") && !d.enabled("TextTime"));
        QTRY_COMPARE(focusName(), QStringLiteral("CmdStop"));
        QTRY_COMPARE(bus->requests().size(), 1);
        d.press(Qt::Key_Return);
        QCOMPARE(end(), End::Stopped);
        QCOMPARE(d.text("lblDeviceCount"), QStringLiteral("1"));
        QTRY_COMPARE(focusName(), QStringLiteral("CmdStart"));

        slow(0);
        start("3", "247", "1000");
        d.click("CmdStop");
        QCOMPARE(end(), End::Stopped);
        QCOMPARE(bus->requests().size(), 2);
        QVERIFY(app->messages().isEmpty());
    }

    // The link goes: the link says why, then the scan ends; what was found stays.
    void aDeadLinkEndsWithConnectionError_data() {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("serial") << false;
        QTest::newRow("tcp") << true;
    }
    void aDeadLinkEndsWithConnectionError() {
        QFETCH(bool, tcp);
        open([&](LinkSettings& s) {
            s.transport = tcp ? LinkSettings::Transport::Tcp : LinkSettings::Transport::Serial;
            s.port = bus->tcpPort();
        });
        start("3", "247", "300");
        QTRY_COMPARE(d.text("lblDeviceCount"), QStringLiteral("1"));
        bus.reset();
        QCOMPARE(end(), End::ConnectionError);
        const QStringList shown = app->messages();
        QCOMPARE(shown.size(), tcp ? 1 : 2); // serial: the port's message first
        QVERIFY(
            shown.last() == "Connection Error" &&
            (tcp || shown[0].contains("Error") || shown[0] == Errors::PortUnavailableMessage()));
        QCOMPARE(list(), QStringList{padded("QIM-K520", 42) + "3"});
        QVERIFY(d.enabled("CmdStart") && !d.enabled("CmdStop"));
    }

    // Closed by its title bar while a request is on the wire, or by Escape
    // during a pause: the reply finds nobody and nothing more goes out.
    void closingMidwaySendsNothingMore() {
        for (const int asked : {1, 0}) {
            open(serial);
            slow(500);
            start("3", "247", asked ? "0" : "300");
            QTRY_COMPARE(bus->requests().size(), asked);
            if (asked)
                d.close();
            else
                QTest::keyClick(d.widget(), Qt::Key_Escape);
            QTRY_VERIFY(!d.widget());
            QTest::qWait(700);
            QCOMPARE(bus->requests().size(), asked);
            QCOMPARE(app->link.pending(), 0);
            QVERIFY(list().isEmpty());
            bus->clearRequests();
        }
    }

    // The arrows select, Enter or a double click opens the selected module's
    // panel, which asks that module; its Scan and Stop hand the focus over.
    void theDeviceListByKeyboardAndMouse() {
        open(serial);
        start("3", "5", "0");
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
        QTRY_COMPARE(focusName(), QStringLiteral("CmdStop"));
        QTRY_VERIFY(!bus->requests().isEmpty());
        QCOMPARE(bus->requests().first().address, 3); // the module selected
        panel.press(Qt::Key_Space);
        QTRY_COMPARE(focusName(), QStringLiteral("CmdScan"));
        panel.close();
        QTRY_VERIFY(!panel.widget());

        auto* list = main.get<QListWidget>("DeviceList");
        emit list->itemDoubleClicked(list->item(0));
        QTRY_VERIFY(Window(QStringLiteral("frmQIM_K520")).open());
    }

    // Each menu opens its window once, a panel once per kind. Closing the
    // main window ends the program: the link closes, every other window
    // goes, and no message waits for an OK.
    void closingEndsTheLinkAndEveryWindow() {
        const auto ok = [this](auto issue) {
            const std::optional<Reply> r =
                Await([&](Requester who) { issue(app->link, who); }).reply;
            return r && r->ok();
        };
        QVERIFY(ok([](Link& l, Requester r) { l.readHoldingRegisters(3, 0, 1, r); }));
        app->settings([this](LinkSettings& s) {
            s.transport = LinkSettings::Transport::Tcp;
            s.port = bus->tcpPort();
        });
        QVERIFY(ok([](Link& l, Requester r) { l.testConnection(r); }));
        QVERIFY(app->link.serialPortOpen() && app->link.tcpConnected());
        DeviceRecord module;
        module.code = 30;
        for (int twice = 0; twice < 2; ++twice) {
            for (const char* menu : {"mnuAbout", "mnuScan", "mnuComm", "mnuTraffic"})
                app->window().click(QString::fromLatin1(menu));
            QVERIFY(app->main->openPanel(module));
        }
        QList<QPointer<QWidget>> others;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w != app->main)
                others << w;
        QCOMPARE(others.size(), 5);
        app->presenter.show(QStringLiteral("still waiting for OK"));

        QSignalSpy ending(app->main.data(), &MainWindow::programEnding);
        app->main->close();
        QCOMPARE(ending.size(), 1);
        QVERIFY(!app->link.serialPortOpen() && !app->link.tcpConnected());
        QVERIFY(!app->presenter.current());
        QTRY_VERIFY(!app->main);
        for (const QPointer<QWidget>& w : others)
            QTRY_VERIFY(!w);
    }
};

QIM_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

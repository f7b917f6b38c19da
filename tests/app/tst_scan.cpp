// The bus scan end to end against the simulated bus: connect through the
// dialog, scan, read the list and the grid, open a module's panel; what the
// scan refuses, Stop (by mouse and keyboard), a dead link, closing midway.
#include "Driver.h"
#include "Errors.h"
#include "Pictures.h"
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

class TestScan : public QObject {
    Q_OBJECT
    std::unique_ptr<App> app;
    std::unique_ptr<qimsim::Bus> bus;
    Window d{nullptr};
    std::unique_ptr<QSignalSpy> ended;

    // Opens the scan dialog, the link as edit leaves it.
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
        if (!ended->wait(30000))
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
    // The grid's values after selecting a row of the device list.
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
        ended.reset();
        app.reset();
        bus.reset();
    }

    // Every address of the range is asked once, in order; the modules that
    // answer fill the list in that order, the grid shows the selected one and
    // Control And Monitor opens its panel, which then asks that module.
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
        QCOMPARE(d.text("TextTime"), tcp ? QStringLiteral("5000") : QStringLiteral("100"));
        start("1", "20", "0");
        QCOMPARE(end(), End::Natural);
        const QList<qimsim::RequestRecord> asked = bus->requests();
        QCOMPARE(asked.size(), 20);
        for (int i = 0; i < 20; ++i)
            QVERIFY(asked[i].address == i + 1 && asked[i].function == 17 && asked[i].tcp == tcp &&
                    asked[i].transactionId == 0);
        QCOMPARE(d.text("lblSlaveAddress"), QStringLiteral("20"));
        QCOMPARE(d.text("lblIPAddress"), tcp ? QStringLiteral("127.0.0.1") : QString());
        QCOMPARE(d.text("lblDeviceCount"), QStringLiteral("3"));
        QCOMPARE(d.text("lblErrorCount"), QStringLiteral("17"));
        QCOMPARE(d.get<StatePicture>("ImageAnim")->state(), 6); // frames 2..6 cycle
        QVERIFY(d.enabled("CmdStart") && d.enabled("CmdCancel") && !d.enabled("CmdStop"));
        QCOMPARE(list(), (QStringList{padded("QIM-K520", 42) + "3", QString(42, ' ') + "5",
                                      padded("QIM-P750", 42) + "20"}));
        QCOMPARE(
            select(0),
            (QStringList{padded("QIM-K520", 32), "3", "10", padded("Velmora Labs", 32),
                         padded("1.4", 32), padded("B", 32), padded(tcp ? "TCP/IP" : "RS422", 32),
                         padded("19200", 32), padded("8 Discrete Inputs & 8 Discrete Outputs", 64),
                         "0", "1", "8", "8"}));
        QCOMPARE(select(2).mid(8),
                 (QStringList{padded("4 Temperature control loops", 64), "12", "26", "0", "4"}));
        app->window().click(QStringLiteral("CmdControl"));
        const Window panel(QStringLiteral("frmQIM_P750"));
        bus->clearRequests();
        panel.type("TextScanTimer", "0");
        panel.click("CmdScan");
        QTRY_VERIFY(!bus->requests().isEmpty());
        QCOMPARE(bus->requests().first().address, 20);
        panel.click("CmdStop");
        QTRY_VERIFY(panel.enabled("CmdScan"));
        panel.close();

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
        row("248", "x", "x", "Start Address must be a number from 1 to 247");
        row("1", "248", "x", "End Address must be a number from 1 to 247");
        row("1", "0.4", "0", "End Address must be a number from 1 to 247");
        row("1", "247", "10001", "Time between polls must be a number from 0 to 10000");
        row("1", "247", "-1", "Time between polls must be a number from 0 to 10000");
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
        // Enter on a focused Close closes; it does not start a scan.
        d.focus("CmdCancel");
        d.press(Qt::Key_Return);
        QTRY_VERIFY(!d.open());
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
        QCOMPARE(app->messages().size(), tcp ? 1 : 2); // serial: the port's message first
        QCOMPARE(app->messages().last(), QStringLiteral("Connection Error"));
        QCOMPARE(list(), QStringList{padded("QIM-K520", 42) + "3"});
        QVERIFY(d.enabled("CmdStart") && !d.enabled("CmdStop"));
        if (!tcp) {
            start("1", "1", "0");
            QCOMPARE(end(), End::ConnectionError);
            QCOMPARE(app->messages().mid(2), // nothing behind the port from the start
                     (QStringList{Errors::PortUnavailableMessage(), "Connection Error"}));
        }
    }

    void closingMidwaySendsNothingMore() {
        open(serial);
        slow(500);
        start("3", "247", "0");
        QTRY_COMPARE(bus->requests().size(), 1);
        d.close(); // the title bar's close
        QTRY_VERIFY(!d.widget());
        QTest::qWait(800); // the reply on the wire comes and finds nobody
        QCOMPARE(bus->requests().size(), 1);
        QCOMPARE(app->link.pending(), 0);
        QVERIFY(list().isEmpty());
        // Escape during a pause: the pending request never goes out.
        open(serial);
        start("3", "247", "300");
        QTest::keyClick(d.widget(), Qt::Key_Escape);
        QTRY_VERIFY(!d.widget());
        QTest::qWait(500);
        QCOMPARE(bus->requests().size(), 1);
    }

    // The arrows select, Enter or a double click opens the selected module's
    // panel, whose Scan and Stop hand the keyboard focus to each other.
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
        panel.press(Qt::Key_Space);
        QTRY_COMPARE(focusName(), QStringLiteral("CmdStop"));
        panel.press(Qt::Key_Space);
        QTRY_COMPARE(focusName(), QStringLiteral("CmdScan"));
        panel.close();
        QTRY_VERIFY(!panel.widget());

        auto* list = main.get<QListWidget>("DeviceList");
        const QPoint first = list->visualItemRect(list->item(0)).center();
        app->main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(app->main));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first);
        QTRY_VERIFY(Window(QStringLiteral("frmQIM_K520")).open());
    }
};

QIM_TEST_MAIN(TestScan)
#include "tst_scan.moc"

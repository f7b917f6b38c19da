// The bus scan dialog against scripted slaves: validation, the paced loop,
// Stop, the abort on a dead link, and closing in the middle of a scan.
#include "AppTest.h"
#include "DeviceTable.h"
#include "Link.h"
#include "MainWindow.h"
#include "Pictures.h"
#include "PortNames.h"
#include "ScanBusDialog.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <map>

using namespace qim;
using namespace qimtest;
using namespace apptest;

namespace {
using End = ScanBusDialog::End;

// A bus of modules by address; absent addresses stay silent.
struct ScriptedBus {
    std::map<int, uint8_t> modules;
    std::map<int, QByteArray> special; // whole replies that replace a module's
    int delayMs = 0;

    QList<Chunk> rtu(const QByteArray& req) const {
        const int a = static_cast<uint8_t>(req[0]);
        if (special.count(a))
            return {{special.at(a), delayMs}};
        if (!modules.count(a))
            return {};
        return {{rtuIdReply(static_cast<uint8_t>(a), identification(modules.at(a))), delayMs}};
    }
    QList<Chunk> tcp(const QByteArray& req) const {
        const int a = static_cast<uint8_t>(req[6]);
        if (special.count(a))
            return {{special.at(a), delayMs}};
        if (!modules.count(a))
            return {};
        return {{tcpIdReply(req, identification(modules.at(a))), delayMs}};
    }
};

QString padded(const QString& s, int n) {
    return s + QString(n - s.size(), QLatin1Char(' '));
}
QString text(const QObject* d, const char* label) {
    return child<QLabel>(d, label)->text();
}
} // namespace

class TestScanBus : public QObject {
    Q_OBJECT
    QPointer<MainWindow> main;
    ScriptedBus bus;
    std::unique_ptr<PtySlave> pty;
    std::unique_ptr<TcpSlave> server;

    ScanBusDialog* open() {
        main->openScanBus();
        return main->scanBus();
    }
    void useSerial() {
        General::CommMode = 0;
        General::SerialTimeout = 40;
    }
    void useTcp() {
        General::CommMode = 1;
        General::TCPTimeout = 60;
        General::TCPConnectTimeout = 1000;
        General::ServerPort = server->port();
    }
    // Starts a scan and waits for its end; returns how it ended.
    std::optional<End> scan(ScanBusDialog* d, const QString& from, const QString& to,
                            const QString& interval = QStringLiteral("0"), int timeoutMs = 30000) {
        type(d, "TextStartAddress", from);
        type(d, "TextEndAddress", to);
        type(d, "TextTime", interval);
        QSignalSpy ended(d, &ScanBusDialog::scanEnded);
        click(d, "CmdStart");
        if (!d->scanning() || !ended.wait(timeoutMs))
            return std::nullopt;
        return ended.at(0).at(0).value<End>();
    }
    int requests() const { return static_cast<int>(pty->requests.size()); }

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }
    void init() {
        resetMessages();
        Link::instance().reset();
        main = new MainWindow;
        main->show();
        General::IPAddress = QStringLiteral("127.0.0.1"); // never the default host
        bus = {};
        bus.modules = {{3, 10}, {7, 20}, {200, 30}};
        pty = std::make_unique<PtySlave>([this](const QByteArray& r) { return bus.rtu(r); });
        QVERIFY(pty->publishAs(2));
        server = std::make_unique<TcpSlave>([this](const QByteArray& r) { return bus.tcp(r); });
        useSerial();
    }
    void cleanup() {
        resetMessages();
        delete main.data();
        Link::instance().reset();
        PortNames::Unpublish(2);
        pty.reset();
        server.reset();
    }

    void loadShowsDefaultsForTheLink() {
        ScanBusDialog* d = open();
        QCOMPARE(d->windowTitle(), QStringLiteral("Scan Bus"));
        QCOMPARE(child<QLineEdit>(d, "TextStartAddress")->text(), QStringLiteral("1"));
        QCOMPARE(child<QLineEdit>(d, "TextEndAddress")->text(), QStringLiteral("247"));
        QCOMPARE(child<QLineEdit>(d, "TextTime")->text(), QStringLiteral("100"));
        QCOMPARE(text(d, "lblSlaveAddress"), QStringLiteral("1"));
        QCOMPARE(text(d, "lblIPAddress"), QString());
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("0"));
        QCOMPARE(text(d, "lblErrorCount"), QStringLiteral("0"));
        QCOMPARE(child<StatePicture>(d, "ImageAnim")->state(), 1);
        QVERIFY(child<QPushButton>(d, "CmdStart")->isEnabled());
        QVERIFY(child<QPushButton>(d, "CmdCancel")->isEnabled());
        QVERIFY(!child<QPushButton>(d, "CmdStop")->isEnabled());
        QCOMPARE(child<QPushButton>(d, "CmdCancel")->text(), QStringLiteral("Close"));
        d->close();
        QTRY_VERIFY(!main->scanBus());

        General::CommMode = 1;
        d = open();
        QCOMPARE(child<QLineEdit>(d, "TextTime")->text(), QStringLiteral("5000"));
        QCOMPARE(text(d, "lblIPAddress"), QStringLiteral("127.0.0.1"));
    }

    void invalidInputSendsNothing() {
        ClearDeviceTable();
        QVERIFY(AddFoundDevice(0, {Status::Ok, rtuIdReply(9, identification(10)), false}));
        ScanBusDialog* d = open();
        struct Case {
            const char *start, *end, *time, *message;
        };
        const Case cases[] = {
            {"", "247", "0", "Start Address must be a number from 1 to 247"},
            {"abc", "x", "x", "Start Address must be a number from 1 to 247"},
            {"0", "247", "0", "Start Address must be a number from 1 to 247"},
            {"248", "247", "0", "Start Address must be a number from 1 to 247"},
            {"0.4", "247", "0", "Start Address must be a number from 1 to 247"},
            {"1", "248", "x", "End Address must be a number from 1 to 247"},
            {"1", "", "0", "End Address must be a number from 1 to 247"},
            {"1", "247", "10001", "Time between polls must be a number from 0 to 10000"},
            {"1", "247", "-1", "Time between polls must be a number from 0 to 10000"},
            {"1", "247", "", "Time between polls must be a number from 0 to 10000"},
            {"10", "9", "0", "End address must be equal or higher then start address"},
            // Rounded before they are compared: 9.6 is 10.
            {"9.6", "9.4", "0", "End address must be equal or higher then start address"},
        };
        for (const Case& c : cases) {
            resetMessages();
            type(d, "TextStartAddress", QString::fromLatin1(c.start));
            type(d, "TextEndAddress", QString::fromLatin1(c.end));
            type(d, "TextTime", QString::fromLatin1(c.time));
            click(d, "CmdStart");
            QCOMPARE(messages(), QStringList{QString::fromLatin1(c.message)});
            QVERIFY(!d->scanning());
            QVERIFY(child<QPushButton>(d, "CmdStart")->isEnabled());
        }
        QTest::qWait(100);
        QCOMPARE(requests(), 0);
        QCOMPARE(DeviceTable[0].DeviceAddress, 9); // the table is untouched
    }

    void serialScanFindsTheModulesInOrder() {
        ScanBusDialog* d = open();
        auto* list = child<QListWidget>(main, "DeviceList");
        list->addItem(QStringLiteral("from an earlier scan"));
        SelectedAddress = 5;
        bus.modules = {{3, 10}, {7, 20}, {11, 30}};
        QCOMPARE(scan(d, "1", "12"), End::Natural);
        QCOMPARE(requests(), 12);
        for (int a = 1; a <= 12; ++a)
            QCOMPARE(static_cast<uint8_t>(pty->requests[a - 1][0]), a);
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("3"));
        QCOMPARE(text(d, "lblErrorCount"), QStringLiteral("9"));
        QCOMPARE(text(d, "lblSlaveAddress"), QStringLiteral("12"));
        QCOMPARE(text(d, "lblIPAddress"), QString());
        QCOMPARE(child<StatePicture>(d, "ImageAnim")->state(), 3); // frames 1..5 cycled, 12th is 2
        QCOMPARE(SelectedAddress, 0);
        QCOMPARE(General::TransactionId, 0);

        const int addresses[] = {3, 7, 11};
        const char* names[] = {"QIM-K520", "QIM-M640", "QIM-P750"};
        QCOMPARE(list->count(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(DeviceTable[static_cast<size_t>(i)].DeviceAddress, addresses[i]);
            QCOMPARE(list->item(i)->text(),
                     padded(names[i], 32) + QString(10, ' ') + QString::number(addresses[i]));
        }
        QCOMPARE(DeviceTable[3].DeviceCode, 0);

        // Back to idle.
        QVERIFY(child<QPushButton>(d, "CmdStart")->isEnabled());
        QVERIFY(child<QPushButton>(d, "CmdCancel")->isEnabled());
        QVERIFY(!child<QPushButton>(d, "CmdStop")->isEnabled());
        QVERIFY(child<QLineEdit>(d, "TextTime")->isEnabled());

        // The grid shows a selection; a new scan leaves it and Control And
        // Monitor as they were, and starts over at entry 0.
        list->setCurrentRow(1);
        auto* fg = child<QTableWidget>(main, "FG");
        QCOMPARE(fg->item(1, 1)->text(), QStringLiteral("7"));
        bus.modules = {{5, 11}};
        QCOMPARE(scan(d, "5", "5"), End::Natural);
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("1"));
        QCOMPARE(text(d, "lblErrorCount"), QStringLiteral("0"));
        QCOMPARE(list->count(), 1);
        QCOMPARE(SelectedAddress, 0);
        QCOMPARE(fg->item(1, 1)->text(), QStringLiteral("7"));
        QVERIFY(child<QPushButton>(main, "CmdControl")->isEnabled());
        QCOMPARE(DeviceTable[0].DeviceCode, 11);
        QCOMPARE(DeviceTable[1].DeviceCode, 0);
    }

    void tcpScanAsksEveryUnitWithTransactionZero() {
        useTcp();
        ScanBusDialog* d = open(); // takes its copy of the host now
        QCOMPARE(scan(d, "1", "10"), End::Natural);
        QCOMPARE(server->requests.size(), 10);
        for (int i = 0; i < 10; ++i) {
            const QByteArray& r = server->requests[i];
            QCOMPARE(r.left(2), QByteArray(2, 0));
            QCOMPARE(static_cast<uint8_t>(r[6]), i + 1);
            QCOMPARE(static_cast<uint8_t>(r[7]), 17);
        }
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("2"));
        QCOMPARE(text(d, "lblErrorCount"), QStringLiteral("8"));
        QCOMPARE(text(d, "lblIPAddress"), QStringLiteral("127.0.0.1"));
        QCOMPARE(DeviceTable[1].DeviceAddress, 7);
        d->close();
        QTRY_VERIFY(!main->scanBus());

        // Opened on a serial link, then switched to TCP: the requests follow
        // the link, the label keeps the (never taken) copy.
        General::CommMode = 0;
        d = open();
        useTcp();
        QCOMPARE(scan(d, "3", "3"), End::Natural);
        QCOMPARE(server->requests.size(), 11);
        QCOMPARE(text(d, "lblIPAddress"), QString());
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("1"));
    }

    void shortRepliesAreErrorsNeverDecoded() {
        // A module that answers with fewer bytes than an identification
        // block, with a function code that claims success.
        bus.special[2] = WithCrc(QByteArray::fromHex("021100"));
        bus.special[4] = rtuIdReply(4, identification(10)).left(12);
        ScanBusDialog* d = open();
        QCOMPARE(scan(d, "2", "4"), End::Natural);
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("1"));
        QCOMPARE(text(d, "lblErrorCount"), QStringLiteral("2"));
        QCOMPARE(DeviceTable[0].DeviceAddress, 3);
        QCOMPARE(DeviceTable[1].DeviceCode, 0);

        useTcp();
        QByteArray head = QByteArray::fromHex("000000000003021100");
        bus.special[2] = head;
        QCOMPARE(scan(d, "2", "3"), End::Natural);
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("1"));
        QCOMPARE(text(d, "lblErrorCount"), QStringLiteral("1"));
        QCOMPARE(DeviceTable[0].DeviceAddress, 3);
    }

    void stopEndsTheScanAfterTheRequestUnderWay() {
        bus.modules = {{1, 10}, {2, 10}, {3, 10}, {4, 10}};
        bus.delayMs = 500;
        General::SerialTimeout = 2000;
        ScanBusDialog* d = open();
        type(d, "TextTime", "0");
        QSignalSpy ended(d, &ScanBusDialog::scanEnded);
        click(d, "CmdStart");
        // While scanning only Stop is offered.
        QVERIFY(!child<QPushButton>(d, "CmdStart")->isEnabled());
        QVERIFY(!child<QPushButton>(d, "CmdCancel")->isEnabled());
        QVERIFY(!child<QLineEdit>(d, "TextStartAddress")->isEnabled());
        QTRY_COMPARE(requests(), 1);
        click(d, "CmdStop");
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.at(0).at(0).value<End>(), End::Stopped);
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("1")); // completed and counted
        QTest::qWait(300);
        QCOMPARE(requests(), 1);
        QVERIFY(messages().isEmpty());

        // A Stop during the pause still lets that pause's request go out.
        bus.delayMs = 0;
        type(d, "TextStartAddress", "1");
        type(d, "TextEndAddress", "4");
        type(d, "TextTime", "1500");
        ended.clear();
        click(d, "CmdStart");
        QTest::qWait(100);
        QCOMPARE(requests(), 1); // the first request waits one interval
        click(d, "CmdStop");
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.at(0).at(0).value<End>(), End::Stopped);
        QCOMPARE(requests(), 2);
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("1"));
        QCOMPARE(text(d, "lblSlaveAddress"), QStringLiteral("1"));
        QVERIFY(child<QPushButton>(d, "CmdStart")->isEnabled());
    }

    void aDeadLinkAbortsWithConnectionError() {
        // Serial: nothing behind COM32. The link's message comes first.
        General::ComPortIndex = 31;
        ScanBusDialog* d = open();
        QSignalSpy finished(&Link::instance(), &Link::transactionFinished);
        QCOMPARE(scan(d, "1", "247"), End::ConnectionError);
        QCOMPARE(messages(), (QStringList{PortUnavailableMessage(), "Connection Error"}));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(text(d, "lblDeviceCount"), QStringLiteral("0"));
        QCOMPARE(text(d, "lblErrorCount"), QStringLiteral("0"));
        QCOMPARE(text(d, "lblSlaveAddress"), QStringLiteral("1"));
        QVERIFY(child<QPushButton>(d, "CmdStart")->isEnabled());
        QVERIFY(!child<QPushButton>(d, "CmdStop")->isEnabled());
        acknowledgeAll();

        // TCP: the server goes away in the middle of a scan. What was found
        // stays; the counters keep the last address that answered.
        resetMessages();
        useTcp();
        bus.modules = {{1, 10}};
        type(d, "TextStartAddress", "1");
        type(d, "TextEndAddress", "9");
        type(d, "TextTime", "300");
        QSignalSpy ended(d, &ScanBusDialog::scanEnded);
        click(d, "CmdStart");
        QTRY_COMPARE(text(d, "lblDeviceCount"), QStringLiteral("1"));
        server.reset();
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.at(0).at(0).value<End>(), End::ConnectionError);
        QCOMPARE(messages(), QStringList{"Connection Error"});
        QCOMPARE(text(d, "lblSlaveAddress"), QStringLiteral("1"));
        QCOMPARE(child<QListWidget>(main, "DeviceList")->count(), 1);
        QCOMPARE(DeviceTable[0].DeviceCode, 10);
    }

    void closingInTheMiddleOfAScanSendsNothingMore() {
        bus.modules = {{1, 10}, {2, 10}, {3, 10}};
        bus.delayMs = 500;
        General::SerialTimeout = 2000;
        QPointer<ScanBusDialog> d = open();
        type(d, "TextTime", "0");
        click(d, "CmdStart");
        QTRY_COMPARE(requests(), 1);
        d->close(); // the title bar's close
        QTRY_VERIFY(!d);
        QTest::qWait(800); // the reply on the wire comes and finds nobody
        QCOMPARE(requests(), 1);
        QCOMPARE(Link::instance().pending(), 0);
        QCOMPARE(child<QListWidget>(main, "DeviceList")->count(), 0);

        // Escape during a pause: the pending request never goes out.
        d = open();
        type(d, "TextTime", "300");
        click(d, "CmdStart");
        QTest::keyClick(d, Qt::Key_Escape);
        QTRY_VERIFY(!d);
        QTest::qWait(500);
        QCOMPARE(requests(), 1);
    }
};

QIM_TEST_MAIN(TestScanBus)
#include "tst_scanbus.moc"

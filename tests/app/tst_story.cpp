// End to end against the simulated bus: connect over either link, scan,
// read the modules in the list and the grid.
#include "AppTest.h"
#include "CommSetupDialog.h"
#include "DeviceTable.h"
#include "Link.h"
#include "MainWindow.h"
#include "PortNames.h"
#include "ScanBusDialog.h"
#include "SimBus.h"
#include "StatusPanels.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>

using namespace qim;
using namespace qimtest;
using namespace apptest;

namespace {
using End = ScanBusDialog::End;

QString padded(const QString& s, int n) {
    return s + QString(n - s.size(), QLatin1Char(' '));
}
QString listLine(const QString& name, int address) {
    return padded(name, 32) + QString(10, QLatin1Char(' ')) + QString::number(address);
}
QStringList gridColumn(const QObject* main) {
    auto* fg = child<QTableWidget>(main, "FG");
    QStringList out;
    for (int row = 0; row < fg->rowCount(); ++row)
        out << fg->item(row, 1)->text();
    return out;
}
int visibleWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += w->isVisible() ? 1 : 0;
    return n;
}
} // namespace

class TestStory : public QObject {
    Q_OBJECT
    QPointer<MainWindow> main;
    std::unique_ptr<qimsim::Bus> bus;

    void menu(const char* name) { child<QAction>(main, name)->trigger(); }
    StatusPanels* status() const { return main->statusPanels(); }

    // Applies the connection dialog and waits for it to close on success.
    bool connectWith(const std::function<void(CommSetupDialog*)>& edit) {
        menu("mnuComm");
        QPointer<CommSetupDialog> d = main->commSetup();
        edit(d);
        click(d, "CmdOk");
        return QTest::qWaitFor([&] { return !d; }, 10000);
    }
    std::optional<End> scan(const QString& from, const QString& to, int timeoutMs = 60000) {
        menu("mnuScan");
        ScanBusDialog* d = main->scanBus();
        type(d, "TextStartAddress", from);
        type(d, "TextEndAddress", to);
        type(d, "TextTime", "0");
        QSignalSpy ended(d, &ScanBusDialog::scanEnded);
        click(d, "CmdStart");
        if (!ended.wait(timeoutMs))
            return std::nullopt;
        return ended.at(0).at(0).value<End>();
    }
    QString label(const char* name) const { return child<QLabel>(main->scanBus(), name)->text(); }

private Q_SLOTS:
    void initTestCase() { qimtest::QuietOffscreenPlatform(); }
    void init() {
        resetMessages();
        Link::instance().reset();
        main = new MainWindow;
        main->show();
        General::IPAddress = QStringLiteral("127.0.0.1"); // never the default host
        bus = std::make_unique<qimsim::Bus>();
        QVERIFY(bus->openPty(2));
        QVERIFY(bus->listenTcp(QHostAddress::LocalHost, 0));
    }
    void cleanup() {
        resetMessages();
        delete main.data();
        Link::instance().reset();
        bus.reset();
    }

    void serialConnectScanAndSelect() {
        bus->addModule(3, 10);
        bus->addModule(7, 20);
        bus->addModule(200, 30);
        QVERIFY(connectWith([](CommSetupDialog*) {})); // COM2 at 19200, as loaded
        QCOMPARE(status()->text(1), QStringLiteral("Connected"));
        QCOMPARE(status()->text(2), QStringLiteral("COM2"));

        General::SerialTimeout = 40; // silent addresses cost one timeout each
        QCOMPARE(scan("1", "247"), End::Natural);
        QCOMPARE(label("lblDeviceCount"), QStringLiteral("3"));
        QCOMPARE(label("lblErrorCount"), QStringLiteral("244"));
        const QList<qimsim::RequestRecord> asked = bus->requests();
        QCOMPARE(asked.size(), 247);
        for (int i = 0; i < 247; ++i) {
            QCOMPARE(asked[i].address, i + 1);
            QCOMPARE(asked[i].function, 17);
            QVERIFY(!asked[i].tcp);
        }

        auto* list = child<QListWidget>(main, "DeviceList");
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(0)->text(), listLine("QIM-K520", 3));
        QCOMPARE(list->item(1)->text(), listLine("QIM-M640", 7));
        QCOMPARE(list->item(2)->text(), listLine("QIM-P750", 200));

        list->setCurrentRow(0);
        QCOMPARE(gridColumn(main),
                 (QStringList{
                     padded("QIM-K520", 32), "3", "10", padded("Velmora Labs", 32),
                     padded("1.4", 32), padded("B", 32), padded("RS422", 32), padded("19200", 32),
                     padded("8 Discrete Inputs & 8 Discrete Outputs", 64), "0", "1", "8", "8"}));
        list->setCurrentRow(2);
        QCOMPARE(SelectedAddress, 2);
        QCOMPARE(gridColumn(main),
                 (QStringList{padded("QIM-P750", 32), "200", "30", padded("Velmora Labs", 32),
                              padded("3.2", 32), padded("B", 32), padded("RS422", 32),
                              padded("19200", 32), padded("4 Temperature control loops", 64), "12",
                              "26", "0", "4"}));
        QVERIFY(child<QPushButton>(main, "CmdControl")->isEnabled());
        QVERIFY(messages().isEmpty());
    }

    void tcpConnectAndScan() {
        bus->addModule(3, 11);
        bus->addModule(7, 20);
        QVERIFY(connectWith([this](CommSetupDialog* d) {
            child<QComboBox>(d, "ComboCommMode")->setCurrentIndex(1);
            type(d, "TextIPAddress", "127.0.0.1");
            type(d, "TextServerPort", QString::number(bus->tcpPort()));
        }));
        QCOMPARE(status()->text(1), QStringLiteral("Connected"));
        QCOMPARE(status()->text(2), QStringLiteral("127.0.0.1"));

        General::TCPTimeout = 60;
        QCOMPARE(scan("1", "10"), End::Natural);
        QCOMPARE(label("lblDeviceCount"), QStringLiteral("2"));
        QCOMPARE(label("lblErrorCount"), QStringLiteral("8"));
        QCOMPARE(label("lblIPAddress"), QStringLiteral("127.0.0.1"));
        for (const qimsim::RequestRecord& r : bus->requests()) {
            QVERIFY(r.tcp);
            QCOMPARE(r.transactionId, 0);
        }
        auto* list = child<QListWidget>(main, "DeviceList");
        QCOMPARE(list->item(0)->text(), listLine("QIM-K530", 3));
        list->setCurrentRow(0);
        QCOMPARE(gridColumn(main)[6], padded("TCP/IP", 32)); // as the module answered over TCP
    }

    void anUnknownModuleOpensNothing() {
        bus->addModule(5, 40);
        General::SerialTimeout = 200;
        QCOMPARE(scan("5", "5"), End::Natural);
        QCOMPARE(label("lblDeviceCount"), QStringLiteral("1"));
        auto* list = child<QListWidget>(main, "DeviceList");
        QCOMPARE(list->item(0)->text(), QString(42, QLatin1Char(' ')) + "5");
        list->setCurrentRow(0);
        const QStringList grid = gridColumn(main);
        QCOMPARE(grid[0], QString(32, QLatin1Char(' ')));
        QCOMPARE(grid[1], QStringLiteral("5"));
        QCOMPARE(grid[2], QStringLiteral("40"));
        QCOMPARE(grid[8], QString(64, QLatin1Char(' ')));
        main->scanBus()->close();
        QTRY_VERIFY(!main->scanBus());
        const int windows = visibleWindows();
        click(main, "CmdControl");
        QTest::qWait(50);
        QCOMPARE(visibleWindows(), windows);
        QVERIFY(messages().isEmpty());
    }

    void stopAndTheDeadLink() {
        qimsim::Fault slow;
        slow.kind = qimsim::Fault::Delay;
        slow.delayMs = 500;
        for (int a = 1; a <= 20; ++a)
            bus->addModule(static_cast<uint8_t>(a), 10)->setFault(17, slow);
        General::SerialTimeout = 2000;
        menu("mnuScan");
        ScanBusDialog* d = main->scanBus();
        type(d, "TextTime", "0");
        QSignalSpy ended(d, &ScanBusDialog::scanEnded);
        click(d, "CmdStart");
        QTRY_COMPARE(bus->requests().size(), 2);
        click(d, "CmdStop");
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.at(0).at(0).value<End>(), End::Stopped);
        QCOMPARE(label("lblDeviceCount"), QStringLiteral("2"));
        QTest::qWait(700);
        QCOMPARE(bus->requests().size(), 2);

        // The port is pulled in the middle of a scan: the link says so, then the scan.
        for (int a = 1; a <= 20; ++a)
            bus->module(static_cast<uint8_t>(a))->clearFaults();
        type(d, "TextTime", "200");
        ended.clear();
        click(d, "CmdStart");
        QTRY_COMPARE(label("lblDeviceCount"), QStringLiteral("1"));
        bus->closePty();
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.at(0).at(0).value<End>(), End::ConnectionError);
        const QStringList shown = messages();
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown[0] == PortUnavailableMessage() ||
                shown[0].startsWith(QLatin1String(" Communication Error ")));
        QCOMPARE(shown[1], QStringLiteral("Connection Error"));
        QCOMPARE(child<QListWidget>(main, "DeviceList")->count(), 1);
        QCOMPARE(DeviceTable[0].DeviceAddress, 1);
        QVERIFY(child<QPushButton>(d, "CmdStart")->isEnabled());
    }
};

QIM_TEST_MAIN(TestStory)
#include "tst_story.moc"

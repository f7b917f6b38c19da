// End to end against the simulated bus: connect over either link, scan,
// read the modules in the list and the grid.
#include "AppTest.h"
#include "CommSetupDialog.h"
#include "DeviceTable.h"
#include "Link.h"
#include "MainWindow.h"
#include "Panels.h"
#include "PortNames.h"
#include "QtPeers.h"
#include "Requests.h"
#include "ScanBusDialog.h"
#include "SimBus.h"
#include "StatusPanels.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QModbusTcpServer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

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
QWidget* topLevel(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name)
            return w;
    return nullptr;
}

// A module nobody here wrote, at address 1: on TCP, Qt's server behind a
// front that holds each reply 400 ms (the slow module); on a socat pty pair
// published as COM5, Qt's RTU server, which leaves other addresses
// unanswered. Its holding registers end at 10, so a write of 7..26 is
// refused with exception 2; each write it takes is recorded.
struct Peer {
    std::unique_ptr<QModbusServer> server;
    QTcpServer front;
    PtyPair pty;
    QStringList writes;

    void slowFront(quint16 serverPort) {
        QObject::connect(&front, &QTcpServer::newConnection, &front, [this, serverPort] {
            while (QTcpSocket* client = front.nextPendingConnection()) {
                auto* up = new QTcpSocket(client);
                const auto forward = [client, up] {
                    if (up->state() == QAbstractSocket::ConnectedState)
                        up->write(client->readAll());
                };
                QObject::connect(client, &QTcpSocket::readyRead, up, forward);
                QObject::connect(up, &QTcpSocket::connected, up, forward);
                QObject::connect(up, &QTcpSocket::readyRead, client, [client, up] {
                    const QByteArray reply = up->readAll();
                    QTimer::singleShot(400, client, [client, reply] { client->write(reply); });
                });
                QObject::connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
                up->connectToHost(QHostAddress::LocalHost, serverPort);
            }
        });
    }

    bool start(bool tcp) {
        if (tcp) {
            const quint16 port = FreeLoopbackPort();
            if (!port)
                return false;
            server = QtTcpServer(port);
            if (!front.listen(QHostAddress::LocalHost, 0))
                return false;
            slowFront(port);
            General::CommMode = 1;
            General::ServerPort = front.serverPort();
            General::TCPTimeout = 1500;
        } else {
            if (!pty.start())
                return false;
            server = QtRtuServer(pty.theirs());
            if (!PortNames::Publish(5, pty.oursDevice()))
                return false;
            General::CommMode = 0;
            General::ComPortIndex = 4;
            General::BaudIndex = 1;
            General::SerialTimeout = 400;
        }
        QModbusDataUnitMap map;
        map.insert(QModbusDataUnit::Coils, {QModbusDataUnit::Coils, 0, 8});
        map.insert(QModbusDataUnit::HoldingRegisters, {QModbusDataUnit::HoldingRegisters, 0, 11});
        server->setMap(map);
        server->setServerAddress(1);
        // Every register starts at a value no panel writes: a write always changes it.
        for (int a = 0; a <= 10; ++a)
            server->setData(QModbusDataUnit::HoldingRegisters, static_cast<quint16>(a), 0xAAAA);
        QObject::connect(server.get(), &QModbusServer::dataWritten,
                         [this](QModbusDataUnit::RegisterType table, int address, int size) {
                             writes << QStringLiteral("%1 %2+%3")
                                           .arg(table == QModbusDataUnit::Coils
                                                    ? QStringLiteral("coil")
                                                    : QStringLiteral("reg"))
                                           .arg(address)
                                           .arg(size);
                         });
        return server->connectDevice();
    }
    quint16 reg(int address) const {
        quint16 v = 0;
        server->data(QModbusDataUnit::HoldingRegisters, static_cast<quint16>(address), &v);
        return v;
    }
    ~Peer() {
        if (server)
            server->disconnectDevice();
    }
};

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

    // The user gives writes while another window's transaction holds the link
    // (a read of a slow or silent module), then closes the panel at once:
    // every write still reaches the module, in order, the newest slider
    // position included; one the module refuses is still reported.
    void writesGivenBeforeClosingAllArrive_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<QStringList>("shown");
        const QStringList temperature{"coil 2+1", "reg 2+1", "reg 5+1", "reg 6+1"};
        const QStringList refused{
            " Module 1: the write of holding registers 7 to 26 failed (exception code 2)."};
        const QStringList analog{"reg 8+3", "reg 0+8"};
        const QStringList discrete{"reg 0+1"};
        for (const bool tcp : {true, false}) {
            const char* link = tcp ? "tcp" : "pty";
            QTest::addRow("temperature, %s", link) << tcp << 30 << temperature << refused;
            QTest::addRow("analog, %s", link) << tcp << 20 << analog << QStringList();
            QTest::addRow("discrete, %s", link) << tcp << 10 << discrete << QStringList();
        }
    }
    void writesGivenBeforeClosingAllArrive() {
        QFETCH(bool, tcp);
        QFETCH(int, code);
        QFETCH(QStringList, writes);
        QFETCH(QStringList, shown);
        Peer peer;
        QVERIFY(peer.start(tcp));
        ClearDeviceTable();
        DeviceTable[0].DeviceAddress = 1;
        DeviceTable[0].DeviceCode = static_cast<uint8_t>(code);
        SelectedAddress = 0;
        QObject other;
        ByMode::ReadHoldingRegisters(9, 0, 1, {&other, [](const Reply&) {}});

        int queuedAtClose = 0;
        const auto openPanel = [&]() -> QWidget* {
            if (!OpenPanelFor(static_cast<uint8_t>(code)))
                return nullptr;
            QWidget* p = topLevel(code == 30   ? QStringLiteral("frmQIM_P750")
                                  : code == 20 ? QStringLiteral("frmQIM_M640")
                                               : QStringLiteral("frmQIM_K520"));
            if (p)
                connect(p, &QObject::destroyed, this,
                        [&] { queuedAtClose = Link::instance().pending() - 1; });
            return p;
        };
        QPointer<QWidget> panel = openPanel();
        QVERIFY(panel);
        if (code == 30) {
            child<QCheckBox>(panel, "Check_Relay3")->click();
            child<QSlider>(panel, "Slider_PWM2")->setValue(30);
            child<QSlider>(panel, "Slider_PWM2")->setValue(45);
            click(panel, "Cmd_Write");
            click(panel, "CmdCancel");
        } else if (code == 20) {
            click(panel, "CmdConfigADC");
            click(panel, "CmdCancel");
            QTRY_VERIFY(!panel);
            panel = openPanel();
            QVERIFY(panel);
            for (int i = 1; i <= 8; ++i)
                type(panel, qPrintable(QStringLiteral("TextDAC%1").arg(i)),
                     QString::number(i * 100));
            click(panel, "CmdWriteDAC");
            click(panel, "CmdCancel");
        } else {
            child<QCheckBox>(panel, "Chk_Output1")->click();
            type(panel, "TextScanTimer", "0");
            click(panel, "CmdScan");
            // Its cycle's write waits behind the other window's read; Close
            // is off while polling: the title bar closes it.
            QTRY_COMPARE(Link::instance().pending(), 2);
            panel->close();
        }
        QTRY_VERIFY(!panel);
        QVERIFY2(queuedAtClose > 0, "the writes must still be waiting when the panel goes");
        QTRY_COMPARE_WITH_TIMEOUT(Link::instance().pending(), 0, 10000);
        QTRY_COMPARE(peer.writes, writes);
        if (code == 30) {
            QCOMPARE(peer.reg(2), 45);
            quint16 coil = 0;
            peer.server->data(QModbusDataUnit::Coils, 2, &coil);
            QVERIFY(coil != 0);
        } else if (code == 20) {
            QCOMPARE(peer.reg(0), 100);
            QCOMPARE(peer.reg(7), 800);
        } else {
            QCOMPARE(peer.reg(0), 1);
        }
        QCOMPARE(messages(), shown);
        QTest::qWait(100); // nothing more goes out
        QCOMPARE(peer.writes, writes);
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

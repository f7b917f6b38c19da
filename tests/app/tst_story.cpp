// Writes given just before a panel closes all reach a Modbus server nobody
// here wrote.
#include "Driver.h"
#include "PortNames.h"
#include "QtPeers.h"

#include <QCheckBox>
#include <QSlider>
#include <QTcpSocket>
#include <QTimer>

using namespace qim;
using namespace qimtest;
using namespace apptest;

namespace {
// Qt's Modbus server at address 1: on TCP behind a front that holds each
// reply 400 ms (a slow module); on a socat pty pair published as COM5 Qt's
// RTU server, which leaves other addresses unanswered. Its holding
// registers end at 10, so a write of 7..26 is refused with exception 2.
struct Peer {
    std::unique_ptr<QModbusServer> server;
    QTcpServer front;
    PtyPair pty;
    QStringList writes;

    bool start(bool tcp, LinkSettings& s) {
        if (tcp) {
            const quint16 port = freeLoopbackPort();
            server = QtTcpServer(port);
            if (!port || !front.listen(QHostAddress::LocalHost, 0))
                return false;
            QObject::connect(&front, &QTcpServer::newConnection, &front, [this, port] {
                QTcpSocket* client = front.nextPendingConnection();
                auto* up = new QTcpSocket(client);
                const auto forward = [client, up] {
                    if (up->state() == QAbstractSocket::ConnectedState)
                        up->write(client->readAll());
                };
                QObject::connect(client, &QTcpSocket::readyRead, up, forward);
                QObject::connect(up, &QTcpSocket::connected, up, forward);
                up->connectToHost(QHostAddress::LocalHost, port);
                QObject::connect(up, &QTcpSocket::readyRead, client, [client, up] {
                    QTimer::singleShot(400, client,
                                       [client, r = up->readAll()] { client->write(r); });
                });
            });
            s.transport = LinkSettings::Transport::Tcp;
            s.port = front.serverPort();
            s.tcpTimeoutMs = 1500;
        } else {
            if (!pty.start() || !PortNames::publish(5, pty.oursDevice()))
                return false;
            server = QtRtuServer(pty.theirs());
            s.comPort = 5;
            s.serialTimeoutMs = 400;
        }
        using Unit = QModbusDataUnit;
        server->setMap({{Unit::Coils, {Unit::Coils, 0, 8}},
                        {Unit::HoldingRegisters, {Unit::HoldingRegisters, 0, 11}}});
        server->setServerAddress(1);
        // Every register starts at a value no panel writes: a write always changes it.
        for (int a = 0; a <= 10; ++a)
            server->setData(QModbusDataUnit::HoldingRegisters, static_cast<quint16>(a), 0xAAAA);
        QObject::connect(server.get(), &QModbusServer::dataWritten, [this](auto t, int a, int n) {
            writes << QString::asprintf("%s %d+%d", t == Unit::Coils ? "coil" : "reg", a, n);
        });
        return server->connectDevice();
    }
    quint16 data(QModbusDataUnit::RegisterType table, int address) const {
        quint16 v = 0;
        return server->data(table, static_cast<quint16>(address), &v) ? v : 0xDEAD;
    }
    ~Peer() {
        if (server)
            server->disconnectDevice();
        PortNames::unpublish(5);
    }
};
} // namespace

class TestStory : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietOffscreenPlatform(); }

    // The user gives writes while another window's read of a slow or silent
    // module holds the link, then closes the panel at once: every write
    // still arrives, in order, the newest slider position included; one the
    // module refuses is still reported.
    void writesGivenBeforeClosingAllArrive_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("temperature"); // the temperature panel, or the discrete one
        for (const bool tcp : {true, false})
            for (const bool temperature : {true, false})
                QTest::addRow("%s, %s", temperature ? "temperature" : "discrete",
                              tcp ? "tcp" : "pty")
                    << tcp << temperature;
    }
    void writesGivenBeforeClosingAllArrive() {
        QFETCH(bool, tcp);
        QFETCH(bool, temperature);
        App app;
        Peer peer;
        LinkSettings s = app.link.settings();
        QVERIFY(peer.start(tcp, s));
        app.link.setSettings(s);
        QObject other;
        app.link.readHoldingRegisters(9, 0, 1, {&other, [](const Reply&) {}});

        DeviceRecord module;
        module.address = 1;
        module.code = temperature ? 30 : 10;
        QVERIFY(app.main->openPanel(module));
        const Window panel(temperature ? QStringLiteral("frmQIM_P750")
                                       : QStringLiteral("frmQIM_K520"));
        int queuedAtClose = 0;
        connect(panel.widget(), &QObject::destroyed, this,
                [&] { queuedAtClose = app.link.pending() - 1; });
        if (temperature) {
            panel.get<QCheckBox>("Check_Relay3")->click();
            panel.get<QSlider>("Slider_PWM2")->setValue(30);
            panel.get<QSlider>("Slider_PWM2")->setValue(45);
            panel.click("Cmd_Write");
            panel.click("CmdCancel");
        } else {
            panel.get<QCheckBox>("Chk_Output1")->click();
            panel.type("TextScanTimer", "0");
            panel.click("CmdScan");
            // Its cycle's write waits behind the other window's read; Close
            // is off while polling: the title bar closes it.
            QTRY_COMPARE(app.link.pending(), 2);
            panel.close();
        }
        QTRY_VERIFY(!panel.widget());
        QVERIFY2(queuedAtClose > 0, "the writes must still be waiting when the panel goes");
        QTRY_COMPARE_WITH_TIMEOUT(app.link.pending(), 0, 10000);
        const QStringList writes = temperature
                                       ? QStringList{"coil 2+1", "reg 2+1", "reg 5+1", "reg 6+1"}
                                       : QStringList{"reg 0+1"};
        QTRY_COMPARE(peer.writes, writes);
        QCOMPARE(peer.data(QModbusDataUnit::HoldingRegisters, temperature ? 2 : 0),
                 temperature ? 45 : 1);
        QCOMPARE(peer.data(QModbusDataUnit::Coils, 2) != 0, temperature); // 0xFF00 is on
        QCOMPARE(app.messages(), temperature
                                     ? QStringList{" Module 1: the write of holding registers 7 to "
                                                   "26 failed (exception code 2)."}
                                     : QStringList());
        QTest::qWait(100); // nothing more goes out
        QCOMPARE(peer.writes, writes);
    }
};

QIM_TEST_MAIN(TestStory)
#include "tst_story.moc"

// The simulator against Modbus masters nobody here wrote: Qt's TCP client,
// and its RTU client over a socat pty pair with the bus on a serial device.
#include "General.h"
#include "Link.h"
#include "PortNames.h"
#include "Requests.h"
#include "SimModels.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QModbusReply>
#include <QModbusRtuSerialClient>
#include <QModbusTcpClient>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTest>

namespace {

// Waits for a reply of the client and hands it back (or null on a timeout).
std::unique_ptr<QModbusReply> Finish(QModbusReply* reply) {
    std::unique_ptr<QModbusReply> r(reply);
    if (r)
        (void)QTest::qWaitFor([&] { return r->isFinished(); }, 5000);
    return r && r->isFinished() ? std::move(r) : nullptr;
}

} // namespace

class TestSimPeers : public QObject {
    Q_OBJECT
    qimsim::Bus bus;

    void exercise(QModbusClient& client) {
        // Holding registers of the analog module, both ways.
        QModbusDataUnit dac(QModbusDataUnit::HoldingRegisters, 0, QList<quint16>{4095, 17, 2048});
        auto w = Finish(client.sendWriteRequest(dac, 3));
        QVERIFY(w);
        QCOMPARE(w->error(), QModbusDevice::NoError);
        QCOMPARE(bus.module(3)->holding(1).value(), 17);
        auto r = Finish(client.sendReadRequest({QModbusDataUnit::HoldingRegisters, 0, 11}, 3));
        QVERIFY(r);
        QCOMPARE(r->error(), QModbusDevice::NoError);
        QCOMPARE(r->result().values().mid(0, 3), (QList<quint16>{4095, 17, 2048}));

        // The temperature module's inputs and relays (functions 4, 5 and 1).
        r = Finish(client.sendReadRequest({QModbusDataUnit::InputRegisters, 0, 12}, 4));
        QVERIFY(r);
        QCOMPARE(r->error(), QModbusDevice::NoError);
        QCOMPARE(r->result().valueCount(), 12);
        QModbusDataUnit relay(QModbusDataUnit::Coils, 2, 1);
        relay.setValue(0, 1);
        w = Finish(client.sendWriteRequest(relay, 4));
        QVERIFY(w);
        QCOMPARE(w->error(), QModbusDevice::NoError);
        QCOMPARE(bus.module(4)->coil(2), true);
        r = Finish(client.sendReadRequest({QModbusDataUnit::Coils, 0, 4}, 4));
        QVERIFY(r);
        QCOMPARE(r->result().values().mid(0, 4), (QList<quint16>{0, 0, 1, 0}));

        // A function the module lacks.
        r = Finish(client.sendReadRequest({QModbusDataUnit::InputRegisters, 0, 1}, 1));
        QVERIFY(r);
        QCOMPARE(r->error(), QModbusDevice::ProtocolError);
        // (Qt's inline exception decoding reads its enum out of range; the byte will do.)
        QCOMPARE(r->rawResult().data().left(1), QByteArray(1, '\x01'));
    }

private Q_SLOTS:
    void initTestCase() { bus.addDemoModules(); }

    void qtTcpClient() {
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0));
        QModbusTcpClient client;
        client.setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                      QStringLiteral("127.0.0.1"));
        client.setConnectionParameter(QModbusDevice::NetworkPortParameter, bus.tcpPort());
        client.setTimeout(2000);
        client.setNumberOfRetries(0);
        QVERIFY(client.connectDevice());
        QTRY_COMPARE(client.state(), QModbusDevice::ConnectedState);
        exercise(client);
        client.disconnectDevice();
    }

    void qtRtuClientWithTheBusOnASerialDevice() {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        const QString ours = dir + QStringLiteral("/sim-line");
        const QString theirs = dir + QStringLiteral("/master-line");
        QProcess socat;
        socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=") + ours,
                                              QStringLiteral("pty,raw,echo=0,link=") + theirs});
        QTRY_VERIFY(QFileInfo::exists(ours) && QFileInfo::exists(theirs));
        QVERIFY2(bus.openSerial(ours, 9600), qPrintable(bus.serialError()));

        QModbusRtuSerialClient client;
        client.setConnectionParameter(QModbusDevice::SerialPortNameParameter, theirs);
        client.setConnectionParameter(QModbusDevice::SerialBaudRateParameter,
                                      QSerialPort::Baud9600);
        client.setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
        client.setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::NoParity);
        client.setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::TwoStop);
        client.setTimeout(2000);
        client.setNumberOfRetries(0);
        QVERIFY(client.connectDevice());
        exercise(client);
        client.disconnectDevice();

        // The program's own link on the same line: the modules report its speed.
        QVERIFY(qim::PortNames::Publish(3, QFileInfo(theirs).symLinkTarget()));
        qim::Link::instance().reset();
        qim::AssignLinkDefaults();
        qim::General::ComPortIndex = 2;
        qim::General::BaudIndex = 0; // 9600
        const auto o = qimtest::Await([](qim::Requester r) { qim::ReportSlaveId(2, r); });
        QVERIFY(o.reply);
        QCOMPARE(o.reply->status, qim::Status::Ok);
        QCOMPARE(o.reply->byteAt(3), 11);
        QCOMPARE(o.reply->byteAt(9), 0);  // RS422
        QCOMPARE(o.reply->byteAt(10), 3); // 9600 bit/s
        qim::Link::instance().reset();
        bus.stop();
        socat.terminate();
        QTRY_COMPARE(socat.state(), QProcess::NotRunning);
    }
};

QIM_TEST_GUILESS_MAIN(TestSimPeers)
#include "tst_simpeers.moc"

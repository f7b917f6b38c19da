// The simulator on the wire, below the program's link, and the qimsim
// program against Qt's own Modbus clients, which nobody here wrote.
#include "PortNames.h"
#include "QtPeers.h"
#include "SimBus.h"
#include "TestSupport.h"

#include <QModbusReply>
#include <QModbusRtuSerialClient>
#include <QModbusTcpClient>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>

using qimtest::withCrc;

namespace {
const auto Hex = &QByteArray::fromHex;
QByteArray TcpFrame(int tid, int unit, const QByteArray& pdu, int protocol = 0) {
    QByteArray f;
    for (const int v : {tid, protocol, static_cast<int>(pdu.size()) + 1})
        f.append(static_cast<char>(v >> 8)).append(static_cast<char>(v));
    return f.append(static_cast<char>(unit)) + pdu;
}
// A finished reply of Qt's client, or null after 15 s.
std::unique_ptr<QModbusReply> Finish(QModbusReply* reply) {
    std::unique_ptr<QModbusReply> r(reply);
    return r && QTest::qWaitFor([&] { return r->isFinished(); }, 15000) ? std::move(r) : nullptr;
}
} // namespace

class TestSimWire : public QObject {
    Q_OBJECT
    qimsim::Bus bus;
    QSerialPort line; // the master's end of the bus's pty

    // The next bytes on the line must be one RTU reply of this length.
    void expectRtuReply(int length) {
        QByteArray got;
        QTRY_VERIFY((got += line.readAll()).size() >= length);
        QCOMPARE(got.size(), length);
        QVERIFY2(qim::checkCRC(got, length), got.toHex().constData());
    }

private Q_SLOTS:
    void initTestCase() {
        bus.addDemoModules();
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY(bus.openPty(0));
        line.setPortName(bus.ptyDevice());
        QVERIFY(line.open(QIODevice::ReadWrite));
    }
    void init() {
        bus.setRtuGapMs(50);
        line.readAll();
        bus.clearRequests();
    }

    // However slowly the bytes come: the frame's length, not a pause, ends it.
    void rtuRequestFedByteByByteIsAnsweredOnce() {
        bus.setRtuGapMs(60'000);
        for (const QByteArray& frame : {withCrc(Hex("0111")), withCrc(Hex("0110000000010200AA")),
                                        withCrc(Hex("04040000000C"))}) {
            bus.clearRequests();
            for (const char c : frame) {
                line.write(QByteArray(1, c));
                QTest::qWait(3);
            }
            expectRtuReply(frame[1] == 17 ? 23 : frame[1] == 16 ? 8 : 29);
            QCOMPARE(bus.requests().size(), 1);
            QCOMPARE(bus.requests()[0].raw, frame);
        }
        QCOMPARE(bus.module(1)->holding(0), 0xAA);
    }

    void rtuNoiseBeforeAFrame_data() {
        QTest::addColumn<QByteArray>("noise");
        QTest::addColumn<bool>("apart");
        for (const bool apart : {false, true}) {
            const char* how = apart ? "apart" : "together";
            QTest::addRow("stray bytes, %s", how) << Hex("FF0013") << apart;
            QTest::addRow("a cut frame, %s", how) << Hex("0103000001") << apart;
            // Looks like the head of a long write: must not swallow the real frame.
            QTest::addRow("a long claim, %s", how) << Hex("01100000004080") << apart;
            QTest::addRow("a bad CRC, %s", how)
                << withCrc(Hex("010300000001")).replace(7, 1, "\x00") << apart;
            QTest::addRow("a request for nobody, %s", how) << withCrc(Hex("4D0300000001")) << apart;
        }
    }
    void rtuNoiseBeforeAFrame() {
        QFETCH(QByteArray, noise);
        QFETCH(bool, apart);
        line.write(noise);
        if (apart)
            QTest::qWait(5);
        line.write(withCrc(Hex("020300000001")));
        expectRtuReply(7);
        QCOMPARE(bus.requests().last().address, 2);
    }

    void rtuFunctionOfUnknownLengthEndsWithTheSilence() {
        line.write(withCrc(Hex("0141AABBCC")));
        expectRtuReply(5);
        QCOMPARE(bus.requests().size(), 1);
        QCOMPARE(bus.requests()[0].function, 0x41); // answered with exception 1
    }

    // Frames in pieces and several in one segment, the MBAP length telling
    // where each ends; a delayed reply holds the next back, a frame for a
    // missing unit gets no answer and holds nothing up; another connection is
    // served on its own; a frame that is not Modbus ends the connection.
    void tcpStreams() {
        QTcpSocket s, other;
        for (QTcpSocket* c : {&s, &other})
            c->connectToHost(QHostAddress::LocalHost, bus.tcpPort());
        QTRY_VERIFY(s.state() == QAbstractSocket::ConnectedState &&
                    other.state() == QAbstractSocket::ConnectedState);
        const QByteArray id = TcpFrame(9, 1, Hex("11"));
        s.write(id.left(3));
        QTest::qWait(50);
        s.write(id.mid(3, 3));
        QTest::qWait(50);
        QCOMPARE(s.bytesAvailable(), 0);
        s.write(id.mid(6));
        QTRY_COMPARE(s.bytesAvailable(), 27);
        QCOMPARE(s.readAll().left(10), Hex("0009000000150111120a"));

        qimsim::Fault slow;
        slow.kind = qimsim::Fault::Delay;
        slow.delayMs = 100;
        slow.times = 1;
        bus.module(3)->setFault(4, slow);
        s.write(TcpFrame(1, 3, Hex("0400000002")) + TcpFrame(2, 77, Hex("0300000001")) +
                TcpFrame(3, 1, Hex("0300000001")));
        other.write(TcpFrame(5, 2, Hex("11")));
        QTRY_COMPARE(other.bytesAvailable(), 27);
        QTRY_COMPARE(s.bytesAvailable(), 13 + 11);
        const QByteArray got = s.readAll();
        QCOMPARE(got.left(2) + got.mid(13, 2), Hex("00010003"));

        s.write(TcpFrame(1, 1, Hex("11"), 7)); // protocol 7
        QTRY_COMPARE(s.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(bus.requests().size(), 5);
    }

    void randomBytesDoNoHarm() {
        QRandomGenerator rng(20240611);
        const auto noise = [&rng](int n) {
            QByteArray b(n, '\0');
            for (char& c : b)
                c = static_cast<char>(rng.bounded(256));
            return b;
        };
        // Noise on both lines (what it happens to frame may be answered):
        // afterwards a good request is answered as ever.
        for (int i = 0; i < 50; ++i)
            line.write(noise(rng.bounded(1, 64)));
        line.write(withCrc(Hex("0111")));
        QByteArray got;
        QTRY_VERIFY((got += line.readAll()).size() >= 23 && qim::checkCRC(got.right(23), 23) &&
                    got.right(23).startsWith(Hex("0111")));
        for (int i = 0; i < 20; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, bus.tcpPort());
            QTRY_COMPARE(s.state(), QAbstractSocket::ConnectedState);
            s.write(TcpFrame(i, rng.bounded(256), noise(rng.bounded(1, 200))) + noise(100));
            QTest::qWait(5);
        }
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, bus.tcpPort());
        QTRY_COMPARE(s.state(), QAbstractSocket::ConnectedState);
        s.write(TcpFrame(1, 1, Hex("11")));
        QTRY_COMPARE(s.bytesAvailable(), 27);
    }

    // The qimsim program's demo bus over each of its transports, asked by Qt's
    // client; the modules report the interface and the line's speed, and the
    // program leaves no COM entry behind.
    void theProgramAgainstQtClients_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QByteArray>("modeAndBaud");
        QTest::newRow("tcp") << "--tcp-port 0 --no-serial" << Hex("0102");
        QTest::newRow("pty as COM32") << "--no-tcp --com 32" << Hex("0002");
        QTest::newRow("serial device") << "--no-tcp --baud 9600 --serial" << Hex("0003");
    }
    void theProgramAgainstQtClients() {
        QFETCH(QString, how);
        QFETCH(QByteArray, modeAndBaud);
        qimtest::PtyPair pair;
        QStringList args = how.split(' ') << QStringLiteral("--verbose");
        if (args.contains(QStringLiteral("--serial"))) {
            QVERIFY(pair.start());
            args.insert(args.indexOf(QStringLiteral("--serial")) + 1, pair.oursDevice());
        }
        QProcess sim;
        sim.start(QStringLiteral(QIMSIM_PATH), args);
        QString out;
        QTRY_VERIFY((out += QString::fromLocal8Bit(sim.readAllStandardOutput()))
                        .contains(QRegularExpression(QStringLiteral("port \\d+\\n|COM32|8N2"))));
        const QString com = qim::PortNames::portFolder() + QStringLiteral("/COM32");
        std::unique_ptr<QModbusClient> client;
        if (how.startsWith(QStringLiteral("--tcp"))) {
            client = std::make_unique<QModbusTcpClient>();
            client->setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                           QStringLiteral("127.0.0.1"));
            client->setConnectionParameter(
                QModbusDevice::NetworkPortParameter,
                out.section(QStringLiteral(" port "), 1).section('\n', 0, 0).toInt());
        } else {
            client = std::make_unique<QModbusRtuSerialClient>();
            client->setConnectionParameter(QModbusDevice::SerialPortNameParameter,
                                           pair.theirs().isEmpty() ? com : pair.theirs());
            client->setConnectionParameter(QModbusDevice::SerialBaudRateParameter,
                                           modeAndBaud[1] == 3 ? 9600 : 19200);
            client->setConnectionParameter(QModbusDevice::SerialStopBitsParameter,
                                           QSerialPort::TwoStop);
        }
        client->setTimeout(10000);
        client->setNumberOfRetries(0);
        QVERIFY(client->connectDevice());
        QTRY_COMPARE(client->state(), QModbusDevice::ConnectedState);

        // Holding registers of the analog module, both ways (functions 16 and 3).
        QModbusDataUnit dac(QModbusDataUnit::HoldingRegisters, 0, QList<quint16>{4095, 17, 2048});
        auto r = Finish(client->sendWriteRequest(dac, 3));
        QVERIFY(r && r->error() == QModbusDevice::NoError);
        r = Finish(client->sendReadRequest({QModbusDataUnit::HoldingRegisters, 0, 11}, 3));
        QVERIFY(r && r->error() == QModbusDevice::NoError);
        QCOMPARE(r->result().values().mid(0, 3), dac.values());
        // The temperature module's inputs and relays (functions 4, 5 and 1).
        r = Finish(client->sendReadRequest({QModbusDataUnit::InputRegisters, 0, 12}, 4));
        QVERIFY(r && r->error() == QModbusDevice::NoError);
        QCOMPARE(r->result().valueCount(), 12);
        r = Finish(client->sendWriteRequest({QModbusDataUnit::Coils, 2, QList<quint16>{1}}, 4));
        QVERIFY(r && r->error() == QModbusDevice::NoError);
        r = Finish(client->sendReadRequest({QModbusDataUnit::Coils, 0, 4}, 4));
        QVERIFY(r && r->error() == QModbusDevice::NoError);
        QCOMPARE(r->result().values().mid(0, 4), (QList<quint16>{0, 0, 1, 0}));
        // A function the module lacks: exception 1 (Qt's own decoding of it
        // reads its enum out of range; the byte will do).
        r = Finish(client->sendReadRequest({QModbusDataUnit::InputRegisters, 0, 1}, 1));
        QVERIFY(r && r->error() == QModbusDevice::ProtocolError);
        QCOMPARE(r->rawResult().data().left(1), Hex("01"));
        // Identification: the interface asked over, the line's speed. (Qt calls
        // the reply invalid: it wants the run indicator last; the bytes will do.)
        r = Finish(client->sendRawRequest(QModbusRequest(QModbusPdu::ReportServerId), 2));
        QVERIFY(r);
        QCOMPARE(r->rawResult().data().mid(1, 1) + r->rawResult().data().mid(7, 2),
                 Hex("0b") + modeAndBaud);
        client->disconnectDevice();

        sim.terminate(); // SIGTERM
        QTRY_COMPARE(sim.state(), QProcess::NotRunning);
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY((out + sim.readAllStandardOutput()).contains("unit 4 fn 5 start 2 values 65280"));
        QVERIFY(!QFileInfo(com).isSymLink());
    }
};

QIM_TEST_GUILESS_MAIN(TestSimWire)
#include "tst_simwire.moc"

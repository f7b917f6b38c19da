// Our requests against Modbus servers that nobody here wrote: Qt's own
// QModbusTcpServer, and QModbusRtuSerialServer over a socat pty pair.
#include "ConfigFile.h"
#include "Link.h"
#include "PortNames.h"
#include "QtPeers.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>

using namespace qim;
using namespace qimtest;

class TestPeers : public QObject {
    Q_OBJECT
    std::unique_ptr<Link> link;

    static QModbusDataUnitMap map() {
        QModbusDataUnitMap m;
        m.insert(QModbusDataUnit::Coils, {QModbusDataUnit::Coils, 0, 8});
        m.insert(QModbusDataUnit::HoldingRegisters, {QModbusDataUnit::HoldingRegisters, 0, 32});
        m.insert(QModbusDataUnit::InputRegisters, {QModbusDataUnit::InputRegisters, 0, 16});
        return m;
    }

    // Functions 3, 4, 5, 6 and 16 against server, both ways.
    void exercise(QModbusServer& server, LinkSettings settings) {
        settings.serialTimeoutMs = settings.tcpTimeoutMs = 1000;
        link->setSettings(settings);
        server.setData(QModbusDataUnit::InputRegisters, 11, 0xBEEF);
        server.setData(QModbusDataUnit::HoldingRegisters, 2, 1234);

        Outcome o = await([this](Requester r) { link->readInputRegisters(1, 0, 12, r); });
        QCOMPARE(o.reply.status, 255);
        QCOMPARE(o.reply.reg(11).value(), 0xBEEF);

        o = await([this](Requester r) { link->readHoldingRegisters(1, 2, 1, r); });
        QCOMPARE(o.reply.status, 255);
        QCOMPARE(o.reply.reg(0).value(), 1234);

        QCOMPARE(
            await([this](Requester r) { link->writeSingleCoil(1, 2, 0xFF00, r); }).reply.status,
            255);
        quint16 v = 0;
        QVERIFY(server.data(QModbusDataUnit::Coils, 2, &v));
        QVERIFY(v != 0);
        QCOMPARE(await([this](Requester r) { link->writeSingleCoil(1, 2, 0, r); }).reply.status,
                 255);
        QVERIFY(server.data(QModbusDataUnit::Coils, 2, &v));
        QCOMPARE(v, 0);

        QCOMPARE(
            await([this](Requester r) { link->writeSingleRegister(1, 6, -1, r); }).reply.status,
            255);
        QVERIFY(server.data(QModbusDataUnit::HoldingRegisters, 6, &v));
        QCOMPARE(v, 0xFFFF);

        std::array<int32_t, 29> image{};
        for (int i = 7; i <= 26; ++i)
            image[static_cast<size_t>(i)] = i * 10;
        o = await([&](Requester r) { link->writeMultipleRegisters(1, 7, 20, image, r); });
        QCOMPARE(o.reply.status, 255);
        for (int i = 7; i <= 26; ++i) {
            QVERIFY(server.data(QModbusDataUnit::HoldingRegisters, static_cast<quint16>(i), &v));
            QCOMPARE(v, i * 10);
        }
        // An address outside the server's map: its exception, 2.
        o = await([this](Requester r) { link->readHoldingRegisters(1, 100, 1, r); });
        QCOMPARE(o.reply.status, 2);

        // A configuration of each kind, written as the panels write it, reads
        // back whole. The PWM outputs (registers 1..4) are their sliders' own.
        Temperature::Image temperature;
        temperature.config = 0x4542;
        temperature.control = 0x2100;
        temperature.loops[3] = {1000, 3, 20, 1010, 5};
        const ConfigFile::Settings configurations[] = {
            Analog::Settings{{255, 1, 0, {1, 2, 3, 4, 0, 0, 0, 0}}, {0, 7, 0, 0, 4095, 0, 0, 77}},
            temperature};
        for (const ConfigFile::Settings& settings : configurations) {
            for (quint16 pwm = 1; pwm <= 4; ++pwm)
                server.setData(QModbusDataUnit::HoldingRegisters, pwm, 0);
            for (const ModuleRequest& w : ConfigFile::writesOf(settings))
                QCOMPARE(await([&](Requester r) { w.send(*link, 1, r); }).reply.status, 255);
            const ModuleKind kind = ConfigFile::kindOf(settings);
            o = await([&](Requester r) { ConfigFile::readBack(kind).send(*link, 1, r); });
            const auto back = ConfigFile::fromReply(kind, o.reply, QStringLiteral("peer"));
            QVERIFY2(back.settings, qPrintable(back.error));
            QCOMPARE(ConfigFile::toJson(*back.settings), ConfigFile::toJson(settings));
        }
    }

private Q_SLOTS:
    void init() { link = std::make_unique<RealLink>(); }
    void cleanup() { link.reset(); }

    void qtTcpServer() {
        const quint16 port = freeLoopbackPort();
        QVERIFY(port);
        const auto server = QtTcpServer(port);
        server->setServerAddress(1);
        server->setMap(map());
        QVERIFY(server->connectDevice());
        LinkSettings tcp;
        tcp.transport = LinkSettings::Transport::Tcp;
        tcp.host = QStringLiteral("127.0.0.1");
        tcp.port = port;
        exercise(*server, tcp);
    }

    void qtRtuServerOverPtyPair() {
        PtyPair pty;
        QVERIFY(pty.start());
        const auto server = QtRtuServer(pty.theirs());
        server->setServerAddress(1);
        server->setMap(map());
        QVERIFY(server->connectDevice());
        QVERIFY(PortNames::publish(2, pty.oursDevice()));

        exercise(*server, LinkSettings{});

        link.reset();
        server->disconnectDevice();
    }
};

QIM_TEST_GUILESS_MAIN(TestPeers)
#include "tst_peers.moc"

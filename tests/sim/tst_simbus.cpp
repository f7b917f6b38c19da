// The simulated bus through the program's own link, over TCP and over the
// published pty: identification, every register map, the request record.
#include "DeviceTable.h"
#include "SimModels.h"
#include "SimTestKit.h"

#include <QSet>
#include <QSignalSpy>

using namespace qim;
using namespace simkit;

namespace {
// Volts as the analog panel converts counts for a range code.
double PanelVolts(int counts, int rangeCode) {
    static constexpr double span[] = {20.48, 10.24, 5.12, 10.24, 5.12};
    static constexpr double offset[] = {10.24, 5.12, 2.56, 0, 0};
    return counts * span[rangeCode] / 65535.0 - offset[rangeCode];
}
int RangeWord(int a, int b, int c, int d) {
    return a + b * 8 + c * 256 + d * 2048;
}
} // namespace

class TestSimBus : public QObject {
    Q_OBJECT
    qimsim::Bus bus;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY2(bus.openPty(2), qPrintable(bus.serialError()));
    }
    void init() {
        for (qimsim::Module* m : bus.modules())
            bus.removeModule(m->address());
        bus.addDemoModules();
        bus.addModule(200, 40);
        bus.setSpeedFactor(1);
        bus.clearRequests();
    }
    void cleanup() { Link::instance().reset(); }

    void identificationAsTheProgramDecodesIt_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("firmware");
        QTest::addColumn<QList<int>>("counts"); // input regs, output regs, DI, DO
        for (const bool tcp : {true, false}) {
            const char* t = tcp ? "tcp" : "rtu";
            QTest::addRow("%s K520", t) << tcp << 1 << 10 << "QIM-K520"
                                        << "1.4" << QList<int>{0, 1, 8, 8};
            QTest::addRow("%s K530", t) << tcp << 2 << 11 << "QIM-K530"
                                        << "1.2" << QList<int>{0, 1, 8, 8};
            QTest::addRow("%s M640", t) << tcp << 3 << 20 << "QIM-M640"
                                        << "2.1" << QList<int>{8, 8, 0, 0};
            QTest::addRow("%s P750", t) << tcp << 4 << 30 << "QIM-P750"
                                        << "3.2" << QList<int>{12, 26, 0, 4};
            QTest::addRow("%s unknown", t) << tcp << 200 << 40 << ""
                                           << "1.0" << QList<int>{16, 16, 0, 0};
        }
    }
    void identificationAsTheProgramDecodesIt() {
        QFETCH(bool, tcp);
        QFETCH(int, address);
        QFETCH(int, code);
        QFETCH(QString, name);
        QFETCH(QString, firmware);
        QFETCH(QList<int>, counts);
        UseTransport(bus, tcp);
        const Reply r = Identify(static_cast<uint8_t>(address));
        QCOMPARE(r.status, Status::Ok);
        QCOMPARE(r.payloadSize(), 21);
        QCOMPARE(r.byteAt(1), 17);
        QCOMPARE(r.byteAt(2), 18);

        ClearDeviceTable();
        QVERIFY(AddFoundDevice(0, r));
        const DeviceRecord& d = DeviceTable[0];
        QCOMPARE(d.DeviceAddress, address);
        QCOMPARE(d.DeviceCode, code);
        QCOMPARE(d.DeviceName.text.trimmed().remove(QChar(0)), name);
        QCOMPARE(d.FirmwareRevision.text.trimmed(), firmware);
        QCOMPARE(d.HardwareRevision.text.trimmed().size(), 1);
        // The module speaks the interface it was asked over, at the line's speed.
        QCOMPARE(d.ConnectionMode.text.trimmed(), tcp ? "TCP/IP" : "RS422");
        QCOMPARE(d.BaudRate.text.trimmed(), "19200");
        QCOMPARE(
            (QList<int>{d.InputRegisters, d.OutputRegisters, d.DiscreteInputs, d.DiscreteOutputs}),
            counts);
    }

    void identificationCanBeOverridden() {
        UseTransport(bus, true);
        qimsim::Module* m = bus.module(200);
        m->identity().connectionMode = 5;
        m->identity().baudCode = 0;
        m->identity().firmwareMinor = 10;
        m->identity().hardwareRevision = 'B';
        Reply r = Identify(200);
        ClearDeviceTable();
        QVERIFY(AddFoundDevice(0, r));
        QCOMPARE(DeviceTable[0].BaudRate.text.trimmed(), "115200");
        QCOMPARE(DeviceTable[0].FirmwareRevision.text.trimmed(), "1.10");
        QCOMPARE(DeviceTable[0].HardwareRevision.text.trimmed(), "B");
        QCOMPARE(DeviceTable[0].ConnectionMode.text.trimmed(), "TCP/IP");

        // A pinned block goes out byte for byte, unlisted baud code included.
        QByteArray block(18, '\0');
        block[0] = 10;
        block[7] = 7;
        m->setIdentification(block);
        r = Identify(200);
        QCOMPARE(r.bytes.mid(3, 18), block);
        ClearDeviceTable();
        QVERIFY(AddFoundDevice(0, r));
        QCOMPARE(DeviceTable[0].DeviceName.text.trimmed(), "QIM-K520");
        QCOMPARE(DeviceTable[0].BaudRate.text.count(QChar(0)), 32); // left blank
    }

    void discreteOutputsComeBackAsInputs_data() { AddTransports(); }
    void discreteOutputsComeBackAsInputs() {
        QFETCH(bool, tcp);
        UseTransport(bus, tcp);
        for (const uint8_t a : {1, 2}) {
            auto* k = dynamic_cast<qimsim::DiscreteModule*>(bus.module(a));
            QVERIFY(k);
            k->setWalking(false);
            QCOMPARE(WriteRegister(a, 0, 0x85), Status::Ok);
            QCOMPARE(k->outputs(), 0x85);
            QCOMPARE(k->holding(0).value(), 0x85);
            const Reply r = ReadHolding(a, 0, 1);
            QVERIFY(r.hasRegisters(1));
            QCOMPARE(r.reg(0).value(), 0x85);
        }
        // The walking light lights exactly one of inputs 6..8 on top of the outputs.
        auto* k = dynamic_cast<qimsim::DiscreteModule*>(bus.module(1));
        k->setWalking(true);
        bus.setSpeedFactor(0); // only advanceTime moves the light
        QCOMPARE(WriteRegister(1, 0, 0x01), Status::Ok);
        QSet<int> lit;
        for (int i = 0; i < 3; ++i) {
            const int in = ReadHolding(1, 0, 1).reg(0).value_or(-1);
            QCOMPARE(in & 0x1F, 0x01);
            const int walk = in & 0xE0;
            QVERIFY2(walk == 0x20 || walk == 0x40 || walk == 0x80, qPrintable(QString::number(in)));
            lit << walk;
            bus.advanceTime(1.0);
        }
        QCOMPARE(lit.size(), 3);

        // A pinned read wins over the harness.
        k->forceRead(3, 0, 129);
        QCOMPARE(ReadHolding(1, 0, 1).reg(0).value(), 129);
        k->forceRead(3, 0, std::nullopt);
        QCOMPARE(ReadHolding(1, 0, 1).reg(0).value() & 0x1F, 0x01);
    }

    void analogInputsFollowTheDacThroughTheRanges_data() { AddTransports(); }
    void analogInputsFollowTheDacThroughTheRanges() {
        QFETCH(bool, tcp);
        UseTransport(bus, tcp);
        std::vector<int32_t> image(17, 0);
        image[0] = 4095; // AO1: 10 V
        image[1] = 2048;
        image[2] = 0;
        image[3] = 1000;
        image[4] = 4095; // CL1: 20 mA
        QCOMPARE(WriteRegisters(3, 0, 8, image), Status::Ok);
        // Manual conversion, no averaging, 10 ms; all inputs on 0..10 V.
        image[8] = 10 * 256 + 128;
        image[9] = image[10] = RangeWord(3, 3, 3, 3);
        QCOMPARE(WriteRegisters(3, 8, 3, image), Status::Ok);
        Reply back = ReadHolding(3, 0, 11);
        QVERIFY(back.hasRegisters(11));
        for (int k = 0; k < 11; ++k)
            QCOMPARE(back.reg(k).value(), image[static_cast<size_t>(k)]);

        Reply r = ReadInputs(3, 0, 8);
        QVERIFY(r.hasRegisters(8));
        const double expected[] = {10.0, 2048 * 10.0 / 4095, 0.0, 1000 * 10.0 / 4095, 5.0};
        for (int k = 0; k < 5; ++k)
            QVERIFY2(qAbs(PanelVolts(r.reg(k).value(), 3) - expected[k]) < 0.001,
                     qPrintable(QStringLiteral("AIN%1").arg(k + 1)));
        const int countsOn10V = r.reg(0).value();

        // Other ranges: other counts, the same volts where they fit.
        image[9] = RangeWord(0, 4, 2, 1);
        QCOMPARE(WriteRegisters(3, 9, 1, image), Status::Ok);
        r = ReadInputs(3, 0, 4);
        QVERIFY(r.hasRegisters(4));
        QVERIFY(r.reg(0).value() != countsOn10V);
        const int codes[] = {0, 4, 2, 1};
        for (int k = 0; k < 4; ++k)
            QVERIFY2(qAbs(PanelVolts(r.reg(k).value(), codes[k]) - expected[k]) < 0.001,
                     qPrintable(QStringLiteral("AIN%1").arg(k + 1)));
        // Beyond a range the converter saturates.
        image[0] = 4095;
        image[9] = RangeWord(4, 4, 4, 4);
        QCOMPARE(WriteRegisters(3, 9, 1, image), Status::Ok);
        QCOMPARE(ReadInputs(3, 0, 1).reg(0).value(), 65535);

        // Outside the map.
        QCOMPARE(ReadInputs(3, 0, 9).status, 2);
        QCOMPARE(ReadInputs(3, 8, 1).status, 2);
        QCOMPARE(WriteRegister(3, 11, 1), 2);
        QCOMPARE(WriteCoil(3, 0, 0xFF00), 1);
    }

    void temperatureRegistersAndRelays_data() { AddTransports(); }
    void temperatureRegistersAndRelays() {
        QFETCH(bool, tcp);
        UseTransport(bus, tcp);
        qimsim::Module* t = bus.module(4);
        QCOMPARE(WriteCoil(4, 2, 0xFF00), Status::Ok);
        QCOMPARE(t->coil(2), true);
        QCOMPARE(t->coil(1), false);
        QCOMPARE(WriteCoil(4, 2, 0), Status::Ok);
        QCOMPARE(t->coil(2), false);
        QCOMPARE(WriteCoil(4, 4, 0xFF00), 2);
        QCOMPARE(WriteCoil(4, 0, 0x1234), 3); // a coil is on or off

        QCOMPARE(WriteRegister(4, 2, 40), Status::Ok);
        QCOMPARE(t->holding(2).value(), 40);
        QCOMPARE(WriteRegister(4, 5, 0x4542), Status::Ok);
        QCOMPARE(WriteRegister(4, 6, 0x1210), Status::Ok);
        std::vector<int32_t> image(29, 0);
        for (int k = 7; k <= 26; ++k)
            image[static_cast<size_t>(k)] = 1000 + k;
        QCOMPARE(WriteRegisters(4, 7, 20, image), Status::Ok);
        for (int k = 7; k <= 26; ++k)
            QCOMPARE(t->holding(k).value(), 1000 + k);
        const Reply back = ReadHolding(4, 5, 22);
        QVERIFY(back.hasRegisters(22));
        QCOMPARE(back.reg(0).value(), 0x4542);
        QCOMPARE(back.reg(21).value(), 1026);

        // A write that runs past the map is refused whole.
        QCOMPARE(WriteRegisters(4, 20, 8, image), 2);
        QCOMPARE(t->holding(20).value(), 1020);
        QCOMPARE(WriteRegister(4, 0, 1), 2);
        QCOMPARE(WriteRegister(4, 27, 1), 2);

        const Reply in = ReadInputs(4, 0, 12);
        QVERIFY(in.hasRegisters(12));
        for (int loop = 0; loop < 3; ++loop) {
            QVERIFY(in.reg(loop).value() >= 15 && in.reg(loop).value() <= 30); // room
            QCOMPARE(in.reg(4 + loop).value() & 0x0F, 0);                      // sensor fine
            QVERIFY(in.reg(8 + loop).value() >= 15 && in.reg(8 + loop).value() <= 35);
        }
        // The demo's loop 4 has no thermocouple.
        QCOMPARE(in.reg(3).value(), 2047);
        QCOMPARE(in.reg(7).value() & 0x0F, 0x09);
        QCOMPARE(ReadInputs(4, 0, 13).status, 2);
        QCOMPARE(ReadInputs(4, 0, 0).status, 3);
    }

    void unsupportedFunctionsAndSilentAddresses_data() { AddTransports(); }
    void unsupportedFunctionsAndSilentAddresses() {
        QFETCH(bool, tcp);
        UseTransport(bus, tcp, 300);
        QCOMPARE(ReadInputs(1, 0, 1).status, 1);
        QCOMPARE(WriteCoil(2, 0, 0xFF00), 1);
        QCOMPARE(ReadHolding(1, 1, 1).status, 2);
        QCOMPARE(ReadHolding(1, 0, 2).status, 2);
        QCOMPARE(WriteCoil(200, 0, 0xFF00), 1);

        // Nobody at 77; broadcast writes reach everyone and nobody answers.
        QCOMPARE(ReadHolding(77, 0, 1).status, Status::WrongLength);
        QCOMPARE(WriteRegister(0, 0, 0x0F), Status::WrongLength);
        QCOMPARE(bus.module(1)->holding(0).value(), 0x0F);
        QCOMPARE(bus.module(2)->holding(0).value(), 0x0F);
        QCOMPARE(bus.module(3)->holding(0).value(), 0x0F);
        const auto recs = bus.requests();
        QCOMPARE(recs.size(), 7);
        QCOMPARE(recs[5].address, 77);
        QCOMPARE(recs[6].address, 0);
    }

    void theRecordHoldsWhatWasSent_data() { AddTransports(); }
    void theRecordHoldsWhatWasSent() {
        QFETCH(bool, tcp);
        UseTransport(bus, tcp);
        QSignalSpy spy(&bus, &qimsim::Bus::requestReceived);
        General::TransactionId = 41;
        std::vector<int32_t> image(29, 0);
        image[7] = 150;
        image[8] = 3;
        image[9] = 0x10005; // goes out as its low 16 bits
        QCOMPARE(WriteRegisters(4, 7, 3, image), Status::Ok);
        AdvanceTransactionId();
        QCOMPARE(ReadInputs(4, 0, 12).status, Status::Ok);
        QCOMPARE(WriteCoil(4, 3, 0xFF00), Status::Ok);

        const auto recs = bus.requests();
        QCOMPARE(recs.size(), 3);
        QCOMPARE(spy.size(), 3);
        QCOMPARE(recs[0].tcp, tcp);
        QCOMPARE(recs[0].address, 4);
        QCOMPARE(recs[0].function, 16);
        QCOMPARE(recs[0].start, 7);
        QCOMPARE(recs[0].count, 3);
        QCOMPARE(recs[0].values, (QVector<uint16_t>{150, 3, 5}));
        QCOMPARE(recs[1].function, 4);
        QCOMPARE(recs[1].count, 12);
        QCOMPARE(recs[2].function, 5);
        QCOMPARE(recs[2].start, 3);
        QCOMPARE(recs[2].values, (QVector<uint16_t>{0xFF00}));
        QCOMPARE(recs[2].raw, General::TxBuffer);
        if (tcp) {
            QCOMPARE(recs[0].transactionId, 41);
            QCOMPARE(recs[1].transactionId, 42);
        }
    }
};

QIM_TEST_GUILESS_MAIN(TestSimBus)
#include "tst_simbus.moc"

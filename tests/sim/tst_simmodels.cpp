// The modules' behaviour as a panel sees it through the link: the thermal
// loops, their status bits and encodings, the analog signals.
#include "SimModels.h"
#include "SimTestKit.h"

using namespace qim;
using namespace simkit;
using Sensor = qimsim::TemperatureModule::Sensor;

namespace {
constexpr uint8_t P750 = 5;

int Signed12(int v) {
    return v >= 2048 ? v - 4096 : v;
}
int ProcessValue(int loop) {
    const Reply r = ReadInputs(P750, loop, 1);
    return r.hasRegisters(1) ? Signed12(r.reg(0).value()) : -9999;
}
int StatusWord(int loop) {
    const Reply r = ReadInputs(P750, 4 + loop, 1);
    return r.hasRegisters(1) ? r.reg(0).value() : -1;
}
int LoopBase(int loop) {
    return 7 + 5 * loop;
}
} // namespace

class TestSimModels : public QObject {
    Q_OBJECT
    qimsim::Bus bus;
    qimsim::TemperatureModule* t = nullptr;

private Q_SLOTS:
    void initTestCase() { QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0)); }
    void init() {
        bus.setSpeedFactor(0); // each test chooses how time runs
        t = static_cast<qimsim::TemperatureModule*>(bus.addModule(P750, 30));
        UseTransport(bus, true, 1000);
    }
    void cleanup() { Link::instance().reset(); }

    void heaterOnRisesAndOffFallsTowardTheRoom() {
        const int room = ProcessValue(0);
        QVERIFY2(room >= 15 && room <= 30, qPrintable(QString::number(room)));
        QCOMPARE(StatusWord(0), 0);
        bus.setSpeedFactor(200);

        // Manual mode: the heater follows the loop's PWM register.
        QCOMPARE(WriteRegister(P750, 1, 100), Status::Ok);
        QTRY_VERIFY_WITH_TIMEOUT(ProcessValue(0) > room + 100, 15000);
        QCOMPARE(StatusWord(0), 100 << 8 | qimsim::TemperatureModule::HeaterOn);
        QVERIFY(qAbs(ProcessValue(1) - room) <= 3); // the next loop stays cold

        const int hot = ProcessValue(0);
        QCOMPARE(WriteRegister(P750, 1, 0), Status::Ok);
        QTRY_VERIFY_WITH_TIMEOUT(ProcessValue(0) < hot - 50, 15000);
        QCOMPARE(StatusWord(0), 0);
        // Left alone it ends at the room temperature, not below.
        bus.setSpeedFactor(0);
        bus.advanceTime(3600);
        QVERIFY(qAbs(ProcessValue(0) - room) <= 2);
    }

    void onOffHoldsTheSetPointAndTellsStability() {
        QCOMPARE(WriteRegister(P750, 6, 0x0001), Status::Ok); // loop 1 ON/OFF
        QCOMPARE(WriteRegister(P750, LoopBase(0), 150), Status::Ok);
        bus.setSpeedFactor(200);
        QTRY_VERIFY_WITH_TIMEOUT(StatusWord(0) & qimsim::TemperatureModule::Stable, 20000);
        QVERIFY(qAbs(ProcessValue(0) - 150) <= 3);
        // Cycling around the set point, the heater is seen on and off.
        bool on = false, off = false;
        for (int i = 0; i < 200 && !(on && off); ++i) {
            bus.advanceTime(0.7);
            (StatusWord(0) & qimsim::TemperatureModule::HeaterOn ? on : off) = true;
        }
        QVERIFY(on && off);

        // A new set point far away: no longer stable, full heat.
        bus.setSpeedFactor(0);
        QCOMPARE(WriteRegister(P750, LoopBase(0), 400), Status::Ok);
        bus.advanceTime(0.5);
        QCOMPARE(StatusWord(0), 100 << 8 | qimsim::TemperatureModule::HeaterOn);
    }

    void proportionalSettlesBelowTheSetPoint() {
        QCOMPARE(WriteRegister(P750, 6, 0x0200), Status::Ok); // loop 3 proportional
        QCOMPARE(WriteRegister(P750, LoopBase(2), 200), Status::Ok);
        QCOMPARE(WriteRegister(P750, LoopBase(2) + 2, 50), Status::Ok);
        bus.advanceTime(3600);
        const int pv = ProcessValue(2);
        const int power = StatusWord(2) >> 8;
        QVERIFY2(pv > 150 && pv < 200, qPrintable(QString::number(pv)));
        QVERIFY2(power > 0 && power < 100, qPrintable(QString::number(power)));
        // The power is what the band asks for at that distance from the set point.
        QVERIFY(qAbs(power - 100 * (200 - pv) / 50) <= 3);
    }

    void alarmsNeedTheirEnableBit() {
        const int alarms =
            qimsim::TemperatureModule::AlarmHigh | qimsim::TemperatureModule::AlarmLow;
        // Loop 2 sits between a high alarm of 10 and a low alarm of 100: both crossed.
        QCOMPARE(WriteRegister(P750, LoopBase(1) + 3, 10), Status::Ok);
        QCOMPARE(WriteRegister(P750, LoopBase(1) + 4, 100), Status::Ok);
        QCOMPARE(StatusWord(1) & alarms, 0);
        QCOMPARE(WriteRegister(P750, 5, 0x2000), Status::Ok); // alarm 2 enabled
        QCOMPARE(StatusWord(1) & alarms, alarms);
        QCOMPARE(StatusWord(0) & alarms, 0); // loop 1's alarms stay off

        // Heat loop 2 through a high alarm of 100.
        QCOMPARE(WriteRegister(P750, LoopBase(1) + 3, 100), Status::Ok);
        QCOMPARE(WriteRegister(P750, LoopBase(1) + 4, 0), Status::Ok);
        QCOMPARE(StatusWord(1) & alarms, 0);
        QCOMPARE(WriteRegister(P750, 2, 100), Status::Ok);
        bus.advanceTime(120);
        QVERIFY(ProcessValue(1) > 100);
        QCOMPARE(StatusWord(1) & alarms, qimsim::TemperatureModule::AlarmHigh);
    }

    void sensorFaultsShowAndKeepTheHeaterOff() {
        QCOMPARE(WriteRegister(P750, 1, 100), Status::Ok);
        QCOMPARE(StatusWord(0) >> 8, 100);
        t->setSensor(0, Sensor::ShortToGnd);
        bus.advanceTime(1);
        QCOMPARE(StatusWord(0), 0x0A); // short to GND + fault, heater off
        QCOMPARE(ProcessValue(0), qimsim::TemperatureModule::OpenReading);
        t->setSensor(0, Sensor::ShortToVcc);
        QCOMPARE(StatusWord(0) & 0x0F, 0x0C);
        t->setSensor(0, Sensor::Open);
        QCOMPARE(StatusWord(0) & 0x0F, 0x09);
        t->setSensor(0, Sensor::Ok);
        bus.advanceTime(1);
        QCOMPARE(StatusWord(0), 100 << 8 | qimsim::TemperatureModule::HeaterOn);
    }

    void belowZeroInTwosComplement() {
        t->setRoomTemperature(-10);
        const Reply r = ReadInputs(P750, 0, 12);
        QVERIFY(r.hasRegisters(12));
        QCOMPARE(r.reg(0).value(), 4096 - 10); // 12 bits
        const int cj = r.reg(8).value();
        QVERIFY2(cj >= 128 && cj <= 255, qPrintable(QString::number(cj))); // 8 bits
        QVERIFY(cj - 256 >= -8 && cj - 256 <= -6);
    }

    void analogWaveformsMoveWithTime() {
        bus.addModule(3, 20);
        QCOMPARE(WriteRegisters(3, 10, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), Status::Ok);
        // AIN6 is a sine around 0 V on the +/-10 V range, AIN7 a triangle.
        const Reply a = ReadInputs(3, 5, 2);
        bus.advanceTime(5);
        const Reply b = ReadInputs(3, 5, 2);
        QVERIFY(a.hasRegisters(2) && b.hasRegisters(2));
        QVERIFY(a.reg(0) != b.reg(0));
        QVERIFY(a.reg(1) != b.reg(1));
        // Frozen time: the same conversion twice.
        QCOMPARE(ReadInputs(3, 5, 2).bytes, b.bytes);
    }
};

QIM_TEST_GUILESS_MAIN(TestSimModels)
#include "tst_simmodels.moc"

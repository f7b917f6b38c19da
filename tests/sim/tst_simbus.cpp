// The simulated bus through the program's own link, over TCP and over the
// published pty.
#include "DeviceTable.h"
#include "Link.h"
#include "SimModels.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryFile>
#include <numeric>

using namespace qim;
using namespace qimtest;
using qimsim::Fault;
using T = qimsim::TemperatureModule;
Q_DECLARE_METATYPE(qimsim::Fault)

namespace {
QByteArray Words(const QList<int>& v) {
    QByteArray b;
    for (const int x : v)
        b.append(static_cast<char>(x >> 8)).append(static_cast<char>(x));
    return b;
}

QList<int> Seq(int n, int from) {
    QList<int> v(n);
    std::iota(v.begin(), v.end(), from);
    return v;
}

// Everything a write could change, to show a refused one changed nothing.
QList<int> State(const qimsim::Module* m) {
    QList<int> s;
    for (int k = 0; m && k < 30; ++k)
        s << m->holding(k).value_or(-1) << m->coil(k).value_or(-1);
    return s;
}

int Pv(Link& link, int loop) { // 12-bit two's complement
    const int v = ask(link, 4, 4, loop).reg(0).value_or(-9999);
    return v >= 2048 ? v - 4096 : v;
}
int StatusWord(Link& link, int loop) {
    return ask(link, 4, 4, 4 + loop).reg(0).value_or(-1);
}
} // namespace

class TestSimBus : public QObject {
    Q_OBJECT
    qimsim::Bus bus;
    std::unique_ptr<Link> link;

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
        static_cast<qimsim::DiscreteModule*>(bus.module(1))->setWalking(false);
        bus.setSpeedFactor(0); // only advanceTime moves the models
        bus.clearRequests();
        link = std::make_unique<qimtest::RealLink>();
    }
    void cleanup() { link.reset(); }

    // Each request is served or refused as the model's register map says; a
    // served write is stored, a refused request changes nothing, and the bus
    // records what came over the wire. Every request kind against every fault
    // the simulator injects ends with the status it must and shows no
    // message, and the very next request succeeds once the module behaves.
    // (Exception replies of the wrong length: tst_frames.)
    void registerMaps_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("fc");
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("v");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("fault");
        const QList<int> one{1};
        struct Kind {
            const char* name;
            int unit, fc, start;
            QList<int> v;
        };
        const Kind kinds[] = {{"read holding", 1, 3, 0, {1}},
                              {"read input", 4, 4, 0, {12}},
                              {"coil", 4, 5, 2, {0xFF00}},
                              {"register", 1, 6, 0, {0x55}},
                              {"multiple", 4, 16, 7, QList<int>(20)},
                              {"identify", 1, 17, 0, {}}};
        for (const bool tcp : {true, false}) {
            const auto row = [tcp](const char* name, int unit, int fc, int start, QList<int> v,
                                   int status, Fault::Kind fault = Fault::None) {
                QTest::addRow("%s %s", tcp ? "tcp" : "rtu", name)
                    << tcp << unit << fc << start << v << status << int(fault);
            };
            row("K520 outputs", 1, 6, 0, {0x85}, Status::Ok);
            row("K530 outputs by 16", 2, 16, 0, {0x3C}, Status::Ok);
            row("K520 no input registers", 1, 4, 0, one, 1);
            row("K530 no coils", 2, 5, 0, {0xFF00}, 1);
            row("K520 one register", 1, 3, 0, {2}, 2);
            row("M640 all holding", 3, 16, 0, {4095, 17, 0, 1000, 4095, 0, 0, 0, 2563, 7, 9},
                Status::Ok);
            row("M640 inputs", 3, 4, 0, {8}, Status::Ok);
            row("M640 ninth input", 3, 4, 0, {9}, 2);
            row("M640 register 11", 3, 6, 11, one, 2);
            row("P750 relay", 4, 5, 2, {0xFF00}, Status::Ok);
            row("P750 relay 5", 4, 5, 4, {0xFF00}, 2);
            row("P750 coil half on", 4, 5, 0, {0x1234}, 3);
            row("P750 loop 4's last register", 4, 6, 26, {1026}, Status::Ok);
            row("P750 all registers", 4, 16, 1, Seq(26, 1001), Status::Ok);
            row("P750 past the map refused whole", 4, 16, 20, Seq(8, 20), 2);
            row("P750 register 0", 4, 6, 0, one, 2);
            row("P750 inputs", 4, 4, 0, {12}, Status::Ok);
            row("P750 input 12", 4, 4, 0, {13}, 2);
            row("P750 no registers", 4, 4, 0, {0}, 3);
            row("unknown holding", 200, 16, 0, Seq(16, 0), Status::Ok);
            row("unknown past the map", 200, 16, 15, {1, 2}, 2);
            row("unknown 125 registers, past the map", 200, 3, 0, {125}, 2);
            row("nobody at 77", 77, 3, 0, one, Status::WrongLength);
            for (const Kind& k : kinds)
                for (const auto& [what, fault, status] :
                     std::initializer_list<std::tuple<const char*, Fault::Kind, int>>{
                         {"short", Fault::MissingByte, 253},
                         {"long", Fault::ExtraByte, 253},
                         {"silent", Fault::Silence, 253},
                         {"garbage", Fault::Garbage, 253},
                         {"exception", Fault::Exception, 4}, // its code
                         {tcp ? "closed mid-reply" : "wrong crc",
                          tcp ? Fault::CloseMidReply : Fault::WrongCrc, tcp ? 253 : 254}})
                    row(qPrintable(QStringLiteral("%1 %2").arg(k.name, what)), k.unit, k.fc,
                        k.start, k.v, status, fault);
        }
    }
    void registerMaps() {
        QFETCH(bool, tcp);
        QFETCH(int, unit);
        QFETCH(int, fc);
        QFETCH(int, start);
        QFETCH(QList<int>, v);
        QFETCH(int, status);
        QFETCH(int, fault);
        // A reply that must arrive has the program's own timeout to do so;
        // one that only a timeout ends may have a short one.
        const auto timeout = [this](int ms) {
            configure(*link, [ms](LinkSettings& s) { s.serialTimeoutMs = s.tcpTimeoutMs = ms; });
        };
        aim(*link, tcp, bus.tcpPort());
        timeout(status == Status::WrongLength ? 250 : 1000);
        qimsim::Module* m = bus.module(static_cast<uint8_t>(unit));
        const QList<int> before = State(m);
        Fault f;
        f.kind = Fault::Kind(fault);
        f.exceptionCode = 4;
        if (fault != Fault::None)
            m->setFault(fc, f);
        MessageLog log(*link);
        QSignalSpy spy(&bus, &qimsim::Bus::requestReceived);
        const Reply r = ask(*link, static_cast<uint8_t>(unit), fc, start, v);
        QCOMPARE(r.status, status);
        QVERIFY(log.texts.isEmpty());

        QCOMPARE(spy.size(), 1);
        QCOMPARE(bus.requests().size(), 1);
        const qimsim::RequestRecord rec = bus.requests()[0];
        QCOMPARE(rec.tcp, tcp);
        QCOMPARE(rec.raw, link->traffic().since(0).value(0).request);
        QCOMPARE((QList<int>{rec.address, rec.function, rec.start}), (QList<int>{unit, fc, start}));
        const bool read = fc == 3 || fc == 4;
        QCOMPARE(read ? QList<int>{rec.count} : QList<int>(rec.values.begin(), rec.values.end()),
                 read ? QList<int>{v[0]} : v);
        if (fault != Fault::None) {
            m->clearFaults();
            timeout(1000);
            QCOMPARE(ask(*link, static_cast<uint8_t>(unit), fc, start, v).status, Status::Ok);
            return;
        }
        if (status != Status::Ok)
            QCOMPARE(State(m), before);
        else if (fc == 5)
            QCOMPARE(m->coil(start), v[0] != 0);
        else if (!read) // what is written reads back (a discrete module's outputs as its inputs)
            QCOMPARE(ask(*link, static_cast<uint8_t>(unit), 3, start, {int(v.size())})
                         .bytes.mid(3, 2 * v.size()),
                     Words(v));
        for (int k = 0; fc == 4 && status == Status::Ok && k < v[0]; ++k)
            QCOMPARE(r.reg(k), m->input(start + k)); // the wire shows the model's inputs
    }

    void analogInputsFollowTheDacThroughTheRanges() {
        aim(*link, true, bus.tcpPort());
        // AO1..4 and the 20 mA loop of CL1; manual conversion, no averaging.
        const QList<int> dac{4095, 2048, 0, 1000, 4095};
        QCOMPARE(ask(*link, 3, 16, 0, dac + QList<int>{0, 0, 0, 10 * 256 + 128}).status,
                 Status::Ok);
        const auto word = [](QList<int> c) { return c[0] + c[1] * 8 + c[2] * 256 + c[3] * 2048; };
        static constexpr double span[] = {20.48, 10.24, 5.12, 10.24, 5.12};
        static constexpr double offset[] = {10.24, 5.12, 2.56, 0, 0};
        // Inputs 1..4 take their ranges from register 9, 5..8 from register 10.
        for (const QList<int>& c :
             {QList<int>{3, 3, 3, 3, 3}, QList<int>{0, 4, 2, 1, 0}, QList<int>{3, 1, 4, 2, 4}}) {
            QCOMPARE(ask(*link, 3, 16, 9, {word(c), word({c[4], 3, 3, 3})}).status, Status::Ok);
            const Reply r = ask(*link, 3, 4, 0, {5});
            for (int k = 0; k < 5; ++k) {
                const double v = r.reg(k).value_or(0) * span[c[k]] / 65535.0 - offset[c[k]];
                QVERIFY2(qAbs(v - 10.0 * dac[k] / 4095 / (k == 4 ? 2 : 1)) < 0.001,
                         qPrintable(QStringLiteral("AIN%1 range %2").arg(k + 1).arg(c[k])));
            }
        }
        // Beyond its range (10 V on 0..5 V) the converter saturates.
        QCOMPARE(ask(*link, 3, 6, 9, {word({4, 4, 4, 4})}).status, Status::Ok);
        QCOMPARE(ask(*link, 3, 4, 0).reg(0), 65535);
        // AIN6 and AIN7 are waveforms: they move with time.
        const QByteArray before = ask(*link, 3, 4, 5, {2}).bytes;
        bus.advanceTime(5);
        const QByteArray after = ask(*link, 3, 4, 5, {2}).bytes;
        QVERIFY(before.mid(3, 2) != after.mid(3, 2) && before.mid(5, 2) != after.mid(5, 2));
    }

    // Manual heat, ON/OFF and proportional control, alarms, sensor faults and
    // values below zero, as the panel reads them.
    void thermalLoops() {
        aim(*link, true, bus.tcpPort());
        const int room = Pv(*link, 0);
        QCOMPARE(ask(*link, 4, 6, 1, {100}).status, Status::Ok); // loop 1 manual at 100 %
        bus.advanceTime(60);
        QVERIFY(Pv(*link, 0) > room + 100);
        QCOMPARE(StatusWord(*link, 0), 100 << 8 | T::HeaterOn);
        QVERIFY(qAbs(Pv(*link, 1) - room) <= 3); // the next loop stays cold
        // Loop 1 ON/OFF at 150, loop 3 proportional to 200 with a band of 50.
        QCOMPARE(ask(*link, 4, 6, 6, {0x0201}).status, Status::Ok);
        QCOMPARE(ask(*link, 4, 16, 7, {150}).status, Status::Ok);
        QCOMPARE(ask(*link, 4, 16, 17, {200, 0, 50}).status, Status::Ok);
        bus.advanceTime(3600);
        QVERIFY(StatusWord(*link, 0) & T::Stable && qAbs(Pv(*link, 0) - 150) <= 3);
        const int pv = Pv(*link, 2), power = StatusWord(*link, 2) >> 8;
        QVERIFY(pv > 150 && pv < 200 && qAbs(power - 100 * (200 - pv) / 50) <= 3);
        // Loop 2's alarms (high 10, low 100) show only once enabled.
        QCOMPARE(ask(*link, 4, 16, 15, {10, 100}).status, Status::Ok);
        QCOMPARE(StatusWord(*link, 1) & (T::AlarmHigh | T::AlarmLow), 0);
        QCOMPARE(ask(*link, 4, 6, 5, {0x2000}).status, Status::Ok);
        QCOMPARE(StatusWord(*link, 1) & (T::AlarmHigh | T::AlarmLow), T::AlarmHigh | T::AlarmLow);
        // Below zero: 12 bits for a process value, 8 for the cold junction.
        auto* t = static_cast<T*>(bus.module(4));
        t->setRoomTemperature(-10);
        t->setSensor(3, T::Sensor::Open); // a loop that cannot see says why, reads open
        bus.advanceTime(3600);
        QVERIFY(qAbs(ask(*link, 4, 4, 1).reg(0).value_or(0) - (4096 - 10)) <= 2);
        QVERIFY(qAbs(ask(*link, 4, 4, 8).reg(0).value_or(0) - 256 + 7) <= 1);
        QCOMPARE(StatusWord(*link, 3) & 0xFF, 0x09);
        QCOMPARE(Pv(*link, 3), T::OpenReading);
    }

    void faultsCountDownAndKeepToTheirFunction() {
        aim(*link, true, bus.tcpPort());
        qimsim::Module* m = bus.module(2);
        Fault f;
        f.kind = Fault::Exception;
        f.exceptionCode = 6;
        f.times = 2;
        m->setFault(6, f);
        QCOMPARE(ask(*link, 2, 3).status, Status::Ok); // another function
        QCOMPARE(ask(*link, 2, 6, 0, {1}).status, 6);
        QCOMPARE(ask(*link, 2, 6, 0, {2}).status, 6);
        QCOMPARE(ask(*link, 2, 6, 0, {3}).status, Status::Ok);
        // Function 0 means every function; a fault for the function wins.
        f.times = -1;
        m->setFault(17, f);
        f.kind = Fault::Silence;
        m->setFault(0, f);
        QCOMPARE(ask(*link, 2, 17).status, 6);
        QCOMPARE(ask(*link, 2, 3).status, Status::WrongLength);
        // A broadcast write reaches every module and nobody answers.
        m->clearFaults();
        QCOMPARE(ask(*link, 0, 6, 0, {0x0F}).status, Status::WrongLength);
        for (const uint8_t a : {1, 2, 3, 200})
            QCOMPARE(bus.module(a)->holding(0), 0x0F);
    }

    void theBusFile() {
        const QByteArray json = R"({ "speed": 4, "modules": [
            { "address": 7, "model": "QIM-P750", "room": 30.5,
              "sensors": ["ok", "open", "shortToGnd", "ok"],
              "faults": [ { "function": 4, "kind": "exception", "code": 11, "times": 1 } ] },
            { "address": 8, "code": 40, "firmware": "1.10", "hardware": "B",
              "connectionMode": 5, "baudCode": 7, "faults": [ { "kind": "silence" } ] },
            { "address": 9, "model": "qim-k530", "walk": false,
              "force": [ { "function": 3, "address": 0, "value": 129 } ] },
            { "address": 10, "code": 10, "identification": "0a0000000000000700000000000000000000" }
        ] })";
        double speed = 1;
        QString error;
        QVERIFY2(qimsim::loadBusJson(json, bus, &error, &speed), qPrintable(error));
        QCOMPARE(speed, 4.0);
        aim(*link, true, bus.tcpPort());
        QCOMPARE(ask(*link, 7, 4, 0, {12}).status, 11);
        const Reply r = ask(*link, 7, 4, 0, {12});
        QVERIFY(qAbs(r.reg(0).value_or(0) - 30.5) < 1);
        QCOMPARE(r.bytes.mid(13, 4).toHex(), "0009000a"); // loops 2 and 3: open, short to GND
        QCOMPARE(ask(*link, 8, 17).status, Status::WrongLength);
        QCOMPARE(ask(*link, 9, 3).reg(0), 129);
        bus.module(8)->clearFaults();
        QCOMPARE(ask(*link, 8, 17).bytes.mid(3, 8).toHex(), "28ff00010a420507");
        // The line's speed as the modules report it.
        for (const auto& [rate, code] : std::map<int, int>{{115200, 0}, {57600, 1}, {9600, 3}}) {
            bus.setLineBaudRate(rate);
            QCOMPARE(ask(*link, 9, 17).byteAt(10), code);
        }
        bus.setLineBaudRate(19200);
        // A pinned block goes out byte for byte, an unlisted baud code included.
        QCOMPARE(ask(*link, 10, 17).bytes.mid(3, 18).toHex(),
                 "0a0000000000000700000000000000000000");

        qimsim::Bus other;
        QVERIFY2(qimsim::loadBusFile(QStringLiteral(QIM_SOURCE_DIR "/sim/buses/workbench.json"),
                                     other, &error),
                 qPrintable(error));
        QCOMPARE(other.modules().size(), 7);
    }

    void aBadBusFileChangesNothing_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("says");
        const auto row = [](const char* name, const char* modules, const char* says) {
            QTest::newRow(name) << QByteArray(R"({"modules": )") + modules + "}" << says;
        };
        row("not json", "[\n { \"address\": 1, }\n]", "line 2");
        row("typo", R"([{"adress": 1, "code": 10}])", "unknown key \"adress\"");
        row("twice", R"([{"address": 3, "code": 10}, {"address": 3, "code": 20}])",
            "address 3 is taken twice");
        row("fault kind", R"([{"address": 3, "code": 10, "faults": [{"kind": "fire"}]}])",
            "modules[0] faults[0]: \"kind\" must be one of");
    }
    void aBadBusFileChangesNothing() {
        QFETCH(QByteArray, json);
        QFETCH(QString, says);
        const QList<qimsim::Module*> before = bus.modules();
        QString error;
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(json);
        file.close();
        QVERIFY(!qimsim::loadBusFile(file.fileName(), bus, &error));
        QVERIFY2(error.startsWith(file.fileName() + QStringLiteral(": ")) && error.contains(says),
                 qPrintable(error));
        QCOMPARE(bus.modules(), before);
    }
};

QIM_TEST_GUILESS_MAIN(TestSimBus)
#include "tst_simbus.moc"

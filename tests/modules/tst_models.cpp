// The module models without a window: the device codes, what each request
// puts on the wire, how each reply decodes, the registers' packing, and the
// bounds and messages of what a user enters; counts to volts against exact
// arithmetic.
#include "AnalogModule.h"
#include "DeviceCodes.h"
#include "DiscreteModule.h"
#include "Link.h"
#include "SimBus.h"
#include "TemperatureModule.h"
#include "TestSupport.h"

#include <QTest>
#include <cstdlib>
#include <numeric>

using namespace qim;
Q_DECLARE_METATYPE(qim::ModuleRequest)
Q_DECLARE_METATYPE(qim::ModuleKind)

namespace {
// A good read's reply holding regs, two bytes more where a serial reply's CRC
// stands.
Reply ReadReply(const QList<int>& regs) {
    QByteArray b("\x04\x04", 2);
    b.append(char(2 * regs.size()));
    for (const int r : regs)
        b.append(char(r >> 8)).append(char(r));
    return {Status::Ok, b + QByteArray(2, '\0')};
}

QString Numbers(const QList<int>& v) {
    QStringList t;
    for (const int x : v)
        t << QString::number(x);
    return t.join(QLatin1Char(','));
}

// The volts text worked out in integers: volts x 10000 is
// 100 x (c x S - O x 65535) / 65535 with span S and offset O in hundredths of
// a volt, rounded half to even, written with at most four decimals.
QString ExactVoltsText(int64_t c, int code) {
    constexpr int64_t S[5] = {2048, 1024, 512, 1024, 512};
    constexpr int64_t O[5] = {1024, 512, 256, 0, 0};
    const int64_t num = 100 * (c * S[code] - O[code] * 65535);
    int64_t q = num / 65535;
    const int64_t twice = 2 * std::llabs(num % 65535);
    if (twice > 65535 || (twice == 65535 && q % 2 != 0))
        q += num < 0 ? -1 : 1;
    QString frac = QString::number(std::llabs(q) % 10000).rightJustified(4, QLatin1Char('0'));
    while (frac.endsWith(QLatin1Char('0')))
        frac.chop(1);
    return (q < 0 ? QStringLiteral("-") : QString()) + QString::number(std::llabs(q) / 10000) +
           (frac.isEmpty() ? QString() : QLatin1Char('.') + frac);
}

Temperature::Image SampleImage() {
    Temperature::Image image;
    image.config = 0x4542;
    image.control = 0x2100;
    image.loops[3] = {1000, 3, 20, 1010, 5};
    return image;
}
} // namespace

class TestModels : public QObject {
    Q_OBJECT
    qimsim::Bus bus;
    Link link;

private Q_SLOTS:
    void initTestCase() {
        bus.addDemoModules(); // K520 at 1, K530 at 2, M640 at 3, P750 at 4
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0));
        LinkSettings s;
        s.transport = LinkSettings::Transport::Tcp;
        s.host = QStringLiteral("127.0.0.1");
        s.port = bus.tcpPort();
        link.setSettings(s);
    }

    void deviceCodes_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<ModuleKind>("kind");
        QTest::newRow("10") << 10 << "QIM-K520"
                            << "8 Discrete Inputs & 8 Discrete Outputs" << ModuleKind::Discrete;
        QTest::newRow("11") << 11 << "QIM-K530"
                            << "8 Discrete Inputs & 8 Relay Outputs" << ModuleKind::Discrete;
        QTest::newRow("20") << 20 << "QIM-M640"
                            << "8 Analog Inputs & 8 Analog Outputs" << ModuleKind::Analog;
        QTest::newRow("30") << 30 << "QIM-P750"
                            << "4 Temperature control loops" << ModuleKind::Temperature;
        QTest::newRow("21") << 21 << ""
                            << "" << ModuleKind::None;
    }
    void deviceCodes() {
        QFETCH(int, code);
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(ModuleKind, kind);
        QCOMPARE(DeviceNameOf(uint8_t(code)), name);
        QCOMPARE(DeviceTypeOf(uint8_t(code)), type);
        QCOMPARE(moduleKindOf(uint8_t(code)), kind);
    }

    // Every request a model makes, as the module receives it
    // (function:start:count:values) and as a failure names it.
    void requests_data() {
        QTest::addColumn<ModuleRequest>("request");
        QTest::addColumn<int>("unit");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QString>("what");
        const auto row = [](const char* name, const ModuleRequest& r, int unit, const QString& wire,
                            const char* what) {
            QTest::newRow(name) << r << unit << wire << QString::fromLatin1(what);
        };
        row("discrete outputs", Discrete::writeOutputs(0x25), 1, "6:0:0:37",
            "write of holding register 0");
        row("discrete inputs", Discrete::readInputs(), 1, "3:0:1:", "read of holding register 0");
        row("analog inputs", Analog::readInputs(), 3, "4:0:8:", "read of input registers 0 to 7");
        row("analog defaults", Analog::writeConfig({}), 3, "16:8:3:2563,6939,6939",
            "write of holding registers 8 to 10");
        row("analog config", Analog::writeConfig({255, 1, 0, {1, 2, 3, 4, 0, 0, 0, 0}}), 3,
            "16:8:3:65408,8977,0", "write of holding registers 8 to 10");
        row("dac", Analog::writeDac({0, 1, 2, 3, 4, 5, 6, 4095}), 3, "16:0:8:0,1,2,3,4,5,6,4095",
            "write of holding registers 0 to 7");
        row("dac CL2", Analog::writeDacOutput(6, 4095), 3, "16:5:1:4095",
            "write of holding register 5");
        row("temperature inputs", Temperature::readInputs(), 4,
            "4:0:12:", "read of input registers 0 to 11");
        row("loop blocks read", Temperature::readLoops(), 4,
            "3:7:20:", "read of holding registers 7 to 26");
        row("relay 3 on", Temperature::writeRelay(3, true), 4, "5:2:0:65280", "write of coil 2");
        row("relay 1 off", Temperature::writeRelay(1, false), 4, "5:0:0:0", "write of coil 0");
        row("pwm 2", Temperature::writePwm(2, 40), 4, "6:2:0:40", "write of holding register 2");
        row("set point 3", Temperature::writeSetPoint(3, 102), 4, "16:17:1:102",
            "write of holding register 17");
        const auto writes = Temperature::writeOutputRegisters(SampleImage());
        row("config word", writes[0], 4, "6:5:0:17730", "write of holding register 5");
        row("control word", writes[1], 4, "6:6:0:8448", "write of holding register 6");
        row("loop blocks written", writes[2], 4,
            "16:7:20:" + QString("0,").repeated(15) + "1000,3,20,1010,5",
            "write of holding registers 7 to 26");
    }
    void requests() {
        QFETCH(ModuleRequest, request);
        QFETCH(int, unit);
        QFETCH(QString, wire);
        QFETCH(QString, what);
        QCOMPARE(request.what(), what);
        bus.clearRequests();
        QVERIFY(
            qimtest::Await([&](Requester r) { request.send(link, uint8_t(unit), r); }).reply.ok());
        const qimsim::RequestRecord seen = bus.requests().value(0);
        QList<int> values(seen.values.begin(), seen.values.end());
        QCOMPARE(QStringLiteral("%1:%2:%3:%4")
                     .arg(seen.function)
                     .arg(seen.start)
                     .arg(seen.count)
                     .arg(Numbers(values)),
                 wire);
        QCOMPARE(seen.address, unit);
    }

    // "Write To Output Registers" is one command: all three writes go out
    // whatever the first ones return, and it fails once if any failed.
    void outputRegistersAreOneCommand() {
        const auto writes = Temperature::writeOutputRegisters(SampleImage());
        for (const int failing : {0, 6, 16}) {
            qimsim::Fault refuse;
            refuse.kind = qimsim::Fault::Exception;
            refuse.exceptionCode = 4;
            bus.module(4)->clearFaults();
            if (failing)
                bus.module(4)->setFault(failing, refuse);
            bus.clearRequests();
            std::optional<bool> ok;
            ModuleRequest::sendAll(link, 4, writes, this, [&ok](bool good) { ok = good; });
            QTRY_VERIFY(ok.has_value());
            QCOMPARE(*ok, failing == 0);
            QCOMPARE(bus.requests().size(), 3);
        }
        bus.module(4)->clearFaults();
    }

    void decoding() {
        QCOMPARE(Discrete::decodeInputs(ReadReply({129})), std::optional<uint8_t>(0x81));
        QCOMPARE(Discrete::decodeInputs(ReadReply({0xFF42})), std::optional<uint8_t>(0x42));
        QCOMPARE((QList<int>{Discrete::stateOf(0x81, 0), Discrete::stateOf(0x81, 1),
                             Discrete::stateOf(0x81, 7)}),
                 (QList<int>{1, 0, 1}));
        QCOMPARE(Discrete::withState(Discrete::withState(0x81, 2, true), 0, false), 0x84);
        // Only a good reply holding every register decodes.
        Reply refused = ReadReply({1});
        refused.status = 2;
        QVERIFY(!Discrete::decodeInputs(refused));
        QVERIFY(!Discrete::decodeInputs(Reply{Status::Ok, QByteArray("\x01\x03\x02\x00\x00\x00")}));
        QVERIFY(!Analog::decodeInputs(ReadReply(QList<int>(7, 1))));
        QVERIFY(!Temperature::decodeInputs(ReadReply(QList<int>(11, 1))));

        QCOMPARE(Analog::decodeInputs(ReadReply({0, 65535, 1, 32768, 4, 5, 6, 100})),
                 std::optional<Analog::Counts>({0, 65535, 1, 32768, 4, 5, 6, 100}));
        // Each loop its own registers; process values 12-bit and cold
        // junctions 8-bit two's complement by subtraction only (5000 reads as
        // 904); a status word's low byte the flags, its high byte the power.
        const Temperature::Readings loops{
            {{-1, -56, 0x21, 75}, {2047, 127, 0xFF, 0}, {-2048, -128, 0x90, 100}, {904, 44, 0, 0}}};
        QCOMPARE(Temperature::decodeInputs(ReadReply(
                     {0x0FFF, 2047, 2048, 5000, 0x4B21, 0xFF, 0x6490, 0, 200, 127, 128, 300})),
                 std::optional<Temperature::Readings>(loops));
        QList<int> blocks(20);
        std::iota(blocks.begin(), blocks.end(), 100);
        const auto decoded = Temperature::decodeLoops(ReadReply(blocks));
        QVERIFY(decoded && (*decoded)[0][Temperature::SetPoint] == 100 &&
                (*decoded)[2][Temperature::AlarmLow] == 114 && (*decoded)[3][4] == 119);
    }

    void packing() {
        using Temperature::ConfigFields;
        QCOMPARE((ConfigFields{2, 4, 5, {0, 0, 1, 0}}.pack()), 0x4542);
        QCOMPARE(ConfigFields::unpack(0x8F00), (ConfigFields{0, 0, 15, {0, 0, 0, 1}}));
        QCOMPARE(ConfigFields::unpack(0xF6A3), (ConfigFields{3, 10, 6, {1, 1, 1, 1}}));
        QCOMPARE((Temperature::LoopModes{{0, 0, 1, 2}}.pack()), 0x2100);
        QCOMPARE(Temperature::LoopModes::unpack(0x2112), (Temperature::LoopModes{{2, 1, 1, 2}}));
        QCOMPARE(Temperature::RegisterHexText(0x4542), QStringLiteral("0x4542"));
        QCOMPARE(Temperature::RegisterHexText(0), QStringLiteral("0x0"));
        for (const Analog::AdcConfig c :
             {Analog::AdcConfig{}, Analog::AdcConfig{255, 1, 0, {1, 2, 3, 4, 4, 3, 2, 1}}}) {
            const auto words = c.pack();
            QCOMPARE(Analog::AdcConfig::unpack(words), c);
        }
    }

    // What the user may enter for a module, rounded halves to even, and the
    // message for what is refused (-1).
    void entries_data() {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* rule, const char* text, int value, const char* message) {
            QTest::addRow("%s %s", rule, text) << rule << text << value << message;
        };
        const char* ts = "Sampling Interval must be a number from 1 to 255";
        for (const char* bad : {"0", "0.5", "256", "12a", ""})
            row("sampling", bad, -1, ts);
        row("sampling", "0.6", 1, ts);
        row("sampling", "12.5", 12, ts);
        row("sampling", "255", 255, ts);
        row("AO1", "4095.5", -1, "AO1 must be a number from 0 to 4095");
        row("AO2", "-1", -1, "AO2 must be a number from 0 to 4095");
        row("CL4", "", -1, "CL4 must be a number from 0 to 4095");
        row("CL1", "4094.6", 4095, "CL1 must be a number from 0 to 4095");
        row("AO3", "2.5", 2, "AO3 must be a number from 0 to 4095");
        const char* sp = "Set Point must be a number from 0 to 1023";
        row("loop 0", "1023", 1023, sp);
        row("loop 0", "1024", -1, sp);
        row("loop 0", "", -1, sp);
        row("loop 0", "100.5", 100, sp);
        row("loop 1", "128", -1, "Cycle Time must be a number from 0 to 127");
        row("loop 2", "0", 0, "Band must be a number from 0 to 127");
        row("loop 2", "128", -1, "Band must be a number from 0 to 127");
        row("loop 3", "1024", -1, "Alarm High must be a number from 0 to 1023");
        row("loop 4", "-0.6", -1, "Alarm Low must be a number from 0 to 1023");
        row("PWM2", "100", 100, "PWM2 must be a number from 0 to 100");
    }
    void entries() {
        QFETCH(QString, rule);
        QFETCH(QString, text);
        QFETCH(int, value);
        QFETCH(QString, message);
        if (rule == QLatin1String("sampling")) {
            QCOMPARE(Analog::parseSampling(text).value_or(-1), value);
            QCOMPARE(Analog::samplingMessage(), message);
            return;
        }
        const int n = rule.right(1).toInt();
        const EntryRule r = rule.startsWith(QLatin1String("loop")) ? Temperature::loopRule(n)
                            : rule.startsWith(QLatin1String("PWM"))
                                ? Temperature::pwmRule(n)
                                : Analog::dacRule(rule.startsWith(QLatin1String("CL")) ? n + 4 : n);
        QCOMPARE(r.parse(text).value_or(-1), value);
        QCOMPARE(r.message(), message);
    }

    // Every count on every range: no binary rounding artefact, never "-0",
    // never an exponent, no trailing zeros.
    void everyCountMatchesExactArithmetic() {
        const QLocale c(QLocale::C);
        for (int code = 0; code < 5; ++code)
            for (int counts = 0; counts <= 65535; ++counts)
                if (Analog::VoltsText(counts, code, c) != ExactVoltsText(counts, code))
                    QFAIL(qPrintable(QStringLiteral("count %1 code %2: %3, expected %4")
                                         .arg(counts)
                                         .arg(code)
                                         .arg(Analog::VoltsText(counts, code, c),
                                              ExactVoltsText(counts, code))));
        QCOMPARE(Analog::RoundDecimals(0.12345, 4), 0.1234); // a half as written goes to even
        QCOMPARE(Analog::RoundDecimals(0.12355, 4), 0.1236);
        const QLocale german(QLocale::German, QLocale::Germany);
        QCOMPARE(Analog::VoltsText(1, 0, german), QStringLiteral("-10,2397"));
        // As an input shows and a trend records it: volts as shown, or counts.
        QCOMPARE(Analog::inputText(100, 3, Analog::Display::Volts, c), QStringLiteral("0.0156"));
        QCOMPARE(Analog::inputText(100, 3, Analog::Display::Counts, c), QStringLiteral("100"));
        QCOMPARE(Analog::inputValue(1, 0, Analog::Display::Volts), -10.2397);
        QCOMPARE(Analog::inputValue(1, 0, Analog::Display::Counts), 1.0);
    }
};

QIM_TEST_GUILESS_MAIN(TestModels)
#include "tst_models.moc"

// The module models and the number-entry rule, without a window: what each
// request puts on the wire and how a failure names it, how each reply
// decodes, the registers' packing, what a user may enter and the message
// for what not, and counts to volts against exact arithmetic.
#include "AnalogModule.h"
#include "ConfigFile.h"
#include "DiscreteModule.h"
#include "Link.h"
#include "SimBus.h"
#include "TemperatureModule.h"
#include "TestSupport.h"

#include <QTest>
#include <cstdlib>
#include <numeric>

using namespace qim;

namespace {
// A good read's reply holding regs, and two bytes where a serial reply's CRC stands.
Reply ReadReply(const QList<int>& regs) {
    QByteArray b("\x04\x04", 2);
    b.append(char(2 * regs.size()));
    for (const int r : regs)
        b.append(char(r >> 8)).append(char(r));
    return {Status::Ok, b};
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

struct EntryCase {
    const char *locale, *text;
    double low, high;
    bool above;  // the exclusive lower bound
    int rounded; // -1: refused
};
// clang-format off
constexpr EntryCase Entries[] = {
    // Bounds on the value as typed, before rounding; halves to even (and the
    // module entries below).
    {"en", "247.4", 1, 247, false, -1},       {"en", "246.6", 1, 247, false, 247},
    {"en", "0.5", 0, 10, false, 0},           {"en", "1.5", 0, 10, false, 2},
    {"en", "2.500001", 0, 10, false, 3},      {"en", "0", 0, 100, true, -1},
    // Sign, exponent and blanks around are fine; anything else is not a number.
    {"en", " +7 ", 0, 10, false, 7},          {"en", "1.5E3", 0, 10000, false, 1500},
    {"en", "12abc", 0, 100, false, -1},
    // The user's locale: the comma is the decimal separator, a point is refused.
    {"de", "2,5", 0, 10, false, 2},           {"de", "1.000", 0, 10000, false, -1},
};
// clang-format on

// Settings with a value of its own in every field, each at a bound where it has one.
Analog::Settings AnalogSample() {
    return {{255, 1, 0, {0, 1, 2, 3, 4, 4, 3, 2}}, {0, 1, 2, 3, 4, 5, 4095, 77}};
}
Temperature::Image TemperatureSample() {
    Temperature::Image t;
    t.config = Temperature::ConfigFields{3, 6, 15, {1, 0, 1, 0}}.pack();
    t.control = Temperature::LoopModes{{2, 1, 0, 2}}.pack();
    t.pwm = {0, 100, 1, 50};
    t.loops = {
        {{1023, 127, 127, 1023, 0}, {0, 0, 0, 0, 1023}, {333, 3, 4, 5, 6}, {7, 8, 9, 10, 11}}};
    return t;
}
} // namespace

class TestModels : public QObject {
    Q_OBJECT
    qimsim::Bus bus;
    qimtest::RealLink link;

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
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // Every request a model makes: how a failure names it, and what the
    // module receives (function:start:count:values).
    void requests() {
        Temperature::Image image;
        image.config = 0x4542;
        image.control = 0x2100;
        image.loops[3] = {1000, 3, 20, 1010, 5};
        const auto outputs = Temperature::writeOutputRegisters(image);
        const QString zeros = QStringLiteral("0,").repeated(15);
        const std::tuple<ModuleRequest, int, QString> rows[] = {
            // clang-format off
            {Discrete::writeOutputs(0x25), 1, "write of holding register 0 6:0:0:37"},
            {Discrete::readInputs(), 1, "read of holding register 0 3:0:1:"},
            {Analog::readInputs(), 3, "read of input registers 0 to 7 4:0:8:"},
            {Analog::writeConfig({}), 3, "write of holding registers 8 to 10 16:8:3:2563,6939,6939"},
            {Analog::writeConfig({255, 1, 0, {1, 2, 3, 4, 0, 0, 0, 0}}), 3,
             "write of holding registers 8 to 10 16:8:3:65408,8977,0"},
            {Analog::writeDac({0, 1, 2, 3, 4, 5, 6, 4095}), 3,
             "write of holding registers 0 to 7 16:0:8:0,1,2,3,4,5,6,4095"},
            {Analog::writeDacOutput(6, 4095), 3, "write of holding register 5 16:5:1:4095"},
            {Temperature::readInputs(), 4, "read of input registers 0 to 11 4:0:12:"},
            {Temperature::readLoops(), 4, "read of holding registers 7 to 26 3:7:20:"},
            {Temperature::writeRelay(3, true), 4, "write of coil 2 5:2:0:65280"},
            {Temperature::writePwm(2, 40), 4, "write of holding register 2 6:2:0:40"},
            {Temperature::writeSetPoint(3, 102), 4, "write of holding register 17 16:17:1:102"},
            {outputs[0], 4, "write of holding register 5 6:5:0:17730"},
            {outputs[1], 4, "write of holding register 6 6:6:0:8448"},
            {outputs[2], 4, "write of holding registers 7 to 26 16:7:20:" + zeros + "1000,3,20,1010,5"},
            // clang-format on
        };
        for (const auto& [request, unit, expected] : rows) {
            bus.clearRequests();
            QVERIFY(qimtest::await([&](Requester r) {
                        request.send(link, uint8_t(unit), r);
                    }).reply.ok());
            const qimsim::RequestRecord seen = bus.requests().value(0);
            QStringList values;
            for (const uint16_t v : seen.values)
                values << QString::number(v);
            QCOMPARE(QStringLiteral("%1 %2:%3:%4:%5")
                         .arg(request.what())
                         .arg(seen.function)
                         .arg(seen.start)
                         .arg(seen.count)
                         .arg(values.join(QLatin1Char(','))),
                     expected);
        }
    }

    void decoding() {
        QCOMPARE(Discrete::decodeInputs(ReadReply({129})), std::optional<uint8_t>(0x81));
        QCOMPARE(Discrete::decodeInputs(ReadReply({0xFF42})), std::optional<uint8_t>(0x42));
        // Only a good reply holding every register decodes.
        Reply refused = ReadReply({1});
        refused.status = 2;
        QVERIFY(!Discrete::decodeInputs(refused));
        QVERIFY(!Discrete::decodeInputs(Reply{Status::Ok, QByteArray("\x01\x03\x02\x00", 4)}));
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
        QCOMPARE((Temperature::LoopModes{{0, 0, 1, 2}}.pack()), 0x2100);
        QCOMPARE(Temperature::LoopModes::unpack(0x2112), (Temperature::LoopModes{{2, 1, 1, 2}}));
        for (const Analog::AdcConfig c :
             {Analog::AdcConfig{}, Analog::AdcConfig{255, 1, 0, {1, 2, 3, 4, 4, 3, 2, 1}}})
            QCOMPARE(Analog::AdcConfig::unpack(c.pack()), c);
    }

    // A configuration survives the file and the module's registers whole:
    // written to the module as the panels write it, read back, saved again.
    void configurationRoundTrip() {
        const std::pair<ConfigFile::Settings, int> samples[] = {{AnalogSample(), 3},
                                                                {TemperatureSample(), 4}};
        for (const auto& [settings, unit] : samples) {
            const QByteArray json = ConfigFile::toJson(settings);
            const ModuleKind kind = ConfigFile::kindOf(settings);
            const auto loaded = ConfigFile::fromJson(json, QStringLiteral("a.json"), kind);
            QVERIFY2(loaded.settings, qPrintable(loaded.error));
            QCOMPARE(ConfigFile::toJson(*loaded.settings), json);

            QList<ModuleRequest> writes = ConfigFile::writesOf(settings);
            if (kind == ModuleKind::Temperature) // PWM outputs are written by their sliders
                for (int n = 1; n <= Temperature::PwmOutputs; ++n)
                    writes << Temperature::writePwm(
                        n, std::get<Temperature::Image>(settings).pwm[n - 1]);
            for (const ModuleRequest& w : writes)
                QVERIFY(qimtest::await([&](Requester r) {
                            w.send(link, uint8_t(unit), r);
                        }).reply.ok());
            const Reply held = qimtest::await([&](Requester r) {
                                   ConfigFile::readBack(kind).send(link, uint8_t(unit), r);
                               }).reply;
            const auto back = ConfigFile::fromReply(kind, held, QStringLiteral("Module"));
            QVERIFY2(back.settings, qPrintable(back.error));
            QCOMPARE(ConfigFile::toJson(*back.settings), json);
        }
        // A code no list holds, read from a module, is not saved as something else.
        QCOMPARE(
            ConfigFile::fromReply(ModuleKind::Analog, ReadReply(QList<int>(11, 0xFFFF)),
                                  QStringLiteral("Module 3"))
                .error,
            QStringLiteral("Module 3: adc.ranges.AIN1: must be one of \"+/- 10V\", \"+/- 5V\", "
                           "\"+/- 2.5V\", \"+ 10V\", \"+ 5V\""));
    }

    // A file that cannot be used says which field and why, and gives nothing.
    void configurationRefused_data() {
        QTest::addColumn<bool>("analog"); // the sample file edited
        QTest::addColumn<QString>("was");
        QTest::addColumn<QString>("now");
        QTest::addColumn<QString>("message");
        const auto row = [](bool analog, const char* was, const char* now, const char* message) {
            QTest::newRow(message) << analog << was << now << message;
        };
        row(true, "77\n    }\n}\n", "77\n    }\n",
            "a.json is not a configuration file: unterminated object on line 29");
        row(true, "*", "[1]", "a.json is not a configuration file: it holds no JSON object");
        row(true, "\"format\": 1", "\"format\": 2",
            "a.json has format 2; this QIMTool reads format 1");
        row(true, "\"format\": 1", "\"format\": 0.5",
            "a.json: format must be a whole number from 1");
        row(false, "", "", "a.json is a configuration of a QIM-P750, not of a QIM-M640");
        row(true, "QIM-M640", "QIM-M64", "a.json: model must be \"QIM-M640\" or \"QIM-P750\"");
        row(true, ",\n        \"CL4\": 77", "", "a.json: dacCounts.CL4 is missing");
        row(true, "\"CL4\": 77", "\"CL4\": \"77\"",
            "a.json: dacCounts.CL4: CL4 must be a number from 0 to 4095");
        row(true, "\"CL4\": 77", "\"CL4\": 4095.5",
            "a.json: dacCounts.CL4: CL4 must be a number from 0 to 4095");
        row(true, "\"samplingIntervalMs\": 255", "\"samplingIntervalMs\": 0.4",
            "a.json: adc.samplingIntervalMs: Sampling Interval must be a number from 1 to 255");
        row(true, "No Average", "16 Sampels",
            "a.json: adc.average: must be one of \"No Average\", \"2 Sampels\", \"4 Sampels\", \"8 "
            "Sampels\"");
        row(false, "\"setPointC\": 333", "\"setPointC\": 1024",
            "a.json: loops.loop3.setPointC: Set Point must be a number from 0 to 1023");
        row(false, "\"loop1\": true", "\"loop1\": 1",
            "a.json: configurationRegister.alarms.loop1: must be true or false");
        row(false, "\"word\": \"0x5F63", "\"word\": \"0x1",
            "a.json: configurationRegister.word: does not match its fields (0x5F63)");
        row(false, "\"PWM2\": 100", "\"PWM2\": 101",
            "a.json: pwmPercent.PWM2: PWM2 must be a number from 0 to 100");
    }
    void configurationRefused() {
        QFETCH(bool, analog);
        QFETCH(QString, was);
        QFETCH(QString, now);
        QFETCH(QString, message);
        QString json = QString::fromUtf8(analog ? ConfigFile::toJson(AnalogSample())
                                                : ConfigFile::toJson(TemperatureSample()));
        QVERIFY(json.count(was) == 1 || was.isEmpty() || was == QLatin1String("*"));
        json = was == QLatin1String("*") ? now : json.replace(was, now);
        // A temperature file unedited is one opened where an analog one belongs.
        const auto loaded = ConfigFile::fromJson(json.toUtf8(), QStringLiteral("a.json"),
                                                 analog || was.isEmpty() ? ModuleKind::Analog
                                                                         : ModuleKind::Temperature);
        QCOMPARE(loaded.error, message);
        QVERIFY(!loaded.settings);
    }

    // What a user may enter for a module (-1: refused) and the message then.
    void moduleEntries() {
        using Temperature::loopRule;
        const std::tuple<EntryRule, const char*, QList<std::pair<const char*, int>>> rules[] = {
            // clang-format off
            {loopRule(Temperature::SetPoint), "Set Point must be a number from 0 to 1023", {{"1023", 1023}, {"1024", -1}, {"", -1}}},
            {loopRule(Temperature::CycleTime), "Cycle Time must be a number from 0 to 127", {{"127", 127}, {"128", -1}}},
            {loopRule(Temperature::Band), "Band must be a number from 0 to 127", {{"0", 0}, {"128", -1}}},
            {loopRule(Temperature::AlarmHigh), "Alarm High must be a number from 0 to 1023", {{"1024", -1}}},
            {loopRule(Temperature::AlarmLow), "Alarm Low must be a number from 0 to 1023", {{"-0.6", -1}}},
            {Analog::dacRule(1), "AO1 must be a number from 0 to 4095", {{"4095.5", -1}, {"2.5", 2}}},
            {Analog::dacRule(8), "CL4 must be a number from 0 to 4095", {{"-1", -1}, {"4094.6", 4095}}},
            {Temperature::pwmRule(2), "PWM2 must be a number from 0 to 100", {{"100", 100}, {"100.6", -1}}},
            // clang-format on
        };
        for (const auto& [rule, message, texts] : rules) {
            QCOMPARE(rule.message(), QString::fromLatin1(message));
            for (const auto& [text, value] : texts)
                QVERIFY2(rule.parse(QString::fromLatin1(text)).value_or(-1) == value, text);
        }
        // The sampling interval: above 0, and not rounding to 0.
        QCOMPARE(Analog::samplingMessage(), "Sampling Interval must be a number from 1 to 255");
        for (const auto& [text, value] : {std::pair{"0", -1},
                                          {"0.5", -1},
                                          {"0.6", 1},
                                          {"12.5", 12},
                                          {"255", 255},
                                          {"256", -1},
                                          {"12a", -1}})
            QVERIFY2(Analog::parseSampling(QString::fromLatin1(text)).value_or(-1) == value, text);
    }

    // The one rule for every number the user types.
    void entry() {
        for (const EntryCase& c : Entries) {
            QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
            const QString text = QString::fromLatin1(c.text);
            const auto e =
                c.above ? parseEntryAbove(text, c.low, c.high) : parseEntry(text, c.low, c.high);
            QVERIFY2((e ? e->rounded : -1) == c.rounded, c.text);
            QVERIFY2(!e || e->value == QLocale().toDouble(text.trimmed()), c.text);
        }
    }

    // Every count on every range: no binary rounding artefact, never "-0",
    // never an exponent, no trailing zeros.
    void everyCountMatchesExactArithmetic() {
        const QLocale c(QLocale::C);
        for (int code = 0; code < 5; ++code)
            for (int counts = 0; counts <= 65535; ++counts)
                if (Analog::voltsText(counts, code, c) != ExactVoltsText(counts, code))
                    QFAIL(qPrintable(QStringLiteral("count %1 code %2: %3, expected %4")
                                         .arg(counts)
                                         .arg(code)
                                         .arg(Analog::voltsText(counts, code, c),
                                              ExactVoltsText(counts, code))));
        QCOMPARE(Analog::roundDecimals(0.12345, 4), 0.1234); // a half as written goes to even
        QCOMPARE(Analog::roundDecimals(0.12355, 4), 0.1236);
        const QLocale german(QLocale::German, QLocale::Germany);
        QCOMPARE(Analog::voltsText(1, 0, german), QStringLiteral("-10,2397"));
        QCOMPARE(Analog::volts(1000, 7), Analog::volts(1000, Analog::DefaultRange)); // no such code
    }
};

QIM_TEST_GUILESS_MAIN(TestModels)
#include "tst_models.moc"

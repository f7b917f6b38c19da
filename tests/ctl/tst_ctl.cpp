// qimctl as a script sees it: run as a program against the simulator (over
// TCP, its pty by device and by COMn), against Qt's own Modbus servers and
// against slaves the test plays; stdout, stderr and the exit code of every
// command, and what reached the bus.
#include "QtPeers.h"
#include "SimBus.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <csignal>
#include <unistd.h>

using qimtest::Chunk;

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

// Runs qimctl without blocking the event loop the simulator answers in.
// `before` sets the process up, `during` sees it running (to interrupt it).
using Hook = std::function<void(QProcess&)>;
Run Ctl(const QString& args, const Hook& during = {}, const Hook& before = {}) {
    QProcess p;
    QSignalSpy done(&p, &QProcess::finished);
    if (before)
        before(p);
    p.start(QStringLiteral(QIMCTL_PATH), args.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    if (during)
        during(p);
    const bool finished = !done.isEmpty() || done.wait(60000);
    return {!finished                                ? -1
            : p.exitStatus() == QProcess::NormalExit ? p.exitCode()
                                                     : 128 + p.exitCode(),
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError()).trimmed()};
}

QString Request(const qimsim::RequestRecord& r) {
    QStringList v;
    for (const uint16_t x : r.values)
        v << QString::number(x);
    return QStringLiteral("%1:%2:%3").arg(r.function).arg(r.start).arg(v.join(QLatin1Char(',')));
}

bool Matches(const QString& pattern, const QString& text) {
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(text).hasMatch();
}

// A text table's columns line up: the last column starts (text) or ends
// (a number) at the same place on every line.
bool Aligned(const QString& text) {
    static const QRegularExpression last(QStringLiteral(" {2,}(\\S+(?: \\S+)*)$"));
    QSet<qsizetype> starts, ends;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        starts << line.size() - last.match(line).captured(1).size();
        ends << line.size();
    }
    return starts.size() <= 1 || ends.size() <= 1;
}

// A QIM-K520 played by the test at whatever unit is asked, on either link:
// its identification at once, its inputs (0x81) after readMs.
QList<Chunk> K520(const QByteArray& rq, bool tcp, int readMs) {
    const QByteArray pdu = tcp ? rq.mid(7) : rq.mid(1, rq.size() - 3);
    const bool id = !pdu.isEmpty() && pdu[0] == 17;
    const QByteArray body =
        rq.mid(tcp ? 6 : 0, 1) +
        QByteArray::fromHex(id ? "11120AFF00034242000200000108080000000000" : "03020081");
    const int delay = id ? 0 : readMs;
    if (!tcp)
        return {{qimtest::withCrc(body), delay}};
    return {{rq.left(4) + QByteArray(1, '\0') + char(body.size()) + body, delay}};
}

// Qt's TCP server refuses Report Server ID, a serial-line function; the
// gateways in front of these modules pass it on, so this one answers it.
class GatewayServer : public QModbusTcpServer {
    QModbusResponse processRequest(const QModbusPdu& request) override {
        return request.functionCode() == QModbusPdu::ReportServerId
                   ? QModbusServer::processRequest(request)
                   : QModbusTcpServer::processRequest(request);
    }
};

} // namespace

class TestCtl : public QObject {
    Q_OBJECT
    qimsim::Bus bus;
    qimtest::NeverAccepting never;
    QHash<QString, QString> links; // a row's link: its options
    QString locPath;               // where de_DE.UTF-8 was generated, if the system lacks it
    bool german = true;            // de_DE.UTF-8 can be had

    void faultFromRow(const QString& faults) {
        // "address function kind [value]": silence, delay ms, crc, exception code
        const QStringList f = faults.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.isEmpty())
            return;
        using F = qimsim::Fault;
        F fault;
        const QHash<QString, F::Kind> kinds{
            {"silence", F::Silence}, {"delay", F::Delay}, {"crc", F::WrongCrc}};
        fault.kind = kinds.value(f.at(2), F::Exception);
        fault.delayMs = f.value(3).toInt();
        fault.exceptionCode = static_cast<uint8_t>(fault.delayMs);
        bus.module(static_cast<uint8_t>(f.at(0).toInt()))->setFault(f.at(1).toInt(), fault);
    }
    // Runs qimctl in a locale (LANG and LC_ALL).
    Hook inLocale(const QString& lang) const {
        QStringList env = QProcess::systemEnvironment() << "LANG=" + lang << "LC_ALL=" + lang;
        if (!locPath.isEmpty())
            env << "LOCPATH=" + locPath;
        return [env](QProcess& p) { p.setEnvironment(env); };
    }

private Q_SLOTS:
    void initTestCase() {
        bus.addDemoModules(); // K520 at 1, K530 at 2, M640 at 3, P750 at 4
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY(bus.openPty(7));
        links = {{"tcp", QStringLiteral("--tcp 127.0.0.1:%1 ").arg(bus.tcpPort())},
                 {"rtu", "--port " + bus.ptyDevice() + ' '},
                 {"com", "--port COM7 "},
                 {"down", QStringLiteral("--tcp 127.0.0.1:%1 ").arg(never.port())},
                 {"none", "--port COM31 "},
                 {"null", "--port /dev/null "}};
        // What the modules' inputs read, so that every decoding has a known answer.
        bus.module(1)->forceRead(3, 0, 0x0125); // inputs 1, 3, 6; the high byte is not an input
        for (const auto& [k, counts] : {std::pair{0, 0}, {1, 65535}, {2, 1}, {3, 32768}})
            bus.module(3)->forceRead(4, k, uint16_t(counts));
        bus.module(4)->forceRead(4, 0, 0x0FFF);                   // PV1 -1
        bus.module(4)->forceRead(4, 1, 0x07FF);                   // PV2 2047, the widest
        bus.module(4)->forceRead(4, 2, 0x0800);                   // PV3 -2048
        bus.module(4)->forceRead(4, 8, 200);                      // CJ1 -56
        bus.module(4)->forceRead(4, 5, uint16_t(75 << 8 | 0x21)); // loop 2: 75 %, OC and ON
        bus.module(4)->forceRead(3, 12, 150);                     // set point of loop 2
        // The German locale, generated for qimctl alone when the system lacks it.
        QProcess locales;
        locales.start(QStringLiteral("locale"), {QStringLiteral("-a")});
        if (locales.waitForFinished() && !locales.readAll().contains("de_DE.utf8")) {
            locPath = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + "/locale";
            QDir().mkpath(locPath);
            QProcess::execute(QStringLiteral("localedef"),
                              {"-i", "de_DE", "-f", "UTF-8", locPath + "/de_DE.UTF-8"});
            german = QFileInfo::exists(locPath + "/de_DE.UTF-8/LC_NUMERIC");
        }
    }
    void cleanup() {
        for (qimsim::Module* m : bus.modules())
            m->clearFaults();
    }

    void commands_data() {
        QTest::addColumn<QString>("link"); // tcp, rtu (the pty as a device), com (as COM7)
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");  // a pattern the whole output must match
        QTest::addColumn<QString>("sent"); // the last request: function:start:values
        QTest::addColumn<QString>("err");
        const auto row = [](const char* link, const char* args, const char* fault, int code,
                            const char* out, const char* sent, const char* err) {
            QTest::addRow("%s %s %s", link, args, fault)
                << link << args << fault << code << out << sent << err;
        };
        for (const char* link : {"tcp", "rtu", "com"}) {
            row(link, "scan --to 5", "", 0,
                "address +status +name +code.*\n +1 +ok +QIM-K520 +10 .*\n +2 +ok +QIM-K530 .*\n"
                " +3 +ok +QIM-M640 .*\n +4 +ok +QIM-P750 +30 +3\\.2 +B +\\S+ +19200 +4 "
                "Temperature control loops +-\n",
                "17:0:", "");
            row(link, "info 3 --json", "", 0,
                "\\{\"name\":\"QIM-M640\",\"address\":3,\"code\":20,\"vendor\":\"Velmora "
                "Labs\",\"firmware\":\"2\\.1\",\"hardware\":\"C\",.*\"inputRegisters\":8,.*\\}\n",
                "17:0:", "");
            row(link, "read 1", "", 0,
                "time +address +status +inputs +in1 .* +reason\n\\S+ +1 +ok +0b00100101 +1 +0 +1 "
                "+0 +0 +1 +0 +0 +-\n",
                "3:0:", "");
            row(link, "info 2", "2 17 silence", 3, "",
                "17:0:", "qimctl: Module 2: the identification failed (no reply).");
            row(link, "--timeout 3000 info 2", "2 17 delay 1500", 0,
                "Device Name +QIM-K530\n(.*\n){12}", "17:0:", "");
        }
        row("rtu", "read 3", "3 4 crc", 3, "",
            "4:0:", "qimctl: Module 3: the read of input registers 0 to 7 failed (CRC error).");
        row("tcp", "read 3 --csv", "", 0,
            "time,address,status,ain1,ain2,ain3,ain4,ain5,ain6,ain7,ain8,reason\n\\S+,3,ok,0,"
            "10\\.24,0\\.0002,5\\.1201,[-.0-9,]+,\n",
            "4:0:", "");
        row("tcp", "read 3 --counts --json", "", 0,
            "\\{\"time\":\"[-0-9T:.]+(Z|[+-]\\d\\d:\\d\\d)\",\"address\":3,\"status\":\"ok\","
            "\"ain1\":0,\"ain2\":65535,\"ain3\":1,\"ain4\":32768,.*,\"reason\":null\\}\n",
            "4:0:", "");
        row("tcp", "read 4 --json --watch 0 --count 3", "", 0, // a whole object a poll
            "(\\{\"time\":\\S+,\"address\":4,\"status\":\"ok\",\"pv1\":-1,\"cj1\":-56,\"sp1\":0,"
            "\"power1\":\\d+,\"flags1\":\\[\\S*\\],\"pv2\":2047,\"cj2\":\\d+,\"sp2\":150,"
            "\"power2\":75,\"flags2\":\\[\"OC\",\"ON\"\\],\"pv3\":-2048,.*\\}\n){3}",
            "3:7:", "");
        row("tcp", "read 4", "4 3 exception 2", 0,
            "time .*loop +pv +cj +sp +power +flags +reason\n\\S+ +4 +ok +1 +-1 +-56 +- .*\n"
            "\\S+ +4 +ok +2 +2047 +\\d+ +- +75 +OC ON +-\n\\S+ +4 +ok +3 +-2048 .*\n.*\n",
            "3:7:",
            "qimctl: Module 4 does not give its set points (exception code 2, Illegal Data "
            "Address).");
        row("tcp", "read 4 --watch 0 --count 2", "", 0, "(.*\n){9}", "3:7:", "");
        row("tcp", "scan --to 2 --json", "2 17 exception 1", 0,
            "\\{\"name\":\"QIM-K520\".*\"status\":\"ok\",\"reason\":null\\}\n\\{\"name\":null,"
            "\"address\":2,\"code\":null,.*\"discreteOutputs\":null,\"status\":\"failed\","
            "\"reason\":\"the identification failed \\(exception code 1, Illegal "
            "Function\\)\"\\}\n",
            "17:0:", "");
        row("tcp", "scan --from 5 --to 6", "", 3, "",
            "17:0:", "qimctl: No module answered from address 5 to 6.");
        row("tcp", "write 1 outputs 0b00100101", "", 0,
            "time .*\n\\S+ +1 +QIM-K520 +outputs +- +37\n", "6:0:37", "");
        row("rtu", "write 3 dac CL2 4095 --csv", "", 0,
            "time,address,model,write,channel,value\n\\S+,3,QIM-M640,dac,6,4095\n", "16:5:4095",
            "");
        row("tcp", "write 4 relay 3 ON", "", 0, "time .*\n\\S+ +4 +QIM-P750 +relay +3 +1\n",
            "5:2:65280", "");
        row("tcp", "write 4 pwm 2 40", "", 0, "time .*\n\\S+ +4 +QIM-P750 +pwm +2 +40\n", "6:2:40",
            "");
        row("com", "write 4 setpoint 3 101.5", "", 0,
            "time .*\n\\S+ +4 +QIM-P750 +setpoint +3 +102\n", "16:17:102", "");
        row("tcp", "write 3 relay 1 on", "", 1, "",
            "17:0:", "qimctl: Module 3 is a QIM-M640: it has no relays; nothing was written.");
        row("tcp", "write 2 relay 1 off", "", 1, "", "17:0:",
            "qimctl: Module 2 is a QIM-K530: its relays are its discrete outputs (write 2 outputs "
            "BITS); nothing was written.");
        row("tcp", "read 4 --counts", "", 1, "", "17:0:",
            "qimctl: --counts is for the analog inputs of a QIM-M640; module 4 is a QIM-P750.");
        row("tcp", "write 1 outputs 3", "1 6 exception 4", 4, "", "6:0:3",
            "qimctl: Module 1: the write of holding register 0 failed (exception code 4, Server "
            "Device Failure).");
        row("down", "info 3", "", 2, "", "",
            "qimctl: Module 3: the identification failed (link not available).");
        row("none", "read 3", "", 2, "", "",
            "qimctl: Module 3: the identification failed (link not available: COM31 is not a "
            "port of this computer).");
        row("null", "info 3", "", 2, "", "",
            "qimctl: Module 3: the identification failed (link not available: /dev/null is not a "
            "serial port).");
        row("tcp", "read --help", "", 0, "Usage: qimctl \\[link options\\] read ADDRESS (.*\n)+",
            "", "");
    }
    void commands() {
        QFETCH(QString, link);
        QFETCH(QString, args);
        QFETCH(QString, fault);
        QFETCH(int, code);
        faultFromRow(fault);
        bus.clearRequests();
        QFETCH(QString, err);
        const Run r = Ctl(links.value(link) + args);
        QCOMPARE(r.err, err);
        QCOMPARE(r.code, code);
        QFETCH(QString, out);
        static const QRegularExpression machine(QStringLiteral("--json|--csv|--help"));
        QVERIFY2(Matches(out, r.out) && (args.contains(machine) || Aligned(r.out)),
                 qPrintable(r.out));
        QFETCH(QString, sent);
        const auto requests = bus.requests();
        QCOMPARE(requests.isEmpty() ? QString() : Request(requests.last()).left(sent.size()), sent);
    }

    // Refused before anything is sent, with the message the windows give
    // for the same entry, or sent: numbers are read the same in every locale.
    void arguments_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("message"); // "sent F:S:V": accepted, and that went out
        QTest::addColumn<QString>("lang");
        const auto row = [](const char* args, const char* m) {
            for (const char* lang : {"C", "de_DE.UTF-8"})
                QTest::addRow("%s %s", lang, args) << args << m << lang;
        };
        const char* const address = "Address must be a number from 1 to 247";
        for (const char* args : {"read 0", "write 3.4 outputs 5", "info 5.5", "info 3,4",
                                 "info 010", "info 1e1", "info 0x"})
            row(args, address);
        row("write 0x4 setpoint 1 100.5", "sent 16:7:100");
        row("write 4 pwm 0b10 .5", "sent 6:2:0");
        row("write 3 dac 0x8 4095", "sent 16:7:4095");
        row("read 3 --watch 86400001", "Time between polls must be a number from 0 to 86400000");
        row("scan --from 0", "Start Address must be a number from 1 to 247");
        row("scan --from 9 --to 3", "End address must be equal or higher then start address");
        row("--timeout 19 info 3", "TCP/IP Timeout must be a number from 20 to 10000");
        row("write 3 dac AO5 1", "The DAC output must be AO1 to AO4, CL1 to CL4 or 1 to 8");
        row("write 11 pwm 1.5 50", "PWM output must be a number from 1 to 4");
        row("write 4 setpoint 1 100,5", "Set Point must be a number from 0 to 1023");
        row("write 4 setpoint 1 1e2", "Set Point must be a number from 0 to 1023");
        row("write 4 relay 5 on", "Relay must be a number from 1 to 4");
        row("write 4 relay 2 maybe", "A relay is switched on or off");
        const char* const outputs =
            "Outputs must be a number from 0 to 255 (0b00100101, 0x25 or 37)";
        for (const char* args : {"write 1 outputs 0b102", "write 3 outputs 1e2",
                                 "write 3 outputs 0x100", "write 3 outputs 2.0"})
            row(args, outputs);
        row("write 1 lamp 1", "write needs outputs, dac, relay, pwm or setpoint");
        row("read 3 --count 5", "--count needs --watch");
        row("read 3 --stop-on-error", "--stop-on-error needs --watch");
        row("info 3 --watch 100", "--watch is not an option of info");
        row("info 3 4", "Too many arguments: 4");
        row("info 3 --json --csv", "Give --json or --csv, not both");
        row("info 3 --baud 19200", "Give --tcp or a serial port (--port, --baud), not both");
        row("info 3 --frob", "Unknown option --frob");
        row("frobnicate 3", "Unknown command frobnicate (qimctl --help lists them)");
        row("--port COM7 --timeout 10001 info 3",
            "Serial Timeout must be a number from 20 to 10000");
        row("--port COM33 info 3", "The port must be COM1 to COM32 or a device");
    }
    void arguments() {
        QFETCH(QString, args);
        QFETCH(QString, message);
        QFETCH(QString, lang);
        if (lang != QLatin1String("C") && !german)
            QSKIP("de_DE.UTF-8 is not installed and localedef could not make it");
        bus.clearRequests();
        const Run r = Ctl(args.startsWith(QLatin1String("--port")) ? args : links["tcp"] + args, {},
                          inLocale(lang));
        if (message.startsWith(QLatin1String("sent "))) {
            QCOMPARE(r.code, 0);
            QCOMPARE("sent " + Request(bus.requests().last()), message);
            return;
        }
        QCOMPARE(r.err, "qimctl: " + message);
        QCOMPARE(r.code, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY(bus.requests().isEmpty());
    }

    // A module 150 ms slower than the timeout: every poll fails, none shows
    // the reading of the poll before. The slaves are the test's own.
    void slowModuleGivesNoValue_data() {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("rtu") << false;
        QTest::newRow("tcp") << true;
    }
    void slowModuleGivesNoValue() {
        QFETCH(bool, tcp);
        const auto k520 = [tcp](const QByteArray& rq) { return K520(rq, tcp, 350); };
        qimtest::PtySlave pty(k520);
        qimtest::TcpSlave server(k520);
        const QString via = tcp ? QStringLiteral("--tcp 127.0.0.1:%1 ").arg(server.port())
                                : QStringLiteral("--port %1 ").arg(pty.device());
        const Run r = Ctl(via + QStringLiteral("read 1 --watch 0 --count 3 --timeout 200"));
        QCOMPARE(r.code, 3);
        QCOMPARE(r.out.count(QLatin1String(" failed  ")), 3);
        QVERIFY2(!r.out.contains(QLatin1String(" ok ")) && Aligned(r.out), qPrintable(r.out));
    }

    // Output that cannot be written ends the run: /dev/full, and a pipe
    // closed with SIGPIPE ignored, exit 5 with a message; else SIGPIPE ends it.
    void outputThatCannotBeWritten_data() {
        QTest::addColumn<QString>("args"); // a watch goes to "| head -n 1"
        QTest::addColumn<int>("code");
        QTest::newRow("/dev/full, json") << "read 3 --json" << 5;
        QTest::newRow("/dev/full, text") << "scan --to 4" << 5;
        QTest::newRow("closed pipe, SIGPIPE ignored") << "read 1 --watch 100" << 5;
        QTest::newRow("closed pipe") << "read 1 --watch 100" << 128 + SIGPIPE;
    }
    void outputThatCannotBeWritten() {
        QFETCH(QString, args);
        QFETCH(int, code);
        QProcess head;
        head.setStandardOutputFile(QProcess::nullDevice());
        const Run r = Ctl(links["tcp"] + args, {}, [&](QProcess& p) {
            if (args.contains(QLatin1String("--watch"))) {
                p.setStandardOutputProcess(&head);
                head.start(QStringLiteral("head"), {QStringLiteral("-n"), QStringLiteral("1")});
            } else {
                p.setStandardOutputFile(QStringLiteral("/dev/full"));
            }
            p.setChildProcessModifier([code] { ::signal(SIGPIPE, code == 5 ? SIG_IGN : SIG_DFL); });
        });
        head.waitForFinished();
        QCOMPARE(r.code, code);
        QVERIFY2(code != 5 || r.err.startsWith(QLatin1String("qimctl: cannot write the output: ")),
                 qPrintable(r.err));
    }

    // Ctrl+C ends a watch after the poll on the wire: exit 0, every row
    // whole. It ends a scan after the address being asked: what answered is
    // listed, and the exit code says the list is not whole.
    void interruptEndsCleanly_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("watch") << "read 3 --watch 20 --csv" << 0 << "([^,\n]*(,[^,\n]*){11}\n){5,}"
                               << "";
        QTest::newRow("scan") << "scan --timeout 200 --csv" << 130 << "([^,\n]*(,[^,\n]*){14}\n){5}"
                              << "qimctl: the scan was interrupted: addresses \\d+ to 247 were "
                                 "not asked\\.";
    }
    void interruptEndsCleanly() {
        QFETCH(QString, args);
        QFETCH(int, code);
        const Run r = Ctl(links["tcp"] + args, [](QProcess& p) {
            QTRY_VERIFY(p.bytesAvailable() > 0 && p.peek(1 << 16).count('\n') >= 5);
            ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        });
        QCOMPARE(r.code, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(Matches(out, r.out) && Matches(err, r.err), qPrintable(r.out + r.err));
    }

    // config send puts on the wire what the panels put for the same fields
    // (their tests: holding registers 8..10 as 65408,8977,0; 5 and 6 as
    // 0x4542 and 0x2100), save gives back the same file, and nothing is sent
    // for a file that cannot be used or to a module of another model.
    void configurations() {
        bus.module(4)->forceRead(3, 12, std::nullopt); // the set point it holds is read back
        QTemporaryDir dir;
        const auto file = [&dir](const char* name, const QByteArray& text) {
            QFile f(dir.filePath(QLatin1String(name)));
            return f.open(QIODevice::WriteOnly) && f.write(text) == text.size() ? f.fileName()
                                                                                : QString();
        };
        const QString m640 = file(
            "m640.json",
            R"({"format":1,"model":"QIM-M640","adc":{"samplingIntervalMs":255,"mode":"Manual",)"
            R"("average":"No Average","ranges":{"AIN1":"+/- 5V","AIN2":"+/- 2.5V","AIN3":"+ 10V",)"
            R"("AIN4":"+ 5V","AIN5":"+/- 10V","AIN6":"+/- 10V","AIN7":"+/- 10V","AIN8":"+/- 10V"}},)"
            R"("dacCounts":{"AO1":0,"AO2":7,"AO3":0,"AO4":0,"CL1":4095,"CL2":0,"CL3":0,"CL4":0}})");
        QByteArray loops;
        for (int n = 1; n <= 4; ++n)
            loops += QStringLiteral(R"(%1"loop%2":{"setPointC":%3,"cycleTimeScaler":%4,)"
                                    R"("bandGain":%5,"alarmHighC":%6,"alarmLowC":%7})")
                         .arg(n > 1 ? "," : "")
                         .arg(n)
                         .arg(n == 4 ? 1000 : 0)
                         .arg(n == 4 ? 3 : 0)
                         .arg(n == 4 ? 20 : 0)
                         .arg(n == 4 ? 1010 : 0)
                         .arg(n == 4 ? 5 : 0)
                         .toUtf8();
        const QString p750 = file(
            "p750.json",
            R"({"format":1,"model":"QIM-P750","configurationRegister":{"average":"3 - 4 Samples",)"
            R"("type":"4 - T","sampling":"5 - 600msec","alarms":{"loop1":false,"loop2":false,)"
            R"("loop3":true,"loop4":false}},"controlRegister":{"word":"0x2100","loop1":"0 - Manual",)"
            R"("loop2":"0 - Manual","loop3":"1 - ON/OFF","loop4":"2 - Proportional"},"loops":{)" +
                loops + R"(},"pwmPercent":{"PWM1":0,"PWM2":0,"PWM3":0,"PWM4":0}})");
        const QString tcp = links["tcp"];
        const auto sent = [this] {
            QStringList s;
            for (const auto& r : bus.requests())
                s << Request(r);
            return s;
        };
        const QString zeros = QStringLiteral("0,").repeated(15);
        const std::tuple<QString, QStringList, QString> sends[] = {
            {m640, {"17:0:", "16:8:65408,8977,0", "16:0:0,7,0,0,4095,0,0,0"}, "3"},
            {p750, {"17:0:", "6:5:17730", "6:6:8448", "16:7:" + zeros + "1000,3,20,1010,5"}, "4"},
        };
        for (const auto& [path, requests, address] : sends) {
            bus.clearRequests();
            Run r = Ctl(tcp + "config send " + address + ' ' + path);
            QCOMPARE(r.code, 0);
            QCOMPARE(sent(), requests);
            r = Ctl(tcp + "config save " + address + ' ' + dir.filePath("back.json"));
            QCOMPARE(r.out, QStringLiteral("Module %1 (%2): its configuration was saved to %3.\n")
                                .arg(address, address == "3" ? "QIM-M640" : "QIM-P750",
                                     dir.filePath("back.json")));
            // All but the PWM outputs, which a file never sets.
            static const QRegularExpression pwm(QStringLiteral("pwmPercent.*\n"));
            QCOMPARE(Ctl("config check " + dir.filePath("back.json")).out.remove(pwm),
                     Ctl("config check " + path).out.remove(pwm));
        }
        QVERIFY(Matches("model +QIM-P750\nconfigurationRegister.word +0x4542\n(.*\n)+"
                        "loops.loop4.alarmLowC +5\n(.*\n)+",
                        Ctl("config check " + p750).out));

        // Refused, each with its message and code, and nothing written.
        faultFromRow(QStringLiteral("3 3 exception 2"));
        const QString bad = file("bad.json", "{\"format\":1,\"model\":\"QIM-P750\"}");
        const QString missing = dir.filePath("none.json");
        const std::tuple<QString, int, QString, QStringList> refused[] = {
            {"config save 3 " + missing,
             4,
             "Module 3: the read of holding registers 0 to 10 failed (exception code 2, Illegal "
             "Data Address).",
             {"17:0:", "3:0:"}},
            {"config save 1 " + missing,
             1,
             "Module 1 is a QIM-K520: it has no configuration to save; nothing was saved.",
             {"17:0:"}},
            {"config send 4 " + m640,
             1,
             "Module 4 is a QIM-P750, not a QIM-M640: nothing was written.",
             {"17:0:"}},
            {"config send 4 " + bad, 1, "bad.json: configurationRegister is missing", {}},
            {"config send 4 " + missing,
             1,
             "none.json could not be read: No such file or directory",
             {}},
            {"config check " + bad, 1, "bad.json: configurationRegister is missing", {}},
            {"config frob", 1, "config needs check, send or save", {}},
        };
        for (const auto& [args, code, err, requests] : refused) {
            bus.clearRequests();
            const Run r = Ctl(tcp + args);
            QCOMPARE(r.err, "qimctl: " + err);
            QCOMPARE(r.code, code);
            QCOMPARE(sent(), requests);
        }
        QVERIFY(!QFile::exists(missing));
    }

    // Slaves nobody here wrote: Qt's Modbus RTU server as a QIM-K520, on a
    // pty pair whose end qimctl opens by its device name; Qt's Modbus TCP
    // server, gone for 3 s in the middle of a watch: the outage is rows, and
    // the values come back with the server.
    void independentSlave() {
        const auto k520 = [](QModbusServer& server) {
            server.setMap(
                {{QModbusDataUnit::HoldingRegisters, {QModbusDataUnit::HoldingRegisters, 0, 1}}});
            server.setServerAddress(1);
            server.setValue(QModbusServer::ServerIdentifier, 10);
            server.setValue(QModbusServer::AdditionalData,
                            QByteArray::fromHex("00034242000200000108080000000000"));
            server.setData(QModbusDataUnit::HoldingRegisters, 0, 0x81);
            return server.connectDevice();
        };
        qimtest::PtyPair pair;
        QVERIFY(pair.start());
        auto server = qimtest::QtRtuServer(pair.theirs());
        QVERIFY(k520(*server));
        const QString via = QStringLiteral("--port %1 ").arg(pair.oursDevice());
        const Run info = Ctl(via + QStringLiteral("info 1 --csv"));
        QCOMPARE(info.code, 0);
        QVERIFY2(
            info.out.contains(QLatin1String("\nQIM-K520,1,10,Velmora Labs,3.66,B,RS422,19200,")),
            qPrintable(info.out));
        const Run read = Ctl(via + QStringLiteral("read 1"));
        QVERIFY2(read.out.contains(QLatin1String("0b10000001")), qPrintable(read.out));
        const Run write = Ctl(via + QStringLiteral("write 1 outputs 0x5A"));
        QCOMPARE(write.code, 0);
        quint16 value = 0;
        QVERIFY(server->data(QModbusDataUnit::HoldingRegisters, 0, &value));
        QCOMPARE(value, quint16(0x5A));

        const quint16 port = qimtest::freeLoopbackPort();
        auto tcp = std::make_unique<GatewayServer>();
        tcp->setConnectionParameter(QModbusDevice::NetworkAddressParameter, "127.0.0.1");
        tcp->setConnectionParameter(QModbusDevice::NetworkPortParameter, port);
        QVERIFY(k520(*tcp));
        const Run watch = Ctl(
            QStringLiteral("--tcp 127.0.0.1:%1 read 1 --watch 200 --timeout 200 --csv").arg(port),
            [&tcp](QProcess& p) {
                QTRY_VERIFY(p.peek(1 << 16).count(",ok,") >= 2);
                tcp->disconnectDevice();
                QTest::qWait(3000);
                QVERIFY(tcp->connectDevice());
                QTRY_VERIFY_WITH_TIMEOUT(
                    QRegularExpression(",failed,(.*\n)+.*,ok,").match(p.peek(1 << 16)).hasMatch(),
                    10000);
                ::kill(static_cast<pid_t>(p.processId()), SIGINT);
            });
        QVERIFY2(Matches("(.*\n)(.*,ok,.*\n){2,}(.*,failed,,,,.*\n){5,}(.*,ok,.*\n)+", watch.out),
                 qPrintable(watch.out));
        QCOMPARE(watch.code, 2);
    }
};

QIM_TEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"

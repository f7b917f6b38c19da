// qimctl as a script sees it: run as a program against the simulator (over
// TCP, its pty by device and by COMn) and against Qt's own Modbus server;
// stdout, stderr and the exit code of every command, and what reached the bus.
#include "QtPeers.h"
#include "SimBus.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <csignal>

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

// Runs qimctl without blocking the event loop the simulator answers in.
// `during` sees the running process (to interrupt it).
Run Ctl(const QString& args, const std::function<void(QProcess&)>& during = {}) {
    QProcess p;
    QSignalSpy done(&p, &QProcess::finished);
    p.start(QStringLiteral(QIMCTL_PATH), args.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    if (during)
        during(p);
    const bool finished = !done.isEmpty() || done.wait(60000);
    return {finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError()).trimmed()};
}

QString Request(const qimsim::RequestRecord& r) {
    QStringList v;
    for (const uint16_t x : r.values)
        v << QString::number(x);
    return QStringLiteral("%1:%2:%3").arg(r.function).arg(r.start).arg(v.join(QLatin1Char(',')));
}

} // namespace

class TestCtl : public QObject {
    Q_OBJECT
    qimsim::Bus bus;
    qimtest::NeverAccepting never;
    QHash<QString, QString> links; // a row's link: its options

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

private Q_SLOTS:
    void initTestCase() {
        bus.addDemoModules(); // K520 at 1, K530 at 2, M640 at 3, P750 at 4
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY(bus.openPty(7));
        links = {{"tcp", QStringLiteral("--tcp 127.0.0.1:%1 ").arg(bus.tcpPort())},
                 {"rtu", "--port " + bus.ptyDevice() + ' '},
                 {"com", "--port COM7 "},
                 {"down", QStringLiteral("--tcp 127.0.0.1:%1 ").arg(never.port())},
                 {"none", "--port COM31 "}};
        // What the modules' inputs read, so that every decoding has a known answer.
        bus.module(1)->forceRead(3, 0, 0x0125); // inputs 1, 3, 6; the high byte is not an input
        for (const auto& [k, counts] : {std::pair{0, 0}, {1, 65535}, {2, 1}, {3, 32768}})
            bus.module(3)->forceRead(4, k, uint16_t(counts));
        bus.module(4)->forceRead(4, 0, 0x0FFF);                   // PV1 -1
        bus.module(4)->forceRead(4, 8, 200);                      // CJ1 -56
        bus.module(4)->forceRead(4, 5, uint16_t(75 << 8 | 0x21)); // loop 2: 75 %, OC and ON
        bus.module(4)->forceRead(3, 12, 150);                     // set point of loop 2
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
                "address +name +code.*\n +1 +QIM-K520 +10 .*\n +2 +QIM-K530 .*\n +3 +QIM-M640 "
                ".*\n +4 +QIM-P750 +30 +3\\.2 +B +\\S+ +19200 +4 Temperature control loops\n",
                "17:0:", "");
            row(link, "info 3 --json", "", 0,
                "\\{\"name\":\"QIM-M640\",\"address\":3,\"code\":20,\"vendor\":\"Velmora "
                "Labs\",\"firmware\":\"2\\.1\",\"hardware\":\"C\",.*\"inputRegisters\":8,.*\\}\n",
                "17:0:", "");
            row(link, "read 1", "", 0,
                "time +address +inputs +in1 .*\n\\S+ +1 +0b00100101 +1 +0 +1 +0 +0 +1 +0 +0\n",
                "3:0:", "");
            row(link, "info 2", "2 17 silence", 3, "",
                "17:0:", "Module 2: the identification failed (no reply).");
            row(link, "--timeout 3000 info 2", "2 17 delay 1500", 0,
                "Device Name +QIM-K530\n(.*\n){12}", "17:0:", "");
        }
        row("rtu", "read 3", "3 4 crc", 3, "",
            "4:0:", "Module 3: the read of input registers 0 to 7 failed (CRC error).");
        row("tcp", "read 3 --csv", "", 0,
            "time,address,ain1,ain2,ain3,ain4,ain5,ain6,ain7,ain8\n\\S+,3,0,10\\.24,0\\.0002,"
            "5\\.1201,[-.0-9,]+\n",
            "4:0:", "");
        row("tcp", "read 3 --counts --json", "", 0,
            "\\{\"time\":\"[-0-9T:.]+(Z|[+-]\\d\\d:\\d\\d)\",\"address\":3,\"ain1\":0,\"ain2\":"
            "65535,\"ain3\":1,\"ain4\":32768,.*\\}\n",
            "4:0:", "");
        row("tcp", "read 4 --json --watch 0 --count 3", "", 0, // a whole object a poll
            "(\\{\"time\":\\S+,\"address\":4,\"pv1\":-1,\"cj1\":-56,\"sp1\":0,\"power1\":\\d+,"
            "\"status1\":\\d+,\"pv2\":\\d+,\"cj2\":\\d+,\"sp2\":150,\"power2\":75,\"status2\":"
            "33,.*\\}\n){3}",
            "3:7:", "");
        row("tcp", "read 4", "4 3 exception 2", 0,
            "time .*loop +pv +cj +sp +power +status +flags\n\\S+ +4 +1 +-1 +-56 +- .*\n"
            "\\S+ +4 +2 +\\d+ +\\d+ +- +75 +0b00100001 +OC ON\n(.*\n){2}",
            "3:7:", "Module 4 does not give its set points (exception code 2).");
        row("tcp", "write 1 outputs 0b00100101", "", 0,
            "time .*\n\\S+ +1 +QIM-K520 +outputs +- +37\n", "6:0:37", "");
        row("rtu", "write 3 dac CL2 4095 --csv", "", 0,
            "time,address,model,write,channel,value\n\\S+,3,QIM-M640,dac,6,4095\n", "16:5:4095",
            "");
        row("tcp", "write 4 relay 3 on", "", 0, "time .*\n\\S+ +4 +QIM-P750 +relay +3 +1\n",
            "5:2:65280", "");
        row("tcp", "write 4 pwm 2 40", "", 0, "time .*\n\\S+ +4 +QIM-P750 +pwm +2 +40\n", "6:2:40",
            "");
        row("com", "write 4 setpoint 3 101.5", "", 0,
            "time .*\n\\S+ +4 +QIM-P750 +setpoint +3 +102\n", "16:17:102", "");
        row("tcp", "write 3 relay 1 on", "", 1, "",
            "17:0:", "Module 3 is a QIM-M640: it has no relays; nothing was written.");
        row("tcp", "write 1 outputs 3", "1 6 exception 4", 4, "", "6:0:3",
            "Module 1: the write of holding register 0 failed (exception code 4).");
        row("down", "info 3", "", 2, "", "",
            "Module 3: the identification failed (link not available).");
        row("none", "read 3", "", 2, "", "",
            "The Comm Port you have selected is not available in your computer or being used by "
            "another program.\nModule 3: the identification failed (link not available).");
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
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(out));
        QVERIFY2(pattern.match(r.out).hasMatch(), qPrintable(r.out));
        QFETCH(QString, sent);
        const auto requests = bus.requests();
        QCOMPARE(requests.isEmpty() ? QString() : Request(requests.last()).left(sent.size()), sent);
    }

    // Refused before anything is sent, with the message the windows give
    // for the same entry.
    void badArguments_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* args, const char* m) { QTest::newRow(args) << args << m; };
        row("read 3 --watch 10001", "Time between polls must be a number from 0 to 10000");
        row("read 0", "Address must be a number from 1 to 247");
        row("scan --from 0", "Start Address must be a number from 1 to 247");
        row("scan --from 9 --to 3", "End address must be equal or higher then start address");
        row("--timeout 999 info 3", "TCP/IP Timeout must be a number from 1000 to 10000");
        row("write 3 dac AO3 4096", "AO3 must be a number from 0 to 4095");
        row("write 3 dac AO5 1", "The DAC output must be AO1 to AO4, CL1 to CL4 or 1 to 8");
        row("write 4 pwm 2 -1", "PWM2 must be a number from 0 to 100");
        row("write 4 setpoint 1 1023.6", "Set Point must be a number from 0 to 1023");
        row("write 4 relay 5 on", "Relay must be a number from 1 to 4");
        row("write 4 relay 2 maybe", "A relay is switched on or off");
        row("write 1 outputs 0b102",
            "Outputs must be 0b and up to eight bits, or a number from 0 to 255");
        row("write 1 lamp 1", "write needs outputs, dac, relay, pwm or setpoint");
        row("read 3 --count 5", "--count needs --watch");
        row("info 3 --watch 100", "--watch is not an option of info");
        row("info 3 4", "Too many arguments: 4");
        row("info 3 --json --csv", "Give --json or --csv, not both");
        row("info 3 --baud 19200", "Give --tcp or a serial port (--port, --baud), not both");
        row("info 3 --frob", "Unknown option --frob");
        row("frobnicate 3", "Unknown command frobnicate (qimctl --help lists them)");
        row("--port COM7 --timeout 10001 info 3",
            "Serial Timeout must be a number from 1000 to 10000");
        row("--port COM33 info 3", "The port must be COM1 to COM32 or a device");
    }
    void badArguments() {
        QFETCH(QString, args);
        QFETCH(QString, message);
        bus.clearRequests();
        const Run r = Ctl(args.startsWith(QLatin1String("--port")) ? args : links["tcp"] + args);
        QCOMPARE(r.err, message);
        QCOMPARE(r.code, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY(bus.requests().isEmpty());
    }

    // Ctrl+C ends a watch after the poll on the wire: exit 0, every row whole.
    void interruptEndsWatchCleanly() {
        const Run r =
            Ctl(links["tcp"] + QStringLiteral("read 3 --watch 20 --csv"), [](QProcess& p) {
                QTRY_VERIFY(p.bytesAvailable() > 0 && p.peek(1 << 16).count('\n') >= 4);
                ::kill(static_cast<pid_t>(p.processId()), SIGINT);
            });
        QCOMPARE(r.code, 0);
        const QRegularExpression rows(
            QRegularExpression::anchoredPattern("([^,\n]*(,[^,\n]*){9}\n){4,}"));
        QVERIFY2(rows.match(r.out).hasMatch(), qPrintable(r.out));
    }

    // A slave nobody here wrote: Qt's Modbus RTU server as a QIM-K520, on a
    // pty pair whose end qimctl opens by its device name.
    void independentSlave() {
        qimtest::PtyPair pair;
        QVERIFY(pair.start());
        auto server = qimtest::QtRtuServer(pair.theirs());
        server->setMap(
            {{QModbusDataUnit::HoldingRegisters, {QModbusDataUnit::HoldingRegisters, 0, 1}}});
        server->setServerAddress(1);
        server->setValue(QModbusServer::ServerIdentifier, 10);
        server->setValue(QModbusServer::AdditionalData,
                         QByteArray::fromHex("00034242000200000108080000000000"));
        server->setData(QModbusDataUnit::HoldingRegisters, 0, 0x81);
        QVERIFY(server->connectDevice());
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
    }
};

QIM_TEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"

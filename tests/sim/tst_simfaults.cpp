// Every injected fault as the program's link sees it, over TCP and RTU, and
// faults and modules from a bus file.
#include "SimModels.h"
#include "SimTestKit.h"

#include "PortNames.h"

#include <QFileInfo>
#include <QTemporaryFile>

using namespace qim;
using namespace simkit;
using qimsim::Fault;

Q_DECLARE_METATYPE(qimsim::Fault)

class TestSimFaults : public QObject {
    Q_OBJECT
    qimsim::Bus bus;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(bus.listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY(bus.openPty(2));
    }
    void init() {
        for (qimsim::Module* m : bus.modules())
            bus.removeModule(m->address());
        bus.addDemoModules();
        bus.clearRequests();
    }
    void cleanup() { Link::instance().reset(); }

    void eachFaultGivesItsStatus_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("status");
        const auto make = [](Fault::Kind k) {
            Fault f;
            f.kind = k;
            return f;
        };
        for (const bool tcp : {true, false}) {
            const char* t = tcp ? "tcp" : "rtu";
            QTest::addRow("%s silence", t) << tcp << make(Fault::Silence) << 253;
            Fault delay = make(Fault::Delay);
            delay.delayMs = 100;
            QTest::addRow("%s short delay", t) << tcp << delay << 255;
            delay.delayMs = 1500;
            QTest::addRow("%s delay past the timeout", t) << tcp << delay << 253;
            // TCP carries no CRC, so only RTU notices.
            QTest::addRow("%s wrong crc", t) << tcp << make(Fault::WrongCrc) << (tcp ? 255 : 254);
            QTest::addRow("%s extra byte", t) << tcp << make(Fault::ExtraByte) << 253;
            QTest::addRow("%s missing byte", t) << tcp << make(Fault::MissingByte) << 253;
            Fault split = make(Fault::Split);
            split.pieces = 3;
            split.pauseMs = 60;
            QTest::addRow("%s split", t) << tcp << split << 255;
            Fault exception = make(Fault::Exception);
            exception.exceptionCode = 4;
            QTest::addRow("%s exception 4", t) << tcp << exception << 4;
            // A code that would read as one of the link's own results is a bad reply.
            exception.exceptionCode = 255;
            QTest::addRow("%s exception 255", t) << tcp << exception << 253;
            QTest::addRow("%s garbage", t) << tcp << make(Fault::Garbage) << 253;
            Fault garbage = make(Fault::Garbage);
            garbage.garbage = QByteArray::fromHex("0103");
            QTest::addRow("%s short garbage", t) << tcp << garbage << 253;
            QTest::addRow("%s close mid-reply", t) << tcp << make(Fault::CloseMidReply) << 253;
        }
    }
    void eachFaultGivesItsStatus() {
        QFETCH(bool, tcp);
        QFETCH(Fault, fault);
        QFETCH(int, status);
        UseTransport(bus, tcp, 700);
        bus.module(1)->setFault(3, fault);
        const Reply r = ReadHolding(1, 0, 1);
        QCOMPARE(r.status, status);
        QCOMPARE(General::CommStatus, status);
        QCOMPARE(r.hasRegisters(1), status == 255);
        // Faulted or not, the request is on the record.
        QCOMPARE(bus.requests().size(), 1);
        QCOMPARE(bus.requests()[0].function, 3);
        // And the next request, once the fault is gone, is served again (a
        // late reply goes out first: the line is half duplex).
        bus.module(1)->clearFaults();
        if (fault.kind == Fault::Delay)
            QTest::qWait(fault.delayMs);
        QCOMPARE(ReadHolding(1, 0, 1).status, Status::Ok);
    }

    void faultsCountDownAndKeepToTheirFunction_data() { AddTransports(); }
    void faultsCountDownAndKeepToTheirFunction() {
        QFETCH(bool, tcp);
        UseTransport(bus, tcp, 400);
        qimsim::Module* m = bus.module(2);
        Fault f;
        f.kind = Fault::Exception;
        f.exceptionCode = 6;
        f.times = 2;
        m->setFault(6, f);
        QCOMPARE(ReadHolding(2, 0, 1).status, Status::Ok); // another function
        QCOMPARE(WriteRegister(2, 0, 1), 6);
        QCOMPARE(WriteRegister(2, 0, 2), 6);
        QCOMPARE(m->holding(0).value(), 0); // a module that refuses does not act
        QCOMPARE(WriteRegister(2, 0, 3), Status::Ok);
        QCOMPARE(m->holding(0).value(), 3);

        // Function 0 means every function; a fault for the function wins.
        Fault silence;
        silence.kind = Fault::Silence;
        m->setFault(0, silence);
        f.times = -1;
        f.exceptionCode = 3;
        m->setFault(17, f);
        QCOMPARE(Identify(2).status, 3);
        QCOMPARE(ReadHolding(2, 0, 1).status, Status::WrongLength);
        QCOMPARE(WriteRegister(2, 0, 9), Status::WrongLength);
        QCOMPARE(m->holding(0).value(), 3); // silence: the write never happened
        // A reply lost on the way back still leaves the write done.
        m->clearFaults();
        Fault lost;
        lost.kind = Fault::MissingByte;
        m->setFault(6, lost);
        QCOMPARE(WriteRegister(2, 0, 7), Status::WrongLength);
        QCOMPARE(m->holding(0).value(), 7);
    }

    void faultsFromTheBusFile() {
        const QByteArray json = R"({
            "speed": 4,
            "modules": [
                { "address": 7, "model": "QIM-P750", "room": 30.5,
                  "sensors": ["ok", "open", "shortToGnd", "ok"],
                  "faults": [ { "function": 4, "kind": "exception", "code": 11, "times": 1 } ] },
                { "address": 8, "code": 40, "firmware": "1.10", "hardware": "B",
                  "connectionMode": 5, "baudCode": 7,
                  "faults": [ { "kind": "silence" } ] },
                { "address": 9, "model": "qim-k530", "walk": false,
                  "force": [ { "function": 3, "address": 0, "value": 129 } ] }
            ] })";
        double speed = 1;
        QString error;
        QVERIFY2(qimsim::LoadBusJson(json, bus, &error, &speed), qPrintable(error));
        QCOMPARE(speed, 4.0);
        UseTransport(bus, true, 300);
        QCOMPARE(ReadInputs(7, 0, 12).status, 11);
        const Reply r = ReadInputs(7, 0, 12);
        QVERIFY(r.hasRegisters(12));
        QVERIFY(qAbs(r.reg(0).value() - 30) <= 1);
        QCOMPARE(r.reg(5).value() & 0x0F, 0x09);
        QCOMPARE(r.reg(6).value() & 0x0F, 0x0A);
        QCOMPARE(Identify(8).status, Status::WrongLength);
        QCOMPARE(ReadHolding(9, 0, 1).reg(0).value(), 129);
        bus.module(8)->clearFaults();
        const Reply id = Identify(8);
        QCOMPARE(id.status, Status::Ok);
        QCOMPARE(id.byteAt(3), 40);
        QCOMPARE(id.byteAt(6), 1);
        QCOMPARE(id.byteAt(7), 10);
        QCOMPARE(id.byteAt(8), 'B');
        QCOMPARE(id.byteAt(9), 5);
        QCOMPARE(id.byteAt(10), 7);
    }

    void theExampleBusFileLoads() {
        qimsim::Bus other;
        QString error;
        QVERIFY2(qimsim::LoadBusFile(QStringLiteral(QIM_SOURCE_DIR "/sim/buses/workbench.json"),
                                     other, &error),
                 qPrintable(error));
        QCOMPARE(other.modules().size(), 7);
    }

    void aPulledPortIsALinkFailureUntilItReturns() {
        UseTransport(bus, false, 1000);
        QCOMPARE(ReadHolding(1, 0, 1).status, Status::Ok);
        qimtest::MessageLog log;
        bus.closePty();
        QVERIFY(!QFileInfo::exists(PortNames::PortFolder() + QStringLiteral("/COM2")));
        QCOMPARE(ReadHolding(1, 0, 1).status, Status::LinkDown);
        QCOMPARE(log.texts.size(), 1);
        QVERIFY(bus.openPty(2));
        QCOMPARE(ReadHolding(1, 0, 1).status, Status::Ok);
    }

    void aBadBusFileChangesNothing_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("says");
        QTest::newRow("not json") << QByteArray("{\n \"modules\": [\n  { \"address\": 1, }\n]}")
                                  << "line 3";
        QTest::newRow("no list") << QByteArray(R"({"modules": 5})") << "\"modules\" must be a list";
        QTest::newRow("typo") << QByteArray(R"({"modules": [{"adress": 1, "code": 10}]})")
                              << "unknown key \"adress\"";
        QTest::newRow("address 0") << QByteArray(R"({"modules": [{"address": 0, "code": 10}]})")
                                   << "\"address\" must be a whole number from 1 to 247";
        QTest::newRow("twice")
            << QByteArray(
                   R"({"modules": [{"address": 3, "code": 10}, {"address": 3, "code": 20}]})")
            << "address 3 is taken twice";
        QTest::newRow("model") << QByteArray(R"({"modules": [{"address": 3, "model": "K999"}]})")
                               << "unknown model \"K999\"";
        QTest::newRow("fault kind")
            << QByteArray(
                   R"({"modules": [{"address": 3, "code": 10, "faults": [{"kind": "fire"}]}]})")
            << "modules[0] faults[0]: \"kind\" must be one of";
        QTest::newRow("exception without code")
            << QByteArray(
                   R"({"modules": [{"address": 3, "code": 10, "faults": [{"kind": "exception"}]}]})")
            << "needs a \"code\"";
        QTest::newRow("sensors on a K520")
            << QByteArray(R"({"modules": [{"address": 3, "code": 10, "sensors": ["ok"]}]})")
            << "\"sensors\" lists four loops";
        QTest::newRow("firmware")
            << QByteArray(R"({"modules": [{"address": 3, "code": 10, "firmware": "v2"}]})")
            << "major.minor";
    }
    void aBadBusFileChangesNothing() {
        QFETCH(QByteArray, json);
        QFETCH(QString, says);
        const QList<qimsim::Module*> before = bus.modules();
        QString error;
        QVERIFY(!qimsim::LoadBusJson(json, bus, &error));
        QVERIFY2(error.contains(says), qPrintable(error));
        QCOMPARE(bus.modules(), before);

        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(json);
        file.close();
        QVERIFY(!qimsim::LoadBusFile(file.fileName(), bus, &error));
        QVERIFY(error.startsWith(file.fileName() + QStringLiteral(": ")));
        QVERIFY(!qimsim::LoadBusFile(QStringLiteral("/nonexistent/bus.json"), bus, &error));
        QVERIFY(error.contains(QStringLiteral("/nonexistent/bus.json")));
    }
};

QIM_TEST_GUILESS_MAIN(TestSimFaults)
#include "tst_simfaults.moc"

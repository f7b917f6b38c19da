// Hostile slaves: every request kind over both links against replies that
// are short, long, corrupt, of the wrong shape, cut off, or never come; each
// ends with the status it must, shows only the link's own messages, and the
// link works again as soon as the slave behaves.
#include "Errors.h"
#include "Link.h"
#include "SimBus.h"
#include "TestSupport.h"

#include <QTest>

using namespace qim;
using namespace qimtest;

namespace {

const auto hex = &QByteArray::fromHex;

// One request of each kind to unit 3, a discrete module (registers 0..26 of a
// temperature module at unit 4 for the function 16 write).
struct Kind {
    const char* name;
    int function;
    uint8_t unit;
};
const Kind kinds[] = {{"read holding", 3, 3}, {"read input", 4, 4}, {"coil", 5, 4},
                      {"register", 6, 3},     {"multiple", 16, 4},  {"identify", 17, 3}};

void issue(Link* link, int function, uint8_t unit, Requester who) {
    static const std::array<int32_t, 29> image{};
    switch (function) {
    case 3:
        return link->readHoldingRegisters(unit, 0, 1, std::move(who));
    case 4:
        return link->readInputRegisters(unit, 0, 12, std::move(who));
    case 5:
        return link->writeSingleCoil(unit, 2, 0xFF00, std::move(who));
    case 6:
        return link->writeSingleRegister(unit, 0, 0x55, std::move(who));
    case 16:
        return link->writeMultipleRegisters(unit, 7, 20, image, std::move(who));
    default:
        return link->reportSlaveId(unit, std::move(who));
    }
}

// A whole reply frame for `pdu` from `unit`, as the link under test expects
// it framed, with the MBAP length field set to `length` (-1: the true one).
QByteArray framed(bool tcp, uint8_t unit, const QByteArray& pdu, int length = -1) {
    if (!tcp)
        return withCrc(QByteArray(1, static_cast<char>(unit)) + pdu);
    const int len = length < 0 ? static_cast<int>(pdu.size()) + 1 : length;
    QByteArray f = hex("00000000");
    f += static_cast<char>(len >> 8);
    f += static_cast<char>(len & 0xFF);
    f += static_cast<char>(unit);
    return f + pdu;
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
    std::unique_ptr<qimsim::Bus> bus;

    std::unique_ptr<Link> link;
    std::unique_ptr<MessageLog> log;
    // A reply that must arrive has the program's own timeout to do so; one
    // that only a timeout ends may have a short one.
    void useLink(bool tcp, int timeoutMs = 1000) {
        LinkSettings s;
        s.serialTimeoutMs = s.tcpTimeoutMs = timeoutMs;
        if (tcp) {
            s.transport = LinkSettings::Transport::Tcp;
            s.host = QStringLiteral("127.0.0.1");
            s.port = bus->tcpPort();
        }
        link->setSettings(s);
    }
    Reply ask(int function, uint8_t unit) {
        return await([&](Requester r) { issue(link.get(), function, unit, std::move(r)); }).reply;
    }
    void fault(int function, uint8_t unit, qimsim::Fault::Kind kind, QByteArray bytes = {}) {
        qimsim::Fault f;
        f.kind = kind;
        f.garbage = std::move(bytes);
        bus->module(unit)->setFault(function, f);
    }

private Q_SLOTS:
    void initTestCase() {
        bus = std::make_unique<qimsim::Bus>();
        bus->addModule(3, 10);
        bus->addModule(4, 30);
        QVERIFY(bus->listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY(bus->openPty(2));
    }
    void init() {
        link = std::make_unique<RealLink>();
        log = std::make_unique<MessageLog>(*link);
    }
    void cleanup() {
        for (const Kind& k : kinds)
            bus->module(k.unit)->clearFaults();
        log.reset();
        link.reset();
    }
    void cleanupTestCase() { bus.reset(); }

    void everyKindAgainstEveryFault_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        for (bool tcp : {false, true}) {
            for (const Kind& k : kinds) {
                const auto row = [&](const char* what, qimsim::Fault::Kind f, QByteArray b,
                                     int status) {
                    QTest::addRow("%s %s %s", tcp ? "tcp" : "rtu", k.name, what)
                        << tcp << k.function << int(k.unit) << int(f) << b << status;
                };
                const char fn = static_cast<char>(k.function);
                row("short", qimsim::Fault::MissingByte, {}, 253);
                row("long", qimsim::Fault::ExtraByte, {}, 253);
                row("silent", qimsim::Fault::Silence, {}, 253);
                row("garbage", qimsim::Fault::Garbage, {}, 253);
                if (!tcp)
                    row("wrong crc", qimsim::Fault::WrongCrc, {}, 254);
                // An exception reply one byte too long, and one byte too short.
                row("exception too long", qimsim::Fault::Garbage,
                    framed(tcp, k.unit, QByteArray(1, char(fn | 0x80)) + hex("0200")), 253);
                row("exception too short", qimsim::Fault::Garbage,
                    framed(tcp, k.unit, QByteArray(1, char(fn | 0x80))), 253);
                // A good exception of the right length is its code.
                row("exception", qimsim::Fault::Garbage,
                    framed(tcp, k.unit, QByteArray(1, char(fn | 0x80)) + hex("04")), 4);
                if (tcp)
                    row("closed mid-reply", qimsim::Fault::CloseMidReply, {}, 253);
            }
        }
    }
    void everyKindAgainstEveryFault() {
        QFETCH(bool, tcp);
        QFETCH(int, function);
        QFETCH(int, unit);
        QFETCH(int, fault);
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        useLink(tcp, status == 253 ? 250 : 1000);
        this->fault(function, static_cast<uint8_t>(unit), qimsim::Fault::Kind(fault), bytes);
        const Reply r = ask(function, static_cast<uint8_t>(unit));
        QCOMPARE(r.status, status);
        QVERIFY(log->texts.isEmpty());
        // Once the module behaves, the very next request succeeds.
        bus->module(static_cast<uint8_t>(unit))->clearFaults();
        useLink(tcp);
        QCOMPARE(ask(function, static_cast<uint8_t>(unit)).status, 255);
    }

    // The length field of a reply is not what the link goes by: a complete
    // reply with a lying length field is read all the same.
    void lyingMbapLength_data() {
        QTest::addColumn<int>("length");
        QTest::newRow("0") << 0;
        QTest::newRow("1") << 1;
        QTest::newRow("65535") << 65535;
    }
    void lyingMbapLength() {
        QFETCH(int, length);
        useLink(true);
        fault(3, 3, qimsim::Fault::Garbage, framed(true, 3, hex("0302ABCD"), length));
        const Reply r = ask(3, 3);
        QCOMPARE(r.status, 255);
        QCOMPARE(r.reg(0).value(), 0xABCD);
    }

    void portVanishesMidTransaction() {
        useLink(false, 3000);
        fault(3, 3, qimsim::Fault::Silence);
        QTimer::singleShot(100, this, [this] { bus->closePty(); });
        const Outcome o = await([this](Requester r) { issue(link.get(), 3, 3, r); });
        QCOMPARE(o.reply.status, 252);
        QCOMPARE(log->texts, QStringList{Errors::portUnavailableMessage()});
        // While the port is gone every request says so...
        QCOMPARE(ask(4, 4).status, 252);
        // ...and once the adapter is back, the link works again.
        bus->module(3)->clearFaults();
        QVERIFY(bus->openPty(2));
        QCOMPARE(ask(3, 3).status, 255);
        QCOMPARE(ask(17, 3).status, 255);
    }
};

QIM_TEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"

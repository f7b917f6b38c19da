// Hostile slaves: every request kind over both links against replies that
// are short, long, corrupt, an exception, cut off, or never come; each ends
// with the status it must, shows no message, and the link works again as
// soon as the slave behaves. (Exceptions of the wrong length: tst_frames.)
#include "Link.h"
#include "SimBus.h"
#include "TestSupport.h"

#include <QTest>

using namespace qim;
using namespace qimtest;

namespace {

// One request of each kind to unit 3, a discrete module (registers 0..26 of a
// temperature module at unit 4 for the function 16 write).
struct Kind {
    const char* name;
    int function;
    uint8_t unit;
    int start;
    QList<int> v;
};
const Kind kinds[] = {{"read holding", 3, 3, 0, {1}},
                      {"read input", 4, 4, 0, {12}},
                      {"coil", 5, 4, 2, {0xFF00}},
                      {"register", 6, 3, 0, {0x55}},
                      {"multiple", 16, 4, 7, QList<int>(20, 0)},
                      {"identify", 17, 3, 0, {}}};

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
    std::unique_ptr<qimsim::Bus> bus;

    std::unique_ptr<Link> link;
    std::unique_ptr<MessageLog> log;
    // A reply that must arrive has the program's own timeout to do so; one
    // that only a timeout ends may have a short one.
    void useLink(bool tcp, int timeoutMs = 1000) {
        aim(*link, tcp, bus->tcpPort());
        configure(*link, [&](LinkSettings& s) { s.serialTimeoutMs = s.tcpTimeoutMs = timeoutMs; });
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
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("status");
        for (bool tcp : {false, true}) {
            for (int k = 0; k < int(std::size(kinds)); ++k) {
                const auto row = [&](const char* what, qimsim::Fault::Kind f, int status) {
                    QTest::addRow("%s %s %s", tcp ? "tcp" : "rtu", kinds[k].name, what)
                        << tcp << k << int(f) << status;
                };
                row("short", qimsim::Fault::MissingByte, 253);
                row("long", qimsim::Fault::ExtraByte, 253);
                row("silent", qimsim::Fault::Silence, 253);
                row("garbage", qimsim::Fault::Garbage, 253);
                row("exception", qimsim::Fault::Exception, 4); // its code
                if (tcp)
                    row("closed mid-reply", qimsim::Fault::CloseMidReply, 253);
                else
                    row("wrong crc", qimsim::Fault::WrongCrc, 254);
            }
        }
    }
    void everyKindAgainstEveryFault() {
        QFETCH(bool, tcp);
        QFETCH(int, kind);
        QFETCH(int, fault);
        QFETCH(int, status);
        const Kind& k = kinds[kind];
        useLink(tcp, status == 253 ? 250 : 1000);
        qimsim::Fault f;
        f.kind = qimsim::Fault::Kind(fault);
        f.exceptionCode = 4;
        bus->module(k.unit)->setFault(k.function, f);
        const Reply r = ask(*link, k.unit, k.function, k.start, k.v);
        QCOMPARE(r.status, status);
        QVERIFY(log->texts.isEmpty());
        // Once the module behaves, the very next request succeeds.
        bus->module(k.unit)->clearFaults();
        useLink(tcp);
        QCOMPARE(ask(*link, k.unit, k.function, k.start, k.v).status, 255);
    }
};

QIM_TEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"

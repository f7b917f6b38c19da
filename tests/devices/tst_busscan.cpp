// The bus scan without a window, against the simulated bus on both links.
#include "BusScan.h"
#include "Link.h"
#include "SimBus.h"
#include "TestSupport.h"

#include <QSignalSpy>

using namespace qim;
using Kind = qimsim::Fault::Kind;
using End = BusScan::End;

class TestBusScan : public QObject {
    Q_OBJECT
    std::unique_ptr<qimsim::Bus> bus;
    std::unique_ptr<qimtest::RealLink> link;
    DeviceTable table;
    std::unique_ptr<BusScan> scan;

    void aim(bool tcp, int timeoutMs = 1000) {
        qimtest::aim(*link, tcp, bus->tcpPort());
        qimtest::configure(
            *link, [&](LinkSettings& s) { s.serialTimeoutMs = s.tcpTimeoutMs = timeoutMs; });
    }
    void misbehave(int address, Kind kind, const QByteArray& garbage = {}) {
        qimsim::Fault f;
        f.kind = kind;
        f.exceptionCode = 4;
        f.delayMs = 300;
        f.garbage = garbage;
        bus->module(uint8_t(address))->setFault(17, f);
    }
    std::optional<End> run(int first, int last, std::optional<int> pauseMs, bool stop = false) {
        QSignalSpy ended(scan.get(), &BusScan::finished);
        scan->start(first, last, pauseMs);
        if (stop)
            scan->stop();
        if (ended.isEmpty() && !ended.wait(30000))
            return std::nullopt;
        return ended.at(0).at(0).value<End>();
    }
    QList<int> found() const {
        QList<int> out;
        for (int i = 0; i < scan->found(); ++i)
            out << table.at(i).address;
        return out;
    }

private Q_SLOTS:
    void init() {
        bus = std::make_unique<qimsim::Bus>();
        QVERIFY(bus->listenTcp(QHostAddress::LocalHost, 0));
        QVERIFY(bus->openPty(2));
        link = std::make_unique<qimtest::RealLink>();
        scan = std::make_unique<BusScan>(*link, table);
        for (int a = 1; a <= 5; ++a)
            bus->addModule(uint8_t(a), a == 5 ? 30 : 10);
    }
    void cleanup() {
        scan.reset();
        link.reset();
        bus.reset();
    }

    void misbehavingModulesAreErrors_data() {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("rtu") << false;
        QTest::newRow("tcp") << true;
    }
    void misbehavingModulesAreErrors() {
        QFETCH(bool, tcp);
        // Good modules at 1 and 5; between them silence, an exception and a
        // well-formed reply that carries five bytes of the block. (Each bad
        // reply's status is the link's: sim/tst_simbus.)
        const QByteArray cut = QByteArray::fromHex("0411050a01000141");
        misbehave(2, Kind::Silence);
        misbehave(3, Kind::Exception);
        misbehave(4, Kind::Garbage,
                  tcp ? QByteArray::fromHex("000000000008") + cut : qimtest::withCrc(cut));
        aim(tcp);
        link->advanceTransaction();
        QCOMPARE(run(1, 5, 0), End::Natural);
        QCOMPARE(bus->requests().size(), 5);
        for (int i = 0; i < 5; ++i) {
            const qimsim::RequestRecord& r = bus->requests().at(i);
            QVERIFY(r.address == i + 1 && r.function == 17 && r.tcp == tcp && r.transactionId == 0);
        }
        QCOMPARE(scan->errors(), 3);
        QCOMPARE(found(), (QList<int>{1, 5}));
        QVERIFY(table.at(1).code == 30 && table.at(2).code == 0); // nothing from a bad reply

        // Behaving, all are found, also without a pause.
        for (int a = 2; a <= 4; ++a)
            bus->module(uint8_t(a))->clearFaults();
        QCOMPARE(run(2, 5, std::nullopt), End::Natural);
        QVERIFY(scan->errors() == 0 && found() == (QList<int>{2, 3, 4, 5}));
    }

    // Stop is seen after the reply under way, which is counted: also a Stop
    // during a pause lets that pause's request go out. The last address ends
    // the scan as it would anyway. An abandoned scan's reply still on the
    // wire is not taken by the next scan.
    void stopEndsAfterTheRequestUnderWay() {
        aim(false);
        QCOMPARE(run(3, 247, 100, true), End::Stopped);
        QVERIFY(bus->requests().size() == 1 && scan->found() == 1 && scan->address() == 4);
        QCOMPARE(run(10, 247, std::nullopt, true), End::Stopped);
        QVERIFY(bus->requests().size() == 2 && scan->errors() == 1 && scan->address() == 11);
        QCOMPARE(run(5, 5, std::nullopt, true), End::Natural);

        misbehave(3, Kind::Delay);
        scan->start(3, 247, 0);
        QTRY_COMPARE(bus->requests().size(), 4);
        scan->abandon();
        QCOMPARE(run(5, 5, 0), End::Natural);
        QVERIFY(found() == QList<int>{5} && bus->requests().size() == 5);
    }

    // A port pulled while module 3 keeps the scan waiting: the scan ends at
    // that address, uncounted, with what it found before.
    void aLostLinkEndsTheScan() {
        misbehave(3, Kind::Silence);
        aim(false, 5000);
        connect(bus.get(), &qimsim::Bus::requestReceived, this,
                [this](const qimsim::RequestRecord& r) {
                    if (r.address == 3)
                        QTimer::singleShot(50, bus.get(), [this] { bus->closePty(); });
                });
        QCOMPARE(run(1, 5, 0), End::ConnectionError);
        QVERIFY(found() == (QList<int>{1, 2}) && scan->errors() == 0 && scan->address() == 3);
        disconnect(bus.get(), nullptr, this, nullptr);
        bus->module(3)->clearFaults();
        QVERIFY(bus->openPty(2));
        aim(false);
        QCOMPARE(run(1, 5, 0), End::Natural);
        QCOMPARE(found(), (QList<int>{1, 2, 3, 4, 5}));
    }
};

QIM_TEST_GUILESS_MAIN(TestBusScan)
#include "tst_busscan.moc"

// The traffic window: one row per transaction with its outcome, the bounded
// store, pause, filters, copy and CSV.
#include "General.h"
#include "Link.h"
#include "Requests.h"
#include "SimBus.h"
#include "TestSupport.h"
#include "TrafficWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace qim;
using namespace qimtest;

namespace {
QByteArray hex(const char* h) {
    return QByteArray::fromHex(h);
}

TransactionRecord fake(uint8_t slave, int16_t status) {
    TransactionRecord r;
    r.slave = slave;
    r.function = 3;
    r.status = status;
    r.request = hex("0103");
    return r;
}
} // namespace

class TestTraffic : public QObject {
    Q_OBJECT
    std::unique_ptr<qimsim::Bus> bus;

    TrafficWindow* open() { return OpenTrafficWindow(); }
    // One read of the discrete module's register 0 over the serial link,
    // with the module misbehaving as told.
    void transact(qimsim::Fault::Kind fault = qimsim::Fault::None, uint8_t code = 0) {
        bus->module(1)->clearFaults();
        if (fault != qimsim::Fault::None) {
            qimsim::Fault f;
            f.kind = fault;
            f.exceptionCode = code;
            bus->module(1)->setFault(3, f);
        }
        Await([](Requester r) { ReadHoldingRegisters(1, 0, 1, r); });
    }
    QStringList outcomes(TrafficWindow* w) {
        QStringList out;
        for (int r = 0; r < w->model()->rowCount(); ++r)
            out << w->model()->cellText(w->model()->record(r), TrafficModel::Outcome);
        return out;
    }

private Q_SLOTS:
    void initTestCase() { QuietOffscreenPlatform(); }
    void init() {
        Link::instance().reset();
        AssignLinkDefaults();
        General::SerialTimeout = 200;
        bus = std::make_unique<qimsim::Bus>();
        bus->addModule(1, 10);
        bus->module(1)->forceRead(3, 0, 7);
        QVERIFY(bus->openPty(2));
    }
    void cleanup() {
        if (auto* w = qApp->findChild<TrafficWindow*>())
            delete w;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("frmTraffic"))
                delete w;
        Link::instance().reset();
        bus.reset();
    }

    void rowsTellEachOutcome() {
        TrafficWindow* w = open();
        transact();
        transact(qimsim::Fault::Exception, 2);
        transact(qimsim::Fault::Silence);
        transact(qimsim::Fault::WrongCrc);
        transact(qimsim::Fault::ExtraByte);
        QTRY_COMPARE(w->model()->rowCount(), 5);
        QCOMPARE(outcomes(w), (QStringList{"OK", "2 Illegal Data Address", "timeout", "CRC error",
                                           "wrong length"}));
        const TransactionRecord& first = w->model()->record(0);
        QCOMPARE(w->model()->cellText(first, TrafficModel::LinkKind), QStringLiteral("RTU"));
        QCOMPARE(w->model()->cellText(first, TrafficModel::Request),
                 QStringLiteral("01 03 00 00 00 01 84 0A"));
        QCOMPARE(w->model()->cellText(first, TrafficModel::Reply),
                 QString::fromLatin1(WithCrc(hex("0103020007")).toHex(' ').toUpper()));
        QVERIFY(
            w->model()
                ->cellText(first, TrafficModel::Time)
                .contains(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))));
        // Failed rows stand out; good ones do not.
        QVERIFY(!w->model()->data(w->model()->index(0, 0), Qt::BackgroundRole).isValid());
        QVERIFY(w->model()->data(w->model()->index(2, 0), Qt::BackgroundRole).isValid());
    }

    void historyBeforeOpeningAndNoDoubleRows() {
        transact();
        TrafficWindow* w = open();
        QCOMPARE(w->model()->rowCount(), 1);
        // Two requesters sharing the link: each transaction is one row.
        QObject a, b;
        int done = 0;
        ReadHoldingRegisters(1, 0, 1, {&a, [&](const Reply&) { ++done; }});
        ReadHoldingRegisters(1, 0, 1, {&b, [&](const Reply&) { ++done; }});
        QTRY_COMPARE(done, 2);
        QTRY_COMPARE(w->model()->rowCount(), 3);
        QTest::qWait(250);
        QCOMPARE(w->model()->rowCount(), 3);
        QVERIFY(OpenTrafficWindow() == w); // opening again raises the same window
    }

    void pauseStopsNewRowsAndResumeContinues() {
        TrafficWindow* w = open();
        auto* pause = w->findChild<QPushButton*>(QStringLiteral("CmdPause"));
        pause->click();
        transact();
        QTest::qWait(200);
        QCOMPARE(w->model()->rowCount(), 0);
        pause->click();
        bus->module(1)->forceRead(3, 0, 2);
        transact();
        QTRY_COMPARE(w->model()->rowCount(), 1);
        QVERIFY(w->model()->cellText(w->model()->record(0), TrafficModel::Reply).contains("00 02"));
    }

    void keepsExactlyTheNewestRows() {
        TrafficModel m;
        QList<TransactionRecord> batch;
        for (int i = 0; i < TrafficModel::MaxRows + 250; ++i) {
            TransactionRecord r = fake(1, Status::Ok);
            r.durationUs = i;
            batch << r;
            if (batch.size() == 1000) {
                m.append(batch);
                batch.clear();
            }
        }
        m.append(batch);
        QCOMPARE(m.rowCount(), TrafficModel::MaxRows);
        QCOMPARE(m.record(0).durationUs, 250);
        QCOMPARE(m.record(TrafficModel::MaxRows - 1).durationUs, TrafficModel::MaxRows + 249);
        // A single oversized batch keeps its own newest rows.
        QList<TransactionRecord> big;
        for (int i = 0; i < TrafficModel::MaxRows + 5; ++i) {
            TransactionRecord r = fake(2, Status::Ok);
            r.durationUs = i;
            big << r;
        }
        m.append(big);
        QCOMPARE(m.rowCount(), TrafficModel::MaxRows);
        QCOMPARE(m.record(0).durationUs, 5);
    }

    void linkRingIsBoundedAndOrdered() {
        TrafficRing ring;
        for (int i = 0; i < TrafficRing::Capacity + 10; ++i) {
            TransactionRecord r = fake(1, Status::Ok);
            r.durationUs = i;
            ring.append(r);
        }
        const QList<TransactionRecord> all = ring.since(0);
        QCOMPARE(all.size(), TrafficRing::Capacity);
        QCOMPARE(all.first().durationUs, 10);
        QCOMPARE(ring.since(ring.next() - 2).size(), 2);
        QCOMPARE(ring.since(ring.next()).size(), 0);
    }

    void filtersCopyAndCsv() {
        TrafficWindow* w = open();
        w->model()->append({fake(3, Status::Ok), fake(7, 2), fake(3, Status::WrongLength)});
        auto* slaveFilter = w->findChild<QComboBox*>(QStringLiteral("ComboSlaveFilter"));
        auto* outcome = w->findChild<QComboBox*>(QStringLiteral("ComboOutcomeFilter"));
        slaveFilter->setCurrentIndex(slaveFilter->findData(3));
        QCOMPARE(w->filter()->rowCount(), 2);
        outcome->setCurrentIndex(1);
        QCOMPARE(w->filter()->rowCount(), 1);
        slaveFilter->setCurrentIndex(0);
        QCOMPARE(w->filter()->rowCount(), 2);

        auto* table = w->findChild<QTableView*>(QStringLiteral("tblTraffic"));
        table->selectRow(0);
        const QStringList cells = w->selectedRowsText().split(QLatin1Char('\t'));
        QCOMPARE(cells.value(2), QStringLiteral("7"));
        QCOMPARE(cells.value(6), QStringLiteral("2 Illegal Data Address"));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("traffic.csv"));
        QVERIFY(w->saveCsv(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.value(0),
                 QByteArray("Time,Link,Slave,Function,Request,Reply,Outcome,Duration (ms)"));
        QCOMPARE(lines.size(), 5); // header, three rows (all, unfiltered), final newline
        QVERIFY(lines.value(2).contains(",RTU,7,3,01 03,,2 Illegal Data Address,"));
    }
};

QIM_TEST_MAIN(TestTraffic)
#include "tst_traffic.moc"

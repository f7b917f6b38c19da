// The traffic window: one row per transaction with its outcome, what came
// before it opened, pause, the bounded store, filters, copy and CSV.
#include "../app/Driver.h"
#include "SimBus.h"
#include "TrafficWindow.h"

#include <QFile>
#include <QTableView>
#include <QTemporaryDir>

using namespace qim;
using namespace qimtest;
using namespace apptest;

namespace {
TransactionRecord fake(uint8_t slave, int16_t status, int durationUs = 0) {
    TransactionRecord r;
    r.slave = slave;
    r.function = 3;
    r.status = status;
    r.request = QByteArray::fromHex("0103");
    r.durationUs = durationUs;
    return r;
}
} // namespace

class TestTraffic : public QObject {
    Q_OBJECT
    std::unique_ptr<App> app;
    std::unique_ptr<qimsim::Bus> bus;

    TrafficWindow* open() {
        app->window().click(QStringLiteral("mnuTraffic"));
        return app->main->trafficWindow();
    }
    // One read of the discrete module's register 0, the module misbehaving as told.
    void transact(qimsim::Fault::Kind fault = qimsim::Fault::None, uint8_t code = 0) {
        bus->module(1)->clearFaults();
        qimsim::Fault f;
        f.kind = fault;
        f.exceptionCode = code;
        if (fault != qimsim::Fault::None)
            bus->module(1)->setFault(3, f);
        Await([this](Requester r) { app->link.readHoldingRegisters(1, 0, 1, r); });
    }
    static QString cell(TrafficWindow* w, int row, int column) {
        return w->model()->cellText(w->model()->record(row), column);
    }

private Q_SLOTS:
    void initTestCase() { QuietOffscreenPlatform(); }
    void init() {
        app = std::make_unique<App>();
        app->settings([](LinkSettings& s) { s.serialTimeoutMs = 200; });
        bus = std::make_unique<qimsim::Bus>();
        bus->addModule(1, 10);
        bus->module(1)->forceRead(3, 0, 7);
        QVERIFY(bus->openPty(2));
    }
    void cleanup() {
        app.reset();
        bus.reset();
    }

    void rowsTellEachOutcome() {
        transact(); // before the window opens: shown all the same
        TrafficWindow* w = open();
        transact(qimsim::Fault::Exception, 2);
        transact(qimsim::Fault::Silence);
        transact(qimsim::Fault::WrongCrc);
        transact(qimsim::Fault::ExtraByte);
        QTRY_COMPARE(w->model()->rowCount(), 5);
        QStringList outcomes;
        for (int r = 0; r < 5; ++r)
            outcomes << cell(w, r, TrafficModel::Outcome);
        QCOMPARE(outcomes, (QStringList{"OK", "2 Illegal Data Address", "timeout", "CRC error",
                                        "wrong length"}));
        QCOMPARE(cell(w, 0, TrafficModel::LinkKind), QStringLiteral("RTU"));
        QCOMPARE(cell(w, 0, TrafficModel::Request), QStringLiteral("01 03 00 00 00 01 84 0A"));
        QCOMPARE(
            cell(w, 0, TrafficModel::Reply),
            QString::fromLatin1(WithCrc(QByteArray::fromHex("0103020007")).toHex(' ').toUpper()));
        // Failed rows stand out; good ones do not.
        QVERIFY(!w->model()->data(w->model()->index(0, 0), Qt::BackgroundRole).isValid());
        QVERIFY(w->model()->data(w->model()->index(2, 0), Qt::BackgroundRole).isValid());
        // Two requesters sharing the link: each transaction is one row.
        QObject a, b;
        int done = 0;
        app->link.readHoldingRegisters(1, 0, 1, {&a, [&](const Reply&) { ++done; }});
        app->link.readHoldingRegisters(1, 0, 1, {&b, [&](const Reply&) { ++done; }});
        QTRY_COMPARE(done, 2);
        QTRY_COMPARE(w->model()->rowCount(), 7);
        QTest::qWait(250);
        QCOMPARE(w->model()->rowCount(), 7);
    }

    void pauseStopsNewRowsAndResumeContinues() {
        TrafficWindow* w = open();
        const Window window(w);
        window.click("CmdPause");
        transact();
        QTest::qWait(200);
        QCOMPARE(w->model()->rowCount(), 0);
        window.click("CmdPause");
        bus->module(1)->forceRead(3, 0, 2);
        transact();
        QTRY_COMPARE(w->model()->rowCount(), 1);
        QVERIFY(cell(w, 0, TrafficModel::Reply).contains("00 02"));
    }

    // At most MaxRows, the newest, however the rows come in.
    void keepsExactlyTheNewestRows() {
        TrafficModel m;
        for (const int batch : {1000, TrafficModel::MaxRows + 5}) {
            for (int i = 0; i < TrafficModel::MaxRows + 250; i += batch) {
                QList<TransactionRecord> rows;
                for (int k = i; k < std::min(i + batch, TrafficModel::MaxRows + 250); ++k)
                    rows << fake(1, Status::Ok, k);
                m.append(rows);
            }
            QCOMPARE(m.rowCount(), TrafficModel::MaxRows);
            QCOMPARE(m.record(0).durationUs, 250);
            QCOMPARE(m.record(TrafficModel::MaxRows - 1).durationUs, TrafficModel::MaxRows + 249);
        }
    }

    void filtersCopyAndCsv() {
        TrafficWindow* w = open();
        const Window window(w);
        w->model()->append({fake(3, Status::Ok), fake(7, 2), fake(3, Status::WrongLength)});
        window.pick("ComboSlaveFilter", 3);
        QCOMPARE(w->filter()->rowCount(), 2);
        window.pick("ComboOutcomeFilter", 1);
        QCOMPARE(w->filter()->rowCount(), 1);
        window.pick("ComboSlaveFilter", 0);
        QCOMPARE(w->filter()->rowCount(), 2);

        window.get<QTableView>("tblTraffic")->selectRow(0);
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
        QCOMPARE(lines.size(), 5); // header, every row (unfiltered), final newline
        QVERIFY(lines.value(2).contains(",RTU,7,3,01 03,,2 Illegal Data Address,"));
    }
};

QIM_TEST_MAIN(TestTraffic)
#include "tst_traffic.moc"

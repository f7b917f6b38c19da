// The traffic window: one row per transaction with its outcome, from before
// it opened on; pause; filters, copy and CSV.
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
TransactionRecord fake(uint8_t slave, int16_t status) {
    TransactionRecord r;
    r.slave = slave;
    r.function = 3;
    r.status = status;
    r.request = QByteArray::fromHex("0103");
    return r;
}
} // namespace

class TestTraffic : public QObject {
    Q_OBJECT
    std::optional<App> app;
    qimsim::Bus bus;

    // One read of module 1's register 0, the module misbehaving as told.
    void transact(qimsim::Fault::Kind fault = qimsim::Fault::None, uint8_t code = 0) {
        qimsim::Fault f;
        f.kind = fault;
        f.exceptionCode = code;
        bus.module(1)->setFault(3, f);
        Await([this](Requester r) { app->link.readHoldingRegisters(1, 0, 1, r); });
    }

private Q_SLOTS:
    void initTestCase() {
        QuietOffscreenPlatform();
        app.emplace();
        app->settings([](LinkSettings& s) { s.serialTimeoutMs = 200; });
        bus.addModule(1, 10)->forceRead(3, 0, 7);
        QVERIFY(bus.openPty(2));
    }

    void rowsTellEachOutcome() {
        transact(); // before the window opens: shown all the same
        app->window().click(QStringLiteral("mnuTraffic"));
        TrafficWindow* w = app->main->trafficWindow();
        TrafficModel* m = w->model();
        const auto cell = [m](int row, int column) { return m->cellText(m->record(row), column); };
        transact(qimsim::Fault::Exception, 2);
        transact(qimsim::Fault::Silence);
        transact(qimsim::Fault::WrongCrc);
        transact(qimsim::Fault::ExtraByte);
        QTRY_COMPARE(m->rowCount(), 5);
        const char* outcomes[] = {"OK", "2 Illegal Data Address", "timeout", "CRC error",
                                  "wrong length"};
        for (int r = 0; r < 5; ++r)
            QCOMPARE(cell(r, TrafficModel::Outcome), QString::fromLatin1(outcomes[r]));
        QCOMPARE(cell(0, TrafficModel::Request), QStringLiteral("01 03 00 00 00 01 84 0A"));
        QCOMPARE(cell(0, TrafficModel::Reply), QStringLiteral("01 03 02 00 07 F9 86"));
        QVERIFY(!m->data(m->index(0, 0), Qt::BackgroundRole).isValid());
        QVERIFY(m->data(m->index(2, 0), Qt::BackgroundRole).isValid());

        // Paused, no row comes; then two requesters sharing the link get one row each.
        Window(w).click("CmdPause");
        transact();
        QTest::qWait(200);
        QCOMPARE(m->rowCount(), 5);
        Window(w).click("CmdPause");
        QObject a, b;
        int done = 0;
        app->link.readHoldingRegisters(1, 0, 1, {&a, [&](const Reply&) { ++done; }});
        app->link.readHoldingRegisters(1, 0, 1, {&b, [&](const Reply&) { ++done; }});
        QTRY_COMPARE(done, 2);
        QTRY_COMPARE(m->rowCount(), 7);
        QTest::qWait(250);
        QCOMPARE(m->rowCount(), 7);
    }

    void filtersCopyAndCsv() {
        app->window().click(QStringLiteral("mnuTraffic"));
        const Window window(QStringLiteral("frmTraffic"));
        auto* w = qobject_cast<TrafficWindow*>(window.widget());
        w->model()->clear();
        w->model()->append({fake(3, Status::Ok), fake(7, 2), fake(3, Status::WrongLength)});
        window.pick("ComboSlaveFilter", 3);
        QCOMPARE(w->filter()->rowCount(), 2);
        window.pick("ComboOutcomeFilter", 1);
        QCOMPARE(w->filter()->rowCount(), 1);
        window.pick("ComboSlaveFilter", 0);
        QCOMPARE(w->filter()->rowCount(), 2);
        window.get<QTableView>("tblTraffic")->selectRow(0);
        const QStringList cells = w->selectedRowsText().split(QLatin1Char('\t'));
        QVERIFY(cells.value(2) == "7" && cells.value(6) == "2 Illegal Data Address");

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("traffic.csv"));
        QVERIFY(w->saveCsv(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 5); // header, every row (unfiltered), final newline
        QCOMPARE(lines[0], "Time,Link,Slave,Function,Request,Reply,Outcome,Duration (ms)");
        QVERIFY(lines[2].contains(",RTU,7,3,01 03,,2 Illegal Data Address,"));
    }
};

QIM_TEST_MAIN(TestTraffic)
#include "tst_traffic.moc"

// The trend's sample store: its bounds, the reduction to a plot's width, the
// breaks in the line, and its CSV file.
#include "TestSupport.h"
#include "TrendExport.h"
#include "TrendStore.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <random>

using namespace qim;

namespace {
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
void add(TrendStore& st, qint64 t, std::initializer_list<double> values, bool gap = false) {
    st.append(t, std::vector<double>(values), gap);
}
} // namespace

class TestTrendStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keepsADayAtMostAndItsCapacity() {
        TrendStore st(2);
        for (qint64 s = 0; s <= 25 * 3600; ++s) // 25 hours at one row a second
            add(st, s * 1000, {double(s), -double(s)});
        QCOMPARE(st.size(), 24 * 3600 + 1);
        QCOMPARE(st.value(1, 0), -3600.0f); // the columns stay together
        add(st, 1000, {7, 8});              // a clock set back keeps the order
        QCOMPARE(st.time(st.size() - 1), 25 * 3600 * 1000LL);
        TrendStore small(1, 1000);
        for (int i = 0; i < 5000; ++i)
            add(small, i, {double(i)}, i % 100 == 0);
        QCOMPARE(small.size(), 1000);
        QCOMPARE(small.value(0, 0), 4000.0f);
        QVERIFY(small.gapBefore(0) && !small.gapBefore(1));
    }

    void decimationKeepsEveryColumnsExtremes_data() {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("missingEvery");
        QTest::newRow("100k samples on 137 columns") << 137 << 100'000 << 0;
        QTest::newRow("fewer samples than columns") << 500 << 300 << 0;
        QTest::newRow("some values missing") << 900 << 100'000 << 97;
    }
    void decimationKeepsEveryColumnsExtremes() {
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(int, missingEvery);
        TrendStore st(1);
        std::mt19937 rng(42);
        std::normal_distribution<double> noise(0, 30);
        for (int i = 0; i < rows; ++i)
            add(st, i * 7 + int(rng() % 5),
                {missingEvery && i % missingEvery == 5 ? NaN : std::round(noise(rng))});
        const qint64 t0 = st.time(0), t1 = st.time(st.size() - 1);
        const auto column = [&](double t) {
            return std::min(columns - 1, int((t - t0) * columns / double(t1 - t0)));
        };
        // Each pixel column's lowest and highest value.
        std::vector<std::pair<double, double>> want(columns, {1e300, -1e300}), got = want;
        const auto take = [&](auto& extremes, double t, double v) {
            auto& [lo, hi] = extremes[column(t)];
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        };
        for (int i = 0; i < st.size(); ++i)
            if (!std::isnan(st.value(0, i)))
                take(want, st.time(i), st.value(0, i));
        int points = 0;
        for (const auto& run : st.decimate(0, t0, t1, columns))
            for (const QPointF& p : run)
                take(got, p.x(), p.y()), ++points;
        QVERIFY(points <= 2 * columns);
        QVERIFY(got == want);
    }

    void gapsBreakTheLine() {
        TrendStore st(2);
        // Ten polls a second apart; polls 5 and 6 failed, then polling went on.
        for (int i = 0; i < 10; ++i)
            add(st, 10'000 + i * 1000 + (i >= 5 ? 2000 : 0), {double(i), i == 7 ? NaN : 1.0},
                i == 5);
        auto runs = st.decimate(0, 10'000, 21'000, 1100);
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs[0].back(), QPointF(14'000, 4));
        QCOMPARE(runs[1].front(), QPointF(17'000, 5));
        QCOMPARE(st.decimate(1, 10'000, 21'000, 1100).size(), 3); // a missing value breaks too
        QCOMPARE(st.decimate(0, 10'000, 21'000, 5).size(), 1);    // too narrow to show: bridged
        QCOMPARE(st.decimate(0, 10'000, 21'000, 1100, 1).size(), 1);
        // The sample just outside each end is kept, so the line runs to the edges.
        runs = st.decimate(0, 11'500, 12'500, 400);
        QCOMPARE(runs.front().front().x(), 11'000.0);
        QCOMPARE(runs.front().back().x(), 13'000.0);
    }

    void csvHoldsTheRowsAsShown() {
        TrendStore st(3);
        const qint64 t = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89)).toMSecsSinceEpoch();
        add(st, t - 1000, {1, 2, 3});
        add(st, t, {231, 250, NaN});
        add(st, t + 1000, {-10.2397, 0.0156, 45});
        for (int i = 2; i < 12'000; ++i) // a long trend, written in slices
            add(st, t + 1000 * i, {0, 0, 0});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("trend.csv"));
        TrendCsvExport job(st, 1, st.size(), {0, 1, 2}, {"PV1 (degC)", "a,b \"c\"", "Power1 (%)"});
        add(st, t + 12'000'000, {9, 9, 9}); // after the export began: not in the file
        QSignalSpy done(&job, &TrendCsvExport::finished);
        job.start(path);
        QVERIFY(!QFile::exists(path)); // written from the event loop, appears when whole
        QVERIFY(done.wait(10000));
        QVERIFY(done.first().at(0).toBool());
        const QStringList lines = qimtest::readCsvLines(path);
        QCOMPARE(lines.size(), 12'001); // the header and every row but the first
        QCOMPARE(lines.mid(0, 3), (QStringList{"Time,PV1 (degC),\"a,b \"\"c\"\"\",Power1 (%)",
                                               "2026-03-04 05:06:07.089,231,250,",
                                               "2026-03-04 05:06:08.089,-10.2397,0.0156,45"}));
    }
};

QIM_TEST_GUILESS_MAIN(TestTrendStore)
#include "tst_trendstore.moc"

// The trend's sample store: its two bounds, the reduction to a plot's width
// (every pixel column keeps its lowest and highest sample), the breaks in
// the line, and the CSV file of the samples.
#include "TestSupport.h"
#include "TrendExport.h"
#include "TrendStore.h"

#include <QDateTime>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <limits>
#include <random>
#include <set>

using namespace qim;

namespace {
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

void add(TrendStore& st, qint64 t, std::initializer_list<double> values, bool gap = false) {
    const std::vector<double> v(values);
    st.append(t, v, gap);
}

// Every point of every run is a stored sample of the series.
bool allStored(const TrendStore& st, int series, const QList<QList<QPointF>>& runs) {
    std::set<std::pair<qint64, float>> samples;
    for (int i = 0; i < st.size(); ++i)
        samples.insert({st.time(i), st.value(series, i)});
    for (const auto& run : runs)
        for (const QPointF& p : run)
            if (!samples.count({qint64(p.x()), static_cast<float>(p.y())}))
                return false;
    return true;
}

} // namespace

class TestTrendStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void keepsAtMostADay() {
        TrendStore st(2);
        const qint64 start = 1'700'000'000'000;
        // 25 hours at one row a second.
        for (qint64 s = 0; s <= 25 * 3600; ++s)
            add(st, start + s * 1000, {double(s), -double(s)});
        const qint64 last = start + 25 * 3600 * 1000;
        QCOMPARE(st.time(st.size() - 1), last);
        QCOMPARE(st.time(0), last - TrendStore::MaxAgeMs);
        QCOMPARE(st.size(), 24 * 3600 + 1);
        // The columns stayed together through the dropping.
        QCOMPARE(st.value(0, 0), 3600.0f);
        QCOMPARE(st.value(1, 0), -3600.0f);
        QCOMPARE(st.value(0, st.size() - 1), float(25 * 3600));

        // After a day without polls, the next poll is all that is left.
        add(st, last + TrendStore::MaxAgeMs + 1, {7, 8});
        QCOMPARE(st.size(), 1);
        QCOMPARE(st.value(1, 0), 8.0f);
    }

    void keepsAtMostItsCapacity() {
        // Polling back to back: the newest rows stay, however many come.
        TrendStore small(1, 1000);
        for (int i = 0; i < 5000; ++i)
            add(small, 1000 + i, {double(i)});
        QCOMPARE(small.size(), 1000);
        QCOMPARE(small.value(0, 0), 4000.0f);
        QCOMPARE(small.value(0, 999), 4999.0f);

        // Large enough that dropped rows are compacted away several times.
        TrendStore st(3, 100'000);
        QCOMPARE(st.capacity(), 100'000);
        for (int i = 0; i < 350'000; ++i)
            add(st, i, {double(i), double(i % 7), double(-i)}, i % 1000 == 0);
        QCOMPARE(st.size(), 100'000);
        for (int row : {0, 1, 49'999, 99'999}) {
            const int i = 250'000 + row;
            QCOMPARE(st.time(row), qint64(i));
            QCOMPARE(st.value(0, row), float(i));
            QCOMPARE(st.value(1, row), float(i % 7));
            QCOMPARE(st.value(2, row), float(-i));
            QCOMPARE(st.gapBefore(row), i % 1000 == 0);
        }
        QCOMPARE(TrendStore(1).capacity(), TrendStore::DefaultCapacity);
    }

    void keepsValuesAndTimeOrder() {
        TrendStore st(3);
        add(st, 5000, {10.2397, 65535, -2048});
        // A clock set back does not put rows out of order.
        add(st, 4000, {-10.24, 0, 2047});
        QCOMPARE(st.time(1), qint64(5000));
        // Every value a panel shows comes back as shown.
        QCOMPARE(QString::fromLatin1(TrendValueText(st.value(0, 0))), QStringLiteral("10.2397"));
        QCOMPARE(QString::fromLatin1(TrendValueText(st.value(0, 1))), QStringLiteral("-10.24"));
        QCOMPARE(st.value(1, 0), 65535.0f);
        QCOMPARE(st.value(2, 0), -2048.0f);
        QCOMPARE(QString::fromLatin1(TrendValueText(0.0156)), QStringLiteral("0.0156"));
        QCOMPARE(QString::fromLatin1(TrendValueText(0.0001)), QStringLiteral("0.0001"));
        QCOMPARE(QString::fromLatin1(TrendValueText(-0.0)), QStringLiteral("-0"));
        QVERIFY(TrendValueText(NaN).isEmpty());
        // A row with too few values has none for the rest.
        st.append(6000, std::vector<double>{1.0}, false);
        QVERIFY(std::isnan(st.value(2, 2)));

        QCOMPARE(st.lowerBound(4999), 0);
        QCOMPARE(st.lowerBound(5001), 2);
        QCOMPARE(st.nearest(4000), 0);
        QCOMPARE(st.nearest(5400), 1);
        QCOMPARE(st.nearest(5600), 2);
        QCOMPARE(st.nearest(99999), 2);
        st.clear();
        QVERIFY(st.empty());
        QCOMPARE(st.nearest(0), -1);
        QVERIFY(st.decimate(0, 0, 1000, 100).isEmpty());
    }

    void decimationKeepsEveryColumnsExtremes_data() {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("missingEvery");
        QTest::newRow("100k samples on 137 columns") << 137 << 100'000 << 0;
        QTest::newRow("100k samples on 1100 columns") << 1100 << 100'000 << 0;
        QTest::newRow("fewer samples than columns") << 500 << 300 << 0;
        QTest::newRow("some values missing") << 900 << 100'000 << 97;
    }
    void decimationKeepsEveryColumnsExtremes() {
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(int, missingEvery);
        TrendStore st(1);
        std::mt19937 rng(42);
        std::uniform_int_distribution<int> step(1, 40);
        std::normal_distribution<double> noise(0, 30);
        qint64 t = 0;
        double level = 0;
        for (int i = 0; i < rows; ++i) {
            t += step(rng);
            level += noise(rng) / 10;
            const bool missing = missingEvery > 0 && i % missingEvery == 5;
            add(st, t, {missing ? NaN : std::round(level + noise(rng))});
        }
        const qint64 t0 = st.time(0);
        const qint64 t1 = st.time(st.size() - 1);
        const auto runs = st.decimate(0, t0, t1, columns);
        QVERIFY(allStored(st, 0, runs));
        QList<QPointF> points;
        for (const auto& run : runs)
            points += run;
        if (missingEvery == 0)
            QCOMPARE(runs.size(), 1);
        QVERIFY(points.size() <= 2 * columns);
        for (qsizetype k = 1; k < points.size(); ++k)
            QVERIFY(points[k].x() > points[k - 1].x());

        // The true extremes of each column, from every sample.
        const auto columnOf = [&](qint64 time) {
            return std::min(columns - 1, int(double(time - t0) * columns / double(t1 - t0)));
        };
        std::vector<double> lo(columns, 1e300), hi(columns, -1e300);
        for (int i = 0; i < st.size(); ++i) {
            if (std::isnan(st.value(0, i)))
                continue;
            const int c = columnOf(st.time(i));
            lo[c] = std::min(lo[c], double(st.value(0, i)));
            hi[c] = std::max(hi[c], double(st.value(0, i)));
        }
        std::vector<double> gotLo(columns, 1e300), gotHi(columns, -1e300);
        for (const QPointF& p : points) {
            const int c = columnOf(qint64(p.x()));
            gotLo[c] = std::min(gotLo[c], p.y());
            gotHi[c] = std::max(gotHi[c], p.y());
        }
        for (int c = 0; c < columns; ++c) {
            QCOMPARE(gotLo[c], lo[c]);
            QCOMPARE(gotHi[c], hi[c]);
        }
    }

    void decimationShrinksLevelStretches() {
        // A set point that does not change is two points, however long.
        TrendStore st(2);
        for (int i = 0; i < 10'000; ++i)
            add(st, i * 100, {250, i < 5000 ? 20.0 : 21.0});
        const auto runs = st.decimate(0, 0, 999'900, 800);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.front().size(), 2);
        QCOMPARE(runs.front().front(), QPointF(0, 250));
        QCOMPARE(runs.front().back(), QPointF(999'900, 250));
        // A step keeps both its edges.
        const auto step = st.decimate(1, 0, 999'900, 800).front();
        QCOMPARE(step.size(), 4);
        QCOMPARE(step[1], QPointF(499'900, 20));
        QCOMPARE(step[2], QPointF(500'000, 21));
    }

    void gapsBreakTheLine() {
        TrendStore st(2);
        // Ten polls a second apart; polls 5 and 6 failed, then polling went on.
        for (int i = 0; i < 10; ++i)
            add(st, 10'000 + i * 1000 + (i >= 5 ? 2000 : 0), {double(i), i == 7 ? NaN : 1.0},
                i == 5);
        auto runs = st.decimate(0, 10'000, 21'000, 1100);
        QCOMPARE(runs.size(), 2);
        QCOMPARE(runs[0].size(), 5);
        QCOMPARE(runs[0].back(), QPointF(14'000, 4));
        QCOMPARE(runs[1].front(), QPointF(17'000, 5));
        QCOMPARE(runs[1].size(), 5);
        // A series without a value in a row breaks there as well.
        runs = st.decimate(1, 10'000, 21'000, 1100);
        QCOMPARE(runs.size(), 3);
        QCOMPARE(runs[1].back().x(), 18'000.0);
        QCOMPARE(runs[2].front().x(), 20'000.0);
        QVERIFY(allStored(st, 0, st.decimate(0, 10'000, 21'000, 1100)));

        // Too narrow to show at this width (under two columns): bridged.
        runs = st.decimate(0, 10'000, 21'000, 5);
        QCOMPARE(runs.size(), 1);
    }

    void tooManyBreaksKeepTheWidest() {
        TrendStore st(1);
        // Nine gaps of 11, 12, ... 19 s between one-second runs of polls.
        qint64 t = 0;
        for (int run = 0; run < 10; ++run) {
            if (run > 0)
                t += (10 + run) * 1000;
            for (int i = 0; i < 3; ++i) {
                add(st, t, {double(run * 10 + i)}, run > 0 && i == 0);
                t += 500;
            }
        }
        const auto all = st.decimate(0, 0, t, 2000);
        QCOMPARE(all.size(), 10);
        const auto capped = st.decimate(0, 0, t, 2000, 4);
        QCOMPARE(capped.size(), 4);
        // The three widest gaps (before runs 7, 8 and 9) still show.
        QCOMPARE(capped[1].front().y(), 70.0);
        QCOMPARE(capped[2].front().y(), 80.0);
        QCOMPARE(capped[3].front().y(), 90.0);
        QCOMPARE(capped[0].size(), 7 * 3); // runs 0..6 bridged, a point per sample
    }

    void linesLeaveAtTheEdges() {
        TrendStore st(1);
        for (int i = 0; i < 100; ++i)
            add(st, i * 1000, {double(i)});
        // A window from 20.5 s to 30.5 s: the samples at 20 s and 31 s are kept
        // so the line runs to both edges.
        const auto runs = st.decimate(0, 20'500, 30'500, 400);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.front().front(), QPointF(20'000, 20));
        QCOMPARE(runs.front().back(), QPointF(31'000, 31));
        // Polling stopped long before the window: nothing to draw, not a
        // lone line coming in from the left.
        QVERIFY(st.decimate(0, 500'000, 600'000, 400).isEmpty());
        TrendStore gap(1);
        add(gap, 0, {1});
        add(gap, 50'000, {2}, true);
        const auto r = gap.decimate(0, 40'000, 60'000, 400);
        QCOMPARE(r.size(), 1);
        QCOMPARE(r.front(), QList<QPointF>{QPointF(50'000, 2)});
    }

    void csvHoldsTheRowsAsShown() {
        TrendStore st(3);
        const qint64 t = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89)).toMSecsSinceEpoch();
        add(st, t - 1000, {1, 2, 3});
        add(st, t, {231, 250, NaN});
        add(st, t + 1000, {-10.2397, 0.0156, 45});
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("trend.csv"));
        TrendCsvExport job(st, 1, 3, {0, 1, 2},
                           {QStringLiteral("PV1 (degC)"), QStringLiteral("SP1 (degC)"),
                            QStringLiteral("Power1 (%)")});
        QCOMPARE(job.rows(), 2);
        // Samples arriving after the export began are not in the file.
        add(st, t + 2000, {9, 9, 9});
        QSignalSpy done(&job, &TrendCsvExport::finished);
        job.start(path);
        QVERIFY(!QFile::exists(path)); // written from the event loop, appears when whole
        QVERIFY(done.wait(10000));
        QCOMPARE(done.first().at(0).toBool(), true);
        const QStringList lines = qimtest::ReadCsvLines(path);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("Time,PV1 (degC),SP1 (degC),Power1 (%)"));
        QCOMPARE(lines[1], QStringLiteral("2026-03-04 05:06:07.089,231,250,"));
        QCOMPARE(lines[2], QStringLiteral("2026-03-04 05:06:08.089,-10.2397,0.0156,45"));

        // A header with a comma is quoted; a file that cannot be written says so.
        TrendCsvExport odd(st, 0, 1, {0}, {QStringLiteral("a,b \"c\"")});
        QSignalSpy oddDone(&odd, &TrendCsvExport::finished);
        odd.start(dir.filePath(QStringLiteral("odd.csv")));
        QVERIFY(oddDone.wait(10000));
        QCOMPARE(qimtest::ReadCsvLines(dir.filePath(QStringLiteral("odd.csv"))).first(),
                 QStringLiteral("Time,\"a,b \"\"c\"\"\""));
        TrendCsvExport bad(st, 0, 3, {0}, {QStringLiteral("x")});
        QSignalSpy badDone(&bad, &TrendCsvExport::finished);
        bad.start(dir.filePath(QStringLiteral("no/such/folder/trend.csv")));
        QVERIFY(badDone.wait(10000));
        QCOMPARE(badDone.first().at(0).toBool(), false);
        QVERIFY(!badDone.first().at(1).toString().isEmpty());
    }

    void longCsvIsWrittenInSlices() {
        TrendStore st(12);
        std::vector<double> row(12);
        for (int i = 0; i < 60'000; ++i) {
            for (int s = 0; s < 12; ++s)
                row[size_t(s)] = i % 100 + s;
            st.append(1'700'000'000'000 + i * 100, row, false);
        }
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.csv"));
        QList<int> all;
        QStringList headers;
        for (int s = 0; s < 12; ++s) {
            all << s;
            headers << QStringLiteral("S%1").arg(s);
        }
        TrendCsvExport job(st, 0, st.size(), all, headers);
        QSignalSpy done(&job, &TrendCsvExport::finished);
        int turns = 0;
        QTimer counter;
        connect(&counter, &QTimer::timeout, [&] { ++turns; });
        counter.start(0);
        job.start(path);
        QVERIFY(done.wait(60000));
        QVERIFY(done.first().at(0).toBool());
        QVERIFY2(turns > 3, "the event loop ran while the file was written");
        const QStringList lines = qimtest::ReadCsvLines(path);
        QCOMPARE(lines.size(), 60'001);
        QCOMPARE(lines.last().section(QLatin1Char(','), 1), QStringLiteral("99,100,101,102,103,"
                                                                           "104,105,106,107,108,"
                                                                           "109,110"));
    }
};

QIM_TEST_GUILESS_MAIN(TestTrendStore)
#include "tst_trendstore.moc"

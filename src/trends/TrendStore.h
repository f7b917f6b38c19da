#pragma once
// The samples behind a trend: one time column shared by every series (a
// panel's poll gives all its values at once), one value column per series,
// and a mark on each row that follows a gap (polls that failed, or polling
// that stopped and started again). Bounded twice: rows older than 24 h are
// dropped, and the row count never passes the capacity, so polling back to
// back for a day cannot exhaust memory. Widget-free.
//
// Values are kept as float: every value a panel shows (whole degrees,
// percent, counts up to 65535, volts to four decimals) has at most six
// significant digits and comes back exactly.

#include <QList>
#include <QPointF>
#include <QtGlobal>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace qim {

class TrendStore {
public:
    static constexpr qint64 MaxAgeMs = 24LL * 60 * 60 * 1000;
    // A day at the panels' default 100 ms interval fits.
    static constexpr int DefaultCapacity = 1'000'000;

    explicit TrendStore(int seriesCount, int capacity = DefaultCapacity);

    int seriesCount() const { return static_cast<int>(m_values.size()); }
    int capacity() const { return m_capacity; }
    int size() const { return static_cast<int>(m_time.size() - m_begin); }
    bool empty() const { return size() == 0; }

    // One row: a value per series (NaN: none). A time before the last row's
    // is taken as the last row's, so the rows stay in time order.
    void append(qint64 timeMs, std::span<const double> values, bool gapBefore);
    void clear();

    qint64 time(int row) const { return m_time[m_begin + row]; }
    float value(int series, int row) const { return m_values[series][m_begin + row]; }
    bool gapBefore(int row) const { return m_gap[m_begin + row] != 0; }
    // The first row at or after t (size() when none).
    int lowerBound(qint64 t) const;
    // The row whose time is nearest to t (-1 when empty).
    int nearest(qint64 t) const;

    // One series over [t0, t1] reduced for a plot `columns` pixels wide:
    // per pixel column the lowest and the highest sample, in time order, so
    // the drawn line spans what every sample would (a level stretch keeps
    // only its ends).
    // The line is cut into runs at gaps (and at NaN values); a gap too
    // narrow to show (its neighbours less than two columns apart) is
    // bridged, and beyond maxRuns the narrowest gaps are bridged too. The
    // sample just outside each end is kept, so a line leaves the plot at
    // its edge rather than stopping short.
    QList<QList<QPointF>> decimate(int series, qint64 t0, qint64 t1, int columns,
                                   int maxRuns = 32) const;
    // The same for several series at once (the columns are worked out once).
    // Rows after `until` are left out (a paused picture stays as it was).
    std::vector<QList<QList<QPointF>>>
    decimate(std::span<const int> series, qint64 t0, qint64 t1, int columns, int maxRuns = 32,
             qint64 until = std::numeric_limits<qint64>::max()) const;

private:
    void dropFront(size_t rows);

    int m_capacity;
    size_t m_begin = 0; // rows before this one are dropped, awaiting compaction
    std::vector<qint64> m_time;
    std::vector<uint8_t> m_gap;
    std::vector<std::vector<float>> m_values;
};

} // namespace qim

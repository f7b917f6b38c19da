#include "TrendStore.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qim {

namespace {
// Dropped rows are compacted away in batches, so dropping the oldest row on
// every append stays cheap.
constexpr size_t CompactAfter = 65536;
} // namespace

TrendStore::TrendStore(int seriesCount, int capacity)
    : m_capacity(std::max(1, capacity)), m_values(static_cast<size_t>(std::max(0, seriesCount))) {}

void TrendStore::append(qint64 timeMs, std::span<const double> values, bool gapBefore) {
    if (!empty() && timeMs < m_time.back())
        timeMs = m_time.back();

    size_t drop = 0;
    const size_t live = static_cast<size_t>(size());
    const qint64 oldest = timeMs - MaxAgeMs;
    while (drop < live && m_time[m_begin + drop] < oldest)
        ++drop;
    if (live - drop >= static_cast<size_t>(m_capacity))
        drop = live - static_cast<size_t>(m_capacity) + 1;
    dropFront(drop);

    m_time.push_back(timeMs);
    m_gap.push_back(gapBefore ? 1 : 0);
    for (size_t s = 0; s < m_values.size(); ++s) {
        const double v = s < values.size() ? values[s] : std::numeric_limits<double>::quiet_NaN();
        m_values[s].push_back(static_cast<float>(v));
    }
}

void TrendStore::clear() {
    m_begin = 0;
    m_time = {};
    m_gap = {};
    for (auto& column : m_values)
        column = {};
}

void TrendStore::dropFront(size_t rows) {
    if (rows == 0)
        return;
    m_begin += rows;
    if (m_begin < CompactAfter && m_begin * 2 < m_time.size())
        return;
    const auto cut = static_cast<std::ptrdiff_t>(m_begin);
    m_time.erase(m_time.begin(), m_time.begin() + cut);
    m_gap.erase(m_gap.begin(), m_gap.begin() + cut);
    for (auto& column : m_values)
        column.erase(column.begin(), column.begin() + cut);
    m_begin = 0;
}

int TrendStore::lowerBound(qint64 t) const {
    const auto first = m_time.begin() + static_cast<std::ptrdiff_t>(m_begin);
    return static_cast<int>(std::lower_bound(first, m_time.end(), t) - first);
}

int TrendStore::nearest(qint64 t) const {
    if (empty())
        return -1;
    const int i = lowerBound(t);
    if (i == size())
        return i - 1;
    if (i > 0 && t - time(i - 1) <= time(i) - t)
        return i - 1;
    return i;
}

QList<QList<QPointF>> TrendStore::decimate(int series, qint64 t0, qint64 t1, int columns,
                                           int maxRuns) const {
    const int one[1] = {series};
    auto all = decimate(std::span<const int>(one), t0, t1, columns, maxRuns);
    return all.empty() ? QList<QList<QPointF>>() : std::move(all.front());
}

std::vector<QList<QList<QPointF>>> TrendStore::decimate(std::span<const int> series, qint64 t0,
                                                        qint64 t1, int columns, int maxRuns,
                                                        qint64 until) const {
    std::vector<QList<QList<QPointF>>> result(series.size());
    if (columns < 1 || t1 <= t0 || empty())
        return result;

    const double scale = double(columns) / double(t1 - t0);
    const auto position = [&](qint64 t) { return double(t - t0) * scale; };

    int first = lowerBound(t0);
    const int end = until < std::numeric_limits<qint64>::max() ? lowerBound(until + 1) : size();
    int last = std::min(end, lowerBound(t1 + 1)); // one past the last row inside
    if (first > 0)
        --first;
    if (last < end)
        ++last;
    if (first >= last)
        return result;
    const size_t base = m_begin + static_cast<size_t>(first);
    const size_t count = static_cast<size_t>(last - first);

    // The pixel column of every row, shared by all the series: -1 left of
    // the range, `columns` right of it.
    std::vector<int> columnOf(count);
    for (size_t k = 0; k < count; ++k) {
        const qint64 t = m_time[base + k];
        columnOf[k] = t < t0   ? -1
                      : t > t1 ? columns
                               : std::min(columns - 1, static_cast<int>(position(t)));
    }

    // Runs of rows in one column with no gap after their first row: the
    // same for every series.
    std::vector<size_t> segments;
    segments.reserve(static_cast<size_t>(columns) + 2);
    for (size_t k = 0; k < count; ++k)
        if (k == 0 || columnOf[k] != columnOf[k - 1] || m_gap[base + k] != 0)
            segments.push_back(k);
    segments.push_back(count);

    struct Piece {
        QList<QPointF> points;
        double firstPos = 0;
        double lastPos = 0;
        bool inside = false; // holds a sample inside [t0, t1]
    };

    for (size_t out = 0; out < series.size(); ++out) {
        const int s = series[out];
        if (s < 0 || s >= seriesCount())
            continue;
        const float* column = m_values[static_cast<size_t>(s)].data() + base;
        const uint8_t* gaps = m_gap.data() + base;
        const qint64* times = m_time.data() + base;
        std::vector<Piece> pieces;

        const auto add = [&](size_t k) {
            QList<QPointF>& points = pieces.back().points;
            const QPointF p(double(times[k]), double(column[k]));
            // A level stretch needs only its ends.
            const qsizetype n = points.size();
            if (n >= 2 && points[n - 1].y() == p.y() && points[n - 2].y() == p.y())
                points[n - 1] = p;
            else
                points.append(p);
        };
        // The current column's lowest and highest rows, put down in time order;
        // a level column also keeps its last row, so the line runs on to it.
        int accColumn = std::numeric_limits<int>::min();
        size_t iMin = 0, iMax = 0, iLast = 0;
        bool open = false;
        const auto flush = [&] {
            if (!open)
                return;
            add(std::min(iMin, iMax));
            if (iMin != iMax)
                add(std::max(iMin, iMax));
            else if (iLast != iMin)
                add(iLast);
            open = false;
        };

        bool pendingGap = false;
        bool haveLast = false;
        double lastPos = 0;
        const auto row = [&](size_t k) {
            pendingGap = pendingGap || gaps[k] != 0;
            const float v = column[k];
            if (std::isnan(v)) {
                pendingGap = true;
                return;
            }
            const int c = columnOf[k];
            bool cut = !haveLast;
            if (pendingGap && haveLast) {
                // A gap narrower than two columns would not show: bridge it.
                cut = position(times[k]) - lastPos >= 2.0;
            }
            pendingGap = false;
            if (cut || c != accColumn) {
                flush();
                accColumn = c;
            }
            if (cut) {
                pieces.push_back({});
                pieces.back().firstPos = position(times[k]);
            }
            if (!open) {
                iMin = iMax = k;
                open = true;
            } else if (v < column[iMin]) {
                iMin = k;
            } else if (v > column[iMax]) {
                iMax = k;
            }
            iLast = k;
            Piece& piece = pieces.back();
            piece.inside = piece.inside || (c >= 0 && c < columns);
            haveLast = true;
            lastPos = position(times[k]);
            piece.lastPos = lastPos;
        };
        for (size_t seg = 0; seg + 1 < segments.size(); ++seg) {
            const size_t a = segments[seg];
            const size_t b = segments[seg + 1];
            row(a);
            if (b - a < 2)
                continue;
            // The rest of a column without gaps: only its extremes matter,
            // until a missing value calls for the row by row way again.
            size_t k = a + 1;
            if (open && pendingGap == false && !std::isnan(column[a])) {
                float lo = column[iMin];
                float hi = column[iMax];
                for (; k < b; ++k) {
                    const float v = column[k];
                    if (v < lo) {
                        lo = v;
                        iMin = k;
                    } else if (v > hi) {
                        hi = v;
                        iMax = k;
                    } else if (v != v) {
                        break;
                    }
                }
                if (k > a + 1) {
                    iLast = k - 1;
                    lastPos = position(times[k - 1]);
                    pieces.back().lastPos = lastPos;
                }
            }
            for (; k < b; ++k)
                row(k);
        }
        flush();

        // A piece that lies wholly outside the range would only be clipped away.
        std::erase_if(pieces, [](const Piece& p) { return !p.inside; });

        // Too many runs: keep the widest gaps, bridge the rest.
        if (maxRuns >= 1 && static_cast<int>(pieces.size()) > maxRuns) {
            std::vector<size_t> order(pieces.size() - 1);
            for (size_t k = 0; k < order.size(); ++k)
                order[k] = k;
            const auto width = [&](size_t k) { return pieces[k + 1].firstPos - pieces[k].lastPos; };
            std::stable_sort(order.begin(), order.end(),
                             [&](size_t a, size_t b) { return width(a) > width(b); });
            std::vector<bool> keep(order.size(), false);
            for (int k = 0; k < maxRuns - 1; ++k)
                keep[order[static_cast<size_t>(k)]] = true;
            std::vector<Piece> merged;
            merged.push_back(std::move(pieces[0]));
            for (size_t k = 1; k < pieces.size(); ++k) {
                if (keep[k - 1])
                    merged.push_back(std::move(pieces[k]));
                else
                    merged.back().points.append(pieces[k].points);
            }
            pieces = std::move(merged);
        }

        QList<QList<QPointF>>& runs = result[out];
        runs.reserve(static_cast<qsizetype>(pieces.size()));
        for (Piece& p : pieces)
            runs.append(std::move(p.points));
    }
    return result;
}

} // namespace qim

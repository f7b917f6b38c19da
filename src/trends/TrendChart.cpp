#include "TrendChart.h"

#include "TrendStore.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLineItem>
#include <QGraphicsScene>
#include <QLineSeries>
#include <QMouseEvent>
#include <QValueAxis>
#include <cmath>
#include <limits>

namespace qim {

namespace {
constexpr qint64 TenMinutesMs = 600'000;
} // namespace

TrendChart::TrendChart(const TrendLayout& layout, QWidget* parent)
    // The chart goes to the view's constructor: setChart() would leave the
    // view's own default chart behind, owned by nobody.
    : QChartView(new QChart, parent), m_layout(layout), m_chart(chart()) {
    setMouseTracking(true);
    setRenderHint(QPainter::Antialiasing);
    m_chart->legend()->hide();
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->setBackgroundRoundness(0);
    m_chart->setMargins(QMargins(6, 6, 6, 6));

    m_x = new QDateTimeAxis;
    m_x->setFormat(QStringLiteral("HH:mm:ss"));
    m_x->setTickCount(7);
    m_x->setTitleText(QStringLiteral("Time"));
    m_chart->addAxis(m_x, Qt::AlignBottom);

    m_left = new QValueAxis;
    m_left->setTitleText(m_layout.scales.value(0).title);
    m_chart->addAxis(m_left, Qt::AlignLeft);
    if (!m_layout.rightTitle.isEmpty()) {
        m_right = new QValueAxis;
        m_right->setTitleText(m_layout.rightTitle);
        m_right->setGridLineVisible(false);
        m_chart->addAxis(m_right, Qt::AlignRight);
    }
    // The lines change shape on every redraw: an index of the scene would
    // only be rebuilt each time.
    scene()->setItemIndexMethod(QGraphicsScene::NoIndex);

    // A line per series from the start, so each has its pen before any data.
    m_pieces.resize(static_cast<size_t>(m_layout.series.size()));
    for (int s = 0; s < m_layout.series.size(); ++s) {
        const TrendSeries& look = m_layout.series[s];
        addLine(s, QPen(look.color, look.width, look.style, Qt::FlatCap, Qt::RoundJoin))
            ->setName(look.name);
    }

    m_cursor = new QGraphicsLineItem;
    m_cursor->setPen(QPen(QColor(90, 90, 90), 1, Qt::DashLine));
    m_cursor->setZValue(1000);
    m_cursor->hide();
    scene()->addItem(m_cursor);
}

QLineSeries* TrendChart::addLine(int series, const QPen& pen) {
    auto* line = new QLineSeries;
    line->setPen(pen);
    m_chart->addSeries(line);
    line->attachAxis(m_x);
    const bool right = m_layout.series[series].axis == TrendAxis::Right && m_right;
    line->attachAxis(right ? m_right : m_left);
    m_pieces[static_cast<size_t>(series)].push_back(line);
    return line;
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
    if (onHover)
        onHover(mapToScene(event->position().toPoint()));
    QChartView::mouseMoveEvent(event);
}

void TrendChart::leaveEvent(QEvent* event) {
    if (onLeave)
        onLeave();
    QChartView::leaveEvent(event);
}

void TrendChart::setLeftTitle(const QString& title) {
    m_left->setTitleText(title);
}

int TrendChart::plotColumns() const {
    const int w = static_cast<int>(m_chart->plotArea().width());
    return w > 10 ? w : std::max(100, width() - 120);
}

QRectF TrendChart::plotArea() const {
    return m_chart->plotArea();
}

void TrendChart::showCursor(double x) {
    const QRectF plot = plotArea();
    m_cursor->setLine(QLineF(x, plot.top(), x, plot.bottom()));
    m_cursor->show();
}

void TrendChart::hideCursor() {
    m_cursor->hide();
}

void TrendChart::draw(const TrendStore& store, const QList<int>& shown, const View& view,
                      const TrendScale& scale) {
    const auto runs = store.decimate(std::span<const int>(shown.data(), shown.size()), view.t0,
                                     view.t1, plotColumns(), 32, view.until);

    constexpr double inf = std::numeric_limits<double>::infinity();
    double lo[2] = {inf, inf};
    double hi[2] = {-inf, -inf};
    for (qsizetype k = 0; k < shown.size(); ++k) {
        const int axis = m_layout.series[shown[k]].axis == TrendAxis::Right && m_right ? 1 : 0;
        for (const QList<QPointF>& run : runs[static_cast<size_t>(k)])
            for (const QPointF& p : run) {
                if (p.x() < double(view.t0) || p.x() > double(view.t1))
                    continue;
                lo[axis] = std::min(lo[axis], p.y());
                hi[axis] = std::max(hi[axis], p.y());
            }
    }

    // Empty every line first: the axes then move without working out the
    // old lines' geometry again, and each new line is laid out once.
    for (auto& pool : m_pieces)
        for (QLineSeries* line : pool)
            if (line->count() > 0)
                line->clear();

    m_x->setFormat(view.t1 - view.t0 > TenMinutesMs ? QStringLiteral("HH:mm")
                                                    : QStringLiteral("HH:mm:ss"));
    m_x->setRange(QDateTime::fromMSecsSinceEpoch(view.t0), QDateTime::fromMSecsSinceEpoch(view.t1));
    applyAxis(m_left, lo[0], hi[0], scale.emptyMin, scale.emptyMax);
    if (m_right) {
        const double rlo = std::min(lo[1], m_layout.rightMin);
        const double rhi = std::max(hi[1], m_layout.rightMax);
        if (rlo >= m_layout.rightMin && rhi <= m_layout.rightMax) {
            // The usual case (percent within 0..100): the whole range, steady.
            m_right->setLabelFormat(QStringLiteral("%.0f"));
            m_right->setRange(m_layout.rightMin, m_layout.rightMax);
            m_right->setTickCount(6);
        } else {
            applyAxis(m_right, rlo, rhi, m_layout.rightMin, m_layout.rightMax);
        }
    }

    for (size_t s = 0; s < m_pieces.size(); ++s) {
        auto& pool = m_pieces[s];
        const qsizetype at = shown.indexOf(static_cast<int>(s));
        const qsizetype count = at < 0 ? 0 : runs[static_cast<size_t>(at)].size();
        // One more break in the line: one more piece in the same pen.
        while (pool.size() < static_cast<size_t>(count))
            addLine(static_cast<int>(s), pool.front()->pen());
        for (size_t k = 0; k < pool.size(); ++k) {
            if (static_cast<qsizetype>(k) < count)
                pool[k]->replace(runs[static_cast<size_t>(at)][static_cast<qsizetype>(k)]);
            pool[k]->setVisible(at >= 0 && (static_cast<qsizetype>(k) < count || k == 0));
        }
    }
}

void TrendChart::applyAxis(QValueAxis* axis, double lo, double hi, double emptyLo, double emptyHi) {
    if (!(lo <= hi)) {
        lo = emptyLo;
        hi = emptyHi;
    }
    // A flat line still gets a readable axis: at least this much around it.
    const double least = std::max(std::abs(hi), std::abs(lo)) * 0.02 + 1e-3;
    if (hi - lo < least) {
        const double mid = (hi + lo) / 2;
        lo = mid - least / 2;
        hi = mid + least / 2;
    }
    const double pad = (hi - lo) * 0.05;
    // The margin never takes the axis across zero: values that are all
    // positive (or all negative) keep zero as their edge.
    const double padLo = lo >= 0 ? std::max(0.0, lo - pad) : lo - pad;
    const double padHi = hi <= 0 ? std::min(0.0, hi + pad) : hi + pad;

    // Keep the axis while the values fill a fair part of it, so it does not
    // twitch with every sample.
    const double curLo = axis->min();
    const double curHi = axis->max();
    if (curLo <= padLo && curHi >= padHi && (padHi - padLo) >= 0.4 * (curHi - curLo) &&
        curHi > curLo)
        return;

    const double raw = (padHi - padLo) / 6.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / magnitude;
    const double factor = norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 2.5 ? 2.5 : norm <= 5 ? 5 : 10;
    const double step = factor * magnitude;
    const double niceLo = std::floor(padLo / step) * step;
    const double niceHi = std::ceil(padHi / step) * step;
    const int ticks = static_cast<int>(std::lround((niceHi - niceLo) / step)) + 1;
    int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    if (factor == 2.5)
        ++decimals;
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    axis->setRange(niceLo, niceHi);
    axis->setTickCount(std::clamp(ticks, 2, 12));
}

QList<QList<QPointF>> TrendChart::drawnRuns(int series) const {
    QList<QList<QPointF>> runs;
    if (series < 0 || series >= static_cast<int>(m_pieces.size()))
        return runs;
    for (QLineSeries* line : m_pieces[static_cast<size_t>(series)])
        if (line->isVisible() && line->count() > 0)
            runs.append(line->points());
    return runs;
}

} // namespace qim

#pragma once
// The chart of a trend window: the time axis, the value axes, a line per
// series (broken into pieces where polls are missing) and the cursor under
// the mouse. It draws what the window asks for from a store and reports
// where the mouse is; it keeps no samples of its own.

#include "TrendLayouts.h"

#include <QChartView>
#include <QList>
#include <QPointF>
#include <functional>
#include <vector>

class QChart;
class QDateTimeAxis;
class QGraphicsLineItem;
class QLineSeries;
class QValueAxis;

namespace qim {

class TrendStore;

class TrendChart : public QChartView {
public:
    TrendChart(const TrendLayout& layout, QWidget* parent);

    // The time range on screen, milliseconds since the epoch.
    struct View {
        qint64 t0 = 0;
        qint64 t1 = 0;
        qint64 until = 0; // rows after this time are not drawn (a paused picture)
    };
    // Draws the shown series of store over the view, the left axis as scale says.
    void draw(const TrendStore& store, const QList<int>& shown, const View& view,
              const TrendScale& scale);
    void setLeftTitle(const QString& title);
    // How many pixel columns the plot has: one sample pair is drawn per column.
    int plotColumns() const;
    QRectF plotArea() const;
    // The cursor: a dashed line at scene x across the plot, or none.
    void showCursor(double x);
    void hideCursor();
    // The line pieces drawn for a series at the last draw.
    QList<QList<QPointF>> drawnRuns(int series) const;

    std::function<void(const QPointF& scenePos)> onHover;
    std::function<void()> onLeave;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QLineSeries* addLine(int series, const QPen& pen);
    void applyAxis(QValueAxis* axis, double lo, double hi, double emptyLo, double emptyHi);

    TrendLayout m_layout;
    QChart* m_chart;
    QDateTimeAxis* m_x = nullptr;
    QValueAxis* m_left = nullptr;
    QValueAxis* m_right = nullptr;
    std::vector<std::vector<QLineSeries*>> m_pieces; // per series, one line per run
    QGraphicsLineItem* m_cursor = nullptr;
};

} // namespace qim

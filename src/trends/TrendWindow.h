#pragma once
// A trend window: live plot of a panel's polled values over time. The
// panel feeds it one row per good poll (addPoll); the window keeps the rows
// in a TrendStore, redraws a few times a second from the decimated store,
// and offers the time span, pause, a readout under the mouse and export of
// what is shown as CSV or PNG. It sends nothing to any module.

#include "TrendLayouts.h"
#include "TrendStore.h"

#include <QColor>
#include <QElapsedTimer>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <span>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QChart;

namespace qim {

class MessagePresenter;
class TrendCsvExport;

class TrendChart;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    enum Span { OneMinute, TenMinutes, OneHour, All };

    // A failed export is told through presenter.
    TrendWindow(const TrendLayout& layout, MessagePresenter& presenter, QWidget* parent = nullptr);
    ~TrendWindow() override;

    // One good poll: a value per series in layout order, on the given scale.
    // pollNumber is the panel's count of polls before this one: a number that
    // does not follow the last one's means polls failed in between, or
    // polling started again, and the lines break there.
    void addPoll(int32_t pollNumber, std::span<const double> values, int scale = 0);
    // The same at a given time (milliseconds since the epoch), for tests.
    void addPollAt(qint64 timeMs, int32_t pollNumber, std::span<const double> values,
                   int scale = 0);

    const TrendLayout& layout() const { return m_layout; }
    const TrendStore& store() const { return *m_stores[static_cast<size_t>(m_scale)]; }
    int scale() const { return m_scale; }
    Span span() const;
    void setSpan(Span span);
    bool paused() const { return m_paused; }
    void setPaused(bool paused);
    bool seriesShown(int series) const;
    // The time range on screen, milliseconds since the epoch.
    qint64 viewStart() const { return m_t0; }
    qint64 viewEnd() const { return m_t1; }

    // Draws now from the store (the window otherwise does so on its timer).
    void redraw();
    // The line pieces drawn for a series at the last redraw.
    QList<QList<QPointF>> drawnRuns(int series) const;
    QChart* chart() const;

    // The readout's text for the sample nearest to time t ("" when empty).
    QString readoutAt(qint64 t) const;
    QString readoutText() const;

    // Exports without asking (the buttons ask for the file first). CSV is
    // written over a few turns of the event loop; exportFinished tells when.
    void exportCsv(const QString& path);
    // The rows and series the CSV of what is shown now holds.
    std::pair<int, int> shownRows() const;
    QList<int> shownSeries() const;
    QStringList csvHeaders(const QList<int>& series) const;

Q_SIGNALS:
    void exportFinished(bool ok, const QString& path);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildChart();
    void buildControls();
    void tick();
    qint64 now() const;
    void updateRange();
    int rowsShown() const; // rows before this one are drawn (all but those after a pause)
    void hover(const QPointF& scenePos);
    void unhover();
    QString unitOf(int series) const;
    void askCsv();
    void askPng();
    void startCsv(std::unique_ptr<TrendCsvExport> job, const QString& path);
    QString suggestedName(const QString& suffix) const;
    void note(const QString& text);

    TrendLayout m_layout;
    MessagePresenter& m_presenter;
    std::vector<std::unique_ptr<TrendStore>> m_stores;
    int m_scale = 0;
    bool m_hasLast = false;
    int32_t m_lastPoll = 0;

    QElapsedTimer m_clock; // monotonic, so the rows stay in order if the wall clock jumps
    qint64 m_clockBase = 0;

    TrendChart* m_view = nullptr;

    QComboBox* m_span = nullptr;
    QPushButton* m_pause = nullptr;
    QPushButton* m_csv = nullptr;
    QPushButton* m_png = nullptr;
    QList<QCheckBox*> m_groupChecks;
    QList<QCheckBox*> m_kindChecks;
    QLabel* m_readout = nullptr;
    QLabel* m_status = nullptr;

    QTimer m_timer;
    bool m_dirty = true;
    bool m_paused = false;
    qint64 m_t0 = 0;
    qint64 m_t1 = 0;
    qint64 m_until = 0; // while paused: the newest row's time at the pause
    bool m_hovering = false;
    QPointF m_hoverPos;
    QString m_lastDir;
    QPointer<TrendCsvExport> m_export;
};

} // namespace qim

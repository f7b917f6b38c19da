#include "TrendWindow.h"

#include "FileDialogs.h"
#include "MessagePresenter.h"
#include "TrendChart.h"
#include "TrendExport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <limits>

namespace qim {

namespace {
constexpr qint64 SpanMs[] = {60'000, 600'000, 3'600'000, 0};
constexpr int MinRedrawMs = 250;
constexpr int MaxRedrawMs = 2000;
constexpr double SnapPixels = 12.0; // how near the mouse a sample must be to be read out

QPixmap colourSwatch(const QColor& colour) {
    QPixmap pm(14, 14);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(colour.darker(130));
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(1.5, 1.5, 11, 11), 2, 2);
    return pm;
}

QPixmap lineSample(Qt::PenStyle style, qreal width) {
    QPixmap pm(28, 14);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(QColor(70, 70, 70), width, style, Qt::FlatCap);
    p.setPen(pen);
    p.drawLine(QPointF(1, 7), QPointF(27, 7));
    return pm;
}

// A check box with a picture before its text.
QCheckBox* pictureCheck(const QString& name, const QString& text, const QPixmap& picture,
                        QWidget* parent) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(name);
    c->setIcon(QIcon(picture));
    c->setIconSize(picture.size());
    c->setChecked(true);
    return c;
}
} // namespace

TrendWindow::TrendWindow(const TrendLayout& layout, MessagePresenter& presenter, QWidget* parent)
    : QWidget(parent, Qt::Window), m_layout(layout), m_presenter(presenter) {
    setObjectName(m_layout.objectName);
    setWindowTitle(m_layout.title);
    setAttribute(Qt::WA_DeleteOnClose);
    if (m_layout.scales.isEmpty())
        m_layout.scales.append(TrendScale{});
    for (qsizetype k = 0; k < m_layout.scales.size(); ++k)
        m_stores.push_back(std::make_unique<TrendStore>(static_cast<int>(m_layout.series.size())));
    m_clockBase = QDateTime::currentMSecsSinceEpoch();
    m_clock.start();
    m_lastDir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);

    buildChart();
    buildControls();
    updateRange();
    unhover();

    m_timer.setInterval(MinRedrawMs);
    connect(&m_timer, &QTimer::timeout, this, &TrendWindow::tick);
    resize(1100, 640);
}

TrendWindow::~TrendWindow() = default;

void TrendWindow::buildChart() {
    m_view = new TrendChart(m_layout, this);
    m_view->setObjectName(QStringLiteral("Chart"));
    m_view->setMinimumSize(480, 260);
    m_view->onHover = [this](const QPointF& p) { hover(p); };
    m_view->onLeave = [this] { unhover(); };
}

void TrendWindow::buildControls() {
    m_span = new QComboBox(this);
    m_span->setObjectName(QStringLiteral("Combo_Span"));
    m_span->addItems({QStringLiteral("1 min"), QStringLiteral("10 min"), QStringLiteral("1 h"),
                      QStringLiteral("All")});
    m_span->setCurrentIndex(TenMinutes);
    connect(m_span, &QComboBox::currentIndexChanged, this, [this] {
        m_dirty = true;
        if (!m_paused)
            redraw();
    });

    m_pause = new QPushButton(QStringLiteral("Pause"), this);
    m_pause->setObjectName(QStringLiteral("Cmd_Pause"));
    m_pause->setCheckable(true);
    m_pause->setToolTip(QStringLiteral("Hold the picture; samples are still recorded"));
    connect(m_pause, &QPushButton::toggled, this, &TrendWindow::setPaused);

    m_csv = new QPushButton(QStringLiteral("Export CSV..."), this);
    m_csv->setObjectName(QStringLiteral("Cmd_ExportCsv"));
    m_csv->setToolTip(QStringLiteral("Save the samples shown, of the series shown"));
    connect(m_csv, &QPushButton::clicked, this, &TrendWindow::askCsv);
    m_png = new QPushButton(QStringLiteral("Export PNG..."), this);
    m_png->setObjectName(QStringLiteral("Cmd_ExportPng"));
    m_png->setToolTip(QStringLiteral("Save the chart as a picture"));
    connect(m_png, &QPushButton::clicked, this, &TrendWindow::askPng);
    for (QPushButton* b : {m_pause, m_csv, m_png})
        b->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    auto* spanLabel = new QLabel(QStringLiteral("Time span"), this);
    spanLabel->setBuddy(m_span);
    top->addWidget(spanLabel);
    top->addWidget(m_span);
    top->addSpacing(12);
    top->addWidget(m_pause);
    top->addStretch(1);
    top->addWidget(m_csv);
    top->addWidget(m_png);

    // A check box per group, in the colour of its first series.
    auto* checks = new QHBoxLayout;
    for (qsizetype g = 0; g < m_layout.groups.size(); ++g) {
        QColor colour = Qt::black;
        for (const TrendSeries& s : m_layout.series)
            if (s.group == g) {
                colour = s.color;
                break;
            }
        auto* c = pictureCheck(QStringLiteral("Check_Series%1").arg(g + 1), m_layout.groups[g],
                               colourSwatch(colour), this);
        connect(c, &QCheckBox::toggled, this, [this] {
            m_dirty = true;
            redraw();
        });
        checks->addWidget(c);
        m_groupChecks.append(c);
    }
    if (!m_layout.kinds.isEmpty()) {
        checks->addSpacing(24);
        // What the solid line is, then a toggle for each other kind of line.
        for (const TrendSeries& s : m_layout.series)
            if (s.kind == TrendKind::Value) {
                auto* base = new QLabel(this);
                base->setPixmap(lineSample(s.style, s.width));
                checks->addWidget(base);
                checks->addWidget(new QLabel(m_layout.baseKind, this));
                break;
            }
        for (qsizetype k = 0; k < m_layout.kinds.size(); ++k) {
            Qt::PenStyle style = Qt::SolidLine;
            qreal width = 2;
            for (const TrendSeries& s : m_layout.series)
                if (static_cast<int>(s.kind) == k + 1) {
                    style = s.style;
                    width = s.width;
                    break;
                }
            auto* c = pictureCheck(m_layout.kinds[k].objectName, m_layout.kinds[k].text,
                                   lineSample(style, width), this);
            connect(c, &QCheckBox::toggled, this, [this] {
                m_dirty = true;
                redraw();
            });
            checks->addSpacing(8);
            checks->addWidget(c);
            m_kindChecks.append(c);
        }
    }
    checks->addStretch(1);

    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("Label_Readout"));
    m_readout->setWordWrap(true);
    m_readout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_readout->setMinimumHeight(m_readout->fontMetrics().height() * 2 + 4);
    m_readout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Label_Status"));
    m_status->setAlignment(Qt::AlignRight | Qt::AlignTop);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_readout, 1);
    bottom->addWidget(m_status);

    auto* root = new QVBoxLayout(this);
    root->addLayout(top);
    root->addWidget(m_view, 1);
    root->addLayout(checks);
    root->addLayout(bottom);
}

qint64 TrendWindow::now() const {
    return m_clockBase + m_clock.elapsed();
}

void TrendWindow::addPoll(int32_t pollNumber, std::span<const double> values, int scale) {
    addPollAt(now(), pollNumber, values, scale);
}

void TrendWindow::addPollAt(qint64 timeMs, int32_t pollNumber, std::span<const double> values,
                            int scale) {
    if (scale < 0 || scale >= static_cast<int>(m_stores.size()))
        return;
    bool gap = m_hasLast && pollNumber != m_lastPoll + 1;
    if (scale != m_scale) {
        // Another way of showing the values: its own samples and axis.
        m_scale = scale;
        m_view->setLeftTitle(m_layout.scales[scale].title);
        gap = true;
        m_dirty = true;
    }
    m_hasLast = true;
    m_lastPoll = pollNumber;
    m_stores[static_cast<size_t>(scale)]->append(timeMs, values, gap);
    if (!m_paused)
        m_dirty = true;
}

TrendWindow::Span TrendWindow::span() const {
    return static_cast<Span>(m_span->currentIndex());
}

void TrendWindow::setSpan(Span span) {
    m_span->setCurrentIndex(span);
}

void TrendWindow::setPaused(bool paused) {
    if (m_pause->isChecked() != paused) {
        m_pause->setChecked(paused); // comes back here through toggled
        return;
    }
    if (m_paused == paused)
        return;
    m_paused = paused;
    // The picture holds what had arrived when it was paused, and no more.
    m_until = store().empty() ? m_t1 : store().time(store().size() - 1);
    m_pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_dirty = true;
    if (!paused)
        redraw();
}

bool TrendWindow::seriesShown(int series) const {
    if (series < 0 || series >= m_layout.series.size())
        return false;
    const TrendSeries& s = m_layout.series[series];
    if (s.group >= 0 && s.group < m_groupChecks.size() && !m_groupChecks[s.group]->isChecked())
        return false;
    const int toggle = static_cast<int>(s.kind) - 1;
    if (toggle >= 0 && toggle < m_kindChecks.size() && !m_kindChecks[toggle]->isChecked())
        return false;
    return true;
}

void TrendWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_dirty = true;
    m_timer.start();
    QTimer::singleShot(0, this, [this] {
        if (m_dirty)
            redraw();
    });
}

void TrendWindow::closeEvent(QCloseEvent* event) {
    // A CSV still being written is abandoned: no half file is left behind.
    delete m_export;
    QWidget::closeEvent(event);
}

void TrendWindow::hideEvent(QHideEvent* event) {
    m_timer.stop();
    QWidget::hideEvent(event);
}

void TrendWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_dirty = true;
}

void TrendWindow::tick() {
    if (!isVisible())
        return;
    if (m_paused) {
        if (m_dirty)
            redraw();
        return;
    }
    if (!m_dirty) {
        // Nothing new: redraw once the time axis has moved by a pixel.
        const qint64 t0 = m_t0;
        const qint64 t1 = m_t1;
        updateRange();
        const bool moved =
            t1 > t0 && double(m_t1 - t1) * m_view->plotColumns() / double(t1 - t0) >= 1.0;
        if (!moved) {
            m_t0 = t0;
            m_t1 = t1;
            return;
        }
    }
    redraw();
}

void TrendWindow::updateRange() {
    const qint64 t = now();
    const TrendStore& st = store();
    const qint64 first = st.empty() ? t : std::min(st.time(0), t);
    const qint64 spanMs = SpanMs[span()];
    if (spanMs == 0) {
        m_t0 = st.empty() ? t - SpanMs[OneMinute] : first;
        m_t1 = std::max(t, m_t0 + 1000);
    } else if (t - first < spanMs) {
        // Fresh samples fill the plot from the left, then it scrolls.
        m_t0 = first;
        m_t1 = first + spanMs;
    } else {
        m_t0 = t - spanMs;
        m_t1 = t;
    }
}

void TrendWindow::redraw() {
    QElapsedTimer took;
    took.start();
    if (!m_paused)
        updateRange();
    m_view->draw(store(), shownSeries(),
                 {m_t0, m_t1, m_paused ? m_until : std::numeric_limits<qint64>::max()},
                 m_layout.scales[m_scale]);
    m_dirty = false;
    // A slow machine or a long history redraws less often, never hogging the loop.
    m_timer.setInterval(std::clamp(static_cast<int>(took.elapsed()) * 4, MinRedrawMs, MaxRedrawMs));
    if (m_hovering)
        hover(m_hoverPos);
    else
        unhover();
}

QList<QList<QPointF>> TrendWindow::drawnRuns(int series) const {
    return m_view->drawnRuns(series);
}

QChart* TrendWindow::chart() const {
    return m_view->chart();
}

QString TrendWindow::unitOf(int series) const {
    const TrendSeries& s = m_layout.series[series];
    return s.unit.isEmpty() ? m_layout.scales[m_scale].unit : s.unit;
}

QString TrendWindow::readoutAt(qint64 t) const {
    const TrendStore& st = store();
    const int row = st.nearest(t);
    if (row < 0)
        return QString();
    QStringList parts;
    parts << QDateTime::fromMSecsSinceEpoch(st.time(row)).toString(QStringLiteral("HH:mm:ss.zzz"));
    for (int s = 0; s < m_layout.series.size(); ++s) {
        if (!seriesShown(s))
            continue;
        const QByteArray value = trendValueText(st.value(s, row));
        if (value.isEmpty())
            continue;
        const QString unit = unitOf(s);
        parts << m_layout.series[s].name + QLatin1Char(' ') + QString::fromLatin1(value) +
                     (unit == QStringLiteral("%") ? unit : QLatin1Char(' ') + unit);
    }
    return parts.join(QStringLiteral("   "));
}

QString TrendWindow::readoutText() const {
    return m_readout->text();
}

void TrendWindow::hover(const QPointF& scenePos) {
    const QRectF plot = m_view->plotArea();
    const TrendStore& st = store();
    if (!plot.contains(scenePos) || st.empty() || m_t1 <= m_t0) {
        unhover();
        return;
    }
    m_hovering = true;
    m_hoverPos = scenePos;
    const double perMs = plot.width() / double(m_t1 - m_t0);
    const qint64 t = m_t0 + qint64((scenePos.x() - plot.left()) / perMs);
    const int row = std::min(st.nearest(t), rowsShown() - 1);
    if (row < 0) {
        unhover();
        return;
    }
    const double x = plot.left() + double(st.time(row) - m_t0) * perMs;
    if (std::abs(x - scenePos.x()) > SnapPixels) {
        m_view->hideCursor();
        m_readout->setText(
            QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("HH:mm:ss.zzz")) +
            QStringLiteral("   no samples here"));
        return;
    }
    m_view->showCursor(x);
    m_readout->setText(readoutAt(st.time(row)));
}

void TrendWindow::unhover() {
    m_hovering = false;
    m_view->hideCursor();
    const TrendStore& st = store();
    if (st.empty()) {
        m_readout->setText(
            QStringLiteral("Waiting for the panel's polls: the lines start with its next good "
                           "poll (Scan on the panel)."));
        return;
    }
    if (rowsShown() > 0)
        m_readout->setText(QStringLiteral("Latest   ") + readoutAt(st.time(rowsShown() - 1)));
}

int TrendWindow::rowsShown() const {
    return m_paused ? store().lowerBound(m_until + 1) : store().size();
}

std::pair<int, int> TrendWindow::shownRows() const {
    const TrendStore& st = store();
    return {st.lowerBound(m_t0), std::min(rowsShown(), st.lowerBound(m_t1 + 1))};
}

QList<int> TrendWindow::shownSeries() const {
    QList<int> shown;
    for (int s = 0; s < m_layout.series.size(); ++s)
        if (seriesShown(s))
            shown.append(s);
    return shown;
}

QStringList TrendWindow::csvHeaders(const QList<int>& series) const {
    QStringList headers;
    for (int s : series) {
        QString unit = unitOf(s);
        // Plain ASCII, so every spreadsheet reads the header the same way.
        unit.replace(QStringLiteral("\u00b0C"), QStringLiteral("degC"));
        headers << m_layout.series[s].name + QStringLiteral(" (") + unit + QLatin1Char(')');
    }
    return headers;
}

QString TrendWindow::suggestedName(const QString& suffix) const {
    const QString stamp =
        QDateTime::fromMSecsSinceEpoch(now()).toString(QStringLiteral("yyyy-MM-dd HHmmss"));
    return QDir(m_lastDir).filePath(m_layout.fileStem + QLatin1Char(' ') + stamp + suffix);
}

void TrendWindow::note(const QString& text) {
    m_status->setText(text);
}

void TrendWindow::askCsv() {
    // What is shown now is what is saved, however long the file dialog stays open.
    const auto [first, last] = shownRows();
    const QList<int> series = shownSeries();
    if (last <= first || series.isEmpty()) {
        note(QStringLiteral("Nothing to export: no samples shown."));
        return;
    }
    auto* job = new TrendCsvExport(store(), first, last, series, csvHeaders(series));
    QFileDialog* dialog = askForFile(this,
                                     {.title = QStringLiteral("Export CSV"),
                                      .objectName = QStringLiteral("dlgExportCsv"),
                                      .filter = QStringLiteral("CSV files (*.csv);;All files (*)"),
                                      .directory = m_lastDir,
                                      .suffix = QStringLiteral("csv"),
                                      .suggestedName = suggestedName(QStringLiteral(".csv"))},
                                     [this, job](const QString& path) {
                                         job->setParent(nullptr);
                                         startCsv(std::unique_ptr<TrendCsvExport>(job), path);
                                     });
    job->setParent(dialog); // a cancelled dialog takes the export with it
}

void TrendWindow::exportCsv(const QString& path) {
    const auto [first, last] = shownRows();
    const QList<int> series = shownSeries();
    startCsv(std::make_unique<TrendCsvExport>(store(), first, last, series, csvHeaders(series)),
             path);
}

void TrendWindow::startCsv(std::unique_ptr<TrendCsvExport> job, const QString& path) {
    m_lastDir = QFileInfo(path).absolutePath();
    TrendCsvExport* j = job.release();
    j->setParent(this); // closing the window abandons the file unwritten
    m_export = j;
    m_csv->setEnabled(false);
    const int rows = j->rows();
    note(QStringLiteral("Saving %1 rows...").arg(rows));
    connect(j, &TrendCsvExport::finished, this, [this, j, path, rows](bool ok, const QString& e) {
        j->deleteLater();
        m_csv->setEnabled(true);
        if (ok) {
            note(QStringLiteral("Saved %1 rows to %2").arg(rows).arg(QFileInfo(path).fileName()));
        } else {
            note(QString());
            m_presenter.show(QStringLiteral("The trend could not be saved to %1: %2").arg(path, e));
        }
        Q_EMIT exportFinished(ok, path);
    });
    j->start(path);
}

void TrendWindow::askPng() {
    // The picture as it is now, not as it will be when the dialog closes.
    const QPixmap shot = m_view->grab();
    askForFile(
        this,
        {.title = QStringLiteral("Export PNG"),
         .objectName = QStringLiteral("dlgExportPng"),
         .filter = QStringLiteral("PNG pictures (*.png);;All files (*)"),
         .directory = m_lastDir,
         .suffix = QStringLiteral("png"),
         .suggestedName = suggestedName(QStringLiteral(".png"))},
        [this, shot](const QString& path) {
            m_lastDir = QFileInfo(path).absolutePath();
            const bool ok = shot.save(path, "PNG");
            if (ok)
                note(QStringLiteral("Saved the chart to %1").arg(QFileInfo(path).fileName()));
            else
                m_presenter.show(QStringLiteral("The chart could not be saved to %1").arg(path));
            Q_EMIT exportFinished(ok, path);
        });
}

} // namespace qim

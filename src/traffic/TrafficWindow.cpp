#include "TrafficWindow.h"

#include "FileDialogs.h"
#include "Link.h"
#include "MessagePresenter.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace qim {

TrafficWindow::TrafficWindow(Link& link, MessagePresenter& presenter, QWidget* parent)
    : QWidget(parent, Qt::Window), m_presenter(presenter), m_model(new TrafficModel(this)),
      m_filter(new TrafficFilter(this)), m_flush(this) {
    setObjectName(QStringLiteral("frmTraffic"));
    setWindowTitle(QStringLiteral("Traffic"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_filter->setSourceModel(m_model);

    m_pause = new QPushButton(QStringLiteral("&Pause"), this);
    m_pause->setObjectName(QStringLiteral("CmdPause"));
    m_pause->setCheckable(true);
    auto* clear = new QPushButton(QStringLiteral("C&lear"), this);
    clear->setObjectName(QStringLiteral("CmdClear"));
    auto* copyButton = new QPushButton(QStringLiteral("&Copy"), this);
    copyButton->setObjectName(QStringLiteral("CmdCopy"));
    auto* saveButton = new QPushButton(QStringLiteral("&Save..."), this);
    saveButton->setObjectName(QStringLiteral("CmdSave"));

    m_slave = new QComboBox(this);
    m_slave->setObjectName(QStringLiteral("ComboSlaveFilter"));
    m_slave->addItem(QStringLiteral("All slaves"), 0);
    for (int a = 1; a <= 247; ++a)
        m_slave->addItem(QStringLiteral("Slave %1").arg(a), a);
    m_outcome = new QComboBox(this);
    m_outcome->setObjectName(QStringLiteral("ComboOutcomeFilter"));
    m_outcome->addItems({QStringLiteral("All outcomes"), QStringLiteral("Failures only")});

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_pause);
    bar->addWidget(clear);
    bar->addWidget(copyButton);
    bar->addWidget(saveButton);
    bar->addSpacing(16);
    bar->addWidget(new QLabel(QStringLiteral("Show:"), this));
    bar->addWidget(m_slave);
    bar->addWidget(m_outcome);
    bar->addStretch(1);

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("tblTraffic"));
    m_table->setModel(m_filter);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setWordWrap(false);
    m_table->setAlternatingRowColors(false);
    // Fixed row heights keep 10,000 rows cheap to lay out and scroll.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->verticalHeader()->hide();
    QHeaderView* h = m_table->horizontalHeader();
    h->setSectionResizeMode(QHeaderView::Interactive);
    const int digit = m_table->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {13, 5, 6, 8, 30, 30, 24, 12};
    for (int c = 0; c < TrafficModel::ColumnCount; ++c)
        h->resizeSection(c, digit * widths[c] + 12);
    h->setStretchLastSection(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_table);

    // Wide enough to show every column, duration included, without
    // scrolling sideways; never wider than the screen.
    int columns = 0;
    for (int c = 0; c < TrafficModel::ColumnCount; ++c)
        columns += h->sectionSize(c);
    const QMargins m = layout->contentsMargins();
    int width = columns + m.left() + m.right() + 2 * m_table->frameWidth() +
                m_table->verticalScrollBar()->sizeHint().width();
    if (const QScreen* s = screen())
        width = std::min(width, s->availableGeometry().width());
    resize(std::max(width, 640), 460);

    connect(clear, &QPushButton::clicked, this, [this] {
        m_pending.clear();
        m_model->clear();
    });
    connect(copyButton, &QPushButton::clicked, this, &TrafficWindow::copy);
    connect(saveButton, &QPushButton::clicked, this, &TrafficWindow::save);
    connect(m_slave, &QComboBox::currentIndexChanged, this,
            [this] { m_filter->setSlave(m_slave->currentData().toInt()); });
    connect(m_outcome, &QComboBox::currentIndexChanged, this,
            [this](int i) { m_filter->setFailuresOnly(i == 1); });

    // Bursts of transactions reach the view in batches, a few times a second.
    m_flush.setSingleShot(true);
    m_flush.setInterval(100);
    connect(&m_flush, &QTimer::timeout, this, &TrafficWindow::flush);

    // What happened before the window opened, then everything from now on.
    m_pending = link.traffic().since(0);
    flush();
    connect(&link, &Link::transactionFinished, this, &TrafficWindow::onTransaction);
}

void TrafficWindow::onTransaction(const TransactionRecord& r) {
    if (m_pause->isChecked())
        return;
    m_pending << r;
    if (!m_flush.isActive())
        m_flush.start();
}

void TrafficWindow::flush() {
    QScrollBar* v = m_table->verticalScrollBar();
    const bool atBottom = v->value() >= v->maximum();
    m_model->append(m_pending);
    m_pending.clear();
    // Follow the newest row unless the user has scrolled up to read.
    if (atBottom)
        m_table->scrollToBottom();
}

QString TrafficWindow::selectedRowsText() const {
    QModelIndexList rows = m_table->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (const QModelIndex& i : rows)
        lines << m_model->rowText(m_filter->mapToSource(i).row());
    return lines.join(QLatin1Char('\n'));
}

void TrafficWindow::copy() {
    const QString text = selectedRowsText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool TrafficWindow::saveCsv(const QString& path) const {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QByteArray out = TrafficModel::csvHeader().toUtf8() + '\n';
    for (int r = 0; r < m_model->rowCount(); ++r)
        out += m_model->csvRow(r).toUtf8() + '\n';
    f.write(out);
    return f.commit();
}

void TrafficWindow::save() {
    askForFile(this,
               {.title = QStringLiteral("Save Traffic"),
                .objectName = QStringLiteral("dlgSaveTraffic"),
                .filter = QStringLiteral("CSV files (*.csv);;All files (*)"),
                .suffix = QStringLiteral("csv")},
               [this](const QString& path) {
                   if (!saveCsv(path))
                       m_presenter.show(QStringLiteral("The traffic could not be saved to ") +
                                        path);
               });
}

} // namespace qim

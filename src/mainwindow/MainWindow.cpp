#include "MainWindow.h"

#include "AboutBox.h"
#include "AnalogPanel.h"
#include "Artwork.h"
#include "BringForward.h"
#include "ConnectionDialog.h"
#include "DiscretePanel.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "ScanDialog.h"
#include "StatusPanels.h"
#include "TemperaturePanel.h"
#include "TrafficWindow.h"
#include "Version.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

namespace qim {

namespace {
constexpr int GridRows = DeviceFieldCount;
} // namespace

MainWindow::MainWindow(Link& link, MessagePresenter& presenter, QWidget* parent)
    : QMainWindow(parent), m_link(link), m_presenter(presenter) {
    setObjectName(QStringLiteral("frmMain"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(programIcon());

    // Menus: commands straight on the bar, About under Help.
    QMenuBar* bar = menuBar();
    auto* comm = new QAction(QStringLiteral("Connection"), this);
    comm->setObjectName(QStringLiteral("mnuComm"));
    connect(comm, &QAction::triggered, this, &MainWindow::openConnection);
    bar->addAction(comm);
    auto* scan = new QAction(QStringLiteral("Scan"), this);
    scan->setObjectName(QStringLiteral("mnuScan"));
    connect(scan, &QAction::triggered, this, &MainWindow::openScan);
    bar->addAction(scan);
    auto* traffic = new QAction(QStringLiteral("Traffic"), this);
    traffic->setObjectName(QStringLiteral("mnuTraffic"));
    connect(traffic, &QAction::triggered, this, &MainWindow::openTraffic);
    bar->addAction(traffic);
    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    auto* about = new QAction(QStringLiteral("About"), this);
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, &MainWindow::openAbout);
    help->addAction(about);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));

    auto* devices = new QGroupBox(QStringLiteral("ModBus Enabled Devices"), central);
    devices->setObjectName(QStringLiteral("FrameDevices"));
    m_list = new QListWidget(devices);
    m_list->setObjectName(QStringLiteral("DeviceList"));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // The lines are padded to columns: a fixed-pitch font keeps the addresses aligned.
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_list->setMinimumWidth(360);
    connect(m_list, &QListWidget::itemSelectionChanged, this, &MainWindow::deviceListClicked);
    // A double click or Enter on a module opens its panel, as Control And Monitor does.
    connect(m_list, &QListWidget::itemDoubleClicked, this, &MainWindow::openSelectedPanel);
    m_list->installEventFilter(this);
    auto* devicesLayout = new QVBoxLayout(devices);
    devicesLayout->addWidget(m_list);

    auto* info = new QGroupBox(QStringLiteral("Device Info"), central);
    info->setObjectName(QStringLiteral("FrameDeviceInfo"));
    m_grid = new QTableWidget(info);
    m_grid->setObjectName(QStringLiteral("FG"));
    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::NoSelection);
    m_grid->setFocusPolicy(Qt::NoFocus);
    m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid->setMinimumSize(420, GridRows * 24 + 2);
    m_grid->installEventFilter(this);
    auto* infoLayout = new QVBoxLayout(info);
    infoLayout->addWidget(m_grid);

    auto* device = new QGroupBox(QStringLiteral("Device"), central);
    device->setObjectName(QStringLiteral("Frame1"));
    m_control = new QPushButton(QStringLiteral("Control And Monitor"), device);
    m_control->setObjectName(QStringLiteral("CmdControl"));
    connect(m_control, &QPushButton::clicked, this, &MainWindow::controlClicked);
    auto* deviceLayout = new QHBoxLayout(device);
    deviceLayout->addStretch();
    deviceLayout->addWidget(m_control);

    auto* right = new QVBoxLayout;
    right->addWidget(info, 1);
    right->addWidget(device);
    auto* columns = new QHBoxLayout(central);
    columns->addWidget(devices, 1);
    columns->addLayout(right, 1);
    setCentralWidget(central);

    m_status = new StatusPanels(QStringLiteral("SBMain"), this);
    setStatusBar(m_status);

    // The load step.
    setWindowTitle(QString::fromLatin1(ProgramTitle) + QLatin1Char(' ') +
                   QString::fromLatin1(VersionText));
    m_control->setEnabled(false);
    m_status->setPanel(1, QStringLiteral("Disconnected"));
    m_status->setPanel(2, QString());
    m_status->setPanel(3, QString());
    resize(900, 500);
    initDeviceInfoGrid();
}

MainWindow::~MainWindow() {
    // The panels and the traffic window are windows of their own, without a
    // parent; they use this window's registers and must not outlive it.
    for (const auto& [kind, panel] : m_panels)
        delete panel.data();
    delete m_traffic.data();
}

void MainWindow::initDeviceInfoGrid() {
    m_grid->setRowCount(GridRows);
    m_grid->setColumnCount(2);
    // Rows share the grid's height; the labels take a third of its width.
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    fitGridColumns();
    const auto fields = deviceFields(DeviceRecord{});
    for (int row = 0; row < GridRows; ++row) {
        for (int col = 0; col < 2; ++col) {
            auto* item = new QTableWidgetItem(QString());
            if (col == 1)
                item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            m_grid->setItem(row, col, item);
        }
        m_grid->item(row, 0)->setText(QString::fromLatin1(fields[size_t(row)].caption));
    }
}

void MainWindow::fitGridColumns() {
    const int width = m_grid->viewport()->width();
    m_grid->setColumnWidth(0, static_cast<int>(std::lround(width / 3.0)));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_grid && e->type() == QEvent::Resize)
        fitGridColumns();
    if (watched == m_list && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            openSelectedPanel();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

void MainWindow::showDeviceInfo(int index) {
    const auto fields = deviceFields(m_devices.at(index));
    for (int row = 0; row < GridRows; ++row)
        m_grid->item(row, 1)->setText(fields[size_t(row)].shown);
}

void MainWindow::deviceListClicked() {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (m_list->count() == 0 || selected.isEmpty())
        return;
    m_selected = m_list->row(selected.first());
    showDeviceInfo(m_selected);
    m_control->setEnabled(true);
}

void MainWindow::openSelectedPanel() {
    if (m_control->isEnabled() && !m_list->selectedItems().isEmpty())
        m_control->click();
}

void MainWindow::controlClicked() {
    if (m_selected < 0 || m_selected >= DeviceTable::Size)
        return;
    openPanel(m_devices.at(m_selected));
}

bool MainWindow::openPanel(const DeviceRecord& module) {
    const ModuleKind kind = moduleKindOf(module.code);
    if (kind == ModuleKind::None)
        return false;
    QPointer<PollPanel>& panel = m_panels[kind];
    if (!panel) {
        switch (kind) {
        case ModuleKind::Discrete:
            panel = new DiscretePanel(m_link, m_presenter);
            break;
        case ModuleKind::Analog:
            panel = new AnalogPanel(m_link, m_presenter);
            break;
        case ModuleKind::Temperature:
            panel = new TemperaturePanel(m_link, m_presenter, m_temperatureDialogs);
            break;
        case ModuleKind::None:
            break;
        }
    }
    panel->showModule(module);
    bringForward(panel);
    return true;
}

void MainWindow::showLinkState(bool connected, const QString& place) {
    m_status->setPanel(1, connected ? QStringLiteral("Connected") : QStringLiteral("Disconnected"));
    m_status->setPanel(2, place);
}

void MainWindow::openConnection() {
    if (!m_connection)
        m_connection = new ConnectionDialog(
            m_link, m_presenter, this,
            [this](bool connected, const QString& place) { showLinkState(connected, place); },
            this);
    bringForward(m_connection);
}

void MainWindow::openScan() {
    if (!m_scan) {
        m_scan = new ScanDialog(m_link, m_presenter, m_devices, this);
        // A new scan empties the list; the grid and Control And Monitor stay
        // as they were until a module is selected again.
        connect(m_scan, &ScanDialog::scanStarted, this, [this] {
            m_list->clear();
            m_selected = 0;
        });
        connect(m_scan, &ScanDialog::deviceFound, this,
                [this](int index) { m_list->addItem(deviceListLine(m_devices.at(index))); });
    }
    bringForward(m_scan);
}

void MainWindow::openAbout() {
    if (!m_about)
        m_about = new AboutBox(this);
    bringForward(m_about);
}

void MainWindow::openTraffic() {
    if (!m_traffic)
        m_traffic = new TrafficWindow(m_link, m_presenter);
    bringForward(m_traffic);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    m_link.closeAll();
    // The program ends here: every other window goes without running its
    // own closing steps, and no message waits for an OK.
    m_presenter.dismissAll();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        if (w == this || !w->isWindow() || !w->isVisible())
            continue;
        const Qt::WindowType type = w->windowType();
        if (type != Qt::Window && type != Qt::Dialog)
            continue;
        w->hide();
        w->deleteLater();
    }
    e->accept();
    Q_EMIT programEnding();
}

} // namespace qim

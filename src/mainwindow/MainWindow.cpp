#include "MainWindow.h"

#include "AboutBox.h"
#include "Artwork.h"
#include "CommSetupDialog.h"
#include "DeviceTable.h"
#include "General.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "Panels.h"
#include "ScanBusDialog.h"
#include "StatusPanels.h"
#include "TrafficWindow.h"
#include "Version.h"
#include "Windows.h"

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
QPointer<MainWindow> g_main;

const char* const GridLabels[13] = {
    "Device Name",       "Device Address",  "Device Code",     "Vendor",      "Firmware Revision",
    "Hardware Revision", "Connection Mode", "Baud Rate",       "Device Type", "Input Register",
    "Output Register",   "Discrete Input",  "Discrete Output",
};
constexpr int GridRows = 13;

} // namespace

QString Shown(const QString& text) {
    QString s = text;
    s.replace(QChar(0), QLatin1Char(' '));
    return s;
}

MainWindow* MainWindow::current() {
    return g_main;
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    g_main = this;
    setObjectName(QStringLiteral("frmMain"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(ProgramIcon());

    // Menus: commands straight on the bar, About under Help.
    QMenuBar* bar = menuBar();
    auto* comm = new QAction(QStringLiteral("Connection"), this);
    comm->setObjectName(QStringLiteral("mnuComm"));
    connect(comm, &QAction::triggered, this, &MainWindow::openCommSetup);
    bar->addAction(comm);
    auto* scan = new QAction(QStringLiteral("Scan"), this);
    scan->setObjectName(QStringLiteral("mnuScan"));
    connect(scan, &QAction::triggered, this, &MainWindow::openScanBus);
    bar->addAction(scan);
    auto* traffic = new QAction(QStringLiteral("Traffic"), this);
    traffic->setObjectName(QStringLiteral("mnuTraffic"));
    connect(traffic, &QAction::triggered, this, [] { OpenTrafficWindow(); });
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
    connect(m_list, &QListWidget::itemSelectionChanged, this, &MainWindow::DeviceList_Click);
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
    connect(m_control, &QPushButton::clicked, this, &MainWindow::CmdControl_Click);
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
    setWindowTitle(ProgramTitle + QLatin1Char(' ') + VersionText);
    m_control->setEnabled(false);
    AssignLinkDefaults();
    m_status->setPanel(1, QStringLiteral("Disconnected"));
    m_status->setPanel(2, QString());
    m_status->setPanel(3, QString());
    resize(900, 500);
    InitDeviceInfoGrid();
}

MainWindow::~MainWindow() = default;

void MainWindow::InitDeviceInfoGrid() {
    m_grid->setRowCount(GridRows);
    m_grid->setColumnCount(2);
    // Rows share the grid's height; the labels take a third of its width.
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    fitGridColumns();
    for (int row = 0; row < GridRows; ++row) {
        for (int col = 0; col < 2; ++col) {
            auto* item = new QTableWidgetItem(QString());
            if (col == 1)
                item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            m_grid->setItem(row, col, item);
        }
        m_grid->item(row, 0)->setText(QString::fromLatin1(GridLabels[row]));
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

void MainWindow::ShowDeviceInfo(int index) {
    if (index < 0 || index >= DeviceTableSize)
        return;
    const DeviceRecord& r = DeviceTable[static_cast<size_t>(index)];
    const QString values[GridRows] = {
        Shown(r.DeviceName.text),           QString::number(r.DeviceAddress),
        QString::number(r.DeviceCode),      Shown(r.Vendor.text),
        Shown(r.FirmwareRevision.text),     Shown(r.HardwareRevision.text),
        Shown(r.ConnectionMode.text),       Shown(r.BaudRate.text),
        Shown(r.DeviceType.text),           QString::number(r.InputRegisters),
        QString::number(r.OutputRegisters), QString::number(r.DiscreteInputs),
        QString::number(r.DiscreteOutputs),
    };
    for (int row = 0; row < GridRows; ++row)
        m_grid->item(row, 1)->setText(values[row]);
}

void MainWindow::clearDeviceList() {
    m_list->clear();
}

void MainWindow::appendDevice(const QString& line) {
    m_list->addItem(Shown(line));
}

void MainWindow::DeviceList_Click() {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    if (m_list->count() == 0 || selected.isEmpty())
        return;
    const int row = m_list->row(selected.first());
    SelectedAddress = static_cast<int16_t>(row);
    ShowDeviceInfo(row);
    m_control->setEnabled(true);
}

void MainWindow::openSelectedPanel() {
    if (m_control->isEnabled() && !m_list->selectedItems().isEmpty())
        m_control->click();
}

void MainWindow::CmdControl_Click() {
    if (SelectedAddress < 0 || SelectedAddress >= DeviceTableSize)
        return;
    OpenPanelFor(DeviceTable[static_cast<size_t>(SelectedAddress)].DeviceCode);
}

CommSetupDialog* MainWindow::commSetup() const {
    return m_commSetup;
}
ScanBusDialog* MainWindow::scanBus() const {
    return m_scanBus;
}
AboutBox* MainWindow::about() const {
    return m_about;
}

void MainWindow::openCommSetup() {
    if (!m_commSetup)
        m_commSetup = new CommSetupDialog(this);
    BringForward(m_commSetup);
}

void MainWindow::openScanBus() {
    if (!m_scanBus)
        m_scanBus = new ScanBusDialog(this);
    BringForward(m_scanBus);
}

void MainWindow::openAbout() {
    if (!m_about)
        m_about = new AboutBox(this);
    BringForward(m_about);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    Link::instance().closeAll();
    // The program ends here: every other window goes without running its
    // own closing steps, and no message waits for an OK.
    MessagePresenter::instance().dismissAll();
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

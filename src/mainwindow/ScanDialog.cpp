#include "ScanBusDialog.h"

#include "Artwork.h"
#include "DeviceTable.h"
#include "General.h"
#include "Keyboard.h"
#include "Link.h"
#include "MainWindow.h"
#include "MessagePresenter.h"
#include "NumericEntry.h"
#include "Pictures.h"
#include "Requests.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace qim {

namespace {
QLabel* valueLabel(const QString& name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    l->setMinimumWidth(110);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}
QLabel* caption(const QString& text, const QString& name, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}
} // namespace

ScanBusDialog::ScanBusDialog(MainWindow* main) : QDialog(main), m_main(main) {
    setObjectName(QStringLiteral("frmScanBus"));
    setWindowTitle(QStringLiteral("Scan Bus"));
    setWindowIcon(ProgramIcon());
    setAttribute(Qt::WA_DeleteOnClose);

    auto* frame = new QGroupBox(QStringLiteral("Scan Bus"), this);
    frame->setObjectName(QStringLiteral("Frame1"));

    m_start = new QLineEdit(frame);
    m_start->setObjectName(QStringLiteral("TextStartAddress"));
    m_end = new QLineEdit(frame);
    m_end->setObjectName(QStringLiteral("TextEndAddress"));
    m_time = new QLineEdit(frame);
    m_time->setObjectName(QStringLiteral("TextTime"));
    for (QLineEdit* e : {m_start, m_end, m_time})
        e->setMaximumWidth(90);

    m_slaveAddress = valueLabel(QStringLiteral("lblSlaveAddress"), frame);
    m_ipAddress = valueLabel(QStringLiteral("lblIPAddress"), frame);
    m_deviceCount = valueLabel(QStringLiteral("lblDeviceCount"), frame);
    m_errorCount = valueLabel(QStringLiteral("lblErrorCount"), frame);

    m_anim = new StatePicture(StatePicture::Kind::ScanAnimation, frame);
    m_anim->setObjectName(QStringLiteral("ImageAnim"));

    auto* grid = new QGridLayout(frame);
    grid->setHorizontalSpacing(10);
    int row = 0;
    auto entryRow = [&](const QString& text, const QString& name, QLineEdit* edit,
                        const QString& unit = {}) {
        auto* l = caption(text, name, frame);
        l->setBuddy(edit);
        grid->addWidget(l, row, 0);
        grid->addWidget(edit, row, 1);
        if (!unit.isEmpty())
            grid->addWidget(caption(unit, name + QStringLiteral("Unit"), frame), row, 2);
        ++row;
    };
    entryRow(QStringLiteral("Start Address"), QStringLiteral("Label1"), m_start);
    entryRow(QStringLiteral("End Address"), QStringLiteral("Label2"), m_end);
    entryRow(QStringLiteral("Time Between Polls"), QStringLiteral("Label3"), m_time,
             QStringLiteral("msec"));
    auto* line = new QFrame(frame);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    grid->addWidget(line, row++, 0, 1, 4);
    auto labelRow = [&](const QString& text, const QString& name, QLabel* value) {
        grid->addWidget(caption(text, name, frame), row, 0);
        grid->addWidget(value, row, 1, 1, 2);
        ++row;
    };
    const int firstStatusRow = row;
    labelRow(QStringLiteral("Slave Address"), QStringLiteral("Label4"), m_slaveAddress);
    labelRow(QStringLiteral("IP Address"), QStringLiteral("Label5"), m_ipAddress);
    labelRow(QStringLiteral("Devices"), QStringLiteral("Label6"), m_deviceCount);
    labelRow(QStringLiteral("Errors"), QStringLiteral("Label7"), m_errorCount);
    grid->addWidget(m_anim, firstStatusRow, 3, 4, 1, Qt::AlignCenter);
    grid->setColumnStretch(2, 1);
    grid->setColumnMinimumWidth(3, 48);

    m_cmdStart = new QPushButton(QStringLiteral("Start"), this);
    m_cmdStart->setObjectName(QStringLiteral("CmdStart"));
    m_cmdStart->setDefault(true);
    m_cmdStop = new QPushButton(QStringLiteral("Stop"), this);
    m_cmdStop->setObjectName(QStringLiteral("CmdStop"));
    m_cmdClose = new QPushButton(QStringLiteral("Close"), this);
    m_cmdClose->setObjectName(QStringLiteral("CmdCancel"));
    // Enter in a text box starts the scan; on a focused button it presses
    // that button. Start hands the focus to Stop, so Enter again stops.
    FocusFollowsCommands(m_cmdStart, m_cmdStop);
    connect(m_cmdStart, &QPushButton::clicked, this, &ScanBusDialog::CmdStart_Click);
    connect(m_cmdStop, &QPushButton::clicked, this, &ScanBusDialog::CmdStop_Click);
    connect(m_cmdClose, &QPushButton::clicked, this, &ScanBusDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdStart);
    buttons->addWidget(m_cmdStop);
    buttons->addWidget(m_cmdClose);
    auto* all = new QVBoxLayout(this);
    all->addWidget(frame);
    all->addLayout(buttons);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer"));
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &ScanBusDialog::Timer_Timer);

    // The load step.
    StopRequested = false;
    m_cmdStop->setEnabled(false);
    AnimFrame = ErrorCount = DeviceCount = 0;
    StartAddress = 1;
    EndAddress = 247;
    PollInterval = General::CommMode == 0 ? 100 : 5000;
    m_start->setText(QString::number(StartAddress));
    m_end->setText(QString::number(EndAddress));
    m_time->setText(QString::number(PollInterval));
    m_errorCount->setText(QStringLiteral("0"));
    m_deviceCount->setText(QStringLiteral("0"));
    m_slaveAddress->setText(QString::number(StartAddress));
    m_ipAddress->clear();
    if (General::CommMode == 1) {
        m_hostCopy = General::IPAddress;
        m_ipAddress->setText(m_hostCopy);
    }
    m_anim->setState(1);
    adjustSize();
}

ScanBusDialog::~ScanBusDialog() {
    Link::instance().cancel(this);
}

void ScanBusDialog::CmdStart_Click() {
    if (m_state != State::Idle)
        return;
    const auto start = ParseEntry(m_start->text(), 1, 247);
    if (!start) {
        ShowMessage(QStringLiteral("Start Address must be a number from 1 to 247"));
        return;
    }
    StartAddress = static_cast<int16_t>(start->rounded);
    const auto end = ParseEntry(m_end->text(), 1, 247);
    if (!end) {
        ShowMessage(QStringLiteral("End Address must be a number from 1 to 247"));
        return;
    }
    EndAddress = static_cast<int16_t>(end->rounded);
    const auto time = ParseEntry(m_time->text(), 0, 10000);
    if (!time) {
        ShowMessage(QStringLiteral("Time between polls must be a number from 0 to 10000"));
        return;
    }
    PollInterval = static_cast<int16_t>(time->rounded);
    if (StartAddress > EndAddress) {
        ShowMessage(QStringLiteral("End address must be equal or higher then start address"));
        return;
    }

    // Preparation.
    AnimFrame = ErrorCount = DeviceCount = 0;
    setInputsEnabled(false);
    StopRequested = false;
    ClearDeviceTable();
    if (m_main)
        m_main->clearDeviceList();
    SelectedAddress = 0;
    General::TransactionId = 0;
    TimerTicked = false;
    m_timer->setInterval(PollInterval);
    m_timer->start();

    m_address = static_cast<uint8_t>(StartAddress);
    m_state = State::Pausing;
}

void ScanBusDialog::CmdStop_Click() {
    StopRequested = true;
}

void ScanBusDialog::Timer_Timer() {
    TimerTicked = true;
    if (m_state != State::Pausing)
        return;
    TimerTicked = false;
    m_timer->stop();
    ask();
}

void ScanBusDialog::ask() {
    m_state = State::Asking;
    ByMode::ReportSlaveId(m_address, {this, [this](const Reply& r) { onReply(r); }});
}

void ScanBusDialog::onReply(const Reply& reply) {
    if (m_state != State::Asking)
        return;
    if (reply.status == Status::LinkDown) {
        endScan(End::ConnectionError);
        return;
    }
    // A "successful" reply too short to hold an identification block is
    // counted as a failed request; it is never decoded.
    if (reply.ok() && AddFoundDevice(DeviceCount, reply)) {
        if (m_main)
            m_main->appendDevice(DeviceListLine(DeviceTable[static_cast<size_t>(DeviceCount)]));
        ++DeviceCount;
    } else {
        ++ErrorCount;
    }
    m_errorCount->setText(QString::number(ErrorCount));
    m_deviceCount->setText(QString::number(DeviceCount));
    m_slaveAddress->setText(QString::number(m_address));
    if (General::CommMode == 1)
        m_ipAddress->setText(m_hostCopy);
    if (++AnimFrame > 5)
        AnimFrame = 1;
    m_anim->setState(AnimFrame + 1);
    m_timer->start();

    if (m_address >= EndAddress) {
        endScan(End::Natural);
        return;
    }
    ++m_address;
    if (StopRequested) {
        endScan(End::Stopped);
        return;
    }
    m_state = State::Pausing;
}

void ScanBusDialog::endScan(End how) {
    m_state = State::Idle;
    setInputsEnabled(true);
    m_timer->stop();
    StopRequested = false;
    if (how == End::ConnectionError)
        ShowMessage(QStringLiteral("Connection Error"));
    Q_EMIT scanEnded(how);
}

void ScanBusDialog::setInputsEnabled(bool idle) {
    m_cmdStart->setEnabled(idle);
    m_cmdClose->setEnabled(idle);
    m_cmdStop->setEnabled(!idle);
    m_start->setEnabled(idle);
    m_end->setEnabled(idle);
    m_time->setEnabled(idle);
}

void ScanBusDialog::done(int result) {
    abandonScan();
    QDialog::done(result);
}

void ScanBusDialog::closeEvent(QCloseEvent* e) {
    abandonScan();
    QDialog::closeEvent(e);
}

void ScanBusDialog::abandonScan() {
    // Closed by its title bar (or Escape) in the middle of a scan: the scan
    // ends here, no further request goes out, and a reply still on the wire
    // finds nobody to call back.
    if (m_state == State::Idle)
        return;
    Link::instance().cancel(this);
    m_state = State::Idle;
    m_timer->stop();
    StopRequested = false;
    Q_EMIT scanEnded(End::Closed);
}

} // namespace qim

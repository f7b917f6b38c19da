#include "ScanDialog.h"

#include "Artwork.h"
#include "DeviceTable.h"
#include "Keyboard.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "NumberEntry.h"
#include "Pictures.h"

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

ScanDialog::ScanDialog(Link& link, MessagePresenter& presenter, DeviceTable& devices,
                       QWidget* parent)
    : QDialog(parent), m_link(link), m_presenter(presenter), m_devices(devices) {
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
    connect(m_cmdStart, &QPushButton::clicked, this, &ScanDialog::startClicked);
    connect(m_cmdStop, &QPushButton::clicked, this, [this] { m_stopRequested = true; });
    connect(m_cmdClose, &QPushButton::clicked, this, &ScanDialog::close);

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
    connect(m_timer, &QTimer::timeout, this, &ScanDialog::tick);

    // The load step.
    const bool tcp = m_link.settings().tcp();
    m_cmdStop->setEnabled(false);
    m_start->setText(QStringLiteral("1"));
    m_end->setText(QStringLiteral("247"));
    m_time->setText(tcp ? QStringLiteral("5000") : QStringLiteral("100"));
    m_errorCount->setText(QStringLiteral("0"));
    m_deviceCount->setText(QStringLiteral("0"));
    m_slaveAddress->setText(QStringLiteral("1"));
    if (tcp) {
        m_hostCopy = m_link.settings().host;
        m_ipAddress->setText(m_hostCopy);
    }
    m_anim->setState(1);
    adjustSize();
}

ScanDialog::~ScanDialog() {
    m_link.cancel(this);
}

void ScanDialog::startClicked() {
    if (m_state != State::Idle)
        return;
    const auto start = ParseEntry(m_start->text(), 1, 247);
    if (!start) {
        m_presenter.show(QStringLiteral("Start Address must be a number from 1 to 247"));
        return;
    }
    const auto end = ParseEntry(m_end->text(), 1, 247);
    if (!end) {
        m_presenter.show(QStringLiteral("End Address must be a number from 1 to 247"));
        return;
    }
    const auto time = ParseEntry(m_time->text(), 0, 10000);
    if (!time) {
        m_presenter.show(QStringLiteral("Time between polls must be a number from 0 to 10000"));
        return;
    }
    if (start->rounded > end->rounded) {
        m_presenter.show(QStringLiteral("End address must be equal or higher then start address"));
        return;
    }

    // Preparation.
    m_animFrame = m_errors = m_found = 0;
    m_endAddress = end->rounded;
    setInputsEnabled(false);
    m_stopRequested = false;
    m_devices.clear();
    Q_EMIT scanStarted();
    m_link.restartTransactions();
    m_timer->setInterval(time->rounded);
    m_timer->start();

    m_address = static_cast<uint8_t>(start->rounded);
    m_state = State::Pausing;
}

void ScanDialog::tick() {
    if (m_state != State::Pausing)
        return;
    m_timer->stop();
    ask();
}

void ScanDialog::ask() {
    m_state = State::Asking;
    m_link.reportSlaveId(m_address, {this, [this](const Reply& r) { onReply(r); }});
}

void ScanDialog::onReply(const Reply& reply) {
    if (m_state != State::Asking)
        return;
    if (reply.status == Status::LinkDown) {
        endScan(End::ConnectionError);
        return;
    }
    // A "successful" reply too short to hold an identification block is
    // counted as a failed request; it is never decoded.
    if (reply.ok() && m_devices.addFoundDevice(m_found, reply)) {
        Q_EMIT deviceFound(m_found);
        ++m_found;
    } else {
        ++m_errors;
    }
    m_errorCount->setText(QString::number(m_errors));
    m_deviceCount->setText(QString::number(m_found));
    m_slaveAddress->setText(QString::number(m_address));
    if (m_link.settings().tcp())
        m_ipAddress->setText(m_hostCopy);
    if (++m_animFrame > 5)
        m_animFrame = 1;
    m_anim->setState(m_animFrame + 1);
    m_timer->start();

    if (m_address >= m_endAddress) {
        endScan(End::Natural);
        return;
    }
    ++m_address;
    if (m_stopRequested) {
        endScan(End::Stopped);
        return;
    }
    m_state = State::Pausing;
}

void ScanDialog::endScan(End how) {
    m_state = State::Idle;
    setInputsEnabled(true);
    m_timer->stop();
    m_stopRequested = false;
    if (how == End::ConnectionError)
        m_presenter.show(QStringLiteral("Connection Error"));
    Q_EMIT scanEnded(how);
}

void ScanDialog::setInputsEnabled(bool idle) {
    m_cmdStart->setEnabled(idle);
    m_cmdClose->setEnabled(idle);
    m_cmdStop->setEnabled(!idle);
    m_start->setEnabled(idle);
    m_end->setEnabled(idle);
    m_time->setEnabled(idle);
}

void ScanDialog::done(int result) {
    abandonScan();
    QDialog::done(result);
}

void ScanDialog::closeEvent(QCloseEvent* e) {
    abandonScan();
    QDialog::closeEvent(e);
}

void ScanDialog::abandonScan() {
    // Closed by its title bar (or Escape) in the middle of a scan: the scan
    // ends here, no further request goes out, and a reply still on the wire
    // finds nobody to call back.
    if (m_state == State::Idle)
        return;
    m_link.cancel(this);
    m_state = State::Idle;
    m_timer->stop();
    m_stopRequested = false;
    Q_EMIT scanEnded(End::Closed);
}

} // namespace qim

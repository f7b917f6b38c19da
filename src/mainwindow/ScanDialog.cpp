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
    : QDialog(parent), m_link(link), m_presenter(presenter),
      m_scan(new BusScan(link, devices, this)) {
    setObjectName(QStringLiteral("frmScanBus"));
    setWindowTitle(QStringLiteral("Scan Bus"));
    setWindowIcon(programIcon());
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
    focusFollowsCommands(m_cmdStart, m_cmdStop);
    connect(m_cmdStart, &QPushButton::clicked, this, &ScanDialog::startClicked);
    connect(m_cmdStop, &QPushButton::clicked, m_scan, &BusScan::stop);
    connect(m_cmdClose, &QPushButton::clicked, this, &ScanDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdStart);
    buttons->addWidget(m_cmdStop);
    buttons->addWidget(m_cmdClose);
    auto* all = new QVBoxLayout(this);
    all->addWidget(frame);
    all->addLayout(buttons);

    connect(m_scan, &BusScan::answered, this,
            [this](int address, const Reply&, int index) { answered(address, index); });
    connect(m_scan, &BusScan::finished, this, &ScanDialog::scanFinished);

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

void ScanDialog::startClicked() {
    if (m_scan->running())
        return;
    const auto address = [](const QLineEdit* e) {
        return parseEntry(e->text(), BusScan::FirstAddress, BusScan::LastAddress);
    };
    const auto refused = [](const char* what) {
        return rangeMessage(QLatin1String(what), BusScan::FirstAddress, BusScan::LastAddress);
    };
    // The first entry refused tells why, in the order of the boxes.
    const auto start = address(m_start);
    const auto end = address(m_end);
    const auto time = parseEntry(m_time->text(), 0, 10000);
    const QString why = !start ? refused("Start Address")
                        : !end ? refused("End Address")
                        : !time
                            ? QStringLiteral("Time between polls must be a number from 0 to 10000")
                            : BusScan::rangeRefusal(start->rounded, end->rounded);
    if (!why.isEmpty()) {
        m_presenter.show(why);
        return;
    }
    m_animFrame = 0;
    setInputsEnabled(false);
    m_scan->start(start->rounded, end->rounded, time->rounded);
    Q_EMIT scanStarted();
}

void ScanDialog::answered(int address, int index) {
    if (index >= 0)
        Q_EMIT deviceFound(index);
    m_errorCount->setText(QString::number(m_scan->errors()));
    m_deviceCount->setText(QString::number(m_scan->found()));
    m_slaveAddress->setText(QString::number(address));
    if (m_link.settings().tcp())
        m_ipAddress->setText(m_hostCopy);
    if (++m_animFrame > 5)
        m_animFrame = 1;
    m_anim->setState(m_animFrame + 1);
}

void ScanDialog::scanFinished(End how) {
    setInputsEnabled(true);
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
    m_scan->abandon();
    QDialog::done(result);
}

void ScanDialog::closeEvent(QCloseEvent* e) {
    // Closed by its title bar (or Escape) in the middle of a scan: the scan
    // ends here and no further request goes out.
    m_scan->abandon();
    QDialog::closeEvent(e);
}

} // namespace qim

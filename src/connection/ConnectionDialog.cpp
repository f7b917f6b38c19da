#include "ConnectionDialog.h"

#include "Artwork.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "NumberEntry.h"
#include "PortNames.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace qim {

namespace {
QString ipNote(int mode) {
    return mode == 1
               ? QStringLiteral(
                     "Unique IP Address For Each Device. EX: 192.168.0.10 For Slave Address # 10")
               : QStringLiteral("Unique IP Address For a Group of serial Devices. EX: "
                                "192.168.20.0 For Device Addresses 1 To 247");
}

int clampIndex(int index, int count) {
    return index >= 0 && index < count ? index : 0;
}
} // namespace

ConnectionDialog::ConnectionDialog(Link& link, MessagePresenter& presenter, QObject* testOwner,
                                   LinkState linkState, QWidget* parent)
    : QDialog(parent), m_link(link), m_presenter(presenter), m_testOwner(testOwner),
      m_linkState(std::move(linkState)) {
    setObjectName(QStringLiteral("frmCommSetup"));
    setWindowTitle(QStringLiteral("Comm Setup"));
    setWindowIcon(programIcon());
    setAttribute(Qt::WA_DeleteOnClose);

    int label = 0;
    auto caption = [this, &label](const QString& text, QWidget* parent, QWidget* buddy = nullptr) {
        auto* l = new QLabel(text, parent);
        l->setObjectName(QStringLiteral("Label%1").arg(++label));
        if (buddy)
            l->setBuddy(buddy);
        return l;
    };
    auto unit = [caption](QWidget* parent) { return caption(QStringLiteral("ms"), parent); };

    // The link.
    auto* connection = new QGroupBox(QStringLiteral("Connection"), this);
    connection->setObjectName(QStringLiteral("Frame1"));
    m_commMode = new QComboBox(connection);
    m_commMode->setObjectName(QStringLiteral("ComboCommMode"));
    m_commMode->addItems(
        {QStringLiteral("ModBus Serial (RS422)"), QStringLiteral("ModBus TCP/IP")});
    m_rtu = new QRadioButton(QStringLiteral("RTU"), connection);
    m_rtu->setObjectName(QStringLiteral("OptionRTU"));
    m_ascii = new QRadioButton(QStringLiteral("ASCII"), connection);
    m_ascii->setObjectName(QStringLiteral("OptionASCII"));
    m_rtu->setChecked(true);
    // The serial link always frames in RTU: the choice is shown, not offered.
    m_rtu->setEnabled(false);
    m_ascii->setEnabled(false);
    auto* connectionLayout = new QHBoxLayout(connection);
    connectionLayout->addWidget(m_commMode, 1);
    connectionLayout->addSpacing(12);
    connectionLayout->addWidget(m_rtu);
    connectionLayout->addWidget(m_ascii);

    // The serial link.
    auto* serial = new QGroupBox(QStringLiteral("Serial (RS422) Settings"), this);
    serial->setObjectName(QStringLiteral("Frame2"));
    m_port = new QComboBox(serial);
    m_port->setObjectName(QStringLiteral("ComboPortNumber"));
    for (int n = 1; n <= PortNames::PortCount; ++n)
        m_port->addItem(PortNames::comName(n));
    m_portDevice = new QLabel(serial);
    m_portDevice->setObjectName(QStringLiteral("lblPortDevice"));
    m_portDevice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_baud = new QComboBox(serial);
    m_baud->setObjectName(QStringLiteral("ComboBaudRate"));
    for (const int rate : BaudRates)
        m_baud->addItem(QStringLiteral("%1 b/s").arg(rate));
    m_stopBits = new QComboBox(serial);
    m_stopBits->setObjectName(QStringLiteral("ComboStopBits"));
    m_stopBits->addItems({QStringLiteral("1 Bit"), QStringLiteral("2 Bit")});
    m_serialTimeout = new QLineEdit(serial);
    m_serialTimeout->setObjectName(QStringLiteral("TextRS422ResTimeOut"));
    auto* serialLayout = new QGridLayout(serial);
    serialLayout->addWidget(caption(QStringLiteral("Port Number"), serial, m_port), 0, 0);
    serialLayout->addWidget(m_port, 0, 1);
    serialLayout->addWidget(m_portDevice, 0, 2, 1, 2);
    serialLayout->addWidget(caption(QStringLiteral("Baud Rate"), serial, m_baud), 1, 0);
    serialLayout->addWidget(m_baud, 1, 1);
    serialLayout->addWidget(caption(QStringLiteral("Stop Bits"), serial, m_stopBits), 2, 0);
    serialLayout->addWidget(m_stopBits, 2, 1);
    serialLayout->addWidget(caption(QStringLiteral("Response Timeout"), serial, m_serialTimeout), 3,
                            0);
    serialLayout->addWidget(m_serialTimeout, 3, 1);
    serialLayout->addWidget(unit(serial), 3, 2);
    serialLayout->setColumnStretch(3, 1);

    // The TCP link.
    auto* tcp = new QGroupBox(QStringLiteral("TCP/IP Settings"), this);
    tcp->setObjectName(QStringLiteral("Frame3"));
    m_ip = new QLineEdit(tcp);
    m_ip->setObjectName(QStringLiteral("TextIPAddress"));
    m_serverPort = new QLineEdit(tcp);
    m_serverPort->setObjectName(QStringLiteral("TextServerPort"));
    m_connectTimeout = new QLineEdit(tcp);
    m_connectTimeout->setObjectName(QStringLiteral("TextTCPConTimeOut"));
    m_tcpTimeout = new QLineEdit(tcp);
    m_tcpTimeout->setObjectName(QStringLiteral("TextTCPResTimeOut"));
    m_ipMode = new QComboBox(tcp);
    m_ipMode->setObjectName(QStringLiteral("ComboIPAddressMode"));
    m_ipMode->addItems(
        {QStringLiteral("Single IP Address Network"), QStringLiteral("Multi IP Address Network")});
    m_ipNote = new QLabel(tcp);
    m_ipNote->setObjectName(QStringLiteral("lblIPNote"));
    m_ipNote->setWordWrap(true);
    auto* tcpLayout = new QGridLayout(tcp);
    tcpLayout->addWidget(caption(QStringLiteral("IP Address"), tcp, m_ip), 0, 0);
    tcpLayout->addWidget(m_ip, 0, 1);
    tcpLayout->addWidget(caption(QStringLiteral("Server Port"), tcp, m_serverPort), 1, 0);
    tcpLayout->addWidget(m_serverPort, 1, 1);
    tcpLayout->addWidget(caption(QStringLiteral("Connection Timeout"), tcp, m_connectTimeout), 2,
                         0);
    tcpLayout->addWidget(m_connectTimeout, 2, 1);
    tcpLayout->addWidget(unit(tcp), 2, 2);
    tcpLayout->addWidget(caption(QStringLiteral("Response Timeout"), tcp, m_tcpTimeout), 3, 0);
    tcpLayout->addWidget(m_tcpTimeout, 3, 1);
    tcpLayout->addWidget(unit(tcp), 3, 2);
    tcpLayout->addWidget(caption(QStringLiteral("IP Address Mode"), tcp, m_ipMode), 4, 0);
    tcpLayout->addWidget(m_ipMode, 4, 1, 1, 2);
    tcpLayout->addWidget(m_ipNote, 5, 0, 1, 4);
    tcpLayout->setColumnStretch(3, 1);

    m_ok = new QPushButton(QStringLiteral("Ok"), this);
    m_ok->setObjectName(QStringLiteral("CmdOk"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("CmdCancel"));
    connect(m_ok, &QPushButton::clicked, this, &ConnectionDialog::okClicked);
    connect(m_cancel, &QPushButton::clicked, this, &ConnectionDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* all = new QVBoxLayout(this);
    all->addWidget(connection);
    all->addWidget(serial);
    all->addWidget(tcp);
    all->addLayout(buttons);

    connect(m_commMode, &QComboBox::currentIndexChanged, this, &ConnectionDialog::modeChanged);
    connect(m_port, &QComboBox::currentIndexChanged, this, &ConnectionDialog::showPortDevice);
    connect(m_ipMode, &QComboBox::currentIndexChanged, this,
            [this](int i) { m_ipNote->setText(ipNote(i)); });

    // The load step: the controls from the link's settings. Stop bits and
    // the IP address mode are shown as the modules need them, never offered.
    const LinkSettings& s = m_link.settings();
    m_commMode->setCurrentIndex(s.tcp() ? 1 : 0);
    m_baud->setCurrentIndex(int(s.speed));
    m_stopBits->setCurrentIndex(1);
    m_port->setCurrentIndex(clampIndex(s.comPort - 1, m_port->count()));
    m_stopBits->setEnabled(false);
    m_serialTimeout->setText(QString::number(s.serialTimeoutMs));
    m_serverPort->setText(QString::number(s.port));
    m_connectTimeout->setText(QString::number(s.tcpConnectTimeoutMs));
    m_tcpTimeout->setText(QString::number(s.tcpTimeoutMs));
    m_ip->setText(s.host);
    m_ipMode->setEnabled(false);
    // A list already at the wanted item raises no change: bring the texts
    // and enable states that follow the lists in step once more.
    m_ipNote->setText(ipNote(m_ipMode->currentIndex()));
    showPortDevice();
    modeChanged();
    adjustSize();
}

void ConnectionDialog::showPortDevice() {
    m_portDevice->setText(PortNames::describe(m_port->currentIndex() + 1));
}

void ConnectionDialog::changeEvent(QEvent* e) {
    // A device may have been plugged in or published since: look again.
    if (e->type() == QEvent::ActivationChange && isActiveWindow())
        showPortDevice();
    QDialog::changeEvent(e);
}

void ConnectionDialog::modeChanged() {
    const bool serial = m_commMode->currentIndex() == 0;
    m_baud->setEnabled(serial);
    m_port->setEnabled(serial);
    m_portDevice->setEnabled(serial);
    m_serialTimeout->setEnabled(serial);
    m_serverPort->setEnabled(!serial);
    m_connectTimeout->setEnabled(!serial);
    m_tcpTimeout->setEnabled(!serial);
    m_ip->setEnabled(!serial);
}

void ConnectionDialog::okClicked() {
    if (m_testing)
        return;
    m_linkState(false, QString());
    if (m_commMode->currentIndex() == 0)
        applySerial();
    else
        applyTcp();
}

void ConnectionDialog::applySerial() {
    const auto timeout = parseEntry(m_serialTimeout->text(), 1000, 10000);
    if (!timeout) {
        m_presenter.show(QStringLiteral("Serial Timeout must be a number from 1000 to 10000"));
        return;
    }
    // Only the serial settings: what the TCP boxes hold is not stored.
    LinkSettings s = m_link.settings();
    s.transport = LinkSettings::Transport::Serial;
    s.comPort = m_port->currentIndex() + 1;
    s.speed = LineSpeed(m_baud->currentIndex());
    s.serialTimeoutMs = timeout->rounded;
    m_link.setSettings(s);

    // The test is a job of the link's queue like any request: when another
    // window's transaction is on the wire or waiting, the test waits its
    // turn, so reopening the port never cuts a transaction short.
    startTest();
}

void ConnectionDialog::applyTcp() {
    const auto tcpTimeout = parseEntry(m_tcpTimeout->text(), 1000, 10000);
    if (!tcpTimeout) {
        m_presenter.show(QStringLiteral("TCP/IP Timeout must be a number from 1000 to 10000"));
        return;
    }
    const auto connectTimeout = parseEntry(m_connectTimeout->text(), 1000, 10000);
    if (!connectTimeout) {
        m_presenter.show(
            QStringLiteral("TCP/IP Connection Timeout must be a number from 1000 to 10000"));
        return;
    }
    const auto port = parseEntry(m_serverPort->text(), 1, 65535);
    if (!port) {
        m_presenter.show(QStringLiteral("Server Port must be a number from 1 to 65535"));
        return;
    }
    if (m_ip->text().isEmpty()) {
        m_presenter.show(QStringLiteral("Please, enter a valid IP Address"));
        return;
    }
    // Only the TCP settings: the serial choices are not stored.
    LinkSettings s = m_link.settings();
    s.transport = LinkSettings::Transport::Tcp;
    s.host = m_ip->text();
    s.port = static_cast<quint16>(port->rounded);
    s.tcpTimeoutMs = tcpTimeout->rounded;
    s.tcpConnectTimeoutMs = connectTimeout->rounded;
    m_link.setSettings(s);

    // Queued behind any waiting transaction, as on the serial link.
    startTest();
}

void ConnectionDialog::startTest() {
    m_testing = true;
    m_ok->setEnabled(false);
    // The test belongs to the dialog's owner, not to the dialog: the
    // settings are stored already, so closing the dialog while the test waits
    // (Cancel, Escape, the title bar) lets it finish, and its outcome still
    // reaches the owner's status bar.
    QPointer<ConnectionDialog> self(this);
    m_link.testConnection(
        {m_testOwner.data(), [self, &link = m_link, linkState = m_linkState](const Reply& r) {
             if (r.ok())
                 linkState(true, link.settings().place());
             if (self)
                 self->testDone(r.ok());
         }});
}

void ConnectionDialog::testDone(bool connected) {
    m_testing = false;
    m_ok->setEnabled(true);
    Q_EMIT testFinished(connected);
    if (connected)
        close();
}

} // namespace qim

#include "DiscretePanel.h"

#include "DeviceTable.h"
#include "FrameThrottle.h"
#include "Link.h"
#include "PanelSupport.h"
#include "Pictures.h"
#include "PollLoop.h"
#include "StatusPanels.h"

#include <QCheckBox>
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

DiscretePanel::DiscretePanel(Link& link, MessagePresenter& presenter, QWidget* parent)
    : QWidget(parent, Qt::Window), m_link(link), m_presenter(presenter) {
    setObjectName(QStringLiteral("frmQIM_K520"));
    setWindowTitle(QStringLiteral("QIM-K520 / QIM-K530"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_loop = new PollLoop(m_link, this, [this](PollLoop::Done done) { cycle(std::move(done)); });
    connect(m_loop, &PollLoop::countsChanged, this, &DiscretePanel::refreshCounts);
    m_readings = new FrameThrottle(this, [this] {
        for (int k = 0; k < 8; ++k)
            m_inputs[k]->setState(m_inputState[k]);
    });
    connect(m_loop, &PollLoop::finished, this, [this] {
        m_readings->flush();
        setScanning(false);
    });
    buildControls();
    load(DeviceRecord{});
}

void DiscretePanel::showModule(const DeviceRecord& module) {
    if (m_loaded)
        return;
    m_loaded = true;
    load(module);
}

void DiscretePanel::buildControls() {
    auto* root = new QVBoxLayout(this);

    m_lblAddress = new QLabel(QStringLiteral("Device Address: 10"), this);
    m_lblAddress->setObjectName(QStringLiteral("lblAddress"));
    root->addWidget(m_lblAddress);

    auto* frames = new QHBoxLayout;
    auto* frame1 = new QGroupBox(QStringLiteral("Discrete Inputs"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    auto* inGrid = new QGridLayout(frame1);
    auto* frame2 = new QGroupBox(QStringLiteral("Discrete/Relay Outputs"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    auto* outGrid = new QGridLayout(frame2);
    for (int i = 0; i < 8; ++i) {
        const int n = i + 1;
        auto* led = new StatePicture(StatePicture::Kind::Led, frame1);
        led->setObjectName(QStringLiteral("Image_Input%1").arg(n));
        auto* label = new QLabel(QStringLiteral("Input %1").arg(n), frame1);
        label->setObjectName(QStringLiteral("lblInput%1").arg(n));
        inGrid->addWidget(led, i, 0);
        inGrid->addWidget(label, i, 1);
        m_inputs[i] = led;

        auto* box = new QCheckBox(QStringLiteral("Output %1").arg(n), frame2);
        box->setObjectName(QStringLiteral("Chk_Output%1").arg(n));
        auto* contact = new StatePicture(StatePicture::Kind::Contact, frame2);
        contact->setObjectName(QStringLiteral("Image_Output%1").arg(n));
        outGrid->addWidget(box, i, 0);
        outGrid->addWidget(contact, i, 1);
        m_outputs[i] = box;
        m_outputPictures[i] = contact;
        connect(box, &QCheckBox::toggled, this, [this, n](bool on) { outputClicked(n, on); });
    }
    inGrid->setColumnStretch(1, 1);
    outGrid->setColumnStretch(0, 1);
    frames->addWidget(frame1);
    frames->addWidget(frame2);
    root->addLayout(frames);

    auto* bottom = new QHBoxLayout;
    auto* frame3 = new QGroupBox(QStringLiteral("Time between polls"), this);
    frame3->setObjectName(QStringLiteral("Frame3"));
    auto* f3 = new QHBoxLayout(frame3);
    m_scanTimer = new QLineEdit(QStringLiteral("1000"), frame3);
    m_scanTimer->setObjectName(QStringLiteral("TextScanTimer"));
    m_scanTimer->setMaximumWidth(80);
    auto* unit = new QLabel(QStringLiteral("ms"), frame3);
    unit->setObjectName(QStringLiteral("lblScanUnit"));
    f3->addWidget(m_scanTimer);
    f3->addWidget(unit);
    f3->addStretch(1);
    bottom->addWidget(frame3);

    auto* buttons = new QVBoxLayout;
    m_scan = new QPushButton(QStringLiteral("Scan"), this);
    m_scan->setObjectName(QStringLiteral("CmdScan"));
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_stop->setObjectName(QStringLiteral("CmdStop"));
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("CmdCancel"));
    for (QPushButton* b : {m_scan, m_stop, m_close}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    bottom->addLayout(buttons);
    root->addLayout(bottom);

    m_sb = new StatusPanels(QStringLiteral("SB"), this);
    HoldCountSizes(*m_sb);
    root->addWidget(m_sb);

    connect(m_scan, &QPushButton::clicked, this, &DiscretePanel::scanClicked);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_loop->requestStop(); });
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
}

void DiscretePanel::load(const DeviceRecord& module) {
    m_lblAddress->setText(QStringLiteral("Address: "));
    m_stop->setEnabled(false);
    m_scan->setEnabled(false);
    m_pollInterval = 100;
    m_scanTimer->setText(QStringLiteral("100"));
    m_loop->resetCounts();
    refreshCounts();
    m_sb->setPanel(3, QStringLiteral("STOP"));
    m_inputState.fill(0);
    m_outputState.fill(0);
    for (int i = 0; i < 8; ++i) {
        m_inputs[i]->setState(m_inputState[i]);
        m_outputPictures[i]->setState(m_outputState[i]);
    }
    m_slave = module.address;
    m_code = module.code;
    if (m_code == 10 || m_code == 11) {
        m_lblAddress->setText(QStringLiteral("Address: %1").arg(m_slave));
        m_scan->setEnabled(true);
    }
}

void DiscretePanel::outputClicked(int n, bool ticked) {
    m_outputState[n - 1] = ticked ? 1 : 0;
    m_outputPictures[n - 1]->setState(m_outputState[n - 1]);
}

void DiscretePanel::scanClicked() {
    const auto interval = StartScanInterval(*m_loop, m_scanTimer->text(), m_presenter);
    if (!interval)
        return;
    m_pollInterval = *interval;
    setScanning(true);
    m_loop->start(m_pollInterval);
}

void DiscretePanel::cycle(std::function<void(int16_t)> done) {
    const uint8_t packed = PackBits(m_outputState);
    m_link.writeSingleRegister(m_slave, 0, packed, {this, [this, done](const Reply& written) {
                                                        if (!written.ok())
                                                            m_loop->countError();
                                                        if (!m_loop->running())
                                                            return; // the window is closing
                                                        m_link.advanceTransaction();
                                                        m_link.readHoldingRegisters(
                                                            m_slave, 0, 1,
                                                            {this, [this, done](const Reply& r) {
                                                                 if (r.hasRegisters(1))
                                                                     showInputs(*r.reg(0));
                                                                 else
                                                                     m_loop->countError();
                                                                 done(r.status);
                                                             }});
                                                    }});
}

void DiscretePanel::showInputs(uint16_t value) {
    for (int k = 0; k < 8; ++k)
        m_inputState[k] = GetBit(LoByte(value), static_cast<uint8_t>(k));
    m_readings->request();
}

void DiscretePanel::refreshCounts() {
    ShowCounts(*m_sb, *m_loop);
}

void DiscretePanel::setScanning(bool scanning) {
    m_scan->setEnabled(!scanning);
    m_stop->setEnabled(scanning);
    m_close->setEnabled(!scanning);
    m_scanTimer->setEnabled(!scanning);
    m_sb->setPanel(3, scanning ? QStringLiteral("SCAN") : QStringLiteral("STOP"));
}

void DiscretePanel::closeEvent(QCloseEvent* event) {
    // Closed from the title bar while polling: no request may go out for a
    // window that is about to go.
    m_loop->shutdown();
    event->accept();
}

} // namespace qim

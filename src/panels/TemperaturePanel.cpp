#include "TemperaturePanel.h"

#include "BringForward.h"
#include "DeviceTable.h"
#include "Link.h"
#include "PanelSupport.h"
#include "PanelTrends.h"
#include "Pictures.h"
#include "PollLoop.h"
#include "StatusPanels.h"
#include "TemperatureDialogs.h"
#include "TrendWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace qim {

namespace {
constexpr uint8_t TemperatureCode = 30;
constexpr int32_t CoilOn = 0xFF00;

const char* const LedCaptions[8] = {"TC Open Citrcuit", "TC Short To GND",       "TC Short to VCC",
                                    "TC Fault",         "Temperature Stability", "Heater ON/OFF",
                                    "Alarm Low ON/OFF", "Alarm High ON/OFF"};

// A reading under its caption, as wide as the caption.
QLabel* valueLabel(QWidget* parent, const QString& name, const QString& caption) {
    auto* l = new QLabel(QStringLiteral("0"), parent);
    l->setObjectName(name);
    l->setFrameShape(QFrame::StyledPanel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setMinimumWidth(70);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * 1.3);
    f.setBold(true);
    l->setFont(f);
    // Opaque and of a fixed size: a new reading repaints the box alone, not
    // the frame behind it or the window's layout.
    l->setAutoFillBackground(true);
    const int text = std::max(parent->fontMetrics().horizontalAdvance(caption),
                              l->fontMetrics().horizontalAdvance(QStringLiteral("-000000%")));
    l->setFixedSize(std::max(70, text + 2 * l->frameWidth() + 8), l->sizeHint().height());
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

void noReply(const Reply&) {}
} // namespace

TemperaturePanel::TemperaturePanel(Link& link, MessagePresenter& presenter,
                                   TemperatureDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), m_link(link), m_presenter(presenter), m_dialogs(dialogs),
      m_regs(dialogs.registers()) {
    setObjectName(QStringLiteral("frmQIM_P750"));
    setWindowTitle(QStringLiteral("QIM-P750"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_poll =
        new PollLoop(m_link, this, [this](PollLoop::Done done) { pollCycle(std::move(done)); });
    connect(m_poll, &PollLoop::countsChanged, this, &TemperaturePanel::showCounts);
    m_readings = new FrameThrottle(this, [this] {
        for (int n = 1; n <= TempLoops; ++n)
            showLoop(n);
    });
    connect(m_poll, &PollLoop::finished, this, [this] {
        m_readings->flush();
        setPolling(false);
        m_sb->setPanel(3, QStringLiteral("STOP"));
    });

    m_address = new QLabel(QStringLiteral("Address: "), this);
    m_address->setObjectName(QStringLiteral("lblAddress"));

    // The four loops, side by side.
    auto* loops = new QHBoxLayout;
    for (int n = 1; n <= TempLoops; ++n) {
        LoopView& v = m_loops[n - 1];
        v.frame = new QGroupBox(QStringLiteral("Thermocuple %1/ Control Loop %1").arg(n), this);
        v.frame->setObjectName(QStringLiteral("Frame%1").arg(n));
        const QString pvCaption = QStringLiteral("Process Value (Deg C)");
        const QString cjCaption = QStringLiteral("CJ Temperature");
        v.pv = valueLabel(v.frame, QStringLiteral("Label_PVTemp%1").arg(n), pvCaption);
        v.cj = valueLabel(v.frame, QStringLiteral("Label_CJTemp%1").arg(n), cjCaption);
        v.sp = valueLabel(v.frame, QStringLiteral("Label_SPTemp%1").arg(n), pvCaption);
        v.power = valueLabel(v.frame, QStringLiteral("Label_HeaterPower%1").arg(n), cjCaption);

        auto* values = new QGridLayout;
        values->addWidget(new QLabel(pvCaption, v.frame), 0, 0);
        values->addWidget(v.pv, 1, 0);
        values->addWidget(new QLabel(cjCaption, v.frame), 0, 1);
        values->addWidget(v.cj, 1, 1);
        values->addWidget(new QLabel(QStringLiteral("Set Point (Deg C)"), v.frame), 2, 0);
        values->addWidget(v.sp, 3, 0);
        values->addWidget(new QLabel(QStringLiteral("Heater Power"), v.frame), 2, 1);
        values->addWidget(v.power, 3, 1);
        values->setRowMinimumHeight(2, 28);
        values->setAlignment(Qt::AlignBottom);

        auto* leds = new QGridLayout;
        leds->setHorizontalSpacing(8);
        leds->setVerticalSpacing(4);
        for (int b = 0; b < 8; ++b) {
            auto* led = new StatePicture(StatePicture::Kind::Led, v.frame);
            led->setFixedSize(20, 20);
            led->setObjectName(QStringLiteral("StatusLED%1_%2").arg(n).arg(LedSuffixes[b]));
            auto* caption = new QLabel(QLatin1String(LedCaptions[b]), v.frame);
            led->setAccessibleName(caption->text());
            leds->addWidget(led, b, 0);
            leds->addWidget(caption, b, 1);
            v.led[b] = led;
        }
        leds->setColumnStretch(1, 1);

        auto* box = new QVBoxLayout(v.frame);
        box->addLayout(values);
        box->addSpacing(10);
        box->addLayout(leds);
        box->addStretch();
        loops->addWidget(v.frame);
    }

    // Relays and PWM outputs: written the moment they change.
    auto* outputs = new QGridLayout;
    for (int k = 1; k <= 4; ++k) {
        m_relay[k - 1] = new QCheckBox(QStringLiteral("Relay%1").arg(k), this);
        m_relay[k - 1]->setObjectName(QStringLiteral("Check_Relay%1").arg(k));
        connect(m_relay[k - 1], &QCheckBox::toggled, this,
                [this, k](bool on) { relayClicked(k, on); });

        m_slider[k - 1] = new QSlider(Qt::Horizontal, this);
        m_slider[k - 1]->setObjectName(QStringLiteral("Slider_PWM%1").arg(k));
        m_slider[k - 1]->setRange(0, 100);
        m_slider[k - 1]->setSingleStep(1);
        m_slider[k - 1]->setPageStep(5);
        m_slider[k - 1]->setTickPosition(QSlider::TicksBelow);
        m_slider[k - 1]->setTickInterval(10);
        m_slider[k - 1]->setMinimumWidth(180);
        m_pwmLabel[k - 1] = new QLabel(QStringLiteral("0%"), this);
        m_pwmLabel[k - 1]->setObjectName(QStringLiteral("Label_PWM%1").arg(k));
        m_pwmLabel[k - 1]->setMinimumWidth(40);
        m_pwmLabel[k - 1]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        connect(m_slider[k - 1], &QSlider::valueChanged, this,
                [this, k](int value) { sliderMoved(k, value); });

        outputs->addWidget(m_relay[k - 1], k - 1, 0);
        outputs->addWidget(new QLabel(QStringLiteral("PWM%1").arg(k), this), k - 1, 1);
        outputs->addWidget(m_slider[k - 1], k - 1, 2);
        outputs->addWidget(m_pwmLabel[k - 1], k - 1, 3);
    }
    outputs->setColumnMinimumWidth(1, 50);
    outputs->setHorizontalSpacing(10);

    // The register image: edited by the dialogs, sent by one button.
    auto* regs = new QGroupBox(QStringLiteral("Output Registers"), this);
    regs->setObjectName(QStringLiteral("Frame_OutputRegisters"));
    m_configReg = button(regs, "Cmd_ConfigReg", QStringLiteral("Configuration Register"));
    m_controlReg = button(regs, "Cmd_ControlReg", QStringLiteral("Control Register"));
    auto* regGrid = new QGridLayout(regs);
    regGrid->addWidget(m_configReg, 0, 0);
    regGrid->addWidget(m_controlReg, 0, 1);
    for (int n = 1; n <= TempLoops; ++n) {
        m_loopButton[n - 1] = button(regs, QStringLiteral("Cmd_ControlLoop%1").arg(n).toLatin1(),
                                     QStringLiteral("Control Loop %1").arg(n));
        regGrid->addWidget(m_loopButton[n - 1], 1 + (n - 1) / 2, (n - 1) % 2);
        connect(m_loopButton[n - 1], &QPushButton::clicked, this,
                [this, n] { m_dialogs.openLoop(n); });
    }
    m_write = button(regs, "Cmd_Write", QStringLiteral("Write To Output Registers"));
    regGrid->addWidget(m_write, 3, 0, 1, 2);
    connect(m_configReg, &QPushButton::clicked, this, [this] { m_dialogs.openConfig(); });
    connect(m_controlReg, &QPushButton::clicked, this, [this] { m_dialogs.openControl(); });
    connect(m_write, &QPushButton::clicked, this, &TemperaturePanel::writeOutputRegisters);

    // Polling.
    m_interval = new QLineEdit(this);
    m_interval->setObjectName(QStringLiteral("TextScanTimer"));
    m_interval->setMaximumWidth(80);
    m_interval->setAlignment(Qt::AlignRight);
    m_scan = button(this, "CmdScan", QStringLiteral("Scan"));
    m_stop = button(this, "CmdStop", QStringLiteral("Stop"));
    m_trend = button(this, "Cmd_Trend", QStringLiteral("Trend"));
    m_close = button(this, "CmdCancel", QStringLiteral("Close"));
    connect(m_trend, &QPushButton::clicked, this, &TemperaturePanel::openTrend);
    connect(m_scan, &QPushButton::clicked, this, &TemperaturePanel::scan);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_poll->requestStop(); });
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    // Enter in the interval box starts polling, as Scan would.
    connect(m_interval, &QLineEdit::returnPressed, this, [this] {
        if (m_scan->isEnabled())
            scan();
    });

    auto* intervalRow = new QHBoxLayout;
    intervalRow->addWidget(new QLabel(QStringLiteral("Time Between Polls"), this));
    intervalRow->addWidget(m_interval);
    intervalRow->addWidget(new QLabel(QStringLiteral("msec"), this));
    intervalRow->addStretch();
    auto* commandRow = new QHBoxLayout;
    commandRow->addWidget(m_scan);
    commandRow->addWidget(m_stop);
    commandRow->addWidget(m_trend);
    commandRow->addWidget(m_close);
    auto* pollBox = new QVBoxLayout;
    pollBox->addWidget(m_address);
    pollBox->addLayout(intervalRow);
    pollBox->addLayout(commandRow);
    pollBox->addStretch();

    auto* bottom = new QHBoxLayout;
    bottom->addLayout(outputs);
    bottom->addSpacing(16);
    bottom->addWidget(regs);
    bottom->addSpacing(16);
    bottom->addLayout(pollBox);
    bottom->addStretch();

    m_sb = new StatusPanels(QStringLiteral("SB"), this);
    HoldCountSizes(*m_sb);

    auto* top = new QVBoxLayout(this);
    top->addLayout(loops);
    top->addLayout(bottom);
    top->addWidget(m_sb);
}

void TemperaturePanel::showModule(const DeviceRecord& module) {
    if (m_loaded)
        return;
    m_loaded = true;
    load(module);
}

void TemperaturePanel::load(const DeviceRecord& module) {
    m_address->setText(QStringLiteral("Address: "));
    m_stop->setEnabled(false);
    m_scan->setEnabled(false);

    m_interval->setText(QStringLiteral("100"));

    m_sb->setPanel(3, QStringLiteral("STOP"));
    showCounts();

    for (int n = 1; n <= TempLoops; ++n)
        showLoop(n);

    m_slave = module.address;
    m_code = module.code;
    // Only a temperature module is talked to: for any other record every
    // control that would send something stays off.
    const bool ours = m_code == TemperatureCode;
    if (ours)
        m_address->setText(QStringLiteral("Address: ") + QString::number(m_slave));
    m_scan->setEnabled(ours);
    m_write->setEnabled(ours);
    for (int k = 0; k < 4; ++k) {
        m_relay[k]->setEnabled(ours);
        m_slider[k]->setEnabled(ours);
    }
}

bool TemperaturePanel::polling() const {
    return m_poll->running();
}

void TemperaturePanel::showLoop(int n) {
    if (n < 1 || n > TempLoops)
        return;
    LoopView& v = m_loops[n - 1];
    const int32_t status = m_regs.inputs[3 + n];
    const uint8_t bits = LoByte(status);
    for (int b = 0; b < 8; ++b)
        v.led[b]->setState(GetBit(bits, static_cast<uint8_t>(b)));
    v.pv->setText(QString::number(m_regs.inputs[n - 1]));
    v.cj->setText(QString::number(m_regs.inputs[7 + n]));
    v.power->setText(QString::number(HiByte(status)) + QLatin1Char('%'));
    v.sp->setText(QString::number(m_regs.outputs[LoopBase(n)]));
}

void TemperaturePanel::scan() {
    const auto interval = StartScanInterval(*m_poll, m_interval->text(), m_presenter);
    if (!interval)
        return;
    setPolling(true);
    m_sb->setPanel(3, QStringLiteral("SCAN"));
    m_poll->start(*interval);
}

void TemperaturePanel::pollCycle(std::function<void(int16_t)> done) {
    m_link.readInputRegisters(m_slave, 0, TempInputCount,
                              {this, [this, done = std::move(done)](const Reply& reply) {
                                   // Only a reply holding all twelve registers is shown; anything
                                   // else leaves the last good values on screen.
                                   if (m_regs.decodeInputs(reply)) {
                                       m_readings->request();
                                       Q_EMIT inputsDecoded(m_poll->pollCount());
                                   } else {
                                       m_poll->countError();
                                   }
                                   done(reply.status);
                               }});
}

void TemperaturePanel::setPolling(bool on) {
    m_scan->setEnabled(!on);
    m_close->setEnabled(!on);
    m_interval->setEnabled(!on);
    m_write->setEnabled(!on);
    for (int k = 0; k < 4; ++k) {
        m_relay[k]->setEnabled(!on);
        m_slider[k]->setEnabled(!on);
    }
    m_stop->setEnabled(on);
}

void TemperaturePanel::showCounts() {
    ShowCounts(*m_sb, *m_poll);
}

void TemperaturePanel::relayClicked(int k, bool on) {
    m_link.writeSingleCoil(m_slave, static_cast<int16_t>(k - 1), on ? CoilOn : 0, {this, noReply});
}

void TemperaturePanel::sliderMoved(int k, int value) {
    m_regs.outputs[k] = value;
    m_pwmLabel[k - 1]->setText(QString::number(value) + QLatin1Char('%'));
    // One key per slider: a position still queued is replaced by the newer
    // one, so a drag never floods the link and the last position goes out.
    m_link.writeSingleRegister(m_slave, static_cast<int16_t>(k), value, {this, noReply, k});
}

void TemperaturePanel::writeOutputRegisters() {
    m_link.restartTransactions();
    // One command of three writes: all three go out whatever the first ones
    // returned, and it fails (one error) if any of them failed.
    auto failed = std::make_shared<bool>(false);
    const Completion note = [failed](const Reply& reply) { *failed = *failed || !reply.ok(); };
    m_link.writeSingleRegister(m_slave, TempConfigAddress, m_regs.config, {this, note});
    m_link.writeSingleRegister(m_slave, TempControlAddress, m_regs.control, {this, note});
    m_link.writeMultipleRegisters(m_slave, TempLoopsStart, TempLoopRegisters, m_regs.outputs,
                                  {this, [this, note, failed](const Reply& reply) {
                                       note(reply);
                                       if (*failed)
                                           m_poll->countError();
                                       showCounts();
                                   }});
}

void TemperaturePanel::openTrend() {
    if (!m_trendWindow)
        m_trendWindow = OpenTemperatureTrend(*this, m_presenter);
    BringForward(m_trendWindow);
}

void TemperaturePanel::closeEvent(QCloseEvent* event) {
    // Closing by the title bar while polling: the loop ends before the
    // window goes away, and nothing of it stays queued.
    if (m_poll->running())
        m_poll->shutdown();
    QWidget::closeEvent(event);
}

TrendWindow* TemperaturePanel::trendWindow() const {
    return m_trendWindow;
}

} // namespace qim

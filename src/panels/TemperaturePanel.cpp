#include "TemperaturePanel.h"

#include "DeviceTable.h"
#include "Link.h"
#include "PanelTrends.h"
#include "Pictures.h"
#include "StatusPanels.h"
#include "TemperatureDialogs.h"

#include <QCheckBox>
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

QPushButton* button(QWidget* parent, const QString& name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

void noReply(const Reply&) {}
} // namespace

TemperaturePanel::TemperaturePanel(Link& link, MessagePresenter& presenter,
                                   TemperatureDialogs& dialogs)
    : PollPanel(link, presenter, ModuleKind::Temperature), m_dialogs(dialogs),
      m_regs(dialogs.registers()) {
    setObjectName(QStringLiteral("frmQIM_P750"));
    setWindowTitle(QStringLiteral("QIM-P750"));

    // The four loops, side by side.
    auto* loops = new QHBoxLayout;
    for (int n = 1; n <= Temperature::Loops; ++n) {
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
            led->setObjectName(QStringLiteral("StatusLED%1_%2")
                                   .arg(n)
                                   .arg(QLatin1String(Temperature::FlagNames[b])));
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
        connect(m_relay[k - 1], &QCheckBox::toggled, this, [this, k](bool on) {
            Temperature::writeRelay(k, on).send(m_link, m_slave, {this, noReply});
        });

        m_slider[k - 1] = new QSlider(Qt::Horizontal, this);
        m_slider[k - 1]->setObjectName(QStringLiteral("Slider_PWM%1").arg(k));
        m_slider[k - 1]->setRange(0, Temperature::PwmMax);
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
    auto* configReg =
        button(regs, QStringLiteral("Cmd_ConfigReg"), QStringLiteral("Configuration Register"));
    auto* controlReg =
        button(regs, QStringLiteral("Cmd_ControlReg"), QStringLiteral("Control Register"));
    auto* regGrid = new QGridLayout(regs);
    regGrid->addWidget(configReg, 0, 0);
    regGrid->addWidget(controlReg, 0, 1);
    for (int n = 1; n <= Temperature::Loops; ++n) {
        auto* loop = button(regs, QStringLiteral("Cmd_ControlLoop%1").arg(n),
                            QStringLiteral("Control Loop %1").arg(n));
        regGrid->addWidget(loop, 1 + (n - 1) / 2, (n - 1) % 2);
        connect(loop, &QPushButton::clicked, this, [this, n] { m_dialogs.openLoop(n); });
    }
    m_write =
        button(regs, QStringLiteral("Cmd_Write"), QStringLiteral("Write To Output Registers"));
    regGrid->addWidget(m_write, 3, 0, 1, 2);
    makeConfigControls(regs);
    regGrid->addWidget(m_openConfig, 4, 0);
    regGrid->addWidget(m_saveConfig, 4, 1);
    connect(configReg, &QPushButton::clicked, this, [this] { m_dialogs.openConfig(); });
    connect(controlReg, &QPushButton::clicked, this, [this] { m_dialogs.openControl(); });
    connect(m_write, &QPushButton::clicked, this, &TemperaturePanel::writeOutputRegisters);

    // Polling.
    makePollControls(this, [this] { return openTemperatureTrend(*this, m_presenter); });
    m_interval->setAlignment(Qt::AlignRight);
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

    auto* top = new QVBoxLayout(this);
    top->addLayout(loops);
    top->addLayout(bottom);
    top->addWidget(m_sb);
    load(DeviceRecord{});
}

void TemperaturePanel::loadModule() {
    for (int n = 1; n <= Temperature::Loops; ++n)
        showLoop(n);
}

void TemperaturePanel::enableCommands(bool enabled) {
    m_write->setEnabled(enabled);
    for (int k = 0; k < Temperature::Relays; ++k)
        m_relay[k]->setEnabled(enabled);
    for (int k = 0; k < Temperature::PwmOutputs; ++k)
        m_slider[k]->setEnabled(enabled);
}

void TemperaturePanel::showLoop(int n) {
    const LoopView& v = m_loops[n - 1];
    const Temperature::LoopReading& in = m_regs.inputs[n - 1];
    for (int b = 0; b < 8; ++b)
        v.led[b]->setState(getBit(in.flags, static_cast<uint8_t>(b)));
    v.pv->setText(QString::number(in.processValue));
    v.cj->setText(QString::number(in.coldJunction));
    v.power->setText(QString::number(in.heaterPower) + QLatin1Char('%'));
    v.sp->setText(QString::number(m_regs.image.loops[n - 1][Temperature::SetPoint]));
}

void TemperaturePanel::drawReadings() {
    for (int n = 1; n <= Temperature::Loops; ++n)
        showLoop(n);
}

void TemperaturePanel::pollCycle(PollLoop::Done done) {
    // Only a reply holding all twelve registers is shown; anything else
    // leaves the last good values on screen.
    pollRead(Temperature::readInputs(), std::move(done), [this](const Reply& r) {
        const auto readings = Temperature::decodeInputs(r);
        m_regs.inputs = readings.value_or(m_regs.inputs);
        return readings.has_value();
    });
}

void TemperaturePanel::sliderMoved(int k, int value) {
    m_regs.image.pwm[k - 1] = value;
    showPwm(k);
    // One key per slider: a position still queued is replaced by the newer
    // one, so a drag never floods the link and the last position goes out.
    Temperature::writePwm(k, value).send(m_link, m_slave, {this, noReply, k});
}

void TemperaturePanel::showPwm(int k) {
    m_pwmLabel[k - 1]->setText(QString::number(m_regs.image.pwm[k - 1]) + QLatin1Char('%'));
}

std::optional<ConfigFile::Settings> TemperaturePanel::currentSettings() {
    return m_regs.image;
}

void TemperaturePanel::applySettings(const ConfigFile::Settings& settings) {
    m_regs.image = std::get<Temperature::Image>(settings);
    // The sliders show the file's outputs without writing them: nothing goes
    // to the module until the user writes.
    for (int k = 1; k <= Temperature::PwmOutputs; ++k) {
        const QSignalBlocker quiet(m_slider[k - 1]);
        m_slider[k - 1]->setValue(m_regs.image.pwm[k - 1]);
        showPwm(k);
    }
    // The set point labels follow at the next poll, as after a loop dialog's OK.
    m_dialogs.reload();
}

void TemperaturePanel::writeOutputRegisters() {
    m_link.restartTransactions();
    // One command of three writes, one error if any of them failed.
    const auto writes = Temperature::writeOutputRegisters(m_regs.image);
    ModuleRequest::sendAll(m_link, m_slave, writes, this, [this](bool ok) {
        if (!ok)
            m_loop->countError();
        showCounts();
    });
}

} // namespace qim

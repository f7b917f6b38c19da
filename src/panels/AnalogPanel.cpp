#include "frmQIM_M640.h"

#include "AnalogScale.h"
#include "DeviceTable.h"
#include "FrameThrottle.h"
#include "General.h"
#include "MessagePresenter.h"
#include "NumericEntry.h"
#include "PanelTrends.h"
#include "Panels.h"
#include "PollLoop.h"
#include "Requests.h"
#include "StatusPanels.h"
#include "Windows.h"

#include <QCloseEvent>
#include <QComboBox>
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
const QString SamplingMessage = QStringLiteral("Sampling Interval must be a number from 1 to 255");
const char* const DacNames[8] = {"AO1", "AO2", "AO3", "AO4", "CL1", "CL2", "CL3", "CL4"};

QLabel* label(const QString& text, const QString& name, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}
QComboBox* combo(const QString& name, const QStringList& items, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    return c;
}
} // namespace

frmQIM_M640* frmQIM_M640::open() {
    if (!s_instance) {
        s_instance = new frmQIM_M640;
        s_instance->setAttribute(Qt::WA_DeleteOnClose);
    }
    BringForward(s_instance);
    return s_instance;
}

frmQIM_M640::frmQIM_M640(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmQIM_M640"));
    setWindowTitle(QStringLiteral("QIM-M640"));
    m_loop = new PollLoop(this, [this](PollLoop::Done done) { cycle(std::move(done)); });
    connect(m_loop, &PollLoop::countsChanged, this, &frmQIM_M640::refreshCounts);
    m_readings = new FrameThrottle(this, [this] {
        for (int k = 0; k < 8; ++k)
            m_lblADC[k]->setText(AdcDisplay == 1 ? QString::number(AdcCounts[k])
                                                 : Analog::VoltsText(AdcCounts[k], AdcRange[k]));
    });
    connect(m_loop, &PollLoop::finished, this, [this] {
        m_readings->flush();
        m_scanning = false;
        updateButtons();
    });
    buildControls();
    load();
}

void frmQIM_M640::buildControls() {
    auto* root = new QVBoxLayout(this);
    m_lblAddress = label(QStringLiteral("Device Address: 10"), QStringLiteral("lblAddress"), this);
    root->addWidget(m_lblAddress);

    auto* frames = new QHBoxLayout;

    // ADC inputs: value and range per channel, the converter's settings beside them.
    auto* frame2 = new QGroupBox(QStringLiteral("ADC Inputs"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    auto* f2 = new QHBoxLayout(frame2);
    auto* inGrid = new QGridLayout;
    QStringList rangeItems;
    for (const auto& r : Analog::Ranges)
        rangeItems << QString::fromLatin1(r.item);
    for (int i = 0; i < 8; ++i) {
        const int n = i + 1;
        inGrid->addWidget(
            label(QStringLiteral("AIN%1").arg(n), QStringLiteral("lblAIN%1").arg(n), frame2), i, 0);
        auto* value = label(QStringLiteral("5.6789"), QStringLiteral("lblADC%1").arg(n), frame2);
        value->setFrameShape(QFrame::StyledPanel);
        value->setFrameShadow(QFrame::Sunken);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Opaque and of a fixed size: a new reading repaints the box alone,
        // not the frame behind it or the window's layout.
        value->setAutoFillBackground(true);
        value->setFixedSize(value->fontMetrics().horizontalAdvance(QStringLiteral("-00.00000")) +
                                2 * value->frameWidth() + 8,
                            value->sizeHint().height());
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        inGrid->addWidget(value, i, 1);
        m_lblADC[i] = value;
        auto* range = combo(QStringLiteral("ComboCH%1Range").arg(n), rangeItems, frame2);
        inGrid->addWidget(range, i, 2);
        m_range[i] = range;
        connect(range, &QComboBox::currentIndexChanged, this, [this, i](int index) {
            if (index >= 0)
                AdcRange[i] = static_cast<int16_t>(index);
        });
    }
    f2->addLayout(inGrid);

    auto* settings = new QGridLayout;
    m_adcData = combo(QStringLiteral("ComboADCData"),
                      {QStringLiteral("Voltage"), QStringLiteral("Counts")}, frame2);
    settings->addWidget(m_adcData, 0, 0, 1, 3);
    m_average = combo(QStringLiteral("ComboAverage"),
                      {QStringLiteral("No Average"), QStringLiteral("2 Sampels"),
                       QStringLiteral("4 Sampels"), QStringLiteral("8 Sampels")},
                      frame2);
    settings->addWidget(label(QStringLiteral("Ave"), QStringLiteral("lblAverage"), frame2), 1, 0);
    settings->addWidget(m_average, 1, 1, 1, 2);
    m_mode = combo(QStringLiteral("ComboMode"), {QStringLiteral("Auto"), QStringLiteral("Manual")},
                   frame2);
    settings->addWidget(label(QStringLiteral("Mode"), QStringLiteral("lblMode"), frame2), 2, 0);
    settings->addWidget(m_mode, 2, 1, 1, 2);
    m_ts = new QLineEdit(QStringLiteral("100"), frame2);
    m_ts->setObjectName(QStringLiteral("TextTS"));
    m_ts->setMaximumWidth(60);
    settings->addWidget(label(QStringLiteral("Ts"), QStringLiteral("lblTS"), frame2), 3, 0);
    settings->addWidget(m_ts, 3, 1);
    settings->addWidget(label(QStringLiteral("msec"), QStringLiteral("lblTSUnit"), frame2), 3, 2);
    m_config = new QPushButton(QStringLiteral("Config"), frame2);
    m_config->setObjectName(QStringLiteral("CmdConfigADC"));
    settings->addWidget(m_config, 4, 0, 1, 3);
    settings->setRowStretch(5, 1);
    f2->addSpacing(12);
    f2->addLayout(settings);
    frames->addWidget(frame2);

    // DAC outputs, always entered as counts.
    auto* frame1 = new QGroupBox(QStringLiteral("DAC Outputs"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    auto* dacGrid = new QGridLayout(frame1);
    for (int i = 0; i < 8; ++i) {
        const QString name = QString::fromLatin1(DacNames[i]);
        dacGrid->addWidget(label(name, QStringLiteral("lbl") + name, frame1), i, 0);
        auto* text = new QLineEdit(frame1);
        text->setObjectName(QStringLiteral("TextDAC%1").arg(i + 1));
        text->setMaximumWidth(80);
        dacGrid->addWidget(text, i, 1);
        m_dac[i] = text;
    }
    m_dacData = combo(QStringLiteral("ComboDACData"),
                      {QStringLiteral("Voltage"), QStringLiteral("Counts")}, frame1);
    dacGrid->addWidget(m_dacData, 8, 0, 1, 2);
    m_write = new QPushButton(QStringLiteral("Write"), frame1);
    m_write->setObjectName(QStringLiteral("CmdWriteDAC"));
    dacGrid->addWidget(m_write, 9, 0, 1, 2);
    dacGrid->setRowStretch(10, 1);
    frames->addWidget(frame1);
    root->addLayout(frames);

    auto* bottom = new QHBoxLayout;
    auto* frame3 = new QGroupBox(QStringLiteral("Time between polls"), this);
    frame3->setObjectName(QStringLiteral("Frame3"));
    auto* f3 = new QHBoxLayout(frame3);
    m_scanTimer = new QLineEdit(QStringLiteral("1000"), frame3);
    m_scanTimer->setObjectName(QStringLiteral("TextScanTimer"));
    m_scanTimer->setMaximumWidth(80);
    f3->addWidget(m_scanTimer);
    f3->addWidget(label(QStringLiteral("ms"), QStringLiteral("lblScanUnit"), frame3));
    f3->addStretch(1);
    bottom->addWidget(frame3, 1);
    m_scan = new QPushButton(QStringLiteral("Scan"), this);
    m_scan->setObjectName(QStringLiteral("CmdScan"));
    m_stop = new QPushButton(QStringLiteral("Stop"), this);
    m_stop->setObjectName(QStringLiteral("CmdStop"));
    m_trend = new QPushButton(QStringLiteral("Trend"), this);
    m_trend->setObjectName(QStringLiteral("Cmd_Trend"));
    m_close = new QPushButton(QStringLiteral("Close"), this);
    m_close->setObjectName(QStringLiteral("CmdCancel"));
    for (QPushButton* b : {m_scan, m_stop, m_trend, m_close}) {
        b->setAutoDefault(false);
        bottom->addWidget(b, 0, Qt::AlignBottom);
    }
    for (QPushButton* b : {m_config, m_write})
        b->setAutoDefault(false);
    root->addLayout(bottom);

    m_sb = new StatusPanels(QStringLiteral("SB"), this);
    HoldCountSizes(*m_sb);
    root->addWidget(m_sb);

    connect(m_adcData, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            AdcDisplay = static_cast<int16_t>(index);
    });
    connect(m_mode, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            AdcMode = static_cast<int16_t>(index);
    });
    connect(m_average, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            AdcAverage = static_cast<int16_t>(index);
    });
    connect(m_scan, &QPushButton::clicked, this, &frmQIM_M640::scanClick);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_loop->requestStop(); });
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    connect(m_trend, &QPushButton::clicked, this, [this] { OpenTrend(this); });
    connect(m_config, &QPushButton::clicked, this, &frmQIM_M640::configClick);
    connect(m_write, &QPushButton::clicked, this, &frmQIM_M640::writeClick);
}

void frmQIM_M640::load() {
    m_lblAddress->setText(QStringLiteral("Address: "));
    PollInterval = 100;
    m_scanTimer->setText(QStringLiteral("100"));
    m_loop->ErrorCount = 0;
    m_loop->PollCount = 0;
    refreshCounts();
    DacValues.fill(0);
    AdcCounts.fill(0);
    m_dacData->setCurrentIndex(1);
    m_dacData->setEnabled(false);
    for (int i = 0; i < 8; ++i)
        m_dac[i]->setText(QString::number(DacValues[i]));
    m_adcData->setCurrentIndex(0);
    AdcDisplay = 0;
    for (QLabel* l : m_lblADC)
        l->setText(QStringLiteral("0"));
    m_mode->setCurrentIndex(0);
    AdcMode = 0;
    m_average->setCurrentIndex(3);
    AdcAverage = 3;
    SamplingInterval = 10;
    m_ts->setText(QStringLiteral("10"));
    for (int i = 0; i < 8; ++i) {
        m_range[i]->setCurrentIndex(Analog::DefaultRange);
        AdcRange[i] = Analog::DefaultRange;
    }
    if (SelectedAddress >= 0 && SelectedAddress <= 246) {
        const DeviceRecord& r = DeviceTable[static_cast<size_t>(SelectedAddress)];
        SlaveAddress = r.DeviceAddress;
        DeviceCode = r.DeviceCode;
    }
    if (DeviceCode == 20)
        m_lblAddress->setText(QStringLiteral("Address: %1").arg(SlaveAddress));
    updateButtons();
}

void frmQIM_M640::scanClick() {
    const auto interval = StartScanInterval(*m_loop, m_scanTimer->text());
    if (!interval)
        return;
    PollInterval = *interval;
    m_scanning = true;
    updateButtons();
    m_loop->start(PollInterval);
}

void frmQIM_M640::cycle(std::function<void(int16_t)> done) {
    ByMode::ReadInputRegisters(SlaveAddress, 0, 8, {this, [this, done](const Reply& r) {
                                                        if (r.hasRegisters(8)) {
                                                            ShowAnalogInputs(r);
                                                            emit inputsDecoded(m_loop->PollCount);
                                                        } else
                                                            ++m_loop->ErrorCount;
                                                        done(r.status);
                                                    }});
}

void frmQIM_M640::ShowAnalogInputs(const Reply& reply) {
    for (int k = 0; k < 8; ++k)
        AdcCounts[k] = reply.reg(k).value_or(0);
    m_readings->request();
}

void frmQIM_M640::configClick() {
    const auto entry = ParseEntryAbove(m_ts->text(), 0, 255);
    // A value below one would round to a sampling interval of 0, which the
    // module's 1..255 ms field does not hold.
    if (!entry || entry->rounded < 1) {
        ShowMessage(SamplingMessage);
        return;
    }
    SamplingInterval = static_cast<int16_t>(entry->rounded);
    std::array<int32_t, 17> image{};
    image[8] = Analog::ConfigWord(SamplingInterval, AdcMode, AdcAverage);
    image[9] = Analog::RangeWord(std::span<const int16_t, 4>(AdcRange.data(), 4));
    image[10] = Analog::RangeWord(std::span<const int16_t, 4>(AdcRange.data() + 4, 4));
    General::TransactionId = 0;
    m_writing = true;
    updateButtons();
    ByMode::WriteMultipleRegisters(SlaveAddress, 8, 3, image,
                                   {this, [this](const Reply& r) { writeDone(r); }});
}

void frmQIM_M640::writeClick() {
    // All eight are checked before any is stored: a bad entry stores nothing.
    std::array<int32_t, 8> values{};
    for (int i = 0; i < 8; ++i) {
        const auto entry = ParseEntry(m_dac[i]->text(), 0, 4095);
        if (!entry) {
            ShowMessage(QString::fromLatin1(DacNames[i]) +
                        QStringLiteral(" must be a number from 0 to 4095"));
            return;
        }
        values[i] = entry->rounded;
    }
    DacValues = values;
    General::TransactionId = 0;
    m_writing = true;
    updateButtons();
    ByMode::WriteMultipleRegisters(SlaveAddress, 0, 8, DacValues,
                                   {this, [this](const Reply& r) { writeDone(r); }});
}

void frmQIM_M640::writeDone(const Reply& reply) {
    m_writing = false;
    if (!reply.ok())
        ++m_loop->ErrorCount;
    ++m_loop->PollCount;
    refreshCounts();
    updateButtons();
}

void frmQIM_M640::refreshCounts() {
    ShowCounts(*m_sb, *m_loop);
}

void frmQIM_M640::updateButtons() {
    const bool idle = DeviceCode == 20 && !m_scanning && !m_writing;
    m_scan->setEnabled(idle);
    m_config->setEnabled(idle);
    m_write->setEnabled(idle);
    m_stop->setEnabled(m_scanning);
    m_close->setEnabled(!m_scanning);
    m_scanTimer->setEnabled(!m_scanning);
    m_sb->setPanel(3, m_scanning ? QStringLiteral("SCAN") : QStringLiteral("STOP"));
}

void frmQIM_M640::closeEvent(QCloseEvent* event) {
    // Closed from the title bar while polling: no request may go out for a
    // window that is about to go.
    m_loop->shutdown();
    event->accept();
}

} // namespace qim

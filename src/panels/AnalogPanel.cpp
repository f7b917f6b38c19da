#include "AnalogPanel.h"

#include "AnalogScale.h"
#include "BringForward.h"
#include "DeviceTable.h"
#include "FrameThrottle.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "NumberEntry.h"
#include "PanelSupport.h"
#include "PanelTrends.h"
#include "PollLoop.h"
#include "StatusPanels.h"
#include "TrendWindow.h"

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

AnalogPanel::AnalogPanel(Link& link, MessagePresenter& presenter, QWidget* parent)
    : QWidget(parent, Qt::Window), m_link(link), m_presenter(presenter) {
    setObjectName(QStringLiteral("frmQIM_M640"));
    setWindowTitle(QStringLiteral("QIM-M640"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_loop = new PollLoop(m_link, this, [this](PollLoop::Done done) { cycle(std::move(done)); });
    connect(m_loop, &PollLoop::countsChanged, this, &AnalogPanel::refreshCounts);
    m_readings = new FrameThrottle(this, [this] {
        for (int k = 0; k < 8; ++k)
            m_lblADC[k]->setText(m_adcDisplay == 1
                                     ? QString::number(m_adcCounts[k])
                                     : Analog::VoltsText(m_adcCounts[k], m_adcRange[k]));
    });
    connect(m_loop, &PollLoop::finished, this, [this] {
        m_readings->flush();
        m_scanning = false;
        updateButtons();
    });
    buildControls();
    load(DeviceRecord{});
}

void AnalogPanel::showModule(const DeviceRecord& module) {
    if (m_loaded)
        return;
    m_loaded = true;
    load(module);
}

void AnalogPanel::buildControls() {
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
                m_adcRange[i] = static_cast<int16_t>(index);
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
            m_adcDisplay = static_cast<int16_t>(index);
    });
    connect(m_mode, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_adcMode = static_cast<int16_t>(index);
    });
    connect(m_average, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_adcAverage = static_cast<int16_t>(index);
    });
    connect(m_scan, &QPushButton::clicked, this, &AnalogPanel::scanClicked);
    connect(m_stop, &QPushButton::clicked, this, [this] { m_loop->requestStop(); });
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    connect(m_trend, &QPushButton::clicked, this, &AnalogPanel::trendClicked);
    connect(m_config, &QPushButton::clicked, this, &AnalogPanel::configClicked);
    connect(m_write, &QPushButton::clicked, this, &AnalogPanel::writeClicked);
}

void AnalogPanel::load(const DeviceRecord& module) {
    m_lblAddress->setText(QStringLiteral("Address: "));
    m_scanTimer->setText(QStringLiteral("100"));
    m_loop->resetCounts();
    refreshCounts();
    m_adcCounts.fill(0);
    m_dacData->setCurrentIndex(1);
    m_dacData->setEnabled(false);
    for (QLineEdit* dac : m_dac)
        dac->setText(QStringLiteral("0"));
    m_adcData->setCurrentIndex(0);
    m_adcDisplay = 0;
    for (QLabel* l : m_lblADC)
        l->setText(QStringLiteral("0"));
    m_mode->setCurrentIndex(0);
    m_adcMode = 0;
    m_average->setCurrentIndex(3);
    m_adcAverage = 3;
    m_ts->setText(QStringLiteral("10"));
    for (int i = 0; i < 8; ++i) {
        m_range[i]->setCurrentIndex(Analog::DefaultRange);
        m_adcRange[i] = Analog::DefaultRange;
    }
    m_slave = module.address;
    m_code = module.code;
    if (m_code == 20)
        m_lblAddress->setText(QStringLiteral("Address: %1").arg(m_slave));
    updateButtons();
}

void AnalogPanel::scanClicked() {
    const auto interval = StartScanInterval(*m_loop, m_scanTimer->text(), m_presenter);
    if (!interval)
        return;
    m_scanning = true;
    updateButtons();
    m_loop->start(*interval);
}

void AnalogPanel::cycle(std::function<void(int16_t)> done) {
    m_link.readInputRegisters(m_slave, 0, 8, {this, [this, done](const Reply& r) {
                                                  if (r.hasRegisters(8)) {
                                                      showAnalogInputs(r);
                                                      Q_EMIT inputsDecoded(m_loop->pollCount());
                                                  } else {
                                                      m_loop->countError();
                                                  }
                                                  done(r.status);
                                              }});
}

void AnalogPanel::showAnalogInputs(const Reply& reply) {
    for (int k = 0; k < 8; ++k)
        m_adcCounts[k] = reply.reg(k).value_or(0);
    m_readings->request();
}

void AnalogPanel::configClicked() {
    const auto entry = ParseEntryAbove(m_ts->text(), 0, 255);
    // A value below one would round to a sampling interval of 0, which the
    // module's 1..255 ms field does not hold.
    if (!entry || entry->rounded < 1) {
        m_presenter.show(SamplingMessage);
        return;
    }
    std::array<int32_t, 17> image{};
    image[8] = Analog::ConfigWord(entry->rounded, m_adcMode, m_adcAverage);
    image[9] = Analog::RangeWord(std::span<const int16_t, 4>(m_adcRange.data(), 4));
    image[10] = Analog::RangeWord(std::span<const int16_t, 4>(m_adcRange.data() + 4, 4));
    m_link.restartTransactions();
    m_writing = true;
    updateButtons();
    m_link.writeMultipleRegisters(m_slave, 8, 3, image,
                                  {this, [this](const Reply& r) { writeDone(r); }});
}

void AnalogPanel::trendClicked() {
    if (!m_trendWindow)
        m_trendWindow = OpenAnalogTrend(*this, m_presenter);
    BringForward(m_trendWindow);
}

void AnalogPanel::writeClicked() {
    // All eight are checked before any is stored: a bad entry stores nothing.
    std::array<int32_t, 8> values{};
    for (int i = 0; i < 8; ++i) {
        const auto entry = ParseEntry(m_dac[i]->text(), 0, 4095);
        if (!entry) {
            m_presenter.show(QString::fromLatin1(DacNames[i]) +
                             QStringLiteral(" must be a number from 0 to 4095"));
            return;
        }
        values[i] = entry->rounded;
    }
    m_link.restartTransactions();
    m_writing = true;
    updateButtons();
    m_link.writeMultipleRegisters(m_slave, 0, 8, values,
                                  {this, [this](const Reply& r) { writeDone(r); }});
}

void AnalogPanel::writeDone(const Reply& reply) {
    m_writing = false;
    if (!reply.ok())
        m_loop->countError();
    m_loop->countPoll();
    refreshCounts();
    updateButtons();
}

void AnalogPanel::refreshCounts() {
    ShowCounts(*m_sb, *m_loop);
}

void AnalogPanel::updateButtons() {
    const bool idle = m_code == 20 && !m_scanning && !m_writing;
    m_scan->setEnabled(idle);
    m_config->setEnabled(idle);
    m_write->setEnabled(idle);
    m_stop->setEnabled(m_scanning);
    m_close->setEnabled(!m_scanning);
    m_scanTimer->setEnabled(!m_scanning);
    m_sb->setPanel(3, m_scanning ? QStringLiteral("SCAN") : QStringLiteral("STOP"));
}

void AnalogPanel::closeEvent(QCloseEvent* event) {
    // Closed from the title bar while polling: no request may go out for a
    // window that is about to go.
    m_loop->shutdown();
    event->accept();
}

TrendWindow* AnalogPanel::trendWindow() const {
    return m_trendWindow;
}

} // namespace qim

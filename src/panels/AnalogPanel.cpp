#include "AnalogPanel.h"

#include "DeviceTable.h"
#include "Link.h"
#include "MessagePresenter.h"
#include "PanelTrends.h"
#include "StatusPanels.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qim {

namespace {
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
// A list position set from code counts as a change, like a user's.
template <class F> void onPick(QComboBox* box, QObject* context, F store) {
    QObject::connect(box, &QComboBox::currentIndexChanged, context, [store](int index) {
        if (index >= 0)
            store(index);
    });
}
} // namespace

AnalogPanel::AnalogPanel(Link& link, MessagePresenter& presenter)
    : PollPanel(link, presenter, ModuleKind::Analog) {
    setObjectName(QStringLiteral("frmQIM_M640"));
    setWindowTitle(QStringLiteral("QIM-M640"));
    auto* root = new QVBoxLayout(this);
    root->addWidget(m_address);

    auto* frames = new QHBoxLayout;

    // ADC inputs: value and range per channel, the converter's settings beside them.
    auto* frame2 = new QGroupBox(QStringLiteral("ADC Inputs"), this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    auto* f2 = new QHBoxLayout(frame2);
    auto* inGrid = new QGridLayout;
    QStringList rangeItems;
    for (const auto& r : Analog::Ranges)
        rangeItems << QString::fromLatin1(r.item);
    for (int i = 0; i < Analog::Inputs; ++i) {
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
        m_range[i] = combo(QStringLiteral("ComboCH%1Range").arg(n), rangeItems, frame2);
        inGrid->addWidget(m_range[i], i, 2);
        onPick(m_range[i], this,
               [this, i](int index) { m_config.ranges[i] = static_cast<int16_t>(index); });
    }
    f2->addLayout(inGrid);

    auto* settings = new QGridLayout;
    m_adcData = combo(QStringLiteral("ComboADCData"),
                      {QStringLiteral("Voltage"), QStringLiteral("Counts")}, frame2);
    settings->addWidget(m_adcData, 0, 0, 1, 3);
    m_average = combo(QStringLiteral("ComboAverage"), itemTexts(Analog::AverageItems), frame2);
    settings->addWidget(label(QStringLiteral("Ave"), QStringLiteral("lblAverage"), frame2), 1, 0);
    settings->addWidget(m_average, 1, 1, 1, 2);
    m_mode = combo(QStringLiteral("ComboMode"), itemTexts(Analog::ModeItems), frame2);
    settings->addWidget(label(QStringLiteral("Mode"), QStringLiteral("lblMode"), frame2), 2, 0);
    settings->addWidget(m_mode, 2, 1, 1, 2);
    m_ts = new QLineEdit(QStringLiteral("100"), frame2);
    m_ts->setObjectName(QStringLiteral("TextTS"));
    m_ts->setMaximumWidth(60);
    settings->addWidget(label(QStringLiteral("Ts"), QStringLiteral("lblTS"), frame2), 3, 0);
    settings->addWidget(m_ts, 3, 1);
    settings->addWidget(label(QStringLiteral("msec"), QStringLiteral("lblTSUnit"), frame2), 3, 2);
    m_configButton = new QPushButton(QStringLiteral("Config"), frame2);
    m_configButton->setObjectName(QStringLiteral("CmdConfigADC"));
    m_configButton->setAutoDefault(false);
    settings->addWidget(m_configButton, 4, 0, 1, 3);
    settings->setRowStretch(5, 1);
    f2->addSpacing(12);
    f2->addLayout(settings);
    frames->addWidget(frame2);

    // DAC outputs, always entered as counts.
    auto* frame1 = new QGroupBox(QStringLiteral("DAC Outputs"), this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    auto* dacGrid = new QGridLayout(frame1);
    for (int i = 0; i < Analog::Outputs; ++i) {
        const QString name = Analog::dacName(i + 1);
        dacGrid->addWidget(label(name, QStringLiteral("lbl") + name, frame1), i, 0);
        m_dac[i] = new QLineEdit(frame1);
        m_dac[i]->setObjectName(QStringLiteral("TextDAC%1").arg(i + 1));
        m_dac[i]->setMaximumWidth(80);
        dacGrid->addWidget(m_dac[i], i, 1);
    }
    m_dacData = combo(QStringLiteral("ComboDACData"),
                      {QStringLiteral("Voltage"), QStringLiteral("Counts")}, frame1);
    dacGrid->addWidget(m_dacData, 8, 0, 1, 2);
    m_writeButton = new QPushButton(QStringLiteral("Write"), frame1);
    m_writeButton->setObjectName(QStringLiteral("CmdWriteDAC"));
    m_writeButton->setAutoDefault(false);
    dacGrid->addWidget(m_writeButton, 9, 0, 1, 2);
    dacGrid->setRowStretch(10, 1);
    frames->addWidget(frame1);
    root->addLayout(frames);

    auto* files = new QHBoxLayout;
    makeConfigControls(this);
    files->addStretch(1);
    files->addWidget(m_openConfig);
    files->addWidget(m_saveConfig);
    root->addLayout(files);

    auto* bottom = new QHBoxLayout;
    auto* frame3 = new QGroupBox(QStringLiteral("Time between polls"), this);
    frame3->setObjectName(QStringLiteral("Frame3"));
    auto* f3 = new QHBoxLayout(frame3);
    makePollControls(frame3, [this] { return openAnalogTrend(*this, m_presenter); });
    f3->addWidget(m_interval);
    f3->addWidget(label(QStringLiteral("ms"), QStringLiteral("lblScanUnit"), frame3));
    f3->addStretch(1);
    bottom->addWidget(frame3, 1);
    for (QPushButton* b : {m_scan, m_stop, m_trend, m_close})
        bottom->addWidget(b, 0, Qt::AlignBottom);
    root->addLayout(bottom);
    root->addWidget(m_sb);

    onPick(m_adcData, this, [this](int index) { m_display = static_cast<Analog::Display>(index); });
    onPick(m_mode, this, [this](int index) { m_config.mode = index; });
    onPick(m_average, this, [this](int index) { m_config.average = index; });
    connect(m_configButton, &QPushButton::clicked, this, &AnalogPanel::configClicked);
    connect(m_writeButton, &QPushButton::clicked, this, &AnalogPanel::writeClicked);
    load(DeviceRecord{});
}

void AnalogPanel::loadModule() {
    const Analog::AdcConfig defaults;
    m_counts.fill(0);
    m_dacData->setCurrentIndex(1);
    m_dacData->setEnabled(false);
    for (QLineEdit* dac : m_dac)
        dac->setText(QStringLiteral("0"));
    m_adcData->setCurrentIndex(static_cast<int>(Analog::Display::Volts));
    m_display = Analog::Display::Volts;
    for (QLabel* l : m_lblADC)
        l->setText(QStringLiteral("0"));
    m_mode->setCurrentIndex(defaults.mode);
    m_average->setCurrentIndex(defaults.average);
    m_ts->setText(QString::number(defaults.sampling));
    for (int i = 0; i < Analog::Inputs; ++i)
        m_range[i]->setCurrentIndex(defaults.ranges[i]);
    m_config = defaults;
}

void AnalogPanel::pollCycle(PollLoop::Done done) {
    pollRead(Analog::readInputs(), std::move(done), [this](const Reply& r) {
        const auto counts = Analog::decodeInputs(r);
        m_counts = counts.value_or(m_counts);
        return counts.has_value();
    });
}

void AnalogPanel::drawReadings() {
    for (int k = 0; k < Analog::Inputs; ++k)
        m_lblADC[k]->setText(Analog::inputText(m_counts[k], m_config.ranges[k], m_display));
}

void AnalogPanel::enableCommands(bool enabled) {
    m_configButton->setEnabled(enabled);
    m_writeButton->setEnabled(enabled);
}

std::optional<Analog::AdcConfig> AnalogPanel::configEntries() {
    const auto sampling = Analog::parseSampling(m_ts->text());
    if (!sampling) {
        m_presenter.show(Analog::samplingMessage());
        return std::nullopt;
    }
    Analog::AdcConfig config = m_config;
    config.sampling = *sampling;
    return config;
}

void AnalogPanel::configClicked() {
    if (const auto config = configEntries()) {
        m_config = *config;
        send(Analog::writeConfig(m_config));
    }
}

std::optional<Analog::DacValues> AnalogPanel::dacEntries() {
    // All eight are checked before any is used: a bad entry stores nothing.
    Analog::DacValues values{};
    for (int i = 0; i < Analog::Outputs; ++i) {
        const EntryRule rule = Analog::dacRule(i + 1);
        const auto value = rule.parse(m_dac[i]->text());
        if (!value) {
            m_presenter.show(rule.message());
            return std::nullopt;
        }
        values[i] = *value;
    }
    return values;
}

void AnalogPanel::writeClicked() {
    if (const auto values = dacEntries())
        send(Analog::writeDac(*values));
}

std::optional<ConfigFile::Settings> AnalogPanel::currentSettings() {
    // What Config and Write would send: the same entries, the same messages.
    const auto config = configEntries();
    const auto dac = config ? dacEntries() : std::nullopt;
    if (!dac)
        return std::nullopt;
    return Analog::Settings{*config, *dac};
}

void AnalogPanel::applySettings(const ConfigFile::Settings& settings) {
    // As if typed and picked: each list's pick stores its field.
    const auto& s = std::get<Analog::Settings>(settings);
    m_ts->setText(QString::number(s.adc.sampling));
    m_mode->setCurrentIndex(s.adc.mode);
    m_average->setCurrentIndex(s.adc.average);
    for (int i = 0; i < Analog::Inputs; ++i)
        m_range[i]->setCurrentIndex(s.adc.ranges[i]);
    for (int i = 0; i < Analog::Outputs; ++i)
        m_dac[i]->setText(QString::number(s.dac[i]));
}

void AnalogPanel::send(const ModuleRequest& request) {
    m_link.restartTransactions();
    setWriting(true);
    request.send(m_link, m_slave, {this, [this](const Reply& reply) {
                                       if (!reply.ok())
                                           m_loop->countError();
                                       m_loop->countPoll();
                                       showCounts();
                                       setWriting(false);
                                   }});
}

} // namespace qim

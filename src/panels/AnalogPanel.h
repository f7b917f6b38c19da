#pragma once
// The panel of the analog module QIM-M640: polls the eight inputs and shows
// them as volts per channel range or as counts; Config writes the converter's
// settings and Write the eight DAC outputs, one request each.

#include "AnalogModule.h"
#include "PollPanel.h"

class QComboBox;

namespace qim {

class AnalogPanel : public PollPanel {
    Q_OBJECT
public:
    AnalogPanel(Link& link, MessagePresenter& presenter);

    // What the last good poll read, the converter settings the boxes choose
    // (each input's range among them), and how the inputs show.
    const Analog::Counts& counts() const { return m_counts; }
    const Analog::AdcConfig& config() const { return m_config; }
    Analog::Display display() const { return m_display; }

private:
    void pollCycle(PollLoop::Done done) override;
    void loadModule() override;
    void drawReadings() override;
    void enableCommands(bool enabled) override;
    void configClicked();
    void writeClicked();
    // Counts a one-shot write's outcome the way the poll loop counts polls.
    void send(const ModuleRequest& request);
    std::optional<ConfigFile::Settings> currentSettings() override;
    void applySettings(const ConfigFile::Settings& settings) override;
    // The converter's settings with the typed interval; nullopt once a bad
    // one is told.
    std::optional<Analog::AdcConfig> configEntries();
    // The DAC entries, checked in order; nullopt once the first bad one is told.
    std::optional<Analog::DacValues> dacEntries();

    Analog::Counts m_counts{};
    Analog::AdcConfig m_config;
    Analog::Display m_display = Analog::Display::Volts;

    std::array<QLabel*, Analog::Inputs> m_lblADC{};
    std::array<QComboBox*, Analog::Inputs> m_range{};
    QComboBox* m_average = nullptr;
    QComboBox* m_mode = nullptr;
    QLineEdit* m_ts = nullptr;
    QPushButton* m_configButton = nullptr;
    QComboBox* m_adcData = nullptr;
    std::array<QLineEdit*, Analog::Outputs> m_dac{};
    QComboBox* m_dacData = nullptr;
    QPushButton* m_writeButton = nullptr;
};

} // namespace qim

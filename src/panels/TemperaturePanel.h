#pragma once
// The temperature controller panel (QIM-P750): polls the four loops and
// shows each loop's process value, cold-junction temperature, set point,
// heater power and eight status LEDs; switches the relays and PWM outputs at
// once; opens the register dialogs and sends their image with "Write To
// Output Registers".

#include "PollPanel.h"
#include "TemperatureModule.h"

class QCheckBox;
class QGroupBox;
class QSlider;

namespace qim {

class StatePicture;
class TemperatureDialogs;

class TemperaturePanel : public PollPanel {
    Q_OBJECT
public:
    // The dialogs and their registers outlive the panel: what the user set
    // survives closing and reopening it.
    TemperaturePanel(Link& link, MessagePresenter& presenter, TemperatureDialogs& dialogs);

    const TemperatureRegisters& registers() const { return m_regs; }

private:
    void pollCycle(PollLoop::Done done) override;
    void loadModule() override;
    void drawReadings() override;
    void enableCommands(bool enabled) override;
    // Refreshes loop n's LEDs and labels (n = 1..4) from the registers.
    void showLoop(int n);
    void sliderMoved(int k, int value);
    // PWM output k's percent beside its slider, as the registers hold it.
    void showPwm(int k);
    void writeOutputRegisters();
    std::optional<ConfigFile::Settings> currentSettings() override;
    void applySettings(const ConfigFile::Settings& settings) override;

    TemperatureDialogs& m_dialogs;
    TemperatureRegisters& m_regs;

    struct LoopView {
        QGroupBox* frame;
        QLabel* pv;
        QLabel* cj;
        QLabel* sp;
        QLabel* power;
        StatePicture* led[8];
    };
    LoopView m_loops[Temperature::Loops];
    QCheckBox* m_relay[Temperature::Relays];
    QSlider* m_slider[Temperature::PwmOutputs];
    QLabel* m_pwmLabel[Temperature::PwmOutputs];
    QPushButton* m_write;
};

} // namespace qim

#pragma once
// The temperature controller panel (QIM-P750, device code 30): polls input
// registers 0..11 and shows each loop's process value, cold-junction
// temperature, set point, heater power and eight status LEDs; switches the
// relays and PWM outputs at once; opens the register dialogs and sends their
// image with "Write To Output Registers".

#include "TempRegisters.h"

#include <QPointer>
#include <QWidget>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace qim {

class FrameThrottle;
class PollLoop;
class StatePicture;
class StatusPanels;

class frmQIM_P750 : public QWidget {
    Q_OBJECT
public:
    // Opens the one panel (loading it from the selected device), or only
    // brings it forward.
    static frmQIM_P750* open();
    static frmQIM_P750* instance() { return s_instance; }

    bool polling() const;
    // The time between polls the last accepted Scan set, in milliseconds.
    int pollInterval() const { return PollInterval; }

    // Refreshes loop n's LEDs and labels from the program-wide data; nothing
    // for n outside 1..4.
    void ShowLoop(int n);

    // The eight status bits of a loop, bit 0 first, as the LED names end.
    static constexpr const char* LedSuffixes[8] = {"OC", "SCG", "SCV", "TCF",
                                                   "TS", "ON",  "ALL", "ALH"};

Q_SIGNALS:
    // After a good poll's values are decoded and shown; pollNumber is
    // PollCount then (the polls before this one since Scan).
    void inputsDecoded(int32_t pollNumber);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    frmQIM_P750();
    void load();
    void scan();
    void pollCycle(std::function<void(int16_t)> done);
    void setPolling(bool on);
    void showCounts();
    void relayClicked(int k, bool on);
    void sliderMoved(int k, int value);
    void writeOutputRegisters();

    uint8_t SlaveAddress = 0;
    uint8_t DeviceCode = 0;
    int16_t PollInterval = 100;
    int32_t RelayValue[4] = {};

    struct LoopView {
        QGroupBox* frame;
        QLabel* pv;
        QLabel* cj;
        QLabel* sp;
        QLabel* power;
        StatePicture* led[8];
    };
    LoopView m_loops[TempLoops];
    QCheckBox* m_relay[4];
    QSlider* m_slider[4];
    QLabel* m_pwmLabel[4];
    QPushButton* m_configReg;
    QPushButton* m_controlReg;
    QPushButton* m_loopButton[TempLoops];
    QPushButton* m_write;
    QLineEdit* m_interval;
    QPushButton* m_scan;
    QPushButton* m_stop;
    QPushButton* m_close;
    QPushButton* m_trend;
    QLabel* m_address;
    StatusPanels* m_sb;
    PollLoop* m_poll;
    FrameThrottle* m_readings;

    static inline QPointer<frmQIM_P750> s_instance;
};

} // namespace qim

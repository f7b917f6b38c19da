#pragma once
// The temperature controller panel (QIM-P750, device code 30): polls input
// registers 0..11 and shows each loop's process value, cold-junction
// temperature, set point, heater power and eight status LEDs; switches the
// relays and PWM outputs at once; opens the register dialogs and sends their
// image with "Write To Output Registers".

#include "TemperatureRegisters.h"

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
class Link;
class MessagePresenter;
class PollLoop;
class StatePicture;
class StatusPanels;
class TemperatureDialogs;
class TrendWindow;
struct DeviceRecord;

class TemperaturePanel : public QWidget {
    Q_OBJECT
public:
    // A window of its own, deleted when closed. The dialogs and their
    // registers outlive it: what the user set survives closing and reopening
    // the panel.
    TemperaturePanel(Link& link, MessagePresenter& presenter, TemperatureDialogs& dialogs,
                     QWidget* parent = nullptr);

    // Loads the panel for module the first time; a panel that already shows
    // a module keeps it (opening it again only brings it forward).
    void showModule(const DeviceRecord& module);

    bool polling() const;
    PollLoop* pollLoop() const { return m_poll; }
    const TemperatureRegisters& registers() const { return m_regs; }
    // The trend window the Trend button opened, while it is open.
    TrendWindow* trendWindow() const;

    // Refreshes loop n's LEDs and labels from the registers; nothing for n
    // outside 1..4.
    void showLoop(int n);

    // The eight status bits of a loop, bit 0 first, as the LED names end.
    static constexpr const char* LedSuffixes[8] = {"OC", "SCG", "SCV", "TCF",
                                                   "TS", "ON",  "ALL", "ALH"};

Q_SIGNALS:
    // After a good poll's values are decoded and shown; pollNumber is
    // the poll count then (the polls before this one since Scan).
    void inputsDecoded(int32_t pollNumber);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void load(const DeviceRecord& module);
    void scan();
    void pollCycle(std::function<void(int16_t)> done);
    void setPolling(bool on);
    void showCounts();
    void relayClicked(int k, bool on);
    void sliderMoved(int k, int value);
    void writeOutputRegisters();
    void openTrend();

    Link& m_link;
    MessagePresenter& m_presenter;
    TemperatureDialogs& m_dialogs;
    TemperatureRegisters& m_regs;
    bool m_loaded = false;
    uint8_t m_slave = 0;
    uint8_t m_code = 0;
    QPointer<TrendWindow> m_trendWindow;

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
};

} // namespace qim

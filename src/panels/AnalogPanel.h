#pragma once
// frmQIM_M640: the panel of the analog module QIM-M640 (device code 20).
// Polls input registers 0..7 and shows them as volts per channel range or
// as counts; Config writes the ADC settings (holding registers 8..10) and
// Write the eight DAC outputs (holding registers 0..7), one request each.

#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qim {

class FrameThrottle;
class PollLoop;
class StatusPanels;
struct Reply;

class frmQIM_M640 : public QWidget {
    Q_OBJECT
public:
    // Opens the one analog panel, loaded for the selected module, or only
    // brings the open one forward (it keeps its module).
    static frmQIM_M640* open();
    static frmQIM_M640* instance() { return s_instance; }

    explicit frmQIM_M640(QWidget* parent = nullptr);

    uint8_t SlaveAddress = 0;
    uint8_t DeviceCode = 0;
    int PollInterval = 100;
    std::array<int32_t, 8> AdcCounts{};
    std::array<int16_t, 8> AdcRange{};
    int16_t AdcDisplay = 0; // 0 volts, 1 counts
    int16_t AdcMode = 0;    // 0 "Auto", 1 "Manual"
    int16_t AdcAverage = 3; // 0 none .. 3 eight samples
    int16_t SamplingInterval = 10;
    std::array<int32_t, 8> DacValues{};

    PollLoop* pollLoop() const { return m_loop; }

Q_SIGNALS:
    // After a good poll's values are decoded and shown; pollNumber is
    // PollCount then (the polls before this one since Scan).
    void inputsDecoded(int32_t pollNumber);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void load();
    void scanClick();
    void configClick();
    void writeClick();
    void cycle(std::function<void(int16_t)> done);
    void ShowAnalogInputs(const Reply& reply);
    // Counts a one-shot write's outcome the way the poll loop counts polls.
    void writeDone(const Reply& reply);
    void refreshCounts();
    void updateButtons();

    static inline QPointer<frmQIM_M640> s_instance;

    FrameThrottle* m_readings = nullptr;
    PollLoop* m_loop = nullptr;
    bool m_scanning = false;
    bool m_writing = false; // a Config or Write waits for its reply
    QLabel* m_lblAddress = nullptr;
    std::array<QLabel*, 8> m_lblADC{};
    std::array<QComboBox*, 8> m_range{};
    QComboBox* m_average = nullptr;
    QComboBox* m_mode = nullptr;
    QLineEdit* m_ts = nullptr;
    QPushButton* m_config = nullptr;
    QComboBox* m_adcData = nullptr;
    std::array<QLineEdit*, 8> m_dac{};
    QComboBox* m_dacData = nullptr;
    QPushButton* m_write = nullptr;
    QLineEdit* m_scanTimer = nullptr;
    QPushButton* m_scan = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_trend = nullptr;
    StatusPanels* m_sb = nullptr;
};

} // namespace qim

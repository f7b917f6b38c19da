#pragma once
// The panel of the analog module QIM-M640 (device code 20).
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
class Link;
class MessagePresenter;
class PollLoop;
class StatusPanels;
class TrendWindow;
struct DeviceRecord;
struct Reply;

class AnalogPanel : public QWidget {
    Q_OBJECT
public:
    // A window of its own, deleted when closed.
    AnalogPanel(Link& link, MessagePresenter& presenter, QWidget* parent = nullptr);

    // Loads the panel for module the first time; a panel that already shows
    // a module keeps it (opening it again only brings it forward).
    void showModule(const DeviceRecord& module);

    // What the last good poll read, the range each input is read in, and
    // whether the inputs show as counts (otherwise volts).
    const std::array<int32_t, 8>& adcCounts() const { return m_adcCounts; }
    const std::array<int16_t, 8>& adcRanges() const { return m_adcRange; }
    bool showsCounts() const { return m_adcDisplay == 1; }

    PollLoop* pollLoop() const { return m_loop; }
    // The trend window the Trend button opened, while it is open.
    TrendWindow* trendWindow() const;

Q_SIGNALS:
    // After a good poll's values are decoded and shown; pollNumber is
    // the poll count then (the polls before this one since Scan).
    void inputsDecoded(int32_t pollNumber);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void load(const DeviceRecord& module);
    void scanClicked();
    void configClicked();
    void writeClicked();
    void trendClicked();
    void cycle(std::function<void(int16_t)> done);
    void showAnalogInputs(const Reply& reply);
    // Counts a one-shot write's outcome the way the poll loop counts polls.
    void writeDone(const Reply& reply);
    void refreshCounts();
    void updateButtons();

    Link& m_link;
    MessagePresenter& m_presenter;
    bool m_loaded = false;
    uint8_t m_slave = 0;
    uint8_t m_code = 0;
    std::array<int32_t, 8> m_adcCounts{};
    std::array<int16_t, 8> m_adcRange{};
    int16_t m_adcDisplay = 0; // 0 volts, 1 counts
    int16_t m_adcMode = 0;    // 0 "Auto", 1 "Manual"
    int16_t m_adcAverage = 3; // 0 none .. 3 eight samples
    QPointer<TrendWindow> m_trendWindow;

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

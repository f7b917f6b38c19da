#pragma once
// frmQIM_K520: the panel of the discrete modules QIM-K520 and QIM-K530
// (device codes 10 and 11). Each poll cycle writes the eight output states
// to holding register 0 and reads the eight input states back from it.

#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qim {

class FrameThrottle;
class PollLoop;
class StatePicture;
class StatusPanels;
struct Reply;

class frmQIM_K520 : public QWidget {
    Q_OBJECT
public:
    // Opens the one discrete panel, loaded for the selected module, or only
    // brings the open one forward (it keeps its module).
    static frmQIM_K520* open();
    static frmQIM_K520* instance() { return s_instance; }

    explicit frmQIM_K520(QWidget* parent = nullptr);

    uint8_t SlaveAddress = 0;
    uint8_t DeviceCode = 0;
    std::array<uint8_t, 8> InputState{};
    std::array<uint8_t, 8> OutputState{};
    int PollInterval = 100;

    PollLoop* pollLoop() const { return m_loop; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void load();
    void outputClick(int n, bool ticked);
    void scanClick();
    void cycle(std::function<void(int16_t)> done);
    void ShowInputs(uint16_t value);
    void refreshCounts();
    void setScanning(bool scanning);

    static inline QPointer<frmQIM_K520> s_instance;

    FrameThrottle* m_readings = nullptr;
    PollLoop* m_loop = nullptr;
    QLabel* m_lblAddress = nullptr;
    std::array<StatePicture*, 8> m_inputs{};
    std::array<StatePicture*, 8> m_outputPictures{};
    std::array<QCheckBox*, 8> m_outputs{};
    QLineEdit* m_scanTimer = nullptr;
    QPushButton* m_scan = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_close = nullptr;
    StatusPanels* m_sb = nullptr;
};

} // namespace qim

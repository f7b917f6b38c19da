#pragma once
// The panel of the discrete modules QIM-K520 and QIM-K530
// (device codes 10 and 11). Each poll cycle writes the eight output states
// to holding register 0 and reads the eight input states back from it.

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
class Link;
class MessagePresenter;
class PollLoop;
class StatePicture;
class StatusPanels;
struct DeviceRecord;
struct Reply;

class DiscretePanel : public QWidget {
    Q_OBJECT
public:
    // A window of its own, deleted when closed.
    DiscretePanel(Link& link, MessagePresenter& presenter, QWidget* parent = nullptr);

    // Loads the panel for module the first time; a panel that already shows
    // a module keeps it (opening it again only brings it forward).
    void showModule(const DeviceRecord& module);

    PollLoop* pollLoop() const { return m_loop; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void load(const DeviceRecord& module);
    void outputClicked(int n, bool ticked);
    void scanClicked();
    void cycle(std::function<void(int16_t)> done);
    void showInputs(uint16_t value);
    void refreshCounts();
    void setScanning(bool scanning);

    Link& m_link;
    MessagePresenter& m_presenter;
    bool m_loaded = false;
    uint8_t m_slave = 0;
    uint8_t m_code = 0;
    std::array<uint8_t, 8> m_inputState{};
    std::array<uint8_t, 8> m_outputState{};
    int m_pollInterval = 100;

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

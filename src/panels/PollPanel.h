#pragma once
// What the three module panels share: the poll interval box, Scan, Stop,
// Trend (where a panel has one) and Close, the status bar SB (errors, polls,
// state), the poll loop and the drawing of its readings at most once a
// frame. A panel talks only to a module of its own kind: for any other, every
// control that would send something stays off. Closing a panel always ends
// its loop: no further request goes out and its queued reads are dropped,
// while the writes it gave still go out.

#include "ConfigFile.h"
#include "DeviceCodes.h"
#include "PollLoop.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qim {

class FrameThrottle;
class Link;
class MessagePresenter;
class StatusPanels;
class TrendWindow;
struct DeviceRecord;
struct ModuleRequest;
struct Reply;

class PollPanel : public QWidget {
    Q_OBJECT
public:
    // Loads the panel for module the first time; a panel that already shows
    // a module keeps it (opening it again only brings it forward).
    void showModule(const DeviceRecord& module);
    PollLoop* pollLoop() const { return m_loop; }
    // The trend window the Trend button opened, while it is open.
    TrendWindow* trendWindow() const;

Q_SIGNALS:
    // After a good poll's values are decoded; pollNumber is the poll count
    // then (the polls before this one since Scan).
    void inputsDecoded(int32_t pollNumber);

protected:
    // A window of its own, deleted when closed, for the modules of kind.
    PollPanel(Link& link, MessagePresenter& presenter, ModuleKind kind);

    // Makes the shared controls where the panel's tab order wants them: the
    // interval box in intervalParent, then Scan, Stop, Trend (for a panel
    // that makes trend windows), Close, and the status bar. The panel places
    // them in its layout.
    void makePollControls(QWidget* intervalParent,
                          std::function<TrendWindow*()> makeTrendWindow = {});
    // Loads the panel: its address, "100" ms, zero counts, the panel's own
    // defaults, the controls enabled for its state. The constructor ends
    // with a load for no module.
    void load(const DeviceRecord& module);
    // Scan: the counts go to zero (even for an entry then refused), the
    // interval is checked, polling starts.
    void scan();
    // One read of a poll cycle: a reply that take() can store is drawn (at
    // most once a frame) and told to the trend; any other counts an error.
    void pollRead(const ModuleRequest& request, PollLoop::Done done,
                  std::function<bool(const Reply&)> take);
    // "Save Configuration..." (CmdSaveConfig) and "Open Configuration..."
    // (CmdOpenConfig), for a panel whose module has a configuration file.
    // Save takes what the panel's fields hold; Open fills them as typing the
    // file's values would, and sends nothing. A file that cannot be used is
    // told and changes nothing.
    void makeConfigControls(QWidget* parent);
    // What the fields hold, or nullopt once the panel has told why an entry
    // cannot be saved (the message its write button would give).
    virtual std::optional<ConfigFile::Settings> currentSettings() { return std::nullopt; }
    virtual void applySettings(const ConfigFile::Settings&) {}
    // A write of the panel's own waits for its reply: nothing else is sent
    // from the panel meanwhile.
    void setWriting(bool writing);
    void showCounts();
    void closeEvent(QCloseEvent* event) override;

    // The panel's own part: its poll cycle, its defaults at load, drawing
    // its readings, enabling what it sends.
    virtual void pollCycle(PollLoop::Done done) = 0;
    virtual void loadModule() = 0;
    virtual void drawReadings() = 0;
    virtual void enableCommands(bool) {}

    Link& m_link;
    MessagePresenter& m_presenter;
    uint8_t m_slave = 0;
    PollLoop* m_loop;
    QLabel* m_address;
    QLineEdit* m_interval = nullptr;
    QPushButton* m_scan = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_trend = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_saveConfig = nullptr;
    QPushButton* m_openConfig = nullptr;
    StatusPanels* m_sb = nullptr;

private:
    void updateControls();
    void saveConfig();
    void openConfig();
    QString suggestedConfigName() const;

    ModuleKind m_kind;
    bool m_loaded = false;
    bool m_ours = false;
    bool m_polling = false;
    bool m_writing = false;
    FrameThrottle* m_readings;
    QPointer<TrendWindow> m_trendWindow;
    QString m_configDir; // where the last configuration file was
};

} // namespace qim

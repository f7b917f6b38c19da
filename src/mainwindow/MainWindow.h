#pragma once
// The main window frmMain: the device list of the last scan, the information
// grid of the selected module, Control And Monitor, and the menus that open
// the connection dialog, the bus scan, the traffic window and the about box.
// It owns what the windows share for the run: the device table, the
// selection and the temperature module's registers.

#include "DeviceTable.h"
#include "TemperatureDialogs.h"
#include "TemperatureModule.h"

#include <QMainWindow>
#include <QPointer>
#include <map>

class QListWidget;
class QPushButton;
class QTableWidget;

namespace qim {

class AboutBox;
class ConnectionDialog;
class Link;
class MessagePresenter;
class PollPanel;
class ScanDialog;
class StatusPanels;
class TrafficWindow;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(Link& link, MessagePresenter& presenter, QWidget* parent = nullptr);
    ~MainWindow() override;

    const DeviceTable& devices() const { return m_devices; }
    // The device list's selected entry (0 after a scan starts).
    int selected() const { return m_selected; }

    // Open a window, or bring it forward when it is open already.
    void openConnection();
    void openScan();
    void openAbout();
    void openTraffic();
    // Opens (or brings forward) the panel for module's device code; false,
    // doing nothing, for a code without a panel.
    bool openPanel(const DeviceRecord& module);

Q_SIGNALS:
    // The user closed the main window: the program ends (the start-up quits
    // the application on it).
    void programEnding();

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void initDeviceInfoGrid();
    void fitGridColumns();
    void showDeviceInfo(int index);
    void showLinkState(bool connected, const QString& place);
    void deviceListClicked();
    void controlClicked();
    void openSelectedPanel();

    Link& m_link;
    MessagePresenter& m_presenter;
    DeviceTable m_devices;
    int m_selected = 0;
    // Kept for the run: what the user set survives closing the panel.
    TemperatureRegisters m_temperature;
    TemperatureDialogs m_temperatureDialogs{m_temperature, m_presenter};

    QListWidget* m_list;
    QTableWidget* m_grid;
    QPushButton* m_control;
    StatusPanels* m_status;
    QPointer<ConnectionDialog> m_connection;
    QPointer<ScanDialog> m_scan;
    QPointer<AboutBox> m_about;
    QPointer<TrafficWindow> m_traffic;
    // One panel of each kind of module.
    std::map<ModuleKind, QPointer<PollPanel>> m_panels;
};

} // namespace qim

#pragma once
// The main window frmMain: the device list of the last scan, the information
// grid of the selected module, Control And Monitor, and the menus that open
// the connection dialog, the bus scan and the about box.

#include <QMainWindow>
#include <QPointer>

class QAction;
class QListWidget;
class QMenu;
class QPushButton;
class QTableWidget;

namespace qim {

class AboutBox;
class CommSetupDialog;
class ScanBusDialog;
class StatusPanels;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The main window of the run, if it is up.
    static MainWindow* current();

    StatusPanels* statusPanels() const { return m_status; }
    QListWidget* deviceList() const { return m_list; }

    // The bus scan's hold on the device list.
    void clearDeviceList();
    void appendDevice(const QString& line);

    // Writes the thirteen fields of DeviceTable[index] into the grid.
    void ShowDeviceInfo(int index);

    // Open a window, or bring it forward when it is open already.
    void openCommSetup();
    void openScanBus();
    void openAbout();
    CommSetupDialog* commSetup() const;
    ScanBusDialog* scanBus() const;
    AboutBox* about() const;

Q_SIGNALS:
    // The user closed the main window: the program ends (the start-up quits
    // the application on it).
    void programEnding();

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void InitDeviceInfoGrid();
    void fitGridColumns();
    void DeviceList_Click();
    void CmdControl_Click();
    void openSelectedPanel();

    QListWidget* m_list;
    QTableWidget* m_grid;
    QPushButton* m_control;
    StatusPanels* m_status;
    QPointer<CommSetupDialog> m_commSetup;
    QPointer<ScanBusDialog> m_scanBus;
    QPointer<AboutBox> m_about;
};

// Text as a window shows it: a cleared field's NUL characters show as blanks.
QString Shown(const QString& text);

} // namespace qim

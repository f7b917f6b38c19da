#pragma once
// The bus scan dialog frmScanBus: asks every address of a range for its
// identification (Report Slave ID) and records the modules that answer.
//
// The scan is a state machine paced by the timer `Timer`:
//
//   Start (valid input) -> prepare -> Pausing
//   Pausing  --tick-->  Asking: the request to the current address
//   Asking   --reply--> 252: end, "Connection Error"
//                       count it, show counters and picture, restart the timer;
//                       last address: end; otherwise next address, then
//                       StopRequested? end : Pausing
//
// Stop is looked at once per address, after its reply: a Stop during a
// pause still lets that pause's request go out and be counted. An interval
// of 0 is a zero-length timer, so the loop never holds the event loop.

#include <QDialog>
#include <QPointer>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace qim {

class MainWindow;
class StatePicture;
struct Reply;

class ScanBusDialog : public QDialog {
    Q_OBJECT
public:
    explicit ScanBusDialog(MainWindow* main);
    ~ScanBusDialog() override;

    bool scanning() const { return m_state != State::Idle; }

    // The dialog's variables.
    int16_t StartAddress = 1;
    int16_t EndAddress = 247;
    int16_t PollInterval = 100;
    int16_t DeviceCount = 0;
    int16_t ErrorCount = 0;
    int16_t AnimFrame = 0;
    bool StopRequested = false;
    bool TimerTicked = false;

    enum class End { Natural, Stopped, ConnectionError, Closed };
    Q_ENUM(End)

Q_SIGNALS:
    void scanEnded(qim::ScanBusDialog::End how);

public Q_SLOTS:
    void done(int result) override; // Escape closes without a close event

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    enum class State { Idle, Pausing, Asking };

    void CmdStart_Click();
    void CmdStop_Click();
    void Timer_Timer();
    void ask();
    void onReply(const Reply& reply);
    void endScan(End how);
    void abandonScan();
    void setInputsEnabled(bool idle);

    QPointer<MainWindow> m_main;
    QLineEdit* m_start;
    QLineEdit* m_end;
    QLineEdit* m_time;
    QLabel* m_slaveAddress;
    QLabel* m_ipAddress;
    QLabel* m_deviceCount;
    QLabel* m_errorCount;
    StatePicture* m_anim;
    QPushButton* m_cmdStart;
    QPushButton* m_cmdStop;
    QPushButton* m_cmdClose;
    QTimer* m_timer;

    State m_state = State::Idle;
    uint8_t m_address = 0;
    QString m_hostCopy; // the link's host, copied at load when the link is TCP
};

} // namespace qim

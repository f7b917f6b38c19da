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
//                       Stop pressed? end : Pausing
//
// Stop is looked at once per address, after its reply: a Stop during a
// pause still lets that pause's request go out and be counted. An interval
// of 0 is a zero-length timer, so the loop never holds the event loop.

#include <QDialog>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace qim {

class DeviceTable;
class Link;
class MessagePresenter;
class StatePicture;
struct DeviceRecord;
struct Reply;

class ScanDialog : public QDialog {
    Q_OBJECT
public:
    // The scan fills devices, the owner's table, and tells what it found.
    ScanDialog(Link& link, MessagePresenter& presenter, DeviceTable& devices,
               QWidget* parent = nullptr);
    ~ScanDialog() override;

    bool scanning() const { return m_state != State::Idle; }

    enum class End { Natural, Stopped, ConnectionError, Closed };
    Q_ENUM(End)

Q_SIGNALS:
    // A scan starts: the table has been emptied.
    void scanStarted();
    // Entry index of the table holds a module that answered.
    void deviceFound(int index);
    void scanEnded(qim::ScanDialog::End how);

public Q_SLOTS:
    void done(int result) override; // Escape closes without a close event

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    enum class State { Idle, Pausing, Asking };

    void startClicked();
    void tick();
    void ask();
    void onReply(const Reply& reply);
    void endScan(End how);
    void abandonScan();
    void setInputsEnabled(bool idle);

    Link& m_link;
    MessagePresenter& m_presenter;
    DeviceTable& m_devices;

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
    int m_endAddress = 247;
    int m_found = 0;
    int m_errors = 0;
    int m_animFrame = 0;
    bool m_stopRequested = false;
    QString m_hostCopy; // the link's host, copied at load when the link is TCP
};

} // namespace qim

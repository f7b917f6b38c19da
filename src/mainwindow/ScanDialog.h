#pragma once
// The bus scan dialog frmScanBus: the entries, counters and picture of a
// bus scan (BusScan), which asks every address of a range for its
// identification and records the modules that answer in the owner's table.

#include "BusScan.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qim {

class DeviceTable;
class Link;
class MessagePresenter;
class StatePicture;

class ScanDialog : public QDialog {
    Q_OBJECT
public:
    // The scan fills devices, the owner's table, and tells what it found.
    ScanDialog(Link& link, MessagePresenter& presenter, DeviceTable& devices,
               QWidget* parent = nullptr);

    using End = BusScan::End;

Q_SIGNALS:
    // A scan starts: the table has been emptied.
    void scanStarted();
    // Entry index of the table holds a module that answered.
    void deviceFound(int index);
    void scanEnded(qim::BusScan::End how);

public Q_SLOTS:
    void done(int result) override; // Escape closes without a close event

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void startClicked();
    void answered(int address, int index);
    void scanFinished(End how);
    void setInputsEnabled(bool idle);

    Link& m_link;
    MessagePresenter& m_presenter;
    BusScan* m_scan;

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

    int m_animFrame = 0;
    QString m_hostCopy; // the link's host, copied at load when the link is TCP
};

} // namespace qim

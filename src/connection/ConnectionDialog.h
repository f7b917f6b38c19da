#pragma once
// The connection dialog frmCommSetup: choose the serial or the TCP link,
// edit its settings, and apply them: validate, store, test the link, and
// report the outcome in the main window's status bar.

#include "Reply.h"

#include <QDialog>
#include <QPointer>
#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qim {

class MainWindow;

class CommSetupDialog : public QDialog {
    Q_OBJECT
public:
    explicit CommSetupDialog(MainWindow* main);
    ~CommSetupDialog() override;

    // True from OK until the link test has reported.
    bool testing() const { return m_testing; }

    // Enables the controls of the serial link (mode 0) or of the TCP link.
    void UpdateModeControls(int16_t mode);

Q_SIGNALS:
    // The link test ended; Connected tells how.
    void testFinished(bool connected);

protected:
    void changeEvent(QEvent* e) override;

private:
    void ComboCommMode_Click();
    void ComboIPAddressMode_Click();
    void showPortDevice();
    void CmdOk_Click();
    void applySerial();
    void applyTcp();
    void startTest(void (*test)(Requester));
    static void showOutcome(MainWindow* main);
    void testDone();
    static void setStatus(MainWindow* main, const QString& state, const QString& where);

    QPointer<MainWindow> m_main;

    QComboBox* m_commMode;
    QRadioButton* m_rtu;
    QRadioButton* m_ascii;
    QComboBox* m_port;
    QLabel* m_portDevice;
    QComboBox* m_baud;
    QComboBox* m_stopBits;
    QLineEdit* m_serialTimeout;
    QLineEdit* m_ip;
    QLineEdit* m_serverPort;
    QLineEdit* m_connectTimeout;
    QLineEdit* m_tcpTimeout;
    QComboBox* m_ipMode;
    QLabel* m_ipNote;
    QPushButton* m_ok;
    QPushButton* m_cancel;

    // The working copies of the settings.
    int16_t m_wCommMode = 0;
    int16_t m_wPortIndex = 0;
    int16_t m_wBaudIndex = 0;
    int16_t m_wStopBitsIndex = 1;
    int16_t m_wSerialTimeout = 0;
    QString m_wIPAddress;
    int32_t m_wServerPort = 0;
    int16_t m_wTCPTimeout = 0;
    int16_t m_wConnectTimeout = 0;
    int16_t m_wIPAddressMode = 0;

    bool m_testing = false;
};

} // namespace qim

#pragma once
// The connection dialog frmCommSetup: choose the serial or the TCP link,
// edit its settings, and apply them: validate, store in the link, test the
// link, and report the outcome to whoever opened the dialog.

#include <QDialog>
#include <QPointer>
#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qim {

class Link;
class MessagePresenter;

class ConnectionDialog : public QDialog {
    Q_OBJECT
public:
    // Where the link state shows: (false, "") when Ok is pressed, (true,
    // place) when the test then connects. It outlives the dialog: the test
    // belongs to testOwner and still reports after the dialog has closed.
    using LinkState = std::function<void(bool connected, const QString& place)>;

    ConnectionDialog(Link& link, MessagePresenter& presenter, QObject* testOwner,
                     LinkState linkState, QWidget* parent = nullptr);

    // True from Ok until the link test has reported.

Q_SIGNALS:
    void testFinished(bool connected);

protected:
    void changeEvent(QEvent* e) override;

private:
    void modeChanged();
    void showPortDevice();
    void okClicked();
    void applySerial();
    void applyTcp();
    void startTest();
    void testDone(bool connected);

    Link& m_link;
    MessagePresenter& m_presenter;
    QPointer<QObject> m_testOwner;
    LinkState m_linkState;

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

    bool m_testing = false;
};

} // namespace qim

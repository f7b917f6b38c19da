#pragma once
// Modbus servers nobody here wrote, as independent peers for our link: Qt's
// QModbusTcpServer on a free loopback port, and QModbusRtuSerialServer on one
// end of a socat pty pair (19200 8N2, as the modules talk), the other end
// for our link. Header-only: only the tests that link Qt SerialBus use it.

#include <QFileInfo>
#include <QModbusRtuSerialServer>
#include <QModbusTcpServer>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <memory>

namespace qimtest {

// A loopback port free now (for a server that must be told its port up front).
inline quint16 freeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

inline std::unique_ptr<QModbusTcpServer> QtTcpServer(quint16 port) {
    auto server = std::make_unique<QModbusTcpServer>();
    server->setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                   QStringLiteral("127.0.0.1"));
    server->setConnectionParameter(QModbusDevice::NetworkPortParameter, port);
    return server;
}

// A socat pty pair in the runtime folder; ends when destroyed.
class PtyPair {
public:
    bool start() {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        m_ours = dir + QStringLiteral("/peer-ours");
        m_theirs = dir + QStringLiteral("/peer-theirs");
        m_socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=") + m_ours,
                                                QStringLiteral("pty,raw,echo=0,link=") + m_theirs});
        return m_socat.waitForStarted() && QTest::qWaitFor([this] {
                   return QFileInfo::exists(m_ours) && QFileInfo::exists(m_theirs);
               });
    }
    // The device our link opens (publish it as a COMn), and the peer's end.
    QString oursDevice() const { return QFileInfo(m_ours).symLinkTarget(); }
    QString theirs() const { return m_theirs; }
    ~PtyPair() {
        if (m_socat.state() != QProcess::NotRunning) {
            m_socat.terminate();
            m_socat.waitForFinished();
        }
    }

private:
    QProcess m_socat;
    QString m_ours;
    QString m_theirs;
};

inline std::unique_ptr<QModbusRtuSerialServer> QtRtuServer(const QString& device) {
    auto server = std::make_unique<QModbusRtuSerialServer>();
    server->setConnectionParameter(QModbusDevice::SerialPortNameParameter, device);
    server->setConnectionParameter(QModbusDevice::SerialBaudRateParameter, QSerialPort::Baud19200);
    server->setConnectionParameter(QModbusDevice::SerialDataBitsParameter, QSerialPort::Data8);
    server->setConnectionParameter(QModbusDevice::SerialParityParameter, QSerialPort::NoParity);
    server->setConnectionParameter(QModbusDevice::SerialStopBitsParameter, QSerialPort::TwoStop);
    return server;
}

} // namespace qimtest

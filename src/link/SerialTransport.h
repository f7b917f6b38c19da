#pragma once
// Modbus RTU over a serial port (COMn, 8 data bits, no parity, two stop
// bits). The port is named and set by the connection test and stays open
// between transactions.

#include "Transport.h"

#include <QSerialPort>

namespace qim {

class SerialTransport : public Transport {
    Q_OBJECT
public:
    explicit SerialTransport(QObject* parent = nullptr);

    void open(const LinkSettings& settings, bool test) override;
    void send(const QByteArray& request) override;
    QByteArray takeAll() override;
    void finish(bool keep) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    int replyTimeoutMs(const LinkSettings& s) const override { return s.serialTimeoutMs; }

private:
    bool configure(const LinkSettings& settings);
    QString resolve() const;
    void fail(QSerialPort::SerialPortError error);
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    int m_comPort = 0; // what the last test set; 0 = never set
    QString m_named;   // a device named in the settings, used instead of COMn
    QString m_device;  // the device COMn resolved to when the port was last named
    bool m_opening = false;
    bool m_active = false; // a transaction owns the port: its errors end it
};

} // namespace qim

#pragma once
// Modbus RTU over a serial port (COMn, 8 data bits, no parity, two stop
// bits). The port is named and set by the connection test and stays open
// between transactions.
//
// A unit that let its last request time out may still be answering it: its
// next request goes out only once the line has been quiet for one timeout,
// whatever arrives meanwhile dropped. Requests to other units are not held
// back (their replies are told apart by the unit they come from). A line
// that never goes quiet holds a request back for three timeouts at most.

#include "Transport.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>
#include <array>
#include <optional>

namespace qim {

class SerialTransport : public Transport {
    Q_OBJECT
public:
    explicit SerialTransport(QObject* parent = nullptr);

    QString name() const override { return QStringLiteral("RTU"); }
    QByteArray frame(const Request& request) const override { return Rtu::frame(request); }
    void open(const LinkSettings& settings, const Request* request) override;
    void send(const Request& request, const QByteArray& frame) override;
    Reply finish(bool final) override;
    const QByteArray& received() const override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    int replyTimeoutMs(const LinkSettings& s) const override { return s.serialTimeoutMs; }

private:
    bool configure(const LinkSettings& settings);
    QString resolve() const;
    void fail(QSerialPort::SerialPortError error);
    void onError(QSerialPort::SerialPortError error);
    void onReadyRead();
    // The input cleared, the request may go.
    void go();

    QSerialPort m_port;
    int m_comPort = 0; // what the last test set; 0 = never set
    QString m_named;   // a device named in the settings, used instead of COMn
    QString m_device;  // the device COMn resolved to when the port was last named
    bool m_opening = false;
    bool m_active = false;                   // a transaction owns the port: its errors end it
    bool m_stale = true;                     // the input may hold bytes no request asked for
    int m_unit = -1;                         // the unit of the request being opened for
    std::optional<Rtu::ReplyCollector> m_rx; // the reply of the request sent
    QTimer m_quiet;                          // runs while a request waits for the line to be quiet
    int m_quietMs = 0;
    qint64 m_quietEndMs = 0; // the latest the request waits until
    QElapsedTimer m_clock;
    qint64 m_lastByteMs = -1;
    std::array<qint64, 256> m_timedOutMs; // when each unit last timed out; -1: in step
};

} // namespace qim

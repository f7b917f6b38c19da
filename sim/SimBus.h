#pragma once
// qimsim: an emulated bus of QIM modules, served over Modbus TCP and over a
// Modbus RTU pty at the same time. Usable in-process (tests) and as the
// qimsim program (the demo's default bus).

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

namespace qimsim {

// What a module does wrong when asked, per function code (0 = every function).
struct Fault {
    enum Kind {
        None,
        Silence,       // no reply at all
        Delay,         // the good reply, after delayMs
        WrongCrc,      // RTU: the CRC's last byte flipped (TCP: no effect)
        ExtraByte,     // one byte appended to the reply
        MissingByte,   // the reply's last byte dropped
        Split,         // the reply in `pieces` pieces, pauseMs apart
        Exception,     // an exception reply with exceptionCode
        Garbage,       // `garbage` bytes instead of the reply
        CloseMidReply, // TCP: half the reply, then the connection closes (RTU: half the reply)
    };
    Kind kind = None;
    int delayMs = 0;
    int pieces = 2;
    int pauseMs = 50;
    uint8_t exceptionCode = 0;
    QByteArray garbage;
    int times = -1; // how many requests it applies to; -1 = until cleared
};

// One request as the bus received it, for tests to assert what was sent.
struct RequestRecord {
    QDateTime at;
    bool tcp = false;
    uint8_t address = 0;
    uint8_t function = 0;
    uint16_t start = 0;         // register or coil address (functions 3, 4, 5, 6, 16)
    uint16_t count = 0;         // functions 3, 4, 16
    QVector<uint16_t> values;   // the value (5, 6) or values (16) written
    uint16_t transactionId = 0; // TCP only
    QByteArray raw;             // the request frame as received
};

class Bus;

class Module {
public:
    virtual ~Module();
    uint8_t address() const { return m_address; }
    uint8_t deviceCode() const { return m_deviceCode; }

    // The 18-byte identification block this module answers Report Slave ID with.
    virtual QByteArray identification() const;

    // Register and coil access for tests; each model maps what exists.
    virtual std::optional<uint16_t> holding(int address) const;
    virtual std::optional<uint16_t> input(int address) const;
    virtual std::optional<bool> coil(int address) const;

    // Pins what a read of (function, address) returns, whatever the model
    // says, until cleared with nullopt; function 3 address 0 is the discrete
    // modules' inputs.
    void forceRead(int function, int address, std::optional<uint16_t> value);

    void setFault(int function, const Fault& fault);
    void clearFaults();

protected:
    Module(uint8_t address, uint8_t deviceCode);
    uint8_t m_address;
    uint8_t m_deviceCode;
    friend class Bus;
};

class Bus : public QObject {
    Q_OBJECT
public:
    explicit Bus(QObject* parent = nullptr);
    ~Bus() override;

    // A module of model deviceCode (10, 11, 20, 30, or any other code as an
    // unknown module) at address; replaces a module already there.
    Module* addModule(uint8_t address, uint8_t deviceCode);
    Module* module(uint8_t address) const;
    void removeModule(uint8_t address);

    // One module of each known model; addresses documented in the README.
    void addDemoModules();

    // Transports. Port 0 picks a free port; tcpPort() tells which.
    bool listenTcp(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 1502);
    quint16 tcpPort() const;
    // Creates a pty, serves RTU on it and publishes it as COMn (0: publish nothing).
    bool openPty(int comNumber = 2);
    QString ptyDevice() const;
    // Serves RTU on an existing serial device at 8N2.
    bool openSerial(const QString& device, int baudRate);
    // The port vanishes: the pty is closed, as when an adapter is pulled.
    void closePty();
    void stop();

    // Simulated time runs this many times faster than real time.
    void setSpeedFactor(double factor);

    // Handles one request PDU for a unit and returns the reply PDU (empty for
    // silence). Faults are applied by the transports, not here.
    QByteArray handle(uint8_t address, const QByteArray& pdu, RequestRecord* record = nullptr);

    QList<RequestRecord> requests() const;
    void clearRequests();

    bool verbose = false;

Q_SIGNALS:
    void requestReceived(const qimsim::RequestRecord& record);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace qimsim

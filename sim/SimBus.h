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
// Silence and Exception stand for a module that does not act on the request;
// with every other kind the request is carried out and only the reply suffers.
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
    QByteArray garbage; // empty: a few bytes of line noise
    int times = -1;     // how many requests it applies to; -1 = until cleared
};

// One request as the bus received it, for tests to assert what was sent.
struct RequestRecord {
    QDateTime at;
    bool tcp = false;
    uint8_t address = 0;
    uint8_t function = 0;
    uint16_t start = 0;         // register or coil address (functions 1, 3, 4, 5, 6, 16)
    uint16_t count = 0;         // functions 1, 3, 4, 16
    QVector<uint16_t> values;   // the value (5, 6) or values (16) written
    uint16_t transactionId = 0; // TCP only
    int connection = 0;         // TCP: which connection it came on, counted from 1
    QByteArray raw;             // the request frame as received
};

// The fields of the identification block a module answers Report Slave ID
// with (reply bytes 3..20).
struct Identity {
    uint8_t deviceCode = 0;
    uint8_t firmwareMajor = 1;
    uint8_t firmwareMinor = 0;
    char hardwareRevision = 'A';
    // 0 = RS422, anything else = TCP/IP; unset: the interface the request came over.
    std::optional<uint8_t> connectionMode;
    // 0 = 115200, 1 = 57600, 2 = 19200, 3 = 9600; unset: the speed the bus serves its line at.
    std::optional<uint8_t> baudCode;
    uint8_t inputRegisters = 0;
    uint8_t outputRegisters = 0;
    uint8_t discreteInputs = 0;
    uint8_t discreteOutputs = 0;
    uint16_t serialNumber = 0;
};

class Bus;

class Module {
public:
    virtual ~Module();
    uint8_t address() const { return m_address; }
    uint8_t deviceCode() const { return m_deviceCode; }

    // The 18-byte identification block this module answers Report Slave ID
    // with, as it answers over RTU or over TCP.
    virtual QByteArray identification(bool overTcp = false) const;
    Identity& identity() { return m_identity; }
    const Identity& identity() const { return m_identity; }
    // Pins the whole block (exactly 18 bytes), whatever the identity says;
    // an empty array unpins it.
    void setIdentification(const QByteArray& block);

    // Register and coil access for tests. holding() is the register image as
    // last written (for the discrete modules register 0 holds the outputs,
    // while a function 3 read of it returns the inputs); input() is what a
    // function 4 read returns now; coil() is the coil's state.
    virtual std::optional<uint16_t> holding(int address) const;
    virtual std::optional<uint16_t> input(int address) const;
    virtual std::optional<bool> coil(int address) const;

    // Pins what a read of (function, address) returns, whatever the model
    // says, until cleared with nullopt; function 3 address 0 is the discrete
    // modules' inputs.
    void forceRead(int function, int address, std::optional<uint16_t> value);

    void setFault(int function, const Fault& fault);
    void clearFaults();

    // The function codes this model answers (others: exception 1).
    virtual bool supports(uint8_t function) const;

protected:
    Module(uint8_t address, uint8_t deviceCode);
    // Simulated seconds of the bus this module sits on.
    double now() const;

    // The wire's view of the model. read() gives what a read of one address
    // returns (function 1, 3 or 4; nullopt: outside the map); writable() and
    // write() serve functions 6 and 16, writeCoil() function 5 (false:
    // outside the map). A write of several registers is checked whole before
    // any of it is stored.
    virtual std::optional<uint16_t> read(int function, int address) const;
    virtual bool writable(int address) const;
    virtual void write(int address, uint16_t value);
    virtual bool writeCoil(int address, bool on);

    uint8_t m_address;
    uint8_t m_deviceCode;
    Identity m_identity;

private:
    std::optional<Fault> takeFault(uint8_t function);

    const Bus* m_bus = nullptr;
    QByteArray m_pinnedIdentification;
    std::map<std::pair<int, int>, uint16_t> m_forced;
    std::map<int, Fault> m_faults;
    friend class Bus;
    friend struct Executor;
    friend struct Serving;
};

// How the Modbus TCP server treats its connections. By default it keeps
// each until the client closes it; many small gateways and module firmwares
// close theirs after one reply (or a few), or when idle.
struct TcpServing {
    int closeAfterReplies = 0; // close a connection after this many replies; 0: never
    int idleCloseMs = 0;       // close a connection idle this long; 0: never
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
    QList<Module*> modules() const;

    // One module of each known model; addresses documented in the README.
    void addDemoModules();

    // Transports. Port 0 picks a free port; tcpPort() tells which.
    bool listenTcp(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 1502);
    quint16 tcpPort() const;
    QString tcpError() const; // why the last listenTcp failed
    // For connections accepted from now on.
    void setTcpServing(const TcpServing& serving);
    TcpServing tcpServing() const;
    // Creates a pty, serves RTU on it and publishes it as COMn (0: publish nothing).
    bool openPty(int comNumber = 2);
    QString ptyDevice() const;
    // Serves RTU on an existing serial device at 8N2.
    bool openSerial(const QString& device, int baudRate);
    QString serialError() const; // why the last openPty or openSerial failed
    // The port vanishes: the pty is closed and its COMn entry removed, as
    // when an adapter is pulled.
    void closePty();
    void stop();

    // The line speed the modules report in their identification (19200 for
    // the pty unless openSerial says otherwise).
    int lineBaudRate() const;
    void setLineBaudRate(int baudRate);

    // Simulated time runs this many times faster than real time; 0 stops
    // it, so that only advanceTime moves it (for tests that must not race).
    void setSpeedFactor(double factor);
    double speedFactor() const;
    // Simulated seconds since the bus was made; advanceTime jumps ahead.
    double simulatedSeconds() const;
    void advanceTime(double seconds);

    // Silence on the RTU line after which a partial frame is dropped.
    void setRtuGapMs(int ms);

    // Handles one request PDU for a unit and returns the reply PDU (empty for
    // silence; a write to address 0 is carried out by every module). Faults
    // and the record are the transports' business, not this one's.
    QByteArray handle(uint8_t address, const QByteArray& pdu, RequestRecord* record = nullptr,
                      bool overTcp = false);

    QList<RequestRecord> requests() const;
    void clearRequests();
    // The record keeps at most this many requests, dropping the oldest.
    static constexpr int RecordLimit = 100000;

    // One line per request on standard output.
    bool verbose = false;

Q_SIGNALS:
    void requestReceived(const qimsim::RequestRecord& record);

private:
    struct Private;
    std::unique_ptr<Private> d;
    friend struct Serving;
    friend class TcpTransport;
    int nextTcpConnection();
};

// The JSON bus file (format in the README). On failure returns false, says
// why in error and leaves the bus as it was.
bool loadBusFile(const QString& path, Bus& bus, QString* error, double* speed = nullptr);
bool loadBusJson(const QByteArray& json, Bus& bus, QString* error, double* speed = nullptr);

} // namespace qimsim

Q_DECLARE_METATYPE(qimsim::RequestRecord)

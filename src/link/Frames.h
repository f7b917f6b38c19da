#pragma once
// Requests as the link queues them, the frames each link puts around them,
// and the rules that judge a reply. Pure functions: the transports feed them
// bytes, the tests and the fuzzer too.

#include <QByteArray>
#include <cstdint>
#include <span>

class QIODevice;

namespace qim {

enum class Function : uint8_t {
    ReadCoils = 1,
    ReadDiscreteInputs = 2,
    ReadHoldingRegisters = 3,
    ReadInputRegisters = 4,
    WriteSingleCoil = 5,
    WriteSingleRegister = 6,
    WriteMultipleRegisters = 16,
    ReportSlaveId = 17,
};

// One request, whichever link carries it: the unit it is for, its PDU
// (function code and data) and the length of the PDU of its good reply. The
// transaction identifier is what a Modbus TCP header carries.
struct Request {
    uint8_t unit = 0;
    QByteArray pdu;
    int replyLength = 0;
    uint16_t transactionId = 0;

    static Request readHoldingRegisters(uint8_t unit, int16_t start, int16_t count);
    static Request readInputRegisters(uint8_t unit, int16_t start, int16_t count);
    static Request reportSlaveId(uint8_t unit);
    static Request writeSingleCoil(uint8_t unit, int16_t address, int32_t value);
    static Request writeSingleRegister(uint8_t unit, int16_t address, int32_t value);
    // values is indexed by register address; values[start .. start+count-1] go out.
    static Request writeMultipleRegisters(uint8_t unit, int16_t start, int16_t count,
                                          std::span<const int32_t> values);

    uint8_t function() const { return pdu.isEmpty() ? 0 : static_cast<uint8_t>(pdu[0]); }
    // The 16-bit field at byte at of the PDU (0 beyond its end).
    uint16_t word(int at) const;
    // Functions 5, 6 and 16: a command, not a question.
    bool isWrite() const;
};

// The length in bytes of the serial exception reply and of the TCP one
// (MBAP header included).
constexpr int SerialExceptionLength = 5;
constexpr int TcpExceptionLength = 9;

// The length of the RTU frame that head starts, told from its own function
// code and byte count: 0 while more bytes are needed to tell, -1 for a
// function whose frames have no length of their own to go by.
int rtuFrameLength(const QByteArray& head);

// Judges a complete serial reply (everything that was waiting when the wait
// ended). A 5-byte reply is an exception only with bit 7 of its function
// code set; otherwise a length other than the expected one is 253.
int16_t evaluateSerialReply(const QByteArray& rx, int expectedLength);

// Judges the bytes received so far on a TCP connection (MBAP header
// included; expectedLength counts from the unit identifier on).
// complete = false means "keep collecting"; with finalCall set (timeout,
// peer closed) the verdict is always complete.
struct TcpVerdict {
    bool complete = false;
    int16_t status = 0;
};
TcpVerdict evaluateTcpReply(const QByteArray& rx, int expectedLength, bool finalCall);

// The status for an exception reply carrying code. Codes that would read as
// one of our own status values (252..255) are reported as a bad reply:
// a module must never be able to make a failure look like success.
int16_t exceptionStatus(uint8_t code);

// What a babbling line sends beyond this many bytes of one reply is
// dropped, as a serial driver's buffer would.
constexpr int LineBuffer = 2048;

// Collects the bytes of one request's reply as they arrive, at most
// LineBuffer of them, and says when the wait may end.
class ReplyCollector {
public:
    virtual ~ReplyCollector() = default;
    // Takes everything the device holds; true when the wait may end now.
    bool feed(QIODevice& device);
    // The status of what arrived, judged once the wait has ended; final: it
    // ended without the collector saying so (the timeout, the peer's close).
    virtual int16_t verdict(bool final) const = 0;
    // The reply's unit and PDU, without the link's framing.
    virtual QByteArray reply() const = 0;
    // What arrived, as it came.
    const QByteArray& bytes() const { return m_bytes; }

protected:
    virtual bool whole() = 0;
    QByteArray m_bytes;
};

namespace Rtu {

// The request with its unit address in front and its CRC behind.
QByteArray frame(const Request& request);

// The wait for a reply ends when exactly the expected number of bytes is
// there, or a whole exception reply (good CRC) of the unit and function asked.
// Anything else is judged at the timeout. It takes only the reply of the
// unit asked to the function asked: a whole frame of another unit or
// function ahead of it (a late reply to an earlier request) is dropped and
// the wait goes on; anything else that does not start as the reply asked
// for is a bad one.
class ReplyCollector : public qim::ReplyCollector {
public:
    explicit ReplyCollector(const Request& request);
    int16_t verdict(bool final) const override;
    QByteArray reply() const override;

private:
    bool whole() override;
    // What arrived starts as the reply asked for would (or nothing arrived).
    bool fromAsked() const;
    // Drops whole frames of another unit or function from the head; true when
    // what is left starts as the reply asked for would.
    bool dropOthers();

    int m_unit;
    int m_function;
    int m_expected; // the whole frame, address and CRC included
};

} // namespace Rtu

namespace Tcp {

// The request behind its MBAP header (transaction identifier, protocol 0,
// length) and unit identifier.
QByteArray frame(const Request& request);

// The wait for a reply on its connection ends when the reply is complete
// (expected length, or a whole exception reply), or when more than expected
// arrived.
class ReplyCollector : public qim::ReplyCollector {
public:
    explicit ReplyCollector(const Request& request) : m_expected(request.replyLength + 1) {}

    int16_t verdict(bool final) const override;
    QByteArray reply() const override { return m_bytes.mid(6); }

private:
    bool whole() override;
    int m_expected; // from the unit identifier on
};

} // namespace Tcp

} // namespace qim

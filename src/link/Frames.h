#pragma once
// Request frames of both links and the rules that judge a reply. Pure
// functions: the engines feed them bytes, the tests and the fuzzer too.

#include <QByteArray>
#include <cstdint>
#include <optional>
#include <span>

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

// The length in bytes of the serial exception reply and of the TCP one
// (MBAP header included).
constexpr int SerialExceptionLength = 5;
constexpr int TcpExceptionLength = 9;

// A request and the exact length of its good reply: for RTU the whole frame
// with CRC, for TCP counted from the unit identifier on.
struct Frame {
    QByteArray bytes;
    int expectedLength = 0;
};

namespace Rtu {
Frame ReadHoldingRegisters(uint8_t slave, int16_t start, int16_t count);
Frame ReadInputRegisters(uint8_t slave, int16_t start, int16_t count);
Frame ReportSlaveId(uint8_t slave);
Frame WriteSingleCoil(uint8_t slave, int16_t address, int32_t value);
Frame WriteSingleRegister(uint8_t slave, int16_t address, int32_t value);
// values is indexed by register address; values[start .. start+count-1] go out.
Frame WriteMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                             std::span<const int32_t> values);
} // namespace Rtu

namespace Tcp {
Frame ReadHoldingRegisters(int32_t transactionId, uint8_t slave, int16_t start, int16_t count);
Frame ReadInputRegisters(int32_t transactionId, uint8_t slave, int16_t start, int16_t count);
Frame ReportSlaveId(int32_t transactionId, uint8_t slave);
Frame WriteSingleCoil(int32_t transactionId, uint8_t slave, int16_t address, int32_t value);
Frame WriteSingleRegister(int32_t transactionId, uint8_t slave, int16_t address, int32_t value);
Frame WriteMultipleRegisters(int32_t transactionId, uint8_t slave, int16_t start, int16_t count,
                             std::span<const int32_t> values);
} // namespace Tcp

// The length of the RTU frame that head starts, told from its own function
// code and byte count: 0 while more bytes are needed to tell, -1 for a
// function whose frames have no length of their own to go by.
int RtuFrameLength(const QByteArray& head);

// Judges a complete serial reply (everything that was waiting when the wait
// ended). A 5-byte reply is an exception only with bit 7 of its function
// code set; otherwise a length other than the expected one is 253.
int16_t EvaluateSerialReply(const QByteArray& rx, int expectedLength);

// Judges the bytes received so far on a TCP connection (MBAP header
// included). complete = false means "keep collecting"; with finalCall set
// (timeout, peer closed) the verdict is always complete.
struct TcpVerdict {
    bool complete = false;
    int16_t status = 0;
};
TcpVerdict EvaluateTcpReply(const QByteArray& rx, int expectedLength, bool finalCall);

// The status for an exception reply carrying code. Codes that would read as
// one of our own status values (252..255) are reported as a bad reply:
// a module must never be able to make a failure look like success.
int16_t ExceptionStatus(uint8_t code);

} // namespace qim

namespace qim {

// Collects the bytes of one transaction's reply as they arrive and says when
// the wait may end; the engines and the fuzzer both drive it.
//  - serial: the wait ends early only when exactly the expected number of
//    bytes is there; anything else is judged at the timeout. Made for a
//    request, it takes only the reply of the unit asked to the function asked
//    (or its exception): a whole frame of another unit or function ahead of it
//    (a late reply to an earlier request) is dropped and the wait goes on;
//    anything else that does not start as the reply asked for is a bad one.
//  - TCP: the wait ends when the reply is complete (expected length, or a
//    whole exception reply), when more than expected arrived, or at the end.
// At most LineBuffer bytes are kept: what a babbling line sends beyond that
// is dropped, as a serial driver's buffer would.
class ReplyCollector {
public:
    static constexpr int LineBuffer = 2048;

    ReplyCollector(bool tcp, int expectedLength) : m_tcp(tcp), m_expected(expectedLength) {}
    ReplyCollector(bool tcp, const Frame& request);

    // Returns true when the wait may end now.
    bool feed(const QByteArray& bytes);
    // The status of what arrived, judged once the wait has ended.
    int16_t verdict(bool finalCall) const;
    const QByteArray& bytes() const { return m_bytes; }
    bool tcp() const { return m_tcp; }
    int expectedLength() const { return m_expected; }

private:
    // What arrived starts as the reply asked for would (or nothing arrived).
    bool fromAsked() const;
    // Drops whole frames of another unit or function from the head; true when
    // what is left starts as the reply asked for would.
    bool dropOthers();

    bool m_tcp;
    int m_expected;
    int m_unit = -1; // serial, made for a request: the unit and function asked
    int m_function = -1;
    QByteArray m_bytes;
};

} // namespace qim

#include "Frames.h"

#include "Bytes.h"
#include "Reply.h"

namespace qim {

namespace {

int32_t valueAt(std::span<const int32_t> values, int index) {
    // The caller passes its whole register image; a register beyond it goes out as 0.
    return index >= 0 && static_cast<size_t>(index) < values.size()
               ? values[static_cast<size_t>(index)]
               : 0;
}

// The PDU from the function code on, shared by both links.
QByteArray pdu(Function fn, int16_t a, int32_t b) {
    QByteArray f;
    f.append(static_cast<char>(fn));
    AppendWord(f, a);
    AppendWord(f, b);
    return f;
}

QByteArray pduMultiple(int16_t start, int16_t count, std::span<const int32_t> values) {
    QByteArray f;
    f.append(static_cast<char>(Function::WriteMultipleRegisters));
    AppendWord(f, start);
    AppendWord(f, count);
    f.append(static_cast<char>(LoByte(2 * count)));
    for (int i = 0; i < count; ++i)
        AppendWord(f, valueAt(values, start + i));
    return f;
}

Frame rtu(uint8_t slave, const QByteArray& body, int expected) {
    QByteArray f;
    f.append(static_cast<char>(slave));
    f.append(body);
    const int32_t crc = CRC16(f, static_cast<int>(f.size()));
    f.append(static_cast<char>(LoByte(crc)));
    f.append(static_cast<char>(HiByte(crc)));
    return {f, expected};
}

Frame tcp(int32_t transactionId, uint8_t slave, const QByteArray& body, int expected) {
    QByteArray f;
    AppendWord(f, transactionId);
    AppendWord(f, 0);
    f.append('\0');
    f.append(static_cast<char>(LoByte(static_cast<int32_t>(body.size()) + 1)));
    f.append(static_cast<char>(slave));
    f.append(body);
    return {f, expected};
}

bool exceptionBit(const QByteArray& rx, int functionIndex) {
    return rx.size() > functionIndex && (static_cast<uint8_t>(rx[functionIndex]) & 0x80u);
}

} // namespace

namespace Rtu {
Frame ReadHoldingRegisters(uint8_t slave, int16_t start, int16_t count) {
    return rtu(slave, pdu(Function::ReadHoldingRegisters, start, count), 2 * count + 5);
}
Frame ReadInputRegisters(uint8_t slave, int16_t start, int16_t count) {
    return rtu(slave, pdu(Function::ReadInputRegisters, start, count), 2 * count + 5);
}
Frame ReportSlaveId(uint8_t slave) {
    return rtu(slave, QByteArray(1, static_cast<char>(Function::ReportSlaveId)), 23);
}
Frame WriteSingleCoil(uint8_t slave, int16_t address, int32_t value) {
    return rtu(slave, pdu(Function::WriteSingleCoil, address, value), 8);
}
Frame WriteSingleRegister(uint8_t slave, int16_t address, int32_t value) {
    return rtu(slave, pdu(Function::WriteSingleRegister, address, value), 8);
}
Frame WriteMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                             std::span<const int32_t> values) {
    return rtu(slave, pduMultiple(start, count, values), 8);
}
} // namespace Rtu

namespace Tcp {
Frame ReadHoldingRegisters(int32_t id, uint8_t slave, int16_t start, int16_t count) {
    return tcp(id, slave, pdu(Function::ReadHoldingRegisters, start, count), 2 * count + 3);
}
Frame ReadInputRegisters(int32_t id, uint8_t slave, int16_t start, int16_t count) {
    return tcp(id, slave, pdu(Function::ReadInputRegisters, start, count), 2 * count + 3);
}
Frame ReportSlaveId(int32_t id, uint8_t slave) {
    return tcp(id, slave, QByteArray(1, static_cast<char>(Function::ReportSlaveId)), 21);
}
Frame WriteSingleCoil(int32_t id, uint8_t slave, int16_t address, int32_t value) {
    return tcp(id, slave, pdu(Function::WriteSingleCoil, address, value), 6);
}
Frame WriteSingleRegister(int32_t id, uint8_t slave, int16_t address, int32_t value) {
    return tcp(id, slave, pdu(Function::WriteSingleRegister, address, value), 6);
}
Frame WriteMultipleRegisters(int32_t id, uint8_t slave, int16_t start, int16_t count,
                             std::span<const int32_t> values) {
    return tcp(id, slave, pduMultiple(start, count, values), 6);
}
} // namespace Tcp

int16_t ExceptionStatus(uint8_t code) {
    return code >= Status::LinkDown ? Status::WrongLength : static_cast<int16_t>(code);
}

int RtuFrameLength(const QByteArray& head) {
    if (head.size() < 2)
        return 0;
    const uint8_t function = static_cast<uint8_t>(head[1]);
    if (function & 0x80u)
        return SerialExceptionLength;
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 17:
        return head.size() < 3 ? 0 : 5 + static_cast<uint8_t>(head[2]);
    case 5:
    case 6:
    case 15:
    case 16:
        return 8;
    default:
        return -1;
    }
}

int16_t EvaluateSerialReply(const QByteArray& rx, int expectedLength) {
    const int n = static_cast<int>(rx.size());
    const bool exceptionShape = n == SerialExceptionLength && exceptionBit(rx, 1);
    if (n != expectedLength && !exceptionShape)
        return Status::WrongLength;
    if (n < 3 || !CheckCRC(rx, n))
        return n < 3 ? Status::WrongLength : Status::CrcError;
    if (exceptionBit(rx, 1))
        return ExceptionStatus(static_cast<uint8_t>(rx[2]));
    return Status::Ok;
}

TcpVerdict EvaluateTcpReply(const QByteArray& rx, int expectedLength, bool finalCall) {
    const int n = static_cast<int>(rx.size());
    const int good = expectedLength + 6;
    if (n == good && n >= 9) {
        if (exceptionBit(rx, 7))
            return {true, ExceptionStatus(static_cast<uint8_t>(rx[8]))};
        return {true, Status::Ok};
    }
    if (n == TcpExceptionLength && exceptionBit(rx, 7))
        return {true, ExceptionStatus(static_cast<uint8_t>(rx[8]))};
    if (n > good || finalCall)
        return {true, Status::WrongLength};
    return {false, 0};
}

} // namespace qim

namespace qim {

ReplyCollector::ReplyCollector(bool tcp, const Frame& request)
    : ReplyCollector(tcp, request.expectedLength) {
    if (!tcp && request.bytes.size() >= 2) {
        m_unit = static_cast<uint8_t>(request.bytes[0]);
        m_function = static_cast<uint8_t>(request.bytes[1]);
    }
}

bool ReplyCollector::fromAsked() const {
    if (m_unit < 0 || m_bytes.isEmpty())
        return true;
    return static_cast<uint8_t>(m_bytes[0]) == m_unit &&
           (m_bytes.size() < 2 || (static_cast<uint8_t>(m_bytes[1]) & 0x7F) == m_function);
}

bool ReplyCollector::dropOthers() {
    while (!fromAsked()) {
        // Only a whole frame with a good CRC is known to be another one's;
        // anything else stays, and is a bad reply.
        const int n = RtuFrameLength(m_bytes);
        if (n <= 0 || m_bytes.size() < n || !CheckCRC(m_bytes, n))
            return false;
        m_bytes.remove(0, n);
    }
    return true;
}

bool ReplyCollector::feed(const QByteArray& bytes) {
    const qsizetype room = LineBuffer - m_bytes.size();
    if (room > 0)
        m_bytes.append(bytes.constData(), std::min(room, bytes.size()));
    if (m_tcp)
        return EvaluateTcpReply(m_bytes, m_expected, false).complete;
    return dropOthers() && m_bytes.size() == m_expected;
}

int16_t ReplyCollector::verdict(bool finalCall) const {
    if (m_tcp)
        return EvaluateTcpReply(m_bytes, m_expected, finalCall).status;
    return fromAsked() ? EvaluateSerialReply(m_bytes, m_expected) : Status::WrongLength;
}

} // namespace qim

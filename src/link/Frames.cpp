#include "Frames.h"

#include "Bytes.h"
#include "Reply.h"

#include <QIODevice>
#include <algorithm>
#include <cstring>

namespace qim {

namespace {

int32_t valueAt(std::span<const int32_t> values, int index) {
    // The caller passes its whole register image; a register beyond it goes out as 0.
    return index >= 0 && static_cast<size_t>(index) < values.size()
               ? values[static_cast<size_t>(index)]
               : 0;
}

void putWord(char* at, int32_t value) {
    qToBigEndian(static_cast<quint16>(value), at);
}

// The PDU of the functions that carry two 16-bit fields.
Request twoFields(uint8_t unit, Function fn, int16_t a, int32_t b, int replyLength) {
    QByteArray pdu(5, Qt::Uninitialized);
    pdu[0] = static_cast<char>(fn);
    putWord(pdu.data() + 1, a);
    putWord(pdu.data() + 3, b);
    return {unit, pdu, replyLength};
}

bool exceptionBit(const QByteArray& rx, int functionIndex) {
    return rx.size() > functionIndex && (static_cast<uint8_t>(rx[functionIndex]) & 0x80u);
}

} // namespace

Request Request::readHoldingRegisters(uint8_t unit, int16_t start, int16_t count) {
    return twoFields(unit, Function::ReadHoldingRegisters, start, count, 2 * count + 2);
}

Request Request::readInputRegisters(uint8_t unit, int16_t start, int16_t count) {
    return twoFields(unit, Function::ReadInputRegisters, start, count, 2 * count + 2);
}

Request Request::reportSlaveId(uint8_t unit) {
    return {unit, QByteArray(1, static_cast<char>(Function::ReportSlaveId)), 20};
}

Request Request::writeSingleCoil(uint8_t unit, int16_t address, int32_t value) {
    return twoFields(unit, Function::WriteSingleCoil, address, value, 5);
}

Request Request::writeSingleRegister(uint8_t unit, int16_t address, int32_t value) {
    return twoFields(unit, Function::WriteSingleRegister, address, value, 5);
}

Request Request::writeMultipleRegisters(uint8_t unit, int16_t start, int16_t count,
                                        std::span<const int32_t> values) {
    Request r = twoFields(unit, Function::WriteMultipleRegisters, start, count, 5);
    r.pdu.reserve(6 + 2 * qMax<int>(count, 0));
    r.pdu.append(static_cast<char>(loByte(2 * count)));
    for (int i = 0; i < count; ++i)
        appendWord(r.pdu, valueAt(values, start + i));
    return r;
}

uint16_t Request::word(int at) const {
    return at >= 0 && at + 1 < pdu.size() ? wordAt(pdu, at) : 0;
}

bool Request::isWrite() const {
    const auto fn = static_cast<Function>(function());
    return fn == Function::WriteSingleCoil || fn == Function::WriteSingleRegister ||
           fn == Function::WriteMultipleRegisters;
}

bool ReplyCollector::feed(QIODevice& device) {
    const qint64 available = device.bytesAvailable();
    const qint64 take = std::clamp<qint64>(LineBuffer - m_bytes.size(), 0, available);
    if (take > 0) {
        const qsizetype at = m_bytes.size();
        m_bytes.resize(at + take);
        m_bytes.resize(at + std::max<qint64>(device.read(m_bytes.data() + at, take), 0));
    }
    if (available > take)
        device.skip(available - take);
    return whole();
}

int16_t exceptionStatus(uint8_t code) {
    return code >= Status::LinkDown ? Status::WrongLength : static_cast<int16_t>(code);
}

int rtuFrameLength(const QByteArray& head) {
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

int16_t evaluateSerialReply(const QByteArray& rx, int expectedLength) {
    const int n = static_cast<int>(rx.size());
    const bool exceptionShape = n == SerialExceptionLength && exceptionBit(rx, 1);
    if (n != expectedLength && !exceptionShape)
        return Status::WrongLength;
    if (n < 3 || !checkCRC(rx, n))
        return n < 3 ? Status::WrongLength : Status::CrcError;
    if (exceptionBit(rx, 1))
        return exceptionStatus(static_cast<uint8_t>(rx[2]));
    return Status::Ok;
}

TcpVerdict evaluateTcpReply(const QByteArray& rx, int expectedLength, bool finalCall) {
    const int n = static_cast<int>(rx.size());
    const int good = expectedLength + 6;
    if (n == good && n >= 9) {
        if (exceptionBit(rx, 7))
            return {true, exceptionStatus(static_cast<uint8_t>(rx[8]))};
        return {true, Status::Ok};
    }
    if (n == TcpExceptionLength && exceptionBit(rx, 7))
        return {true, exceptionStatus(static_cast<uint8_t>(rx[8]))};
    if (n > good || finalCall)
        return {true, Status::WrongLength};
    return {false, 0};
}

namespace Rtu {

QByteArray frame(const Request& request) {
    const auto n = static_cast<int>(request.pdu.size()) + 1;
    QByteArray f(n + 2, Qt::Uninitialized);
    f[0] = static_cast<char>(request.unit);
    std::memcpy(f.data() + 1, request.pdu.constData(), static_cast<size_t>(n - 1));
    const int32_t crc = crc16(f, n);
    f[n] = static_cast<char>(loByte(crc));
    f[n + 1] = static_cast<char>(hiByte(crc));
    return f;
}

ReplyCollector::ReplyCollector(const Request& request)
    : m_unit(request.unit), m_function(request.function()), m_expected(request.replyLength + 3) {}

bool ReplyCollector::fromAsked() const {
    if (m_bytes.isEmpty())
        return true;
    return static_cast<uint8_t>(m_bytes[0]) == m_unit &&
           (m_bytes.size() < 2 || (static_cast<uint8_t>(m_bytes[1]) & 0x7F) == m_function);
}

bool ReplyCollector::dropOthers() {
    while (!fromAsked()) {
        // Only a whole frame with a good CRC is known to be another one's;
        // anything else stays, and is a bad reply.
        const int n = rtuFrameLength(m_bytes);
        if (n <= 0 || m_bytes.size() < n || !checkCRC(m_bytes, n))
            return false;
        m_bytes.remove(0, n);
    }
    return true;
}

bool ReplyCollector::whole() {
    if (!dropOthers())
        return false;
    // An exception reply is whole at five bytes: nothing more is coming.
    const bool exception = m_bytes.size() == SerialExceptionLength && exceptionBit(m_bytes, 1) &&
                           checkCRC(m_bytes, SerialExceptionLength);
    return m_bytes.size() == m_expected || exception;
}

int16_t ReplyCollector::verdict(bool) const {
    // The same whatever ended the wait: only a frame's own length tells.
    return fromAsked() ? evaluateSerialReply(m_bytes, m_expected) : Status::WrongLength;
}

QByteArray ReplyCollector::reply() const {
    // Without the CRC; a piece too short to hold one is kept whole: it still
    // tells that something came.
    return m_bytes.size() > 2 ? m_bytes.first(m_bytes.size() - 2) : m_bytes;
}

} // namespace Rtu

namespace Tcp {

QByteArray frame(const Request& request) {
    const auto n = static_cast<int>(request.pdu.size());
    QByteArray f(7 + n, Qt::Uninitialized);
    putWord(f.data(), request.transactionId);
    putWord(f.data() + 2, 0);
    putWord(f.data() + 4, loByte(n + 1));
    f[6] = static_cast<char>(request.unit);
    std::memcpy(f.data() + 7, request.pdu.constData(), static_cast<size_t>(n));
    return f;
}

bool ReplyCollector::whole() {
    return evaluateTcpReply(m_bytes, m_expected, false).complete;
}

int16_t ReplyCollector::verdict(bool final) const {
    return evaluateTcpReply(m_bytes, m_expected, final).status;
}

} // namespace Tcp

} // namespace qim

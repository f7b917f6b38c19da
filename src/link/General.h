#pragma once
// Program-wide link settings, link state and the byte functions every frame
// builder and panel shares. One thread only: everything here is touched from
// the user-interface thread.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <span>

namespace qim {

namespace General {

// Link settings (defaults are assigned by AssignLinkDefaults when the main
// window loads; the connection dialog overwrites them).
inline int16_t CommMode = 0;     // 0 = serial RS422, anything else = Modbus TCP
inline int16_t ComPortIndex = 1; // 0..31 -> COM1..COM32
inline int16_t BaudIndex = 1;    // 0 = 9600, 1 = 19200, 2 = 57600, 3 = 115200
inline int16_t SerialTimeout = 1000;
inline QString IPAddress = QStringLiteral("192.168.1.0");
inline int32_t ServerPort = 502;
inline int16_t TCPTimeout = 1000;
inline int16_t TCPConnectTimeout = 3000;
inline int16_t IPAddressMode = 0;

// Link state: the result of the last transaction, whoever asked for it.
inline bool Connected = false;
inline int16_t CommStatus = 0;
inline QByteArray TxBuffer;
inline QByteArray RxBuffer;
inline int32_t RxCount = 0;
inline int32_t TransactionId = 0;

} // namespace General

// CommStatus values other than an exception code.
namespace Status {
constexpr int16_t Ok = 255;
constexpr int16_t CrcError = 254;
constexpr int16_t WrongLength = 253; // also: no reply before the timeout
constexpr int16_t LinkDown = 252;
} // namespace Status

// The length in bytes of the serial exception reply and of the TCP one
// (MBAP header included).
constexpr int SerialExceptionLength = 5;
constexpr int TcpExceptionLength = 9;

void AssignLinkDefaults();
// Below 65535 add one, otherwise wrap to 0.
void AdvanceTransactionId();
int BaudRateOf(int baudIndex); // 0 for an index outside 0..3
QString PortUnavailableMessage();

// CRC-16/MODBUS of data[0..n-1]; n <= 0 gives 0xFFFF.
int32_t CRC16(std::span<const uint8_t> data, int n);
int32_t CRC16(const QByteArray& data, int n);
// True when frame[n-2], frame[n-1] hold the CRC of frame[0..n-3], low byte first.
bool CheckCRC(const QByteArray& frame, int n);
uint8_t ByteOf(int32_t value, int index);
inline uint8_t HiByte(int32_t value) {
    return ByteOf(value, 1);
}
inline uint8_t LoByte(int32_t value) {
    return ByteOf(value, 0);
}
uint8_t PackBits(std::span<const uint8_t> bits);
uint8_t GetBit(uint8_t value, uint8_t bit);

// Nearest integer, halves to even (the rounding every typed number gets).
double RoundHalfEven(double v);

} // namespace qim

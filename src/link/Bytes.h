#pragma once
// The byte arithmetic of Modbus frames that the link, the simulator and the
// module decoders share.

#include <QByteArray>
#include <QtEndian>
#include <cstdint>
#include <span>

namespace qim {

// CRC-16/MODBUS of data[0..n-1]; n <= 0 gives 0xFFFF.
int32_t crc16(std::span<const uint8_t> data, int n);
int32_t crc16(const QByteArray& data, int n);
// True when frame[n-2], frame[n-1] hold the CRC of frame[0..n-3], low byte first.
bool checkCRC(const QByteArray& frame, int n);

// Byte index (0 = least significant) of value; 0 outside 0..3.
uint8_t byteOf(int32_t value, int index);
inline uint8_t hiByte(int32_t value) {
    return byteOf(value, 1);
}
inline uint8_t loByte(int32_t value) {
    return byteOf(value, 0);
}
// A register as it travels: high byte first.
inline void appendWord(QByteArray& frame, int32_t value) {
    char word[2];
    qToBigEndian(static_cast<quint16>(value), word);
    frame.append(word, 2);
}
inline uint16_t wordAt(const QByteArray& bytes, int at) {
    return qFromBigEndian<quint16>(bytes.constData() + at);
}

// Bit i of the result is bits[i] & 1, for the first eight.
uint8_t packBits(std::span<const uint8_t> bits);
uint8_t getBit(uint8_t value, uint8_t bit);

// Nearest integer, halves to even (the rounding every typed number gets).
double roundHalfEven(double v);

} // namespace qim

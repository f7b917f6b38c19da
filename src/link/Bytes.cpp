#include "Bytes.h"

#include <array>
#include <cmath>

namespace qim {

namespace {
// The CRC of each byte value taken one bit at a time, so that a frame's CRC
// takes one step per byte.
constexpr std::array<uint16_t, 256> crcTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t value = 0; value < 256; ++value) {
        uint32_t crc = value;
        for (int bit = 0; bit < 8; ++bit) {
            const bool lsb = crc & 1u;
            crc >>= 1;
            if (lsb)
                crc ^= 0xA001;
        }
        table[value] = static_cast<uint16_t>(crc);
    }
    return table;
}
constexpr std::array<uint16_t, 256> CrcTable = crcTable();
} // namespace

int32_t crc16(std::span<const uint8_t> data, int n) {
    uint32_t crc = 0xFFFF;
    const int end = std::min<int>(n, static_cast<int>(data.size()));
    for (int i = 0; i < end; ++i)
        crc = (crc >> 8) ^ CrcTable[(crc ^ data[static_cast<size_t>(i)]) & 0xFFu];
    return static_cast<int32_t>(crc);
}

int32_t crc16(const QByteArray& data, int n) {
    return crc16(std::span(reinterpret_cast<const uint8_t*>(data.constData()),
                           static_cast<size_t>(data.size())),
                 n);
}

bool checkCRC(const QByteArray& frame, int n) {
    // Only ever asked about frames of at least five bytes; anything shorter
    // cannot carry a CRC and fails instead of reading outside the frame.
    if (n < 3 || n > frame.size())
        return false;
    const int32_t crc = crc16(frame, n - 2);
    return loByte(crc) == static_cast<uint8_t>(frame[n - 2]) &&
           hiByte(crc) == static_cast<uint8_t>(frame[n - 1]);
}

uint8_t byteOf(int32_t value, int index) {
    if (index < 0 || index > 3)
        return 0;
    return static_cast<uint8_t>((static_cast<uint32_t>(value) >> (8 * index)) & 0xFFu);
}

uint8_t packBits(std::span<const uint8_t> bits) {
    unsigned sum = 0;
    for (size_t i = 0; i < bits.size() && i < 8; ++i)
        sum += static_cast<unsigned>(bits[i] & 1u) << i;
    return static_cast<uint8_t>(sum);
}

uint8_t getBit(uint8_t value, uint8_t bit) {
    return bit > 7 ? 0 : (value >> bit) & 1u;
}

double roundHalfEven(double v) {
    return std::nearbyint(v);
}

} // namespace qim

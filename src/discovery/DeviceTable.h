#pragma once
// The device table: what the last bus scan found, in discovery order, and
// the decoding of a module's identification block into it. Widget-free.

#include "Reply.h"

#include <QString>
#include <array>
#include <cstdint>

namespace qim {

// A text field of fixed length: stored values are left-aligned, padded with
// spaces and cut to the length; a cleared field holds NUL characters.
template <int N> struct FixedText {
    QString text = QString(N, QChar(0));
    void set(const QString& v) { text = v.left(N).leftJustified(N, QLatin1Char(' ')); }
    void clear() { text = QString(N, QChar(0)); }
    static constexpr int length = N;
};

struct DeviceRecord {
    FixedText<32> DeviceName;
    uint8_t DeviceCode = 0;
    uint8_t DeviceAddress = 0;
    FixedText<32> Vendor;
    FixedText<32> FirmwareRevision;
    FixedText<32> HardwareRevision;
    FixedText<32> ConnectionMode;
    FixedText<32> BaudRate;
    FixedText<64> DeviceType;
    uint8_t InputRegisters = 0;
    uint8_t OutputRegisters = 0;
    uint8_t DiscreteInputs = 0;
    uint8_t DiscreteOutputs = 0;

    void clear() { *this = DeviceRecord{}; }
};

constexpr int DeviceTableSize = 248;
inline std::array<DeviceRecord, DeviceTableSize> DeviceTable{};
// The device list position (= table index) of the selected module.
inline int16_t SelectedAddress = 0;

void ClearDeviceTable();

// Bytes an identification reply must hold, from the slave address on, to be
// decoded (indices 0..15).
constexpr int IdentificationMinimum = 16;

// Decodes a Report Slave ID reply into DeviceTable[index]. Returns false, and
// stores nothing, when the index is outside the table or the reply is too
// short to decode.
bool AddFoundDevice(int index, const Reply& reply);

// The device list's line for an entry: the 32-character name, 10 spaces, the address.
QString DeviceListLine(const DeviceRecord& r);

// Model name and description for a device code; empty for an unlisted code.
QString DeviceNameOf(uint8_t code);
QString DeviceTypeOf(uint8_t code);
// The baud rate text of a module's baud code (0 = 115200 .. 3 = 9600); empty if unlisted.
QString BaudRateTextOf(uint8_t code);

} // namespace qim

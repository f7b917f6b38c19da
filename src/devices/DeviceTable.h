#pragma once
// The device table: what the last bus scan found, and the decoding of a
// module's identification block into it.

#include "DeviceCodes.h"
#include "LinkSettings.h"
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
    FixedText<32> name;
    uint8_t code = 0;
    uint8_t address = 0;
    FixedText<32> vendor;
    FixedText<32> firmwareRevision;
    FixedText<32> hardwareRevision;
    FixedText<32> connectionMode;
    FixedText<32> baudRate;
    FixedText<64> type;
    uint8_t inputRegisters = 0;
    uint8_t outputRegisters = 0;
    uint8_t discreteInputs = 0;
    uint8_t discreteOutputs = 0;
};

// What the last bus scan found: entry i is the i-th module found, in
// discovery order.
class DeviceTable {
public:
    static constexpr int Size = 248;
    // An index outside the table gives an empty record.
    const DeviceRecord& at(int index) const;
    void clear();
    // Decodes a Report Slave ID reply into entry index. Returns false, and
    // stores nothing, when the index is outside the table or the reply is
    // too short to decode.
    bool addFoundDevice(int index, const Reply& reply);

private:
    std::array<DeviceRecord, Size> m_records{};
};

// Bytes an identification reply must hold, from the slave address on, to be
// decoded (indices 0..15).
constexpr int IdentificationMinimum = 16;

// The device list's line for an entry: the 32-character name (a cleared one
// as blanks), 10 spaces, the address.
QString deviceListLine(const DeviceRecord& r);

// The rows of the main window's device information, in order: caption and
// the field as shown (NUL padding of a cleared field as blanks).
struct DeviceField {
    const char* caption;
    QString shown;
};
constexpr int DeviceFieldCount = 13;
std::array<DeviceField, DeviceFieldCount> deviceFields(const DeviceRecord& r);

// The line speed a module's identification reports: its baud code counts
// down from the fastest (0 = 115200 .. 3 = 9600); nullopt for an unlisted code.
std::optional<LineSpeed> identifiedLineSpeed(uint8_t code);

} // namespace qim

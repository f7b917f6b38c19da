#pragma once

#include "Bytes.h"

#include <QByteArray>
#include <functional>
#include <optional>

class QObject;

namespace qim {

// A transaction's status: an exception code (1..251) or one of these.
namespace Status {
constexpr int16_t Ok = 255;
constexpr int16_t CrcError = 254;
constexpr int16_t WrongLength = 253; // also: no reply before the timeout
constexpr int16_t LinkDown = 252;
} // namespace Status

// What one transaction brought back, handed to its requester: the reply's
// unit and PDU, without the framing of the link it came by (the serial CRC,
// the TCP header): byte 0 the unit, 1 the function, 2 a read's byte count,
// register k at 3 + 2k.
struct Reply {
    int16_t status = 0;
    QByteArray bytes;

    bool ok() const { return status == Status::Ok; }
    bool holds(int n) const { return bytes.size() >= n; }
    // Register k of a read reply (at bytes 3 + 2k and 4 + 2k), if it arrived.
    std::optional<uint16_t> reg(int k) const {
        if (k < 0 || !holds(5 + 2 * k))
            return std::nullopt;
        return wordAt(bytes, 3 + 2 * k);
    }
    // A good read reply that carries at least count registers.
    bool hasRegisters(int count) const { return ok() && holds(3 + 2 * count); }
    uint8_t byteAt(int i) const {
        return i >= 0 && i < bytes.size() ? static_cast<uint8_t>(bytes[i]) : 0;
    }
};

using Completion = std::function<void(const Reply&)>;

// Who asks, and what to call when the answer is in. A read whose requester
// is destroyed before its turn is dropped; a write still goes out. Either
// way a requester destroyed is not called. A coalesceKey >= 0 replaces a
// still-queued request of the same key: a read of the same requester, a
// write to the same module and address (a slider's newer position replaces
// the one not yet sent).
struct Requester {
    QObject* context = nullptr;
    Completion done;
    int coalesceKey = -1;
};

} // namespace qim

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

// What one transaction brought back, handed to its requester. bytes start at
// the slave address (unit identifier on TCP): the same indices on both links;
// a serial reply still carries its two CRC bytes at the end.
struct Reply {
    int16_t status = 0;
    QByteArray bytes;
    bool tcp = false;

    bool ok() const { return status == Status::Ok; }
    // Bytes of the reply without the serial CRC.
    int payloadSize() const {
        const int crc = tcp ? 0 : 2;
        return bytes.size() > crc ? static_cast<int>(bytes.size()) - crc : 0;
    }
    bool holds(int n) const { return payloadSize() >= n; }
    // Register k of a read reply (at bytes 3 + 2k and 4 + 2k), if it arrived.
    std::optional<uint16_t> reg(int k) const {
        if (k < 0 || !holds(5 + 2 * k))
            return std::nullopt;
        return WordAt(bytes, 3 + 2 * k);
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

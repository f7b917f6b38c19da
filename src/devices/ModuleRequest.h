#pragma once
// One request a module model makes of its module: the Modbus function, the
// first register (or coil), how many and, for a write, the values. The
// windows and qimctl send a model's requests as they are and name them in a
// failure, so that none of them holds a register address.

#include "Reply.h"

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

class QObject;

namespace qim {

class Link;

struct ModuleRequest {
    enum class Kind : uint8_t { ReadHolding, ReadInput, WriteCoil, WriteRegister, WriteRegisters };
    static constexpr int MaxValues = 20; // the longest write: a temperature module's loop blocks

    Kind kind = Kind::ReadHolding;
    int16_t start = 0;
    int16_t count = 1;
    // values[i] goes to register start + i; a coil is 0xFF00 (on) or 0.
    std::array<int32_t, MaxValues> values{};

    bool isRead() const { return kind == Kind::ReadHolding || kind == Kind::ReadInput; }
    // The bytes a good reply to a read holds, from the unit on.
    int replyBytes() const { return 3 + 2 * count; }
    // "read of input registers 0 to 7", "write of holding register 5", "write of coil 2".
    QString what() const;
    void send(Link& link, uint8_t unit, Requester who) const;

    // One command of several writes: all go out in order whatever the first
    // ones return, and done (if context still lives) hears after the last
    // whether every one succeeded.
    static void sendAll(Link& link, uint8_t unit, std::span<const ModuleRequest> writes,
                        QObject* context, std::function<void(bool ok)> done);
};

} // namespace qim

#pragma once
// The discrete modules QIM-K520 and QIM-K530: eight inputs and eight outputs
// (relays on the K530) in one holding register, 0. A write of the register
// sets the outputs, a read gives the inputs; bit k is point k + 1, 1 = on.

#include "ModuleRequest.h"

#include <optional>

namespace qim::Discrete {

constexpr int Points = 8; // inputs, and outputs

// Point k + 1 (k = 0..7) of a register byte: 0 off, 1 on.
inline int stateOf(uint8_t bits, int k) {
    return getBit(bits, static_cast<uint8_t>(k));
}
constexpr uint8_t withState(uint8_t bits, int k, bool on) {
    return static_cast<uint8_t>(on ? bits | 1 << k : bits & ~(1 << k));
}

ModuleRequest writeOutputs(uint8_t outputs);
ModuleRequest readInputs();
// The inputs of a good read: the register's low byte (the high byte is no input).
std::optional<uint8_t> decodeInputs(const Reply& reply);

} // namespace qim::Discrete

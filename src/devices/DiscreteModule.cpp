#include "DiscreteModule.h"

namespace qim::Discrete {

namespace {
constexpr int16_t PointsRegister = 0;
} // namespace

ModuleRequest writeOutputs(uint8_t outputs) {
    return {ModuleRequest::Kind::WriteRegister, PointsRegister, 1, {outputs}};
}

ModuleRequest readInputs() {
    return {ModuleRequest::Kind::ReadHolding, PointsRegister, 1, {}};
}

std::optional<uint8_t> decodeInputs(const Reply& reply) {
    if (!reply.hasRegisters(1))
        return std::nullopt;
    return loByte(*reply.reg(0));
}

} // namespace qim::Discrete

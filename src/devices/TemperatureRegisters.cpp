#include "TemperatureRegisters.h"

namespace qim {

bool TemperatureRegisters::decodeInputs(const Reply& reply) {
    if (!reply.hasRegisters(TempInputCount))
        return false;
    for (int k = 0; k < TempInputCount; ++k) {
        const uint16_t raw = *reply.reg(k);
        if (k < 4)
            inputs[k] = ProcessValueOf(raw);
        else if (k < 8)
            inputs[k] = raw;
        else
            inputs[k] = ColdJunctionOf(raw);
    }
    return true;
}

int32_t PackConfig(const TempConfigFields& f) {
    return f.type * 16 + f.average + f.sampling * 256 + f.alarm[0] * 4096 + f.alarm[1] * 8192 +
           f.alarm[2] * 16384 + f.alarm[3] * 32768;
}

TempConfigFields UnpackConfig(int32_t value) {
    TempConfigFields f;
    f.average = value & 3;
    f.type = (value / 16) & 15;
    f.sampling = (value / 256) & 15;
    for (int i = 0; i < 4; ++i)
        f.alarm[i] = (value >> (12 + i)) & 1;
    return f;
}

int32_t PackControl(const TempLoopModes& modes) {
    return modes[0] + modes[1] * 16 + modes[2] * 256 + modes[3] * 4096;
}

TempLoopModes UnpackControl(int32_t value) {
    return {int16_t(value & 3), int16_t((value / 16) & 3), int16_t((value / 256) & 3),
            int16_t((value / 4096) & 3)};
}

QString RegisterHexText(int32_t value) {
    return QStringLiteral("0x") + QString::number(static_cast<uint32_t>(value), 16).toUpper();
}

} // namespace qim

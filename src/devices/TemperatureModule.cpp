#include "TemperatureModule.h"

namespace qim::Temperature {

namespace {
constexpr int InputRegisters = 12; // PV 1..4, status 1..4, CJ 1..4
constexpr int16_t FirstCoil = 0;
constexpr int16_t FirstPwm = 1;
constexpr int16_t ConfigAddress = 5;
constexpr int16_t ControlAddress = 6;
constexpr int16_t LoopsStart = 7;

// First register of loop n's block (7, 12, 17, 22).
constexpr int16_t loopBase(int n) {
    return static_cast<int16_t>(LoopsStart + LoopRegisters * (n - 1));
}
} // namespace

ModuleRequest readInputs() {
    return {ModuleRequest::Kind::ReadInput, 0, InputRegisters, {}};
}

std::optional<Readings> decodeInputs(const Reply& reply) {
    if (!reply.hasRegisters(InputRegisters))
        return std::nullopt;
    Readings r;
    for (int n = 0; n < Loops; ++n) {
        const uint16_t status = *reply.reg(Loops + n);
        r[n].processValue = processValueOf(*reply.reg(n));
        r[n].coldJunction = coldJunctionOf(*reply.reg(2 * Loops + n));
        r[n].flags = loByte(status);
        r[n].heaterPower = hiByte(status);
    }
    return r;
}

EntryRule loopRule(int reg) {
    static const EntryRule rules[LoopRegisters] = {
        {QStringLiteral("Set Point"), 0, 1023}, {QStringLiteral("Cycle Time"), 0, 127},
        {QStringLiteral("Band"), 0, 127},       {QStringLiteral("Alarm High"), 0, 1023},
        {QStringLiteral("Alarm Low"), 0, 1023},
    };
    return rules[reg];
}

ModuleRequest readImage() {
    return {ModuleRequest::Kind::ReadHolding, FirstPwm, loopBase(Loops + 1) - FirstPwm, {}};
}

std::optional<Image> decodeImage(const Reply& reply) {
    const int count = loopBase(Loops + 1) - FirstPwm;
    if (!reply.hasRegisters(count))
        return std::nullopt;
    const auto at = [&reply](int address) { return *reply.reg(address - FirstPwm); };
    Image image;
    for (int k = 0; k < PwmOutputs; ++k)
        image.pwm[k] = at(FirstPwm + k);
    image.config = at(ConfigAddress);
    image.control = at(ControlAddress);
    for (int n = 1; n <= Loops; ++n)
        for (int i = 0; i < LoopRegisters; ++i)
            image.loops[n - 1][i] = at(loopBase(n) + i);
    return image;
}

ModuleRequest readLoops() {
    return {ModuleRequest::Kind::ReadHolding, LoopsStart, Loops * LoopRegisters, {}};
}

std::optional<LoopBlocks> decodeLoops(const Reply& reply) {
    if (!reply.hasRegisters(Loops * LoopRegisters))
        return std::nullopt;
    LoopBlocks blocks;
    for (int n = 0; n < Loops; ++n)
        for (int i = 0; i < LoopRegisters; ++i)
            blocks[n][i] = *reply.reg(LoopRegisters * n + i);
    return blocks;
}

uint16_t ConfigFields::pack() const {
    return static_cast<uint16_t>(type * 16 + average + sampling * 256 + alarm[0] * 4096 +
                                 alarm[1] * 8192 + alarm[2] * 16384 + alarm[3] * 32768);
}

ConfigFields ConfigFields::unpack(uint16_t value) {
    ConfigFields f;
    f.average = value & 3;
    f.type = (value / 16) & 15;
    f.sampling = (value / 256) & 15;
    for (int i = 0; i < 4; ++i)
        f.alarm[i] = (value >> (12 + i)) & 1;
    return f;
}

uint16_t LoopModes::pack() const {
    return static_cast<uint16_t>(mode[0] + mode[1] * 16 + mode[2] * 256 + mode[3] * 4096);
}

LoopModes LoopModes::unpack(uint16_t value) {
    return {{int16_t(value & 3), int16_t((value / 16) & 3), int16_t((value / 256) & 3),
             int16_t((value / 4096) & 3)}};
}

ModuleRequest writeRelay(int n, bool on) {
    return {ModuleRequest::Kind::WriteCoil,
            static_cast<int16_t>(FirstCoil + n - 1),
            1,
            {on ? 0xFF00 : 0}};
}

ModuleRequest writePwm(int n, int32_t percent) {
    return {
        ModuleRequest::Kind::WriteRegister, static_cast<int16_t>(FirstPwm + n - 1), 1, {percent}};
}

EntryRule pwmRule(int n) {
    return {QStringLiteral("PWM%1").arg(n), 0, PwmMax};
}

std::array<ModuleRequest, 3> writeOutputRegisters(const Image& image) {
    ModuleRequest loops{ModuleRequest::Kind::WriteRegisters, LoopsStart, Loops * LoopRegisters, {}};
    for (int n = 0; n < Loops; ++n)
        std::copy(image.loops[n].begin(), image.loops[n].end(),
                  loops.values.begin() + LoopRegisters * n);
    return {{{ModuleRequest::Kind::WriteRegister, ConfigAddress, 1, {image.config}},
             {ModuleRequest::Kind::WriteRegister, ControlAddress, 1, {image.control}},
             loops}};
}

ModuleRequest writeSetPoint(int loop, int32_t degrees) {
    return {ModuleRequest::Kind::WriteRegisters, loopBase(loop), 1, {degrees}};
}

QStringList samplingItems() {
    QStringList items;
    for (int value = 0; value < 16; ++value) {
        const int ms = 100 * (value + 1);
        items << (ms < 1000 ? QStringLiteral("%1 - %2msec").arg(value).arg(ms)
                            : QStringLiteral("%1 - %2sec").arg(value).arg(ms / 1000.0));
    }
    return items;
}

QString registerHexText(int32_t value) {
    return QStringLiteral("0x") + QString::number(static_cast<uint32_t>(value), 16).toUpper();
}

} // namespace qim::Temperature

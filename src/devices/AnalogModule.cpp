#include "AnalogModule.h"

namespace qim::Analog {

namespace {
constexpr int16_t FirstInput = 0;    // input registers 0..7
constexpr int16_t FirstDac = 0;      // holding registers 0..7
constexpr int16_t ConfigAddress = 8; // holding registers 8..10
constexpr int SamplingMax = 255;
} // namespace

ModuleRequest readInputs() {
    return {ModuleRequest::Kind::ReadInput, FirstInput, Inputs, {}};
}

std::optional<Counts> decodeInputs(const Reply& reply) {
    if (!reply.hasRegisters(Inputs))
        return std::nullopt;
    Counts counts{};
    for (int k = 0; k < Inputs; ++k)
        counts[k] = reply.reg(k).value_or(0);
    return counts;
}

double inputValue(int32_t counts, int rangeCode, Display display) {
    return display == Display::Counts ? double(counts) : roundDecimals(volts(counts, rangeCode), 4);
}

QString inputText(int32_t counts, int rangeCode, Display display, const QLocale& locale) {
    return display == Display::Counts ? QString::number(counts)
                                      : voltsText(counts, rangeCode, locale);
}

uint16_t configWord(int samplingInterval, int mode, int average) {
    return static_cast<uint16_t>(samplingInterval * 256 + mode * 128 + average);
}

uint16_t rangeWord(std::span<const int16_t, 4> codes) {
    return static_cast<uint16_t>(codes[0] + codes[1] * 8 + codes[2] * 256 + codes[3] * 2048);
}

std::array<uint16_t, 3> AdcConfig::pack() const {
    return {configWord(sampling, mode, average),
            rangeWord(std::span<const int16_t, 4>(ranges.data(), 4)),
            rangeWord(std::span<const int16_t, 4>(ranges.data() + 4, 4))};
}

AdcConfig AdcConfig::unpack(std::span<const uint16_t, 3> words) {
    AdcConfig c;
    c.sampling = words[0] >> 8;
    c.mode = words[0] >> 7 & 1;
    c.average = words[0] & 3;
    for (int k = 0; k < Inputs; ++k) {
        const uint16_t w = words[1 + k / 4];
        c.ranges[k] = static_cast<int16_t>(w >> (k % 4 / 2 * 8 + k % 2 * 3) & 7);
    }
    return c;
}

ModuleRequest readSettings() {
    return {ModuleRequest::Kind::ReadHolding, FirstDac, ConfigAddress + 3, {}};
}

std::optional<Settings> decodeSettings(const Reply& reply) {
    if (!reply.hasRegisters(ConfigAddress + 3))
        return std::nullopt;
    Settings s;
    for (int k = 0; k < Outputs; ++k)
        s.dac[k] = *reply.reg(FirstDac + k);
    const std::array<uint16_t, 3> words{*reply.reg(ConfigAddress), *reply.reg(ConfigAddress + 1),
                                        *reply.reg(ConfigAddress + 2)};
    s.adc = AdcConfig::unpack(words);
    return s;
}

ModuleRequest writeConfig(const AdcConfig& config) {
    const auto words = config.pack();
    return {ModuleRequest::Kind::WriteRegisters, ConfigAddress, 3, {words[0], words[1], words[2]}};
}

std::optional<int> parseSampling(const QString& text) {
    const auto entry = parseEntryAbove(text, 0, SamplingMax);
    // A value below one would round to 0, which the field does not hold.
    if (!entry || entry->rounded < 1)
        return std::nullopt;
    return entry->rounded;
}

QString samplingMessage() {
    return rangeMessage(QStringLiteral("Sampling Interval"), 1, SamplingMax);
}

QString dacName(int channel) {
    return channel <= 4 ? QStringLiteral("AO%1").arg(channel)
                        : QStringLiteral("CL%1").arg(channel - 4);
}

EntryRule dacRule(int channel) {
    return {dacName(channel), 0, DacMax};
}

ModuleRequest writeDac(const DacValues& values) {
    ModuleRequest r{ModuleRequest::Kind::WriteRegisters, FirstDac, Outputs, {}};
    std::copy(values.begin(), values.end(), r.values.begin());
    return r;
}

ModuleRequest writeDacOutput(int channel, int32_t value) {
    return {ModuleRequest::Kind::WriteRegisters,
            static_cast<int16_t>(FirstDac + channel - 1),
            1,
            {value}};
}

} // namespace qim::Analog

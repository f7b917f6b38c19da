#include "SimModels.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qimsim {

namespace {

// Repeatable noise in -1..1 for a seed: the same sample always reads the same.
double noiseOf(uint64_t seed) {
    uint64_t z = seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / static_cast<double>(1ull << 52) - 1.0;
}

uint64_t seed(uint64_t a, uint64_t b, uint64_t c) {
    return (a * 1000003ull ^ b) * 1000033ull ^ c;
}

uint16_t twosComplement(long value, int bits) {
    const long lo = -(1L << (bits - 1));
    const long hi = (1L << (bits - 1)) - 1;
    value = std::clamp(value, lo, hi);
    return static_cast<uint16_t>(value < 0 ? value + (1L << bits) : value);
}

} // namespace

// ------------------------------------------------------------------ discrete

DiscreteModule::DiscreteModule(uint8_t address, uint8_t deviceCode) : Module(address, deviceCode) {
    const bool relays = deviceCode == 11;
    m_identity.firmwareMajor = 1;
    m_identity.firmwareMinor = relays ? 2 : 4;
    m_identity.hardwareRevision = relays ? 'A' : 'B';
    m_identity.inputRegisters = 0;
    m_identity.outputRegisters = 1;
    m_identity.discreteInputs = 8;
    m_identity.discreteOutputs = 8;
}

bool DiscreteModule::supports(uint8_t function) const {
    return function == 3 || function == 6 || function == 16 || function == 17;
}

uint8_t DiscreteModule::inputs() const {
    uint8_t in = outputs();
    if (m_walking) {
        const auto step = static_cast<long long>(std::floor(now()));
        in |= static_cast<uint8_t>(0x20u << (((step % 3) + 3) % 3));
    }
    return in;
}

std::optional<uint16_t> DiscreteModule::holding(int address) const {
    return address == 0 ? std::optional<uint16_t>(m_register) : std::nullopt;
}

std::optional<uint16_t> DiscreteModule::read(int function, int address) const {
    if (function == 3 && address == 0)
        return inputs();
    return std::nullopt;
}

bool DiscreteModule::writable(int address) const {
    return address == 0;
}

void DiscreteModule::write(int, uint16_t value) {
    m_register = value;
}

// ------------------------------------------------------------------ analog

namespace {
struct Range {
    double span;
    double offset;
};
constexpr std::array<Range, 5> Ranges{{
    {20.48, 10.24},
    {10.24, 5.12},
    {5.12, 2.56},
    {10.24, 0.0},
    {5.12, 0.0},
}};
} // namespace

AnalogModule::AnalogModule(uint8_t address) : Module(address, 20) {
    m_identity.firmwareMajor = 2;
    m_identity.firmwareMinor = 1;
    m_identity.hardwareRevision = 'C';
    m_identity.inputRegisters = 8;
    m_identity.outputRegisters = 8;
    // Power-up configuration: 10 ms, automatic conversion, 8 samples, all
    // inputs on the 0..10 V range.
    m_holding[8] = 10 * 256 + 3;
    m_holding[9] = m_holding[10] = 3 + 3 * 8 + 3 * 256 + 3 * 2048;
}

bool AnalogModule::supports(uint8_t function) const {
    return function == 3 || function == 4 || function == 6 || function == 16 || function == 17;
}

std::optional<uint16_t> AnalogModule::holding(int address) const {
    if (address < 0 || address >= static_cast<int>(m_holding.size()))
        return std::nullopt;
    return m_holding[static_cast<size_t>(address)];
}

std::optional<uint16_t> AnalogModule::input(int address) const {
    return read(4, address);
}

double AnalogModule::volts(int channel, double t) const {
    const auto dac = [this](int k) {
        return std::min<double>(m_holding[static_cast<size_t>(k)], 4095);
    };
    switch (channel) {
    case 0:
    case 1:
    case 2:
    case 3:
        return dac(channel) * 10.0 / 4095.0;
    case 4:
        return dac(4) * 0.020 / 4095.0 * 250.0;
    case 5:
        return 4.0 * std::sin(2 * std::numbers::pi * t / 20.0);
    case 6: {
        const double phase = std::fmod(std::fmod(t, 30.0) + 30.0, 30.0) / 30.0;
        return phase < 0.5 ? 16.0 * phase : 16.0 * (1.0 - phase);
    }
    case 7:
        return 2.5 +
               0.025 * noiseOf(seed(m_address, 7, static_cast<uint64_t>(std::llround(t * 1e4))));
    default:
        return 0.0;
    }
}

uint16_t AnalogModule::countsOf(double v, int rangeCode) {
    const Range r = Ranges[static_cast<size_t>(rangeCode >= 0 && rangeCode <= 4 ? rangeCode : 0)];
    const double c = std::round((v + r.offset) * 65535.0 / r.span);
    return static_cast<uint16_t>(std::clamp(c, 0.0, 65535.0));
}

std::optional<uint16_t> AnalogModule::read(int function, int address) const {
    if (function == 3)
        return holding(address);
    if (function != 4 || address < 0 || address > 7)
        return std::nullopt;
    const uint16_t config = m_holding[8];
    const double ts = std::max(1, config >> 8) / 1000.0;
    const bool manual = config & 0x80;
    const int n = 1 << (config & 3);
    const uint16_t rangeWord = m_holding[address < 4 ? 9 : 10];
    static constexpr int shift[] = {0, 3, 8, 11};
    const int code = (rangeWord >> shift[address % 4]) & 7;
    // Automatic mode converts on the sampling grid; manual converts when asked.
    const double t = now();
    const double last = manual ? t : std::floor(t / ts) * ts;
    double sum = 0;
    for (int j = 0; j < n; ++j)
        sum += volts(address, last - j * ts);
    return countsOf(sum / n, code);
}

bool AnalogModule::writable(int address) const {
    return address >= 0 && address < static_cast<int>(m_holding.size());
}

void AnalogModule::write(int address, uint16_t value) {
    m_holding[static_cast<size_t>(address)] = value;
}

// ------------------------------------------------------------------ temperature

TemperatureModule::TemperatureModule(uint8_t address) : Module(address, 30) {
    m_identity.firmwareMajor = 3;
    m_identity.firmwareMinor = 2;
    m_identity.hardwareRevision = 'B';
    m_identity.inputRegisters = 12;
    m_identity.outputRegisters = 26;
    m_identity.discreteInputs = 0;
    m_identity.discreteOutputs = 4;
    // Four terminals are never quite at the same temperature.
    static constexpr double offsets[] = {0.0, 0.4, -0.3, 0.2};
    for (size_t i = 0; i < m_loops.size(); ++i)
        m_loops[i].roomOffset = offsets[i];
}

bool TemperatureModule::supports(uint8_t function) const {
    switch (function) {
    case 1:
    case 3:
    case 4:
    case 5:
    case 6:
    case 16:
    case 17:
        return true;
    default:
        return false;
    }
}

void TemperatureModule::setSensor(int loop, Sensor sensor) {
    if (loop < 0 || loop > 3)
        return;
    advance();
    m_loops[static_cast<size_t>(loop)].sensor = sensor;
}

TemperatureModule::Sensor TemperatureModule::sensor(int loop) const {
    return loop >= 0 && loop <= 3 ? m_loops[static_cast<size_t>(loop)].sensor : Sensor::Ok;
}

void TemperatureModule::setRoomTemperature(double celsius) {
    // A module not yet asked starts at the new room temperature; a running
    // one drifts toward it.
    if (m_started)
        advance();
    m_room = celsius;
}

double TemperatureModule::temperature(int loop) const {
    if (loop < 0 || loop > 3)
        return 0;
    advance();
    return m_loops[static_cast<size_t>(loop)].t;
}

double TemperatureModule::sampleSeconds() const {
    return 0.1 * (((reg(5) >> 8) & 0xF) + 1);
}

int TemperatureModule::loopMode(int index) const {
    return (reg(6) >> (4 * index)) & 3;
}

double TemperatureModule::measured(const Loop& loop) const {
    const int n = 1 << std::min(reg(5) & 0xF, 3);
    double sum = 0;
    for (int j = 0; j < n; ++j)
        sum += loop.samples[static_cast<size_t>(j)];
    return sum / n;
}

void TemperatureModule::advance() const {
    const double t = now();
    if (!m_started) {
        m_started = true;
        for (Loop& l : m_loops) {
            l.t = m_room + l.roomOffset;
            l.samples.fill(l.t);
        }
        m_lastSample = t;
        m_nextSample = t + sampleSeconds();
        return;
    }
    const double ts = sampleSeconds();
    while (m_nextSample <= t) {
        const double dt = m_nextSample - m_lastSample;
        for (size_t i = 0; i < m_loops.size(); ++i) {
            Loop& l = m_loops[i];
            // Constant heater power between samples: the exact first-order step.
            const double steady = m_room + l.roomOffset + FullPowerRise * l.power / 100.0;
            l.t = steady + (l.t - steady) * std::exp(-dt / TimeConstant);
            sample(l, static_cast<int>(i), m_nextSample);
            control(l, static_cast<int>(i));
        }
        m_lastSample = m_nextSample;
        ++m_sampleIndex;
        // After a long idle stretch catch up in coarser steps; the last two
        // thousand samples before now are always taken at the real rate.
        m_nextSample += std::max(ts, (t - m_nextSample) / 2000.0);
    }
}

void TemperatureModule::sample(Loop& l, int index, double when) const {
    const double noise =
        0.3 * noiseOf(seed(m_address, static_cast<uint64_t>(index), m_sampleIndex));
    std::copy_backward(l.samples.begin(), l.samples.end() - 1, l.samples.end());
    l.samples[0] = l.t + noise;
    const double sp = reg(7 + 5 * index);
    if (l.sensor == Sensor::Ok && std::abs(measured(l) - sp) <= StableBand) {
        if (!l.nearSince)
            l.nearSince = when;
    } else {
        l.nearSince.reset();
    }
}

void TemperatureModule::control(Loop& l, int index) const {
    if (l.sensor != Sensor::Ok) {
        // A loop that cannot see its temperature never heats.
        l.power = 0;
        l.heating = false;
        return;
    }
    const int mode = loopMode(index);
    if (mode == 0) {
        // Manual: the heater follows the PWM register at once.
        l.power = std::min<double>(reg(1 + index), 100);
        l.sinceControl = 0;
        return;
    }
    const int base = 7 + 5 * index;
    if (++l.sinceControl <= std::min<int>(reg(base + 1), 1000))
        return; // the loop decides once every (scaler + 1) samples
    l.sinceControl = 0;
    const double pv = measured(l);
    const double sp = reg(base);
    if (mode == 1) {
        if (pv < sp - Hysteresis)
            l.heating = true;
        else if (pv > sp + Hysteresis)
            l.heating = false;
        l.power = l.heating ? 100 : 0;
    } else if (mode == 2) {
        const double band = reg(base + 2);
        l.power =
            band <= 0 ? (pv < sp ? 100 : 0) : std::clamp(100.0 * (sp - pv) / band, 0.0, 100.0);
    } else {
        l.power = 0;
    }
}

std::optional<uint16_t> TemperatureModule::read(int function, int address) const {
    if (function == 3)
        return holding(address);
    if (function == 1)
        return address >= 0 && address < 4
                   ? std::optional<uint16_t>(m_coils[static_cast<size_t>(address)])
                   : std::nullopt;
    if (function != 4 || address < 0 || address > 11)
        return std::nullopt;
    advance();
    const auto& l = m_loops[static_cast<size_t>(address % 4)];
    const int index = address % 4;
    if (address < 4) {
        if (l.sensor != Sensor::Ok)
            return static_cast<uint16_t>(OpenReading);
        return twosComplement(std::lround(measured(l)), 12);
    }
    if (address < 8) {
        uint8_t bits = 0;
        switch (l.sensor) {
        case Sensor::Ok:
            break;
        case Sensor::Open:
            bits |= OpenCircuit | TcFault;
            break;
        case Sensor::ShortToGnd:
            bits |= ShortToGndBit | TcFault;
            break;
        case Sensor::ShortToVcc:
            bits |= ShortToVccBit | TcFault;
            break;
        }
        if (l.sensor == Sensor::Ok) {
            const long pv = std::lround(measured(l));
            const int base = 7 + 5 * index;
            if (reg(5) & (0x1000 << index)) {
                if (pv > reg(base + 3))
                    bits |= AlarmHigh;
                if (pv < reg(base + 4))
                    bits |= AlarmLow;
            }
            if (l.nearSince && m_lastSample - *l.nearSince >= StableAfter)
                bits |= Stable;
        }
        if (l.power > 0)
            bits |= HeaterOn;
        return static_cast<uint16_t>(std::lround(l.power) << 8 | bits);
    }
    // The cold junction sits on the module's board: a little above the room,
    // warmed a touch by the heaters it drives, drifting slowly.
    double heat = 0;
    for (const Loop& each : m_loops)
        heat += each.power;
    const double cj = m_room + 3.0 + 0.3 * index + 0.004 * heat +
                      0.5 * std::sin(2 * std::numbers::pi * m_lastSample / 600.0);
    return twosComplement(std::lround(cj), 8);
}

std::optional<uint16_t> TemperatureModule::holding(int address) const {
    if (address < 1 || address > 26)
        return std::nullopt;
    return reg(address);
}

std::optional<uint16_t> TemperatureModule::input(int address) const {
    return read(4, address);
}

std::optional<bool> TemperatureModule::coil(int address) const {
    if (address < 0 || address > 3)
        return std::nullopt;
    return m_coils[static_cast<size_t>(address)];
}

bool TemperatureModule::writable(int address) const {
    return address >= 1 && address <= 26;
}

void TemperatureModule::write(int address, uint16_t value) {
    advance(); // the time so far ran with the old settings
    m_holding[static_cast<size_t>(address)] = value;
    if (address >= 1 && address <= 4 && loopMode(address - 1) == 0) {
        Loop& l = m_loops[static_cast<size_t>(address - 1)];
        if (l.sensor == Sensor::Ok)
            l.power = std::min<double>(value, 100);
    }
}

bool TemperatureModule::writeCoil(int address, bool on) {
    if (address < 0 || address > 3)
        return false;
    m_coils[static_cast<size_t>(address)] = on;
    return true;
}

// ------------------------------------------------------------------ unknown

GenericModule::GenericModule(uint8_t address, uint8_t deviceCode) : Module(address, deviceCode) {
    m_identity.inputRegisters = 16;
    m_identity.outputRegisters = 16;
    for (size_t k = 0; k < m_input.size(); ++k)
        m_input[k] = static_cast<uint16_t>(100 * k);
}

bool GenericModule::supports(uint8_t function) const {
    return function == 3 || function == 4 || function == 6 || function == 16 || function == 17;
}

std::optional<uint16_t> GenericModule::holding(int address) const {
    if (address < 0 || address >= 16)
        return std::nullopt;
    return m_holding[static_cast<size_t>(address)];
}

std::optional<uint16_t> GenericModule::input(int address) const {
    if (address < 0 || address >= 16)
        return std::nullopt;
    return m_input[static_cast<size_t>(address)];
}

void GenericModule::setInput(int address, uint16_t value) {
    if (address >= 0 && address < 16)
        m_input[static_cast<size_t>(address)] = value;
}

bool GenericModule::writable(int address) const {
    return address >= 0 && address < 16;
}

void GenericModule::write(int address, uint16_t value) {
    m_holding[static_cast<size_t>(address)] = value;
}

} // namespace qimsim

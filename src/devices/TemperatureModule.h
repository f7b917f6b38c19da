#pragma once
// The temperature controller QIM-P750: four thermocouple loops read from
// input registers 0..11 (process values, status words, cold junctions);
// relays 1..4 on coils 0..3; PWM outputs 1..4 in holding registers 1..4; the
// configuration and control words in holding registers 5 and 6; the loops'
// settings in holding registers 7..26, five a loop.

#include "ModuleRequest.h"
#include "NumberEntry.h"

#include <optional>

namespace qim::Temperature {

constexpr int Loops = 4;
constexpr int Relays = 4;
constexpr int PwmOutputs = 4;
constexpr int PwmMax = 100; // percent

// Raw register -> degrees: 12-bit two's complement for a process value and
// 8-bit for a cold junction, by subtraction only (a value above the field is
// not masked: 5000 reads as 904).
constexpr int32_t processValueOf(uint16_t raw) {
    return raw >= 2048 ? int32_t(raw) - 4096 : int32_t(raw);
}
constexpr int32_t coldJunctionOf(uint16_t raw) {
    return raw >= 128 ? int32_t(raw) - 256 : int32_t(raw);
}

// The eight status flags of a loop, bit 0 first, as the panel's LEDs and
// qimctl name them.
inline constexpr const char* FlagNames[8] = {"OC", "SCG", "SCV", "TCF", "TS", "ON", "ALL", "ALH"};

// One loop as a poll reads it.
struct LoopReading {
    int32_t processValue = 0; // degrees C
    int32_t coldJunction = 0; // degrees C
    uint8_t flags = 0;        // bit b: FlagNames[b]
    uint8_t heaterPower = 0;  // percent
    bool operator==(const LoopReading&) const = default;
};
using Readings = std::array<LoopReading, Loops>;
ModuleRequest readInputs();
// The four loops of a good read of all twelve input registers.
std::optional<Readings> decodeInputs(const Reply& reply);

// A loop's five settings, in the order of its register block.
enum LoopRegister { SetPoint, CycleTime, Band, AlarmHigh, AlarmLow };
constexpr int LoopRegisters = 5;
using LoopBlock = std::array<int32_t, LoopRegisters>;
using LoopBlocks = std::array<LoopBlock, Loops>;
// What a loop setting may hold, and the message for an entry that it may not.
EntryRule loopRule(int reg);
ModuleRequest readLoops();
std::optional<LoopBlocks> decodeLoops(const Reply& reply);

// The texts of the configuration word's lists and of a loop's mode, by value
// (the list position is the value).
inline constexpr const char* AverageItems[4] = {"0 - 1 Sample", "1 - 2 Samples", "3 - 4 Samples",
                                                "4 - 8 Samples"};
inline constexpr const char* TypeItems[7] = {"0 - K", "1 - J", "2 - N", "3 - S",
                                             "4 - T", "5 - E", "6 - R"};
// "0 - 100msec" .. "8 - 900msec", "9 - 1sec" .. "15 - 1.6sec".
QStringList samplingItems();
inline constexpr const char* ModeItems[3] = {"0 - Manual", "1 - ON/OFF", "2 - Proportional"};

// The configuration word's fields (list positions and alarm enables).
struct ConfigFields {
    int average = 0;            // bits 0..3 (0..3)
    int type = 0;               // bits 4..7 (0..6)
    int sampling = 0;           // bits 8..11 (0..15)
    std::array<int, 4> alarm{}; // bits 12..15
    bool operator==(const ConfigFields&) const = default;
    uint16_t pack() const;
    static ConfigFields unpack(uint16_t word);
};

// The control word: the modes of loops 1..4 (0 manual, 1 on/off,
// 2 proportional), four bits apart.
struct LoopModes {
    std::array<int16_t, Loops> mode{};
    bool operator==(const LoopModes&) const = default;
    uint16_t pack() const;
    static LoopModes unpack(uint16_t word);
};

// The holding registers the program sets. Everything starts at zero.
struct Image {
    uint16_t config = 0;
    uint16_t control = 0;
    std::array<int32_t, PwmOutputs> pwm{}; // percent, outputs 1..4
    LoopBlocks loops{};
};

// The outputs switched the moment they change (n = 1..4).
ModuleRequest writeRelay(int n, bool on);
ModuleRequest writePwm(int n, int32_t percent);
// What PWM output n may be set to, and the message for what it may not.
EntryRule pwmRule(int n);
// "Write To Output Registers": the configuration word, the control word and
// the four loop blocks, one command of three writes.
std::array<ModuleRequest, 3> writeOutputRegisters(const Image& image);
// The image as the module holds it (holding registers 1..26).
ModuleRequest readImage();
std::optional<Image> decodeImage(const Reply& reply);
// One loop's set point alone.
ModuleRequest writeSetPoint(int loop, int32_t degrees);

// "0x" and the value in capital hexadecimal without leading zeros.
QString registerHexText(int32_t value);

} // namespace qim::Temperature

namespace qim {

// The temperature module's data as its panel and register dialogs share it:
// the readings of the last good poll and the image of its holding registers,
// which the dialogs and sliders edit and "Write To Output Registers" sends.
// The main window keeps one for the run, so what the user set survives
// closing and reopening the panel.
struct TemperatureRegisters {
    Temperature::Readings inputs{};
    Temperature::Image image{};
    // The loop whose block the control loop dialog is asked to edit (1..4).
    uint8_t selectedLoop = 0;
};

} // namespace qim

#pragma once
// The analog module QIM-M640: eight inputs read as counts from input
// registers 0..7 and shown as volts in each input's range (AnalogScale.h) or
// as counts; the converter's settings in holding registers 8..10; eight DAC
// outputs (AO1..AO4, CL1..CL4) in holding registers 0..7, 0..4095 counts.

#include "AnalogScale.h"
#include "ModuleRequest.h"
#include "NumberEntry.h"

#include <optional>

namespace qim::Analog {

constexpr int Inputs = 8;
constexpr int Outputs = 8;

// How the inputs show: volts in each input's range, or the raw counts.
enum class Display { Volts, Counts };

using Counts = std::array<int32_t, Inputs>;
ModuleRequest readInputs();
// The eight counts of a good read.
std::optional<Counts> decodeInputs(const Reply& reply);
// An input as it is shown and as a trend records it: the counts, or the
// volts in its range rounded to 4 decimals.
double inputValue(int32_t counts, int rangeCode, Display display);
QString inputText(int32_t counts, int rangeCode, Display display,
                  const QLocale& locale = QLocale());

constexpr std::array<int16_t, Inputs> DefaultRanges = [] {
    std::array<int16_t, Inputs> r{};
    r.fill(DefaultRange);
    return r;
}();

// The texts of the converter's averaging and mode lists, by value.
inline constexpr const char* AverageItems[4] = {"No Average", "2 Sampels", "4 Sampels", "8 Sampels"};
inline constexpr const char* ModeItems[2] = {"Auto", "Manual"};

// The converter's settings.
struct AdcConfig {
    int sampling = 10;                                  // ms between samples, 1..255
    int mode = 0;                                       // 0 "Auto", 1 "Manual"
    int average = 3;                                    // 0 none, 1 two samples, 2 four, 3 eight
    std::array<int16_t, Inputs> ranges = DefaultRanges; // range codes of inputs 1..8

    bool operator==(const AdcConfig&) const = default;
    // Holding registers 8, 9 and 10.
    std::array<uint16_t, 3> pack() const;
    static AdcConfig unpack(std::span<const uint16_t, 3> words);
};
ModuleRequest writeConfig(const AdcConfig& config);
// A sampling interval typed by the user: above 0 and up to 255, rounded;
// a value that rounds to 0 is refused too (the field holds 1..255).
std::optional<int> parseSampling(const QString& text);
QString samplingMessage();

// Holding register 8: sampling interval in the high byte, mode in bit 7,
// averaging in bits 0..1.
uint16_t configWord(int samplingInterval, int mode, int average);
// Holding register 9 (inputs 1..4) or 10 (inputs 5..8): two channels a
// byte, three bits each, the lower-numbered channel in the low bits.
uint16_t rangeWord(std::span<const int16_t, 4> codes);

// The DAC outputs' counts, AO1..AO4 then CL1..CL4.
using DacValues = std::array<int32_t, Outputs>;
constexpr int DacMax = 4095;
// AO1..AO4, CL1..CL4 for channels 1..8.
QString dacName(int channel);
EntryRule dacRule(int channel);
// All eight outputs in one request, as the panel writes them.
ModuleRequest writeDac(const DacValues& values);
// One output (channel 1..8) alone.
ModuleRequest writeDacOutput(int channel, int32_t value);

// What the program sets, read back: the DAC outputs and the converter's
// settings (holding registers 0..10).
struct Settings {
    AdcConfig adc;
    DacValues dac{};
};
ModuleRequest readSettings();
std::optional<Settings> decodeSettings(const Reply& reply);

} // namespace qim::Analog

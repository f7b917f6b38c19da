#pragma once
// The analog module's numbers: counts to volts per input range, the volts
// text the panel shows, and the packing of the ADC configuration registers.
// Widget-free, so it can be checked on its own.

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <span>

namespace qim::Analog {

struct InputRange {
    const char* item; // the range box's item text
    double span;      // volts over the full 0..65535 counts
    double offset;    // volts subtracted (half the span on bipolar ranges)
};

// Indexed by range code (the range box's list index).
inline constexpr std::array<InputRange, 5> Ranges{{
    {"+/- 10V", 20.48, 10.24},
    {"+/- 5V  ", 10.24, 5.12},
    {"+/- 2.5V", 5.12, 2.56},
    {"+ 10V", 10.24, 0.0},
    {"+ 5V", 5.12, 0.0},
}};
constexpr int DefaultRange = 3;
constexpr double FullScale = 65535.0; // 2^16 - 1, so the top count reaches the full span

// counts x span / 65535 - offset, unrounded. A code outside 0..4 (never
// offered by the range box) reads as the default range.
double Volts(int32_t counts, int rangeCode);

// v rounded to `places` decimals, halves to even. A half is judged on the
// decimal number the double stands for (its shortest round-trip text), so
// 0.12345 is a half although its binary value lies a little below it.
double RoundDecimals(double v, int places);

// The shortest decimal text of v: no trailing zeros, a whole number without
// a point, the locale's decimal separator.
QString DecimalText(double v, const QLocale& locale = QLocale());

// What an input's value label shows in volts: rounded to 4 decimals.
QString VoltsText(int32_t counts, int rangeCode, const QLocale& locale = QLocale());

// Holding register 8: sampling interval in the high byte, mode in bit 7,
// averaging in bits 0..1.
uint16_t ConfigWord(int samplingInterval, int mode, int average);
// Holding register 9 (inputs 1..4) or 10 (inputs 5..8): two channels a
// byte, three bits each, the lower-numbered channel in the low bits.
uint16_t RangeWord(std::span<const int16_t, 4> codes);

} // namespace qim::Analog

#pragma once
// The analog module's numbers: counts to volts per input range, and the
// volts text the panel and qimctl show.

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>

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
double volts(int32_t counts, int rangeCode);

// v rounded to `places` decimals, halves to even. A half is judged on the
// decimal number the double stands for (its shortest round-trip text), so
// 0.12345 is a half although its binary value lies a little below it.
double roundDecimals(double v, int places);

// The shortest decimal text of v: no trailing zeros, a whole number without
// a point, the locale's decimal separator.
QString decimalText(double v, const QLocale& locale = QLocale());

// What an input's value label shows in volts: rounded to 4 decimals.
QString voltsText(int32_t counts, int rangeCode, const QLocale& locale = QLocale());

} // namespace qim::Analog

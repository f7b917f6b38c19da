#pragma once
// The trend window of each panel: opened by the panel's Trend button, fed
// from the panel's good polls with the values the panel decoded, closed
// with the panel. While no trend window is open nothing is kept.

#include <array>

namespace qim {

class TrendWindow;
class frmQIM_M640;
class frmQIM_P750;

// Opens the panel's trend window, or brings the open one forward.
TrendWindow* OpenTrend(frmQIM_M640* panel);
TrendWindow* OpenTrend(frmQIM_P750* panel);
// The open trend windows, if any.
TrendWindow* AnalogTrend();
TrendWindow* TemperatureTrend();

// One good poll of the analog panel as its trend records it: the eight
// inputs as the panel shows them, volts (rounded as shown) or counts.
std::array<double, 8> AnalogTrendValues(const frmQIM_M640& panel);
// One good poll of the temperature panel: PV1..4, SP1..4 (the set points
// the program holds), heater power 1..4, from the program-wide data the
// poll has just decoded.
std::array<double, 12> TemperatureTrendValues();

} // namespace qim

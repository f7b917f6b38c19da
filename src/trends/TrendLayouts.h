#pragma once
// What the two trend windows plot: the analog module's eight inputs, and per
// loop of the temperature module the process value, the set point the
// program holds and the heater power.

#include "TrendWindow.h"

namespace qim {

// Eight series, AIN1..AIN8, on two scales: 0 volts, 1 counts (the analog
// panel's display setting).
TrendLayout AnalogTrendLayout();

// Twelve series in this order: PV1..PV4 (solid), SP1..SP4 (dashed), both in
// degrees Celsius on the left axis, then Power1..Power4 in percent on the
// right axis. A check box per loop, and toggles for set points and heater
// power.
TrendLayout TemperatureTrendLayout();

} // namespace qim

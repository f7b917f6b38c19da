#pragma once
// The trend window of a panel: opened by the panel's Trend button, fed from
// the panel's good polls with the values the panel decoded, closed with the
// panel. While no trend window is open nothing is kept.

#include <array>
#include <cstdint>

namespace qim {

class AnalogPanel;
class MessagePresenter;
class TemperaturePanel;
class TrendWindow;
struct TemperatureRegisters;

// A new trend window following panel (the panel keeps it and brings it forward).
TrendWindow* OpenAnalogTrend(AnalogPanel& panel, MessagePresenter& presenter);
TrendWindow* OpenTemperatureTrend(TemperaturePanel& panel, MessagePresenter& presenter);

// One good poll of the analog panel as its trend records it: the eight
// inputs as the panel shows them, volts (rounded as shown) or counts.
std::array<double, 8> AnalogTrendValues(const std::array<int32_t, 8>& counts,
                                        const std::array<int16_t, 8>& ranges, bool asCounts);
// One good poll of the temperature panel: PV1..4, SP1..4 (the set points
// the program holds), heater power 1..4, from the registers the poll has
// just decoded.
std::array<double, 12> TemperatureTrendValues(const TemperatureRegisters& registers);

} // namespace qim

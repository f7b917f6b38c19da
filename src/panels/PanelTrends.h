#pragma once
// The trend window of a panel: opened by the panel's Trend button, fed from
// the panel's good polls with the values the panel decoded, closed with the
// panel. While no trend window is open nothing is kept.

namespace qim {

class AnalogPanel;
class MessagePresenter;
class TemperaturePanel;
class TrendWindow;

// A new trend window following panel (the panel keeps it and brings it forward).
TrendWindow* openAnalogTrend(AnalogPanel& panel, MessagePresenter& presenter);
TrendWindow* openTemperatureTrend(TemperaturePanel& panel, MessagePresenter& presenter);

} // namespace qim

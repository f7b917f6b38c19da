#include "PanelTrends.h"

#include "AnalogPanel.h"
#include "TemperaturePanel.h"
#include "TrendLayouts.h"
#include "TrendWindow.h"

namespace qim {

namespace {
// One good poll of the temperature panel: PV1..4, SP1..4 (the set points
// the program holds), heater power 1..4.
std::array<double, 12> temperatureTrendValues(const TemperatureRegisters& registers) {
    std::array<double, 12> values{};
    for (size_t n = 0; n < Temperature::Loops; ++n) {
        values[n] = registers.inputs[n].processValue;
        values[4 + n] = registers.image.loops[n][Temperature::SetPoint];
        values[8 + n] = registers.inputs[n].heaterPower;
    }
    return values;
}
} // namespace

// The window is not the panel's child (it has its own place on the task
// bar), so it closes when the panel goes.
TrendWindow* openAnalogTrend(AnalogPanel& panel, MessagePresenter& presenter) {
    auto* w = new TrendWindow(analogTrendLayout(), presenter);
    QObject::connect(&panel, &AnalogPanel::inputsDecoded, w, [w, &panel](int32_t poll) {
        // The eight inputs as the panel shows them: volts (rounded as shown) or counts.
        std::array<double, Analog::Inputs> values{};
        for (size_t k = 0; k < values.size(); ++k)
            values[k] =
                Analog::inputValue(panel.counts()[k], panel.config().ranges[k], panel.display());
        w->addPoll(poll, values, panel.display() == Analog::Display::Counts ? 1 : 0);
    });
    QObject::connect(&panel, &QObject::destroyed, w, &QWidget::close);
    return w;
}

TrendWindow* openTemperatureTrend(TemperaturePanel& panel, MessagePresenter& presenter) {
    auto* w = new TrendWindow(temperatureTrendLayout(), presenter);
    QObject::connect(&panel, &TemperaturePanel::inputsDecoded, w, [w, &panel](int32_t poll) {
        w->addPoll(poll, temperatureTrendValues(panel.registers()));
    });
    QObject::connect(&panel, &QObject::destroyed, w, &QWidget::close);
    return w;
}

} // namespace qim

#include "PanelTrends.h"

#include "AnalogPanel.h"
#include "AnalogScale.h"
#include "TemperaturePanel.h"
#include "TemperatureRegisters.h"
#include "TrendLayouts.h"
#include "TrendWindow.h"

namespace qim {

std::array<double, 8> AnalogTrendValues(const std::array<int32_t, 8>& counts,
                                        const std::array<int16_t, 8>& ranges, bool asCounts) {
    std::array<double, 8> values{};
    for (size_t k = 0; k < values.size(); ++k)
        values[k] = asCounts ? double(counts[k])
                             : Analog::RoundDecimals(Analog::Volts(counts[k], ranges[k]), 4);
    return values;
}

std::array<double, 12> TemperatureTrendValues(const TemperatureRegisters& registers) {
    std::array<double, 12> values{};
    for (int n = 1; n <= TempLoops; ++n) {
        values[size_t(n - 1)] = registers.inputs[size_t(n - 1)];
        values[size_t(3 + n)] = registers.outputs[size_t(LoopBase(n))];
        values[size_t(7 + n)] = HiByte(registers.inputs[size_t(3 + n)]);
    }
    return values;
}

// The window is not the panel's child (it has its own place on the task
// bar), so it closes when the panel goes.
TrendWindow* OpenAnalogTrend(AnalogPanel& panel, MessagePresenter& presenter) {
    auto* w = new TrendWindow(AnalogTrendLayout(), presenter);
    QObject::connect(&panel, &AnalogPanel::inputsDecoded, w, [w, &panel](int32_t poll) {
        w->addPoll(poll,
                   AnalogTrendValues(panel.adcCounts(), panel.adcRanges(), panel.showsCounts()),
                   panel.showsCounts() ? 1 : 0);
    });
    QObject::connect(&panel, &QObject::destroyed, w, &QWidget::close);
    return w;
}

TrendWindow* OpenTemperatureTrend(TemperaturePanel& panel, MessagePresenter& presenter) {
    auto* w = new TrendWindow(TemperatureTrendLayout(), presenter);
    QObject::connect(&panel, &TemperaturePanel::inputsDecoded, w, [w, &panel](int32_t poll) {
        w->addPoll(poll, TemperatureTrendValues(panel.registers()));
    });
    QObject::connect(&panel, &QObject::destroyed, w, &QWidget::close);
    return w;
}

} // namespace qim

#include "PanelTrends.h"

#include "AnalogScale.h"
#include "General.h"
#include "TempRegisters.h"
#include "TrendLayouts.h"
#include "TrendWindow.h"
#include "Windows.h"
#include "frmQIM_M640.h"
#include "frmQIM_P750.h"

#include <QPointer>

namespace qim {

namespace {
QPointer<TrendWindow> s_analog;
QPointer<TrendWindow> s_temperature;
// The panel each one follows: a trend belongs to one panel, not to its successor.
QPointer<QObject> s_analogPanel;
QPointer<QObject> s_temperaturePanel;

TrendWindow* Present(TrendWindow* w) {
    BringForward(w);
    return w;
}
} // namespace

std::array<double, 8> AnalogTrendValues(const frmQIM_M640& panel) {
    std::array<double, 8> values{};
    for (size_t k = 0; k < values.size(); ++k)
        values[k] =
            panel.AdcDisplay == 1
                ? double(panel.AdcCounts[k])
                : Analog::RoundDecimals(Analog::Volts(panel.AdcCounts[k], panel.AdcRange[k]), 4);
    return values;
}

std::array<double, 12> TemperatureTrendValues() {
    std::array<double, 12> values{};
    for (int n = 1; n <= TempLoops; ++n) {
        values[size_t(n - 1)] = TempInputRegs[size_t(n - 1)];
        values[size_t(3 + n)] = TempOutputRegs[size_t(LoopBase(n))];
        values[size_t(7 + n)] = HiByte(TempInputRegs[size_t(3 + n)]);
    }
    return values;
}

TrendWindow* OpenTrend(frmQIM_M640* panel) {
    if (s_analog && s_analogPanel != panel)
        s_analog->close();
    if (!s_analog || s_analogPanel != panel) {
        auto* w = new TrendWindow(AnalogTrendLayout());
        QObject::connect(panel, &frmQIM_M640::inputsDecoded, w, [w, panel](int32_t poll) {
            w->addPoll(poll, AnalogTrendValues(*panel), panel->AdcDisplay == 1 ? 1 : 0);
        });
        QObject::connect(panel, &QObject::destroyed, w, &QWidget::close);
        s_analog = w;
        s_analogPanel = panel;
    }
    return Present(s_analog);
}

TrendWindow* OpenTrend(frmQIM_P750* panel) {
    if (s_temperature && s_temperaturePanel != panel)
        s_temperature->close();
    if (!s_temperature || s_temperaturePanel != panel) {
        auto* w = new TrendWindow(TemperatureTrendLayout());
        QObject::connect(panel, &frmQIM_P750::inputsDecoded, w,
                         [w](int32_t poll) { w->addPoll(poll, TemperatureTrendValues()); });
        QObject::connect(panel, &QObject::destroyed, w, &QWidget::close);
        s_temperature = w;
        s_temperaturePanel = panel;
    }
    return Present(s_temperature);
}

TrendWindow* AnalogTrend() {
    return s_analog;
}

TrendWindow* TemperatureTrend() {
    return s_temperature;
}

} // namespace qim

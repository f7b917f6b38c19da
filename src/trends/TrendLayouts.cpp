#include "TrendLayouts.h"

namespace qim {

namespace {
// Told apart at a glance, also in print.
const QColor ChannelColours[8] = {QColor(31, 119, 180),  QColor(255, 127, 14),  QColor(44, 160, 44),
                                  QColor(214, 39, 40),   QColor(148, 103, 189), QColor(140, 86, 75),
                                  QColor(227, 119, 194), QColor(100, 100, 100)};
} // namespace

TrendLayout analogTrendLayout() {
    TrendLayout l;
    l.objectName = QStringLiteral("frmTrend_M640");
    l.title = QStringLiteral("QIM-M640 Trend");
    l.fileStem = QStringLiteral("QIM-M640 trend");
    l.scales = {{QStringLiteral("Volts"), QStringLiteral("V"), 0.0, 10.0},
                {QStringLiteral("Counts"), QStringLiteral("counts"), 0.0, 65535.0}};
    for (int k = 0; k < 8; ++k) {
        const QString name = QStringLiteral("AIN%1").arg(k + 1);
        l.groups << name;
        TrendSeries s;
        s.name = name;
        s.color = ChannelColours[k];
        s.width = 1.6;
        s.group = k;
        l.series << s;
    }
    return l;
}

TrendLayout temperatureTrendLayout() {
    TrendLayout l;
    l.objectName = QStringLiteral("frmTrend_P750");
    l.title = QStringLiteral("QIM-P750 Trend");
    l.fileStem = QStringLiteral("QIM-P750 trend");
    l.scales = {{QStringLiteral("Temperature (\u00b0C)"), QStringLiteral("\u00b0C"), 0.0, 100.0}};
    l.rightTitle = QStringLiteral("Heater power (%)");
    l.rightMin = 0;
    l.rightMax = 100;
    l.baseKind = QStringLiteral("Process value");
    l.kinds = {{QStringLiteral("Check_SetPoint"), QStringLiteral("Set point")},
               {QStringLiteral("Check_HeaterPower"), QStringLiteral("Heater power")}};
    const QColor loopColours[4] = {ChannelColours[0], ChannelColours[3], ChannelColours[2],
                                   ChannelColours[4]};
    for (int n = 1; n <= 4; ++n)
        l.groups << QStringLiteral("Loop %1").arg(n);
    for (int n = 1; n <= 4; ++n) {
        TrendSeries pv;
        pv.name = QStringLiteral("PV%1").arg(n);
        pv.color = loopColours[n - 1];
        pv.width = 2.2;
        pv.group = n - 1;
        l.series << pv;
    }
    for (int n = 1; n <= 4; ++n) {
        TrendSeries sp;
        sp.name = QStringLiteral("SP%1").arg(n);
        sp.color = loopColours[n - 1];
        sp.style = Qt::DashLine;
        sp.width = 1.0;
        sp.group = n - 1;
        sp.kind = TrendKind::SetPoint;
        l.series << sp;
    }
    for (int n = 1; n <= 4; ++n) {
        TrendSeries power;
        power.name = QStringLiteral("Power%1").arg(n);
        // Lighter than the temperatures: an ON/OFF heater fills its band with strokes.
        power.color = loopColours[n - 1].lighter(115);
        power.color.setAlpha(150);
        power.style = Qt::DotLine;
        power.width = 1.0;
        power.axis = TrendAxis::Right;
        power.group = n - 1;
        power.kind = TrendKind::HeaterPower;
        power.unit = QStringLiteral("%");
        l.series << power;
    }
    return l;
}

} // namespace qim

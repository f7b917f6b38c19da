#pragma once
// What the two trend windows plot: the analog module's eight inputs, and per
// loop of the temperature module the process value, the set point the
// program holds and the heater power.

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

namespace qim {

enum class TrendAxis { Left, Right };
// What a line shows. A value line shows with its group; every other kind
// also has a toggle of its own (TrendLayout::kinds, in this order).
enum class TrendKind { Value, SetPoint, HeaterPower };

struct TrendSeries {
    QString name; // readout and CSV column
    QColor color;
    Qt::PenStyle style = Qt::SolidLine;
    qreal width = 2.0;
    TrendAxis axis = TrendAxis::Left;
    int group = 0; // the series check box that shows it (Check_Series<group + 1>)
    TrendKind kind = TrendKind::Value;
    QString unit; // empty: the current scale's unit
};

// What the left axis measures; a panel that can show its values in more than
// one way (volts or counts) has one scale per way, each with its own samples.
struct TrendScale {
    QString title; // axis title
    QString unit;
    double emptyMin = 0; // the axis range before there is anything to show
    double emptyMax = 1;
};

struct TrendKindToggle {
    QString objectName;
    QString text;
};

struct TrendLayout {
    QString objectName;
    QString title;
    QString fileStem;   // suggested export file name, before the time stamp
    QStringList groups; // captions of the series check boxes
    QList<TrendSeries> series;
    QList<TrendScale> scales;
    QList<TrendKindToggle> kinds; // the toggles of the kinds after Value, in order
    QString baseKind;             // what the value lines are, shown beside the toggles
    QString rightTitle;           // empty: no right axis
    double rightMin = 0;          // the right axis always shows at least this range
    double rightMax = 100;
};

// Eight series, AIN1..AIN8, on two scales: 0 volts, 1 counts (the analog
// panel's display setting).
TrendLayout analogTrendLayout();

// Twelve series in this order: PV1..PV4 (solid), SP1..SP4 (dashed), both in
// degrees Celsius on the left axis, then Power1..Power4 in percent on the
// right axis. A check box per loop, and toggles for set points and heater
// power.
TrendLayout temperatureTrendLayout();

} // namespace qim

#include "LinkSettings.h"

#include "PortNames.h"

#include <QStringList>

namespace qim {

std::optional<LineSpeed> LineSpeedOf(qint64 rate) {
    for (const LineSpeed s : LineSpeeds) {
        if (BaudRate(s) == rate)
            return s;
    }
    return std::nullopt;
}

QString LineSpeedList() {
    QStringList rates;
    for (const LineSpeed s : LineSpeeds)
        rates << QString::number(BaudRate(s));
    const QString last = rates.takeLast();
    return rates.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QString LinkSettings::place() const {
    if (tcp())
        return host;
    return device.isEmpty() ? PortNames::ComName(comPort) : device;
}

} // namespace qim

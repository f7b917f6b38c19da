#include "LinkSettings.h"

#include "PortNames.h"

#include <QStringList>
#include <algorithm>

namespace qim {

std::optional<LineSpeed> lineSpeedOf(qint64 rate) {
    const auto* it = std::find(BaudRates.begin(), BaudRates.end(), rate);
    return it == BaudRates.end() ? std::nullopt : std::optional(LineSpeed(it - BaudRates.begin()));
}

QString lineSpeedList() {
    QStringList rates;
    for (const int rate : BaudRates)
        rates << QString::number(rate);
    return rates.mid(0, rates.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" or ") +
           rates.last();
}

QString LinkSettings::place() const {
    if (tcp())
        return host;
    return device.isEmpty() ? PortNames::comName(comPort) : device;
}

} // namespace qim

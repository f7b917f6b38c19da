#include "LinkSettings.h"

#include "PortNames.h"

namespace qim {

int LinkSettings::baudRate() const {
    static constexpr int rates[] = {9600, 19200, 57600, 115200};
    return baudIndex >= 0 && baudIndex < 4 ? rates[baudIndex] : 0;
}

QString LinkSettings::place() const {
    if (tcp())
        return host;
    return device.isEmpty() ? PortNames::ComName(comPort) : device;
}

} // namespace qim

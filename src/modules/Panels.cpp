#include "Panels.h"

#include "AnalogPanel.h"
#include "DiscretePanel.h"

namespace qim {

bool OpenPanelFor(uint8_t deviceCode) {
    switch (deviceCode) {
    case 10:
    case 11:
        DiscretePanel::open();
        return true;
    case 20:
        AnalogPanel::open();
        return true;
    default:
        return false;
    }
}

} // namespace qim

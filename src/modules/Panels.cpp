#include "Panels.h"

#include "frmQIM_P750.h"

namespace qim {

bool OpenPanelFor(uint8_t deviceCode) {
    switch (deviceCode) {
    case 30:
        frmQIM_P750::open();
        return true;
    default:
        return false;
    }
}

} // namespace qim

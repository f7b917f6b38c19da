#include "Panels.h"

#include "frmQIM_K520.h"
#include "frmQIM_M640.h"
#include "frmQIM_P750.h"

namespace qim {

bool OpenPanelFor(uint8_t deviceCode) {
    switch (deviceCode) {
    case 10:
    case 11:
        frmQIM_K520::open();
        return true;
    case 20:
        frmQIM_M640::open();
        return true;
    case 30:
        frmQIM_P750::open();
        return true;
    default:
        return false;
    }
}

} // namespace qim

#include "Panels.h"

namespace qim {

bool OpenPanelFor(uint8_t deviceCode) {
    switch (deviceCode) {
    default:
        return false;
    }
}

} // namespace qim

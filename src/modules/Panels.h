#pragma once
// Control And Monitor: opens the panel that serves a device code.

#include <cstdint>

class QWidget;

namespace qim {

// Opens (or brings forward) the panel for the selected module's device
// code; returns false, doing nothing, for a code without a panel.
bool OpenPanelFor(uint8_t deviceCode);

} // namespace qim

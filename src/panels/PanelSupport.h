#pragma once
// Control And Monitor: opens the panel that serves a device code; and what
// the module panels share.

#include <cstdint>
#include <optional>

class QString;
class QWidget;

namespace qim {

class PollLoop;
class StatusPanels;

// Opens (or brings forward) the panel for the selected module's device
// code; returns false, doing nothing, for a code without a panel.
bool OpenPanelFor(uint8_t deviceCode);

// Scan pressed on a panel: the counts go to zero first (even for an entry
// that is then refused), then the interval box is read. An entry outside
// 0..10000 shows its message and gives nothing.
std::optional<int16_t> StartScanInterval(PollLoop& loop, const QString& entry);

// "Err: n" and "Poll: n" in status panels 1 and 2, sized once for the
// largest counts so that a poll never redoes the window's layout.
void HoldCountSizes(StatusPanels& panels);
void ShowCounts(StatusPanels& panels, const PollLoop& loop);

} // namespace qim

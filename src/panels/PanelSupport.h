#pragma once
// What the module panels share.

#include <cstdint>
#include <optional>

class QString;

namespace qim {

class MessagePresenter;
class PollLoop;
class StatusPanels;

// Scan pressed on a panel: the counts go to zero first (even for an entry
// that is then refused), then the interval box is read. An entry outside
// 0..10000 shows its message and gives nothing.
std::optional<int16_t> StartScanInterval(PollLoop& loop, const QString& entry,
                                         MessagePresenter& presenter);

// "Err: n" and "Poll: n" in status panels 1 and 2, sized once for the
// largest counts so that a poll never redoes the window's layout.
void HoldCountSizes(StatusPanels& panels);
void ShowCounts(StatusPanels& panels, const PollLoop& loop);

} // namespace qim

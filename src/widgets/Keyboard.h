#pragma once
// Keyboard use the windows share.

class QPushButton;

namespace qim {

// A loop's start and stop buttons (Scan/Stop, Start/Stop): each disables
// itself and enables the other when pressed. When the one that has the focus
// is disabled, the focus goes to the other instead of on along the tab chain
// (where Close or an output would catch the next Space), so Space on Scan
// then Space on Stop runs and ends a loop. Safe to call again for the same
// pair.
void focusFollowsCommands(QPushButton* start, QPushButton* stop);

} // namespace qim

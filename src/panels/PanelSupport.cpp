#include "Panels.h"

#include "Keyboard.h"
#include "MessagePresenter.h"
#include "NumericEntry.h"
#include "PollLoop.h"
#include "StatusPanels.h"
#include "frmQIM_K520.h"
#include "frmQIM_M640.h"
#include "frmQIM_P750.h"

#include <QPushButton>

namespace qim {

namespace {
// Every panel's Scan and Stop hand the keyboard focus to each other.
void withKeys(QWidget* panel) {
    FocusFollowsCommands(panel->findChild<QPushButton*>(QStringLiteral("CmdScan")),
                         panel->findChild<QPushButton*>(QStringLiteral("CmdStop")));
}
} // namespace

bool OpenPanelFor(uint8_t deviceCode) {
    switch (deviceCode) {
    case 10:
    case 11:
        withKeys(frmQIM_K520::open());
        return true;
    case 20:
        withKeys(frmQIM_M640::open());
        return true;
    case 30:
        withKeys(frmQIM_P750::open());
        return true;
    default:
        return false;
    }
}

std::optional<int16_t> StartScanInterval(PollLoop& loop, const QString& entry) {
    loop.ErrorCount = 0;
    loop.PollCount = 0;
    const auto parsed = ParseEntry(entry, 0, 10000);
    if (!parsed) {
        ShowMessage(QStringLiteral("Time between polls must be a number from 0 to 10000"));
        return std::nullopt;
    }
    return static_cast<int16_t>(parsed->rounded);
}

void HoldCountSizes(StatusPanels& panels) {
    panels.holdSize(1, QStringLiteral("Err: 9999999"));
    panels.holdSize(2, QStringLiteral("Poll: 9999999"));
}

void ShowCounts(StatusPanels& panels, const PollLoop& loop) {
    panels.setPanel(1, QStringLiteral("Err: %1").arg(loop.ErrorCount));
    panels.setPanel(2, QStringLiteral("Poll: %1").arg(loop.PollCount));
}

} // namespace qim

#include "PanelSupport.h"

#include "MessagePresenter.h"
#include "NumberEntry.h"
#include "PollLoop.h"
#include "StatusPanels.h"

namespace qim {

std::optional<int16_t> StartScanInterval(PollLoop& loop, const QString& entry,
                                         MessagePresenter& presenter) {
    loop.resetCounts();
    const auto parsed = ParseEntry(entry, 0, 10000);
    if (!parsed) {
        presenter.show(QStringLiteral("Time between polls must be a number from 0 to 10000"));
        return std::nullopt;
    }
    return static_cast<int16_t>(parsed->rounded);
}

void HoldCountSizes(StatusPanels& panels) {
    panels.holdSize(1, QStringLiteral("Err: 9999999"));
    panels.holdSize(2, QStringLiteral("Poll: 9999999"));
}

void ShowCounts(StatusPanels& panels, const PollLoop& loop) {
    panels.setPanel(1, QStringLiteral("Err: %1").arg(loop.shownErrorCount()));
    panels.setPanel(2, QStringLiteral("Poll: %1").arg(loop.shownPollCount()));
}

} // namespace qim

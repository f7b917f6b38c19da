#include "Panels.h"

#include "Keyboard.h"
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

} // namespace qim

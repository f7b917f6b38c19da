#pragma once
// Opening a window that is already open only brings it forward.

#include <QWidget>

namespace qim {

// Shows w (restoring it when minimized), raises it and gives it the focus.
inline void bringForward(QWidget* w) {
    if (w->isMinimized())
        w->showNormal();
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace qim

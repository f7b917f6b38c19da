#include "Keyboard.h"

#include <QEvent>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace qim {

namespace {

class CommandFocus : public QObject {
public:
    CommandFocus(QPushButton* start, QPushButton* stop)
        : QObject(start), m_start(start), m_stop(stop) {
        setObjectName(QStringLiteral("CommandFocus"));
        start->installEventFilter(this);
        stop->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        // A button loses the focus while disabled only because it was
        // disabled: Qt has just moved the focus on along the chain.
        if (e->type() == QEvent::FocusOut) {
            auto* button = static_cast<QPushButton*>(watched);
            if (!button->isEnabled()) {
                QPointer<QPushButton> partner = button == m_start ? m_stop : m_start;
                // Later, once the window has enabled the partner.
                QTimer::singleShot(0, this, [partner] {
                    if (partner && partner->isEnabled() && partner->isVisible())
                        partner->setFocus(Qt::OtherFocusReason);
                });
            }
        }
        return false;
    }

private:
    QPointer<QPushButton> m_start;
    QPointer<QPushButton> m_stop;
};

} // namespace

void focusFollowsCommands(QPushButton* start, QPushButton* stop) {
    if (!start || !stop || start->findChild<CommandFocus*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    new CommandFocus(start, stop);
}

} // namespace qim

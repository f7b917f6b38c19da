#include "StatusPanels.h"

#include <QLabel>

namespace qim {

StatusPanels::StatusPanels(const QString& objectName, QWidget* parent) : QStatusBar(parent) {
    setObjectName(objectName);
    setSizeGripEnabled(false);
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(this);
        l->setObjectName(QStringLiteral("%1_Panel%2").arg(objectName).arg(i + 1));
        l->setFrameShape(QFrame::StyledPanel);
        l->setFrameShadow(QFrame::Sunken);
        l->setMinimumWidth(90);
        // Opaque: a changing count repaints only its own panel.
        l->setAutoFillBackground(true);
        addWidget(l, i == 2 ? 1 : 0);
        m_panels[i] = l;
    }
}

QLabel* StatusPanels::panel(int i) const {
    return i >= 1 && i <= 3 ? m_panels[i - 1] : nullptr;
}

void StatusPanels::setPanel(int i, const QString& text) {
    if (QLabel* l = panel(i))
        l->setText(text);
}

void StatusPanels::holdSize(int i, const QString& widest) {
    QLabel* l = panel(i);
    if (!l)
        return;
    const int frame = 2 * l->frameWidth() + 2 * l->margin() + l->indent() + 8;
    l->setFixedSize(std::max(l->minimumWidth(), l->fontMetrics().horizontalAdvance(widest) + frame),
                    l->sizeHint().height());
}

QString StatusPanels::text(int i) const {
    const QLabel* l = panel(i);
    return l ? l->text() : QString();
}

} // namespace qim

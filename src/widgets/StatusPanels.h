#pragma once
// A status bar of three text panels (QLabel children, in order), the way every
// window of the program reports state: "Err: ", "Poll: ", "SCAN"/"STOP" on the
// panels, link state and port on the main window.

#include <QStatusBar>

class QLabel;

namespace qim {

class StatusPanels : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusPanels(const QString& objectName, QWidget* parent = nullptr);
    // i = 1..3, as the panels are numbered.
    QLabel* panel(int i) const;
    void setPanel(int i, const QString& text);
    // Fixes panel i at the size of `widest`: a panel whose text changes on
    // every poll then repaints alone instead of laying out the whole window.
    void holdSize(int i, const QString& widest);
    QString text(int i) const;

private:
    QLabel* m_panels[3];
};

} // namespace qim

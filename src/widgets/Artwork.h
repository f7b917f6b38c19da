#pragma once
// The program's own picture: a QIM module on its bus, drawn with QPainter so
// the splash, the about box and the window icon stay crisp at any scale.

#include <QIcon>
#include <QWidget>

namespace qim {

// Paints the module picture into r.
void paintModulePicture(QPainter& p, const QRectF& r);

// The window icon of every window of the program.
QIcon programIcon();

// A picture control that shows the module picture.
class ModulePicture : public QWidget {
    Q_OBJECT
public:
    explicit ModulePicture(int side, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent*) override;
};

} // namespace qim

#include "Artwork.h"

#include <QPainter>
#include <QPixmap>

namespace qim {

// The same picture as the desktop icon (data/qimtool.svg), in its 256-unit
// square: a QIM module with its label and six LEDs, sitting on the bus.
void paintModulePicture(QPainter& p, const QRectF& r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(r.width(), r.height());
    p.translate(r.center().x() - side / 2, r.center().y() - side / 2);
    p.scale(side / 256.0, side / 256.0);

    const QColor bus(0x1d, 0x6f, 0xb8);
    p.setPen(Qt::NoPen);
    p.setBrush(bus);
    p.drawRoundedRect(QRectF(12, 206, 232, 14), 7, 7);
    p.drawRect(QRectF(118, 196, 20, 14));

    QLinearGradient body(0, 28, 0, 196);
    body.setColorAt(0, QColor(0x4a, 0x5a, 0x7a));
    body.setColorAt(1, QColor(0x27, 0x32, 0x4a));
    p.setBrush(body);
    p.setPen(QPen(QColor(0x14, 0x1a, 0x28), 4));
    p.drawRoundedRect(QRectF(40, 28, 176, 168), 18, 18);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd9, 0xe2, 0xf0));
    p.drawRoundedRect(QRectF(60, 48, 136, 34), 6, 6);
    if (side >= 32) {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setBold(true);
        f.setPixelSize(24);
        p.setFont(f);
        p.setPen(QColor(0x27, 0x32, 0x4a));
        p.drawText(QRectF(60, 48, 136, 34), Qt::AlignCenter, QStringLiteral("QIM"));
        p.setPen(Qt::NoPen);
    }

    const struct {
        qreal x, y;
        bool lit;
    } leds[] = {{76, 114, true},  {128, 114, false}, {180, 114, true},
                {76, 160, false}, {128, 160, true},  {180, 160, false}};
    for (const auto& led : leds) {
        QRadialGradient g(QPointF(led.x - 14 + 28 * 0.38, led.y - 14 + 28 * 0.35), 28 * 0.7);
        if (led.lit) {
            g.setColorAt(0, QColor(0xff, 0xd9, 0xd0));
            g.setColorAt(0.4, QColor(0xff, 0x3a, 0x2a));
            g.setColorAt(1, QColor(0xa0, 0x00, 0x00));
        } else {
            g.setColorAt(0, QColor(0x8c, 0x4a, 0x4a));
            g.setColorAt(1, QColor(0x3a, 0x08, 0x08));
        }
        p.setBrush(g);
        p.drawEllipse(QPointF(led.x, led.y), 14, 14);
    }
    p.restore();
}

QIcon programIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm(side, side);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paintModulePicture(p, QRectF(0, 0, side, side));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

ModulePicture::ModulePicture(int side, QWidget* parent) : QWidget(parent) {
    setFixedSize(side, side);
}

void ModulePicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintModulePicture(p, QRectF(rect()));
}

} // namespace qim

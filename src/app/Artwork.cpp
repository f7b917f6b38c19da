#include "Artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qim {

void PaintModulePicture(QPainter& p, const QRectF& r) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = std::min(r.width(), r.height());
    const QRectF box(r.center().x() - s / 2, r.center().y() - s / 2, s, s);
    auto at = [&box, s](qreal x, qreal y) {
        return QPointF(box.left() + x * s, box.top() + y * s);
    };
    auto rect = [&box, s](qreal x, qreal y, qreal w, qreal h) {
        return QRectF(box.left() + x * s, box.top() + y * s, w * s, h * s);
    };

    // The DIN rail behind the module.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 155, 165));
    p.drawRect(rect(0.02, 0.44, 0.96, 0.12));
    p.setBrush(QColor(120, 125, 135));
    p.drawRect(rect(0.02, 0.53, 0.96, 0.03));

    // The housing.
    QLinearGradient body(at(0.2, 0), at(0.8, 0));
    body.setColorAt(0, QColor(34, 64, 120));
    body.setColorAt(0.5, QColor(52, 96, 170));
    body.setColorAt(1, QColor(30, 58, 110));
    p.setPen(QPen(QColor(15, 30, 60), std::max<qreal>(1.0, s / 64)));
    p.setBrush(body);
    p.drawRoundedRect(rect(0.2, 0.06, 0.6, 0.88), s * 0.05, s * 0.05);

    // Terminal blocks at top and bottom.
    p.setBrush(QColor(70, 160, 90));
    p.setPen(QPen(QColor(30, 80, 40), std::max<qreal>(0.8, s / 96)));
    for (qreal y : {0.1, 0.8}) {
        p.drawRect(rect(0.26, y, 0.48, 0.1));
        p.setBrush(QColor(200, 200, 200));
        for (int i = 0; i < 4; ++i)
            p.drawEllipse(at(0.32 + 0.12 * i, y + 0.05), s * 0.03, s * 0.03);
        p.setBrush(QColor(70, 160, 90));
    }

    // Status LEDs.
    const QColor leds[] = {QColor(60, 220, 80), QColor(255, 170, 0), QColor(60, 220, 80)};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(leds[i]);
        p.drawEllipse(at(0.32 + 0.12 * i, 0.3), s * 0.028, s * 0.028);
    }

    // The label plate with the family name.
    p.setBrush(QColor(235, 238, 245));
    p.drawRoundedRect(rect(0.27, 0.4, 0.46, 0.2), s * 0.02, s * 0.02);
    if (s >= 40) {
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(std::max(6, static_cast<int>(s * 0.12)));
        p.setFont(f);
        p.setPen(QColor(34, 64, 120));
        p.drawText(rect(0.27, 0.4, 0.46, 0.2), Qt::AlignCenter, QStringLiteral("QIM"));
    }
    p.restore();
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm(side, side);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        PaintModulePicture(p, QRectF(0, 0, side, side));
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
    PaintModulePicture(p, QRectF(rect()));
}

} // namespace qim

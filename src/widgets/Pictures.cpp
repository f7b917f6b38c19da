#include "Pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace qim {

StatePicture::StatePicture(Kind kind, QWidget* parent) : QWidget(parent), m_kind(kind) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedSize(32, 32);
    // Painting our own background keeps a state change from repainting the
    // frame behind us: panels refresh dozens of these on every poll.
    setAutoFillBackground(true);
    m_state = -1;
    setState(kind == Kind::ScanAnimation ? 1 : 0);
}

void StatePicture::setState(int state) {
    if (state == m_state)
        return;
    m_state = state;
    switch (m_kind) {
    case Kind::Led:
        setAccessibleDescription(state ? QStringLiteral("on") : QStringLiteral("off"));
        break;
    case Kind::Contact:
        setAccessibleDescription(state ? QStringLiteral("closed") : QStringLiteral("open"));
        break;
    case Kind::ScanAnimation:
        setAccessibleDescription(QStringLiteral("picture %1").arg(state));
        break;
    }
    update();
}

void StatePicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p, QRectF(rect()), m_kind, m_state);
}

namespace {

void paintLed(QPainter& p, const QRectF& r, bool on) {
    const QRectF body =
        r.adjusted(r.width() * 0.12, r.height() * 0.12, -r.width() * 0.12, -r.height() * 0.12);
    p.setPen(QPen(QColor(60, 20, 20), r.width() / 20.0));
    QRadialGradient g(body.center() - QPointF(body.width() * 0.18, body.height() * 0.18),
                      body.width() * 0.7);
    if (on) {
        g.setColorAt(0, QColor(255, 210, 200));
        g.setColorAt(0.35, QColor(255, 40, 30));
        g.setColorAt(1, QColor(170, 0, 0));
    } else {
        g.setColorAt(0, QColor(140, 70, 70));
        g.setColorAt(0.4, QColor(95, 20, 20));
        g.setColorAt(1, QColor(55, 8, 8));
    }
    p.setBrush(g);
    p.drawEllipse(body);
}

void paintContact(QPainter& p, const QRectF& r, bool closed) {
    const qreal w = r.width(), h = r.height();
    const qreal y = r.top() + h * 0.62;
    const QPointF a(r.left() + w * 0.18, y), b(r.left() + w * 0.82, y);
    p.setPen(QPen(QColor(30, 30, 30), std::max<qreal>(1.5, w / 14.0), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(r.left() + w * 0.02, y), a);
    p.drawLine(b, QPointF(r.right() - w * 0.02, y));
    // The moving blade: flat on both terminals when closed, lifted when open.
    const QPointF tip = closed ? b : QPointF(b.x() - w * 0.06, r.top() + h * 0.22);
    p.setPen(QPen(closed ? QColor(0, 130, 0) : QColor(30, 30, 30), std::max<qreal>(1.5, w / 14.0),
                  Qt::SolidLine, Qt::RoundCap));
    p.drawLine(a, tip);
    p.setBrush(QColor(30, 30, 30));
    p.setPen(Qt::NoPen);
    p.drawEllipse(a, w / 16.0, w / 16.0);
    p.drawEllipse(b, w / 16.0, w / 16.0);
}

void paintAnimation(QPainter& p, const QRectF& r, int picture) {
    // A small bus: a master on the left, five modules on a line; the frame
    // number lights the module being asked. Picture 1 (idle) lights none.
    // Drawn on whole units of a 32-unit grid, so the picture's native
    // 32 x 32 pixels (and 64 x 64 at a device pixel ratio of 2) stay sharp.
    p.translate(r.topLeft());
    p.scale(r.width() / 32.0, r.height() / 32.0);
    const QColor line(40, 40, 90);
    p.fillRect(QRectF(2, 7, 7, 12), line); // the master
    p.fillRect(QRectF(3, 8, 5, 10), QColor(70, 70, 160));
    p.fillRect(QRectF(4, 10, 3, 2), QColor(150, 200, 255)); // its display
    p.fillRect(QRectF(5, 19, 1, 4), line);
    p.fillRect(QRectF(3, 23, 28, 2), line); // the bus
    for (int i = 0; i < 5; ++i) {
        const int x = 11 + 4 * i;
        const bool lit = picture == i + 2;
        p.fillRect(QRectF(x, 11, 3, 8), line);
        p.fillRect(QRectF(x, 12, 3, 6), lit ? QColor(255, 170, 0) : QColor(190, 190, 210));
        p.fillRect(QRectF(x + 1, 19, 1, 4), line);
    }
    if (picture >= 2 && picture <= 6) {
        // The request travelling along the bus.
        const qreal x = 11 + 4 * (picture - 2) + 1.5;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(230, 60, 0));
        p.drawEllipse(QPointF(x, 24), 2.5, 2.5);
    }
}

} // namespace

void StatePicture::paint(QPainter& p, const QRectF& r, Kind kind, int state) {
    p.save();
    switch (kind) {
    case Kind::Led:
        paintLed(p, r, state != 0);
        break;
    case Kind::Contact:
        paintContact(p, r, state != 0);
        break;
    case Kind::ScanAnimation:
        paintAnimation(p, r, state);
        break;
    }
    p.restore();
}

} // namespace qim

#include "FrameThrottle.h"

namespace qim {

FrameThrottle::FrameThrottle(QObject* parent, std::function<void()> draw)
    : QObject(parent), m_draw(std::move(draw)), m_timer(this) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &FrameThrottle::draw);
}

void FrameThrottle::request() {
    if (m_timer.isActive())
        return;
    const qint64 since = m_last.isValid() ? m_last.elapsed() : FrameMs;
    if (since >= FrameMs)
        draw();
    else
        m_timer.start(static_cast<int>(FrameMs - since));
}

void FrameThrottle::flush() {
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    draw();
}

void FrameThrottle::draw() {
    m_last.start();
    m_draw();
}

} // namespace qim

#pragma once
// At interval 0 a module answers thousands of times a second, and drawing
// every answer costs more than the transaction itself; the eye sees at most
// one frame. A throttle draws at once when the last draw is a frame old and
// otherwise once at the end of the frame, always with the newest values.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace qim {

class FrameThrottle : public QObject {
public:
    static constexpr int FrameMs = 16;
    FrameThrottle(QObject* parent, std::function<void()> draw);
    void request();
    // Draws now what a request is still holding back (a loop that ends).
    void flush();

private:
    void draw();
    std::function<void()> m_draw;
    QTimer m_timer;
    QElapsedTimer m_last;
};

} // namespace qim

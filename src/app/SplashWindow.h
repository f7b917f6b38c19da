#pragma once
// The splash window frmSplash: product name, version and picture, shown for
// the start-up wait. Its timer TimerSplash ticks once and raises done().

#include <QFrame>

class QLabel;
class QTimer;

namespace qim {

class SplashWindow : public QFrame {
    Q_OBJECT
public:
    static constexpr int DefaultDurationMs = 5000;
    // durationMs is for tests; the program always waits the default.
    explicit SplashWindow(int durationMs = DefaultDurationMs, QWidget* parent = nullptr);

Q_SIGNALS:
    void done();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void tick();
    QTimer* m_timer;
    bool m_done = false;
};

} // namespace qim

#pragma once
// The splash window frmSplash: product name, version and picture, shown for
// the start-up wait. Its timer TimerSplash ticks once and sets SplashDone.

#include <QFrame>

class QLabel;
class QTimer;

namespace qim {

// Set by the splash timer's one tick; read by the start-up.
inline bool SplashDone = false;

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
    void TimerSplash_Timer();
    QTimer* m_timer;
};

} // namespace qim

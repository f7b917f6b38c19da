#pragma once
// The program's start: the splash, its one timer tick, then the main window,
// then the splash goes. A state machine on the splash's signal; nothing waits.

#include <QObject>
#include <QPointer>

namespace qim {

class Link;
class MainWindow;
class MessagePresenter;
class SplashWindow;

class Startup : public QObject {
    Q_OBJECT
public:
    // splashMs is for tests; the program always shows the splash 5000 ms.
    Startup(Link& link, MessagePresenter& presenter, int splashMs = 5000,
            QObject* parent = nullptr);
    // The main window goes before the link and presenter it was given.
    ~Startup() override;

    void start();

private:
    void splashDone();

    Link& m_link;
    MessagePresenter& m_presenter;
    int m_splashMs;
    QPointer<SplashWindow> m_splash;
    QPointer<MainWindow> m_main;
};

} // namespace qim

#include "Startup.h"

#include "MainWindow.h"
#include "MessagePresenter.h"
#include "SplashWindow.h"

#include <QCoreApplication>

namespace qim {

Startup::Startup(int splashMs, QObject* parent) : QObject(parent), m_splashMs(splashMs) {}

SplashWindow* Startup::splash() const {
    return m_splash;
}
MainWindow* Startup::mainWindow() const {
    return m_main;
}

void Startup::start() {
    // Before any window or link traffic: the link's first message (a port
    // that does not open) must find someone to show it.
    MessagePresenter::instance();
    SplashDone = false;
    m_splash = new SplashWindow(m_splashMs);
    m_splash->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_splash, &SplashWindow::done, this, &Startup::splashDone);
    m_splash->show();
}

void Startup::splashDone() {
    if (!SplashDone || m_main)
        return;
    m_main = new MainWindow;
    connect(m_main, &MainWindow::programEnding, qApp, &QCoreApplication::quit);
    m_main->show();
    if (m_splash)
        m_splash->close();
    Q_EMIT mainWindowShown();
}

} // namespace qim

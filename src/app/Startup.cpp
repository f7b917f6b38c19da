#include "Startup.h"

#include "MainWindow.h"
#include "SplashWindow.h"

#include <QCoreApplication>

namespace qim {

Startup::Startup(Link& link, MessagePresenter& presenter, int splashMs, QObject* parent)
    : QObject(parent), m_link(link), m_presenter(presenter), m_splashMs(splashMs) {}

Startup::~Startup() {
    delete m_main.data();
    delete m_splash.data();
}

void Startup::start() {
    m_splash = new SplashWindow(m_splashMs);
    m_splash->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_splash, &SplashWindow::done, this, &Startup::splashDone);
    m_splash->show();
}

void Startup::splashDone() {
    if (m_main)
        return;
    m_main = new MainWindow(m_link, m_presenter);
    connect(m_main, &MainWindow::programEnding, qApp, &QCoreApplication::quit);
    m_main->show();
    if (m_splash)
        m_splash->close();
}

} // namespace qim

#include "Interrupt.h"

#include <QTimer>
#include <atomic>
#include <csignal>

// Where there is no signalfd a handler must set a flag it can reach without
// an object: this one atomic is all it touches, and a timer looks at it.

namespace qim::ctl {

namespace {
std::atomic<int> g_signals{0};
extern "C" void onSignal(int) {
    g_signals.fetch_add(1);
}
} // namespace

struct Interrupt::Private {
    QTimer timer;
    int seen = 0;
};

Interrupt::Interrupt(QObject* parent) : QObject(parent), d(new Private) {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    d->timer.setInterval(50);
    connect(&d->timer, &QTimer::timeout, this, [this] {
        for (const int now = g_signals.load(); d->seen < now; ++d->seen)
            Q_EMIT interrupted();
    });
    d->timer.start();
}

Interrupt::~Interrupt() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    delete d;
}

} // namespace qim::ctl

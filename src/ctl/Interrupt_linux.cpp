#include "Interrupt.h"

#include <QSocketNotifier>
#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

// The signals are blocked and read from a signalfd: no handler runs, so no
// state has to live where a handler could reach it. Threads started later
// inherit the mask, so only the descriptor ever sees the signals.

namespace qim::ctl {

struct Interrupt::Private {
    int fd = -1;
    QSocketNotifier* notifier = nullptr;
};

Interrupt::Interrupt(QObject* parent) : QObject(parent), d(new Private) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        return;
    d->fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (d->fd < 0) {
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    d->notifier = new QSocketNotifier(d->fd, QSocketNotifier::Read, this);
    connect(d->notifier, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo info;
        while (::read(d->fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            Q_EMIT interrupted();
    });
}

Interrupt::~Interrupt() {
    delete d->notifier;
    if (d->fd >= 0)
        ::close(d->fd);
    delete d;
}

} // namespace qim::ctl

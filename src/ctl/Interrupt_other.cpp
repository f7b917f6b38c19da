#include "Interrupt.h"

// Without a signalfd, reaching the event loop from a signal handler would
// take state of the handler's own: there Ctrl+C ends the program at once,
// as it does any console program, and interrupted() never comes.

namespace qim::ctl {

struct Interrupt::Private {};

Interrupt::Interrupt(QObject* parent) : QObject(parent), d(new Private) {}

Interrupt::~Interrupt() {
    delete d;
}

} // namespace qim::ctl

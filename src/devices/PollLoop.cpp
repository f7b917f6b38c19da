#include "PollLoop.h"

#include "Link.h"

namespace qim {

PollLoop::PollLoop(Link& link, QObject* requester, Cycle cycle)
    : QObject(requester), m_link(link), m_requester(requester), m_cycle(std::move(cycle)),
      m_timer(this), m_counts(this, [this] { Q_EMIT countsChanged(); }) {
    m_timer.setObjectName(QStringLiteral("Timer"));
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PollLoop::tick);
}

void PollLoop::start(int intervalMs) {
    m_timer.setInterval(std::max(0, intervalMs));
    m_stopRequested = false;
    m_link.restartTransactions();
    m_running = true;
    ++m_generation;
    top();
}

void PollLoop::top() {
    if (m_stopRequested) {
        end();
        return;
    }
    m_timer.start();
}

void PollLoop::tick() {
    if (!m_running)
        return;
    m_link.advanceTransaction();
    const quint64 gen = m_generation;
    m_cycle([this, gen](int16_t status) {
        if (gen == m_generation && m_running)
            cycleDone(status);
    });
}

void PollLoop::cycleDone(int16_t status) {
    if (status == Status::LinkDown || m_polls >= PollLimit) {
        end();
        return;
    }
    ++m_polls;
    m_shownErrors = m_errors;
    m_shownPolls = m_polls;
    m_counts.request();
    top();
}

void PollLoop::end() {
    m_timer.stop();
    m_counts.flush();
    m_running = false;
    m_stopRequested = false;
    Q_EMIT finished();
}

void PollLoop::shutdown() {
    m_timer.stop();
    m_running = false;
    ++m_generation;
    m_link.cancel(m_requester);
}

} // namespace qim

#include "PollLoop.h"

#include "General.h"
#include "Link.h"

namespace qim {

PollLoop::PollLoop(QObject* requester, Cycle cycle)
    : QObject(requester), m_requester(requester), m_cycle(std::move(cycle)), m_timer(this),
      m_counts(this, [this] { Q_EMIT countsChanged(); }) {
    m_timer.setObjectName(QStringLiteral("Timer"));
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PollLoop::tick);
}

void PollLoop::start(int intervalMs) {
    m_timer.setInterval(std::max(0, intervalMs));
    StopRequested = false;
    General::TransactionId = 0;
    m_running = true;
    ++m_generation;
    top();
}

void PollLoop::top() {
    if (StopRequested) {
        end();
        return;
    }
    m_timer.start();
}

void PollLoop::tick() {
    if (!m_running)
        return;
    AdvanceTransactionId();
    const quint64 gen = m_generation;
    m_cycle([this, gen](int16_t status) {
        if (gen == m_generation && m_running)
            cycleDone(status);
    });
}

void PollLoop::cycleDone(int16_t status) {
    if (status == Status::LinkDown || PollCount >= PollLimit) {
        end();
        return;
    }
    ++PollCount;
    m_counts.request();
    top();
}

void PollLoop::end() {
    m_timer.stop();
    m_counts.flush();
    m_running = false;
    StopRequested = false;
    Q_EMIT finished();
}

void PollLoop::shutdown() {
    m_timer.stop();
    m_running = false;
    ++m_generation;
    Link::instance().cancel(m_requester);
}

} // namespace qim

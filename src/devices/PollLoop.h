#pragma once
// The poll loop every module panel runs, as a state machine:
//
//   start() -> [top] StopRequested? -> end
//           -> wait one interval (timer; 0 = go on at once)
//           -> next TCP transaction identifier -> the panel's cycle (its requests)
//           -> cycle done(status): 252 -> end
//           -> PollCount already at the limit -> end (counts not refreshed)
//           -> PollCount + 1, countsChanged() (at most once a frame) -> [top]
//
// The counts a loop draws are those of its last refreshed cycle: a cycle
// that ends the loop (252, the limit) is counted but never drawn, also when
// the frame's draw was still held back.
//
// Stop is looked at only at the top, so a cycle in progress (its wait and
// its requests) always completes. shutdown() is for a window going away:
// no further request goes out, queued reads are dropped (writes already
// given are the link's and still go out).

#include "FrameThrottle.h"

#include <QObject>
#include <QTimer>
#include <functional>

namespace qim {

class Link;

class PollLoop : public QObject {
    Q_OBJECT
public:
    static constexpr int32_t PollLimit = 100000;
    using Done = std::function<void(int16_t status)>;
    // Makes the cycle's requests, with requester() as their context, and
    // calls done with the status that decides whether polling goes on.
    using Cycle = std::function<void(Done done)>;

    PollLoop(Link& link, QObject* requester, Cycle cycle);

    // Transactions restart at 0, a stop asked for is forgotten, then the
    // first wait begins.
    void start(int intervalMs);
    void requestStop() { m_stopRequested = true; }
    bool running() const { return m_running; }
    void shutdown();
    QObject* requester() const { return m_requester; }

    int32_t errorCount() const { return m_errors; }
    int32_t pollCount() const { return m_polls; }
    // The counts to draw: while the loop runs, as its last refreshed cycle
    // left them; otherwise as they are.
    int32_t shownErrorCount() const { return m_shownErrors; }
    int32_t shownPollCount() const { return m_shownPolls; }
    void countError() {
        ++m_errors;
        showCountsUnlessRunning();
    }
    // A panel's own write between polls counts as a poll too.
    void countPoll() {
        ++m_polls;
        showCountsUnlessRunning();
    }
    void resetCounts() { m_errors = m_polls = m_shownErrors = m_shownPolls = 0; }

Q_SIGNALS:
    void countsChanged();
    void finished();

private:
    void top();
    void tick();
    void cycleDone(int16_t status);
    void end();
    void showCountsUnlessRunning() {
        if (!m_running) {
            m_shownErrors = m_errors;
            m_shownPolls = m_polls;
        }
    }

    Link& m_link;
    QObject* m_requester;
    Cycle m_cycle;
    QTimer m_timer;
    bool m_running = false;
    bool m_stopRequested = false;
    int32_t m_errors = 0;
    int32_t m_polls = 0;
    int32_t m_shownErrors = 0;
    int32_t m_shownPolls = 0;
    FrameThrottle m_counts;
    quint64 m_generation = 0; // a shut-down loop ignores late completions
};

} // namespace qim

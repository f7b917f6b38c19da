#include "BusScan.h"

#include "Link.h"

namespace qim {

QString BusScan::rangeRefusal(int first, int last) {
    return first > last ? QStringLiteral("End address must be equal or higher then start address")
                        : QString();
}

BusScan::BusScan(Link& link, DeviceTable& table, QObject* parent)
    : QObject(parent), m_link(link), m_table(table), m_pause(this) {
    m_pause.setObjectName(QStringLiteral("Timer"));
    m_pause.setSingleShot(true);
    connect(&m_pause, &QTimer::timeout, this, [this] {
        if (m_state == State::Pausing)
            ask();
    });
}

BusScan::~BusScan() {
    m_link.cancel(this);
}

void BusScan::start(int first, int last, std::optional<int> pauseMs) {
    if (running())
        return;
    m_found = m_errors = 0;
    m_stopRequested = false;
    m_table.clear();
    m_link.restartTransactions();
    m_address = first;
    m_last = last;
    m_pauseMs = pauseMs;
    next();
}

void BusScan::next() {
    if (!m_pauseMs) {
        ask();
        return;
    }
    m_state = State::Pausing;
    m_pause.start(std::max(0, *m_pauseMs));
}

void BusScan::ask() {
    m_state = State::Asking;
    m_link.reportSlaveId(uint8_t(m_address), {this, [this, scan = m_scans](const Reply& r) {
                                                  if (scan == m_scans && m_state == State::Asking)
                                                      onReply(r);
                                              }});
}

void BusScan::onReply(const Reply& reply) {
    if (reply.status == Status::LinkDown) {
        end(End::ConnectionError);
        return;
    }
    int index = -1;
    if (reply.ok() && m_table.addFoundDevice(m_found, reply))
        index = m_found++;
    else
        ++m_errors;
    Q_EMIT answered(m_address, reply, index);
    if (m_state != State::Asking)
        return; // abandoned by whoever heard the answer
    if (m_address >= m_last) {
        end(End::Natural);
        return;
    }
    ++m_address;
    if (m_stopRequested) {
        end(End::Stopped);
        return;
    }
    next();
}

void BusScan::end(End how) {
    m_state = State::Idle;
    m_pause.stop();
    m_stopRequested = false;
    Q_EMIT finished(how);
}

void BusScan::abandon() {
    if (!running())
        return;
    m_link.cancel(this);
    ++m_scans;
    end(End::Abandoned);
}

} // namespace qim

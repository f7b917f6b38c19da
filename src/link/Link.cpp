#include "Link.h"

#include "Errors.h"

#include <QDateTime>

namespace qim {

namespace {

// The module, function and addresses a write changes: a newer write with the
// same target replaces a queued one whoever gave it (a slider's position
// still waiting when its window was closed and opened again).
bool sameTarget(const Request& a, const Request& b) {
    const bool multiple = a.function() == uint8_t(Function::WriteMultipleRegisters);
    const qsizetype n = multiple ? 5 : 3; // function, address (and count)
    return a.unit == b.unit && a.pdu.size() >= n && b.pdu.size() >= n &&
           QByteArrayView(a.pdu).first(n) == QByteArrayView(b.pdu).first(n);
}

// The message for a write whose window has gone by the time it failed.
QString writeFailedMessage(const Request& r, int16_t status, bool noReply) {
    const uint8_t function = r.function();
    const int first = r.word(1);
    QString what;
    if (function == uint8_t(Function::WriteSingleCoil)) {
        what = QStringLiteral("coil %1").arg(first);
    } else if (function == uint8_t(Function::WriteMultipleRegisters) && r.word(3) > 1) {
        what = QStringLiteral("holding registers %1 to %2").arg(first).arg(first + r.word(3) - 1);
    } else {
        what = QStringLiteral("holding register %1").arg(first);
    }
    return QStringLiteral(" Module %1: the write of %2 failed (%3).")
        .arg(r.unit)
        .arg(what, Errors::statusReason(status, noReply));
}
} // namespace

Link::Link(Transport& serial, Transport& tcp, QObject* parent)
    : QObject(parent), m_serial(serial), m_tcp(tcp), m_timeout(this) {
    qRegisterMetaType<qim::TransactionRecord>();
    m_clock.start();
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, &Link::onTimer);
    for (Transport* t : {&m_serial, &m_tcp}) {
        // Only the transport of the transaction on the wire speaks to the queue.
        const auto mine = [this, t] { return m_current && t == m_current->transport; };
        connect(t, &Transport::ready, this, [this, mine] {
            if (mine())
                onReady();
        });
        connect(t, &Transport::replied, this, [this, mine] {
            if (mine() && m_phase == Phase::Waiting)
                finishWait(false);
        });
        connect(t, &Transport::ended, this, [this, mine] {
            if (mine())
                onEnded();
        });
        connect(t, &Transport::failed, this, [this, mine](const QString& text) {
            if (mine())
                onFailed(text);
        });
    }
}

Link::~Link() = default;

void Link::readHoldingRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    submit(Request::readHoldingRegisters(slave, start, count), std::move(who));
}

void Link::readInputRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    submit(Request::readInputRegisters(slave, start, count), std::move(who));
}

void Link::reportSlaveId(uint8_t slave, Requester who) {
    submit(Request::reportSlaveId(slave), std::move(who));
}

void Link::writeSingleCoil(uint8_t slave, int16_t address, int32_t value, Requester who) {
    submit(Request::writeSingleCoil(slave, address, value), std::move(who));
}

void Link::writeSingleRegister(uint8_t slave, int16_t address, int32_t value, Requester who) {
    submit(Request::writeSingleRegister(slave, address, value), std::move(who));
}

void Link::writeMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                                  std::span<const int32_t> values, Requester who) {
    submit(Request::writeMultipleRegisters(slave, start, count, values), std::move(who));
}

void Link::testConnection(Requester who) {
    Job job;
    job.transport = m_settings.tcp() ? &m_tcp : &m_serial;
    job.test = true;
    job.context = who.context;
    job.hasContext = who.context != nullptr;
    job.done = std::move(who.done);
    enqueue(std::move(job));
}

void Link::submit(Request request, Requester who) {
    request.transactionId = static_cast<uint16_t>(m_transactionId);
    Transport* const transport = m_settings.tcp() ? &m_tcp : &m_serial;
    const bool write = request.isWrite();
    if (who.coalesceKey >= 0) {
        for (Job& queued : m_queue) {
            if (queued.coalesceKey != who.coalesceKey || queued.test ||
                queued.transport != transport || queued.write != write)
                continue;
            const bool same = write ? sameTarget(queued.request, request)
                                    : who.context && queued.context == who.context;
            if (same) {
                queued.request = std::move(request);
                queued.context = who.context;
                queued.hasContext = who.context != nullptr;
                queued.done = std::move(who.done);
                return;
            }
        }
    }
    Job job;
    job.transport = transport;
    job.request = std::move(request);
    job.write = write;
    job.context = who.context;
    job.hasContext = who.context != nullptr;
    job.done = std::move(who.done);
    job.coalesceKey = who.coalesceKey;
    enqueue(std::move(job));
}

void Link::enqueue(Job job) {
    m_queue.push_back(std::move(job));
    pump();
}

void Link::cancel(const QObject* context) {
    // A write is a command the user already gave: it is not the window's to take back.
    std::erase_if(m_queue, [context](const Job& j) {
        return !j.write && j.hasContext && j.context == context;
    });
}

int Link::pending() const {
    return static_cast<int>(m_queue.size()) + (m_current ? 1 : 0);
}

bool Link::serialPortOpen() const {
    return m_serial.isOpen();
}

bool Link::tcpConnected() const {
    return m_tcp.isOpen();
}

void Link::closeAll() {
    m_serial.close();
    m_tcp.close();
}

void Link::pump() {
    while (!m_current && !m_queue.empty()) {
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        if (!job.write && job.hasContext && !job.context)
            continue; // a read whose window is gone
        m_current = std::move(job);
        start();
    }
}

void Link::start() {
    m_inStart = true;
    ++m_seq;
    m_sent = false;
    m_startedMs = QDateTime::currentMSecsSinceEpoch();
    m_startedNs = m_clock.nsecsElapsed();
    m_phase = Phase::Opening;
    if (!m_current->test)
        m_current->frame = transport().frame(m_current->request);
    transport().open(m_settings, m_current->test ? nullptr : &m_current->request);
    m_inStart = false;
}

void Link::onReady() {
    if (m_phase != Phase::Opening)
        return;
    if (m_current->test) {
        complete({Status::Ok, {}});
        return;
    }
    m_phase = Phase::Waiting;
    m_sent = true;
    // Armed before the request goes out: a send can fail at once, and the
    // failure then owns the transaction.
    armTimeout(transport().replyTimeoutMs(m_settings));
    transport().send(m_current->request, m_current->frame);
}

void Link::armTimeout(int ms) {
    m_deadlineMs = m_clock.elapsed() + ms;
    if (!m_timeout.isActive() || m_timerDueMs > m_deadlineMs) {
        m_timerDueMs = m_deadlineMs;
        m_timeout.start(ms);
    }
}

void Link::onTimer() {
    if (m_phase != Phase::Waiting)
        return; // nothing waits: the timer rests
    const qint64 left = m_deadlineMs - m_clock.elapsed();
    if (left > 0) {
        m_timerDueMs = m_deadlineMs;
        m_timeout.start(static_cast<int>(left));
        return;
    }
    finishWait(true);
}

void Link::onEnded() {
    if (m_phase != Phase::Waiting)
        return;
    // A kept connection the server closed or reset before answering, with not
    // a byte back: our request crossed the server's close and was most likely
    // never read. It goes out once more, on a fresh connection, writes too:
    // every write these modules take sets a value, so twice leaves the module
    // as once does, while a lost write leaves it wrong. Never after a timeout,
    // after part of a reply, or when it went out on a fresh connection.
    if (transport().reused() && transport().received().isEmpty()) {
        m_phase = Phase::Opening;
        transport().open(m_settings, &m_current->request);
        return;
    }
    finishWait(true);
}

void Link::onFailed(const QString& text) {
    if (m_phase == Phase::Idle)
        return;
    if (!text.isEmpty())
        Q_EMIT message(text);
    complete({Status::LinkDown, {}});
}

void Link::finishWait(bool final) {
    Reply reply = transport().finish(final);
    const bool noReply = final && transport().received().isEmpty();
    complete(std::move(reply), noReply);
}

void Link::complete(Reply reply, bool noReply) {
    if (m_inStart) {
        // Never call back from inside submit(): the requester may not be ready.
        m_inStart = false;
        m_phase = Phase::Idle;
        const quint64 seq = m_seq;
        QMetaObject::invokeMethod(
            this,
            [this, reply, noReply, seq] {
                if (m_current && m_seq == seq)
                    complete(reply, noReply);
            },
            Qt::QueuedConnection);
        return;
    }
    m_phase = Phase::Idle;
    Job job = std::move(*m_current);
    m_current.reset();

    if (!job.test) {
        TransactionRecord rec;
        rec.startedMs = m_startedMs;
        rec.durationUs = (m_clock.nsecsElapsed() - m_startedNs) / 1000;
        rec.link = job.transport->name();
        rec.slave = job.request.unit;
        rec.function = job.request.function();
        rec.request = job.frame;
        if (m_sent)
            rec.reply = job.transport->received();
        rec.status = reply.status;
        rec.noReply = noReply;
        m_traffic.append(rec);
        Q_EMIT transactionFinished(rec);
    }

    const bool orphan = job.hasContext && !job.context;
    // Nobody is left to show a failed write: the link tells it itself.
    if (orphan && job.write && !reply.ok())
        Q_EMIT message(writeFailedMessage(job.request, reply.status, noReply));
    if (job.done && !orphan)
        job.done(reply);
    pump();
}

} // namespace qim

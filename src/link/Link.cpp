#include "Link.h"

#include "Errors.h"
#include "SerialTransport.h"
#include "TcpTransport.h"

#include <QDateTime>

namespace qim {

namespace {

// Where a transaction's frame starts: after the MBAP header on TCP.
int pduAt(bool tcp) {
    return tcp ? 6 : 0;
}

uint8_t frameByte(const Frame& f, int i) {
    return i < f.bytes.size() ? static_cast<uint8_t>(f.bytes[i]) : 0;
}

uint16_t frameWord(const Frame& f, int i) {
    return static_cast<uint16_t>(frameByte(f, i) << 8 | frameByte(f, i + 1));
}

// Told by the function code, so no caller can file a write as a read.
bool isWrite(bool tcp, const Frame& f) {
    const auto fn = static_cast<Function>(frameByte(f, pduAt(tcp) + 1));
    return fn == Function::WriteSingleCoil || fn == Function::WriteSingleRegister ||
           fn == Function::WriteMultipleRegisters;
}

// The module, function and addresses a write changes: a newer write with the
// same target replaces a queued one whoever gave it (a slider's position
// still waiting when its window was closed and opened again).
QByteArray writeTarget(bool tcp, const Frame& f) {
    const int at = pduAt(tcp);
    const bool multiple = frameByte(f, at + 1) == uint8_t(Function::WriteMultipleRegisters);
    return f.bytes.mid(at, multiple ? 6 : 4);
}

// The message for a write whose window has gone by the time it failed.
QString writeFailedMessage(bool tcp, const Frame& f, int16_t status, bool noReply) {
    const int at = pduAt(tcp);
    const uint8_t function = frameByte(f, at + 1);
    const int first = frameWord(f, at + 2);
    QString what;
    if (function == uint8_t(Function::WriteSingleCoil)) {
        what = QStringLiteral("coil %1").arg(first);
    } else if (function == uint8_t(Function::WriteMultipleRegisters) && frameWord(f, at + 4) > 1) {
        what = QStringLiteral("holding registers %1 to %2")
                   .arg(first)
                   .arg(first + frameWord(f, at + 4) - 1);
    } else {
        what = QStringLiteral("holding register %1").arg(first);
    }
    return QStringLiteral(" Module %1: the write of %2 failed (%3).")
        .arg(frameByte(f, at))
        .arg(what, Errors::StatusReason(status, noReply));
}
} // namespace

Link::Link(QObject* parent)
    : QObject(parent), m_serial(new SerialTransport(this)), m_tcp(new TcpTransport(this)),
      m_timeout(this) {
    qRegisterMetaType<qim::TransactionRecord>();
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Waiting)
            finishWait(true);
    });
    for (Transport* t : {m_serial, m_tcp}) {
        // Only the transport of the transaction on the wire speaks to the queue.
        const auto mine = [this, t] { return m_current && t == &transport(); };
        connect(t, &Transport::ready, this, [this, mine] {
            if (mine())
                onReady();
        });
        connect(t, &Transport::bytesArrived, this, [this, mine](const QByteArray& bytes) {
            if (mine())
                onBytes(bytes);
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

Transport& Link::transport() const {
    return m_current && m_current->tcp ? *m_tcp : *m_serial;
}

void Link::readHoldingRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    submit(Rtu::ReadHoldingRegisters(slave, start, count),
           Tcp::ReadHoldingRegisters(m_transactionId, slave, start, count), std::move(who));
}

void Link::readInputRegisters(uint8_t slave, int16_t start, int16_t count, Requester who) {
    submit(Rtu::ReadInputRegisters(slave, start, count),
           Tcp::ReadInputRegisters(m_transactionId, slave, start, count), std::move(who));
}

void Link::reportSlaveId(uint8_t slave, Requester who) {
    submit(Rtu::ReportSlaveId(slave), Tcp::ReportSlaveId(m_transactionId, slave), std::move(who));
}

void Link::writeSingleCoil(uint8_t slave, int16_t address, int32_t value, Requester who) {
    submit(Rtu::WriteSingleCoil(slave, address, value),
           Tcp::WriteSingleCoil(m_transactionId, slave, address, value), std::move(who));
}

void Link::writeSingleRegister(uint8_t slave, int16_t address, int32_t value, Requester who) {
    submit(Rtu::WriteSingleRegister(slave, address, value),
           Tcp::WriteSingleRegister(m_transactionId, slave, address, value), std::move(who));
}

void Link::writeMultipleRegisters(uint8_t slave, int16_t start, int16_t count,
                                  std::span<const int32_t> values, Requester who) {
    submit(Rtu::WriteMultipleRegisters(slave, start, count, values),
           Tcp::WriteMultipleRegisters(m_transactionId, slave, start, count, values),
           std::move(who));
}

void Link::testConnection(Requester who) {
    Job job;
    job.tcp = m_settings.tcp();
    job.test = true;
    job.context = who.context;
    job.hasContext = who.context != nullptr;
    job.done = std::move(who.done);
    enqueue(std::move(job));
}

void Link::submit(Frame rtu, Frame tcp, Requester who) {
    Job job;
    job.tcp = m_settings.tcp();
    job.frame = job.tcp ? std::move(tcp) : std::move(rtu);
    job.write = isWrite(job.tcp, job.frame);
    if (who.coalesceKey >= 0) {
        for (Job& queued : m_queue) {
            if (queued.coalesceKey != who.coalesceKey || queued.test || queued.tcp != job.tcp ||
                queued.write != job.write)
                continue;
            const bool same =
                job.write ? writeTarget(job.tcp, queued.frame) == writeTarget(job.tcp, job.frame)
                          : who.context && queued.context == who.context;
            if (same) {
                queued.frame = std::move(job.frame);
                queued.context = who.context;
                queued.hasContext = who.context != nullptr;
                queued.done = std::move(who.done);
                return;
            }
        }
    }
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
    return m_serial->isOpen();
}

bool Link::tcpConnected() const {
    return m_tcp->isOpen();
}

void Link::closeAll() {
    m_serial->close();
    m_tcp->close();
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
    m_rx.reset();
    m_startedMs = QDateTime::currentMSecsSinceEpoch();
    m_clock.start();
    m_phase = Phase::Opening;
    transport().prepare(m_current->frame.bytes);
    transport().open(m_settings, m_current->test);
    m_inStart = false;
}

void Link::onReady() {
    if (m_phase != Phase::Opening)
        return;
    if (m_current->test) {
        complete({Status::Ok, {}, m_current->tcp});
        return;
    }
    m_phase = Phase::Waiting;
    m_rx.emplace(m_current->tcp, m_current->frame);
    // Armed before the request goes out: a send can fail at once, and the
    // failure then owns the transaction.
    m_timeout.start(transport().replyTimeoutMs(m_settings));
    transport().send(m_current->frame.bytes);
}

void Link::onBytes(const QByteArray& bytes) {
    if (m_phase == Phase::Waiting && m_rx->feed(bytes))
        finishWait(false);
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
    if (transport().reused() && m_rx->bytes().isEmpty()) {
        const QByteArray late = transport().takeAll();
        if (late.isEmpty()) {
            m_timeout.stop();
            m_phase = Phase::Opening;
            transport().open(m_settings, false);
            return;
        }
        m_rx->feed(late);
    }
    finishWait(true);
}

void Link::onFailed(const QString& text) {
    if (m_phase == Phase::Idle)
        return;
    m_timeout.stop();
    if (!text.isEmpty())
        Q_EMIT message(text);
    complete({Status::LinkDown, {}, m_current->tcp});
}

void Link::finishWait(bool finalCall) {
    m_timeout.stop();
    if (finalCall)
        m_rx->feed(transport().takeAll());
    const QByteArray rx = m_rx->bytes();
    const int16_t status = m_rx->verdict(finalCall);
    // The way stays in step only after a reply that ended exactly where it
    // should. After a timeout or a reply of the wrong length, more bytes of
    // it may still come and would be taken for the next transaction's reply.
    transport().finish(!finalCall && status != Status::WrongLength);
    const bool tcp = m_current->tcp;
    complete({status, tcp ? rx.mid(6) : rx, tcp}, finalCall && rx.isEmpty());
}

void Link::complete(Reply reply, bool noReply) {
    if (m_inStart) {
        // Never call back from inside submit(): the requester may not be ready.
        m_inStart = false;
        m_timeout.stop();
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
    m_timeout.stop();
    m_phase = Phase::Idle;
    Job job = std::move(*m_current);
    m_current.reset();

    if (!job.test) {
        TransactionRecord rec;
        rec.startedMs = m_startedMs;
        rec.durationUs = m_clock.nsecsElapsed() / 1000;
        rec.tcp = job.tcp;
        const int at = pduAt(job.tcp);
        rec.slave = frameByte(job.frame, at);
        rec.function = frameByte(job.frame, at + 1);
        rec.request = job.frame.bytes;
        rec.reply = m_rx ? m_rx->bytes() : QByteArray();
        rec.status = reply.status;
        rec.noReply = noReply;
        m_traffic.append(rec);
        Q_EMIT transactionFinished(rec);
    }

    const bool orphan = job.hasContext && !job.context;
    // Nobody is left to show a failed write: the link tells it itself.
    if (orphan && job.write && !reply.ok())
        Q_EMIT message(writeFailedMessage(job.tcp, job.frame, reply.status, noReply));
    if (job.done && !orphan)
        job.done(reply);
    pump();
}

} // namespace qim

#include "SerialTransport.h"

#include "Errors.h"
#include "PortNames.h"

#include <QFileInfo>
#include <QScopedValueRollback>
#include <unistd.h>

namespace qim {

namespace {
// Sends a request at once. A request is a few dozen bytes, which the tty
// driver takes whole: writing straight to the descriptor spares the port's
// buffered write, which arms and disarms a write notifier (two wake-ups of
// the event loop) for every transaction. Whatever the descriptor does not
// take (or an error, which the port then reports itself) goes the buffered way.
void writeNow(QSerialPort& port, const QByteArray& bytes) {
    qsizetype sent = 0;
    if (const int fd = static_cast<int>(port.handle()); fd >= 0) {
        const ssize_t n = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
        sent = n > 0 ? n : 0;
    }
    if (sent < bytes.size()) {
        port.write(bytes.constData() + sent, bytes.size() - sent);
        port.flush();
    }
}
} // namespace

SerialTransport::SerialTransport(QObject* parent) : Transport(parent), m_port(this), m_quiet(this) {
    // A babbling line cannot grow our memory: the excess stays in the driver.
    m_port.setReadBufferSize(2048);
    connect(&m_port, &QSerialPort::readyRead, this, &SerialTransport::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialTransport::onError);
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, &SerialTransport::go);
    m_timedOutMs.fill(-1);
    m_clock.start();
}

void SerialTransport::onReadyRead() {
    m_lastByteMs = m_clock.elapsed();
    if (m_quiet.isActive()) {
        m_port.readAll();
        m_quiet.start(
            static_cast<int>(std::clamp<qint64>(m_quietEndMs - m_lastByteMs, 0, m_quietMs)));
    } else if (m_active && m_rx) {
        if (m_rx->feed(m_port))
            Q_EMIT replied();
    } else {
        // Nobody asked for these (noise, another master): the next request
        // clears them, and the line, first.
        m_stale = true;
    }
}

QString SerialTransport::resolve() const {
    return m_named.isEmpty() ? PortNames::resolve(m_comPort).device : m_named;
}

bool SerialTransport::configure(const LinkSettings& settings) {
    m_comPort = settings.comPort;
    m_named = settings.device;
    m_device = resolve();
    m_port.setPortName(m_device);
    // A baud index outside the list leaves the line speed as it was.
    if (const int rate = settings.baudRate())
        m_port.setBaudRate(rate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::TwoStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    return !m_port.portName().isEmpty();
}

void SerialTransport::open(const LinkSettings& settings, const Request* request) {
    const QScopedValueRollback opening(m_opening, true);
    m_unit = request ? request->unit : -1;
    m_rx.reset();
    if (!request) {
        if (m_port.isOpen())
            m_port.close();
        const bool named = configure(settings);
        if (!named || !m_port.open(QIODevice::ReadWrite)) {
            fail(named ? m_port.error() : QSerialPort::DeviceNotFoundError);
            return;
        }
        // The test only proves the port opens; the first transaction opens it for good.
        m_port.close();
        Q_EMIT ready();
        return;
    }
    if (m_comPort == 0)
        configure(settings);
    const bool wasOpen = m_port.isOpen();
    if (!wasOpen) {
        // Re-resolve: a pinned COMn may point at a new device since the last open.
        m_device = resolve();
        m_port.setPortName(m_device);
        if (m_port.portName().isEmpty()) {
            fail(QSerialPort::DeviceNotFoundError);
            return;
        }
        if (!m_port.open(QIODevice::ReadWrite)) {
            fail(m_port.error());
            return;
        }
        m_stale = true; // whatever waited on the port came before us
    }
    // From here on an error of the port ends the transaction.
    m_opening = false;
    m_active = true;
    const qint64 timedOut = m_unit >= 0 ? m_timedOutMs[size_t(m_unit)] : -1;
    m_quietMs = settings.serialTimeoutMs;
    const qint64 quietFor = m_clock.elapsed() - std::max(timedOut, m_lastByteMs);
    if (timedOut >= 0 && quietFor < m_quietMs) {
        m_quietEndMs = m_clock.elapsed() + 3 * qint64(m_quietMs);
        m_quiet.start(static_cast<int>(m_quietMs - quietFor));
        return;
    }
    go();
}

void SerialTransport::go() {
    if (m_unit >= 0)
        m_timedOutMs[size_t(m_unit)] = -1;
    // What a late reply (or an earlier run) left behind must not be taken for
    // this one's: clear() empties the port's buffer and the driver's. Only
    // when something may be there: the flush waits for the tty layer's own
    // work and cost a third of a fast transaction.
    if (m_stale)
        m_port.clear(QSerialPort::Input);
    m_stale = false;
    if (m_active)
        Q_EMIT ready();
}

void SerialTransport::send(const Request& request, const QByteArray& frame) {
    m_rx.emplace(request);
    writeNow(m_port, frame);
}

Reply SerialTransport::finish(bool final) {
    if (final)
        m_rx->feed(m_port);
    const int16_t status = m_rx->verdict(final);
    // The port stays open; whatever the line still brings is cleared before
    // the next request. After a timeout or a reply of the wrong length the
    // unit may still be answering: its next request waits for a quiet line.
    m_active = false;
    if (final || status == Status::WrongLength) {
        m_stale = true;
        if (m_unit >= 0)
            m_timedOutMs[size_t(m_unit)] = m_clock.elapsed();
    }
    return {status, m_rx->reply()};
}

const QByteArray& SerialTransport::received() const {
    static const QByteArray none;
    return m_rx ? m_rx->bytes() : none;
}

void SerialTransport::close() {
    m_quiet.stop();
    m_active = false;
    if (m_port.isOpen())
        m_port.close();
}

void SerialTransport::fail(QSerialPort::SerialPortError error) {
    m_quiet.stop();
    m_active = false;
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
    // Whatever the driver calls it, an error after the device itself has gone
    // (an adapter pulled, a pty closed) means the port is not available.
    const int number = !m_device.isEmpty() && !QFileInfo::exists(m_device)
                           ? Errors::PortNotAvailable
                           : Errors::serialErrorNumber(error);
    Q_EMIT failed(number == Errors::PortNotAvailable
                      ? Errors::portUnavailableMessage()
                      : QStringLiteral(" Communication Error %1").arg(number));
}

void SerialTransport::onError(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || m_opening)
        return; // open() failures are handled where open() is called
    if (m_active) {
        fail(error);
        return;
    }
    // Between transactions (the adapter was pulled): close quietly; the next
    // transaction reports it when the port does not open.
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

} // namespace qim

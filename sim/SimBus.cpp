#include "SimBus.h"

#include "Bytes.h"
#include "PortNames.h"
#include "SimModels.h"
#include "SimRequests.h"
#include "SimTransports.h"

#include <QElapsedTimer>
#include <cstdio>

namespace qimsim {

// ------------------------------------------------------------------ module

Module::Module(uint8_t address, uint8_t deviceCode) : m_address(address), m_deviceCode(deviceCode) {
    m_identity.deviceCode = deviceCode;
    m_identity.serialNumber = static_cast<uint16_t>(24000 + 100 * (deviceCode % 100) + address);
}

Module::~Module() = default;

double Module::now() const {
    return m_bus ? m_bus->simulatedSeconds() : 0.0;
}

QByteArray Module::identification(bool overTcp) const {
    if (m_pinnedIdentification.size() == 18)
        return m_pinnedIdentification;
    const Identity& id = m_identity;
    uint8_t baud = 2;
    if (id.baudCode) {
        baud = *id.baudCode;
    } else if (m_bus) {
        switch (m_bus->lineBaudRate()) {
        case 115200:
            baud = 0;
            break;
        case 57600:
            baud = 1;
            break;
        case 19200:
            baud = 2;
            break;
        case 9600:
            baud = 3;
            break;
        default:
            baud = 4; // a speed the module has no code for
        }
    }
    QByteArray b(18, '\0');
    const auto put = [&b](int i, int v) { b[i] = static_cast<char>(v & 0xFF); };
    put(0, id.deviceCode);
    put(1, 0xFF); // run indicator: on
    put(2, 0);
    put(3, id.firmwareMajor);
    put(4, id.firmwareMinor);
    put(5, id.hardwareRevision);
    put(6, id.connectionMode.value_or(overTcp ? 1 : 0));
    put(7, baud);
    put(8, m_address); // the address the module's switches are set to
    put(9, id.inputRegisters);
    put(10, id.outputRegisters);
    put(11, id.discreteInputs);
    put(12, id.discreteOutputs);
    put(13, id.serialNumber >> 8);
    put(14, id.serialNumber);
    put(15, 23); // year of manufacture since 2000
    put(16, 41); // and week
    put(17, 0);
    return b;
}

void Module::setIdentification(const QByteArray& block) {
    m_pinnedIdentification = block.size() == 18 ? block : QByteArray();
}

std::optional<uint16_t> Module::holding(int) const {
    return std::nullopt;
}
std::optional<uint16_t> Module::input(int) const {
    return std::nullopt;
}
std::optional<bool> Module::coil(int) const {
    return std::nullopt;
}
bool Module::supports(uint8_t function) const {
    return function == uint8_t(Function::ReportSlaveId);
}

std::optional<uint16_t> Module::read(int function, int address) const {
    switch (Function(function)) {
    case Function::ReadCoils:
        if (const auto c = coil(address))
            return *c ? 1 : 0;
        return std::nullopt;
    case Function::ReadHoldingRegisters:
        return holding(address);
    case Function::ReadInputRegisters:
        return input(address);
    default:
        return std::nullopt;
    }
}
bool Module::writable(int) const {
    return false;
}
void Module::write(int, uint16_t) {}
bool Module::writeCoil(int, bool) {
    return false;
}

void Module::forceRead(int function, int address, std::optional<uint16_t> value) {
    if (value)
        m_forced[{function, address}] = *value;
    else
        m_forced.erase({function, address});
}

void Module::setFault(int function, const Fault& fault) {
    if (fault.kind == Fault::None || fault.times == 0)
        m_faults.erase(function);
    else
        m_faults[function] = fault;
}

void Module::clearFaults() {
    m_faults.clear();
}

std::optional<Fault> Module::takeFault(uint8_t function) {
    auto it = m_faults.find(function);
    if (it == m_faults.end())
        it = m_faults.find(0);
    if (it == m_faults.end())
        return std::nullopt;
    const Fault f = it->second;
    if (it->second.times > 0 && --it->second.times == 0)
        m_faults.erase(it);
    return f;
}

// ------------------------------------------------------------------ bus

struct Bus::Private {
    std::map<uint8_t, std::unique_ptr<Module>> modules;
    QElapsedTimer real;
    double base = 0;
    double factor = 1;
    QList<RequestRecord> records;
    int lineBaud = 19200;
    int gapMs = 20;
    std::unique_ptr<TcpTransport> tcp;
    QString tcpError;
    TcpServing tcpServing;
    int tcpConnections = 0;
    std::unique_ptr<RtuChannel> pty;
    int ptyCom = 0;
    std::unique_ptr<RtuChannel> serial;
    QString serialError;
};

Bus::Bus(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {
    qRegisterMetaType<qimsim::RequestRecord>();
    d->real.start();
}

Bus::~Bus() {
    stop();
}

Module* Bus::addModule(uint8_t address, uint8_t deviceCode) {
    std::unique_ptr<Module> m;
    switch (deviceCode) {
    case 10:
    case 11:
        m = std::make_unique<DiscreteModule>(address, deviceCode);
        break;
    case 20:
        m = std::make_unique<AnalogModule>(address);
        break;
    case 30:
        m = std::make_unique<TemperatureModule>(address);
        break;
    default:
        m = std::make_unique<GenericModule>(address, deviceCode);
        break;
    }
    m->m_bus = this;
    Module* raw = m.get();
    d->modules[address] = std::move(m);
    return raw;
}

Module* Bus::module(uint8_t address) const {
    const auto it = d->modules.find(address);
    return it == d->modules.end() ? nullptr : it->second.get();
}

void Bus::removeModule(uint8_t address) {
    d->modules.erase(address);
}

QList<Module*> Bus::modules() const {
    QList<Module*> out;
    for (const auto& [address, m] : d->modules)
        out << m.get();
    return out;
}

void Bus::addDemoModules() {
    addModule(1, 10);
    addModule(2, 11);
    addModule(3, 20);
    auto* t = static_cast<TemperatureModule*>(addModule(4, 30));
    // Loop 4 has no thermocouple fitted, so the panel shows an open circuit.
    t->setSensor(3, TemperatureModule::Sensor::Open);
}

bool Bus::listenTcp(const QHostAddress& address, quint16 port) {
    d->tcp.reset();
    auto tcp = std::make_unique<TcpTransport>(*this);
    if (!tcp->listen(address, port, &d->tcpError))
        return false;
    d->tcp = std::move(tcp);
    return true;
}

quint16 Bus::tcpPort() const {
    return d->tcp ? d->tcp->port() : 0;
}

QString Bus::tcpError() const {
    return d->tcpError;
}

void Bus::setTcpServing(const TcpServing& serving) {
    d->tcpServing = serving;
}

TcpServing Bus::tcpServing() const {
    return d->tcpServing;
}

int Bus::nextTcpConnection() {
    return ++d->tcpConnections;
}

bool Bus::openPty(int comNumber) {
    closePty();
    auto pty = std::make_unique<RtuChannel>(*this, d->gapMs);
    if (!pty->openPty(&d->serialError))
        return false;
    if (comNumber > 0 && !qim::PortNames::publish(comNumber, pty->device())) {
        d->serialError = QStringLiteral("cannot publish %1 as %2 in %3")
                             .arg(pty->device(), qim::PortNames::comName(comNumber),
                                  qim::PortNames::portFolder());
        return false;
    }
    d->ptyCom = comNumber;
    d->pty = std::move(pty);
    return true;
}

QString Bus::ptyDevice() const {
    return d->pty ? d->pty->device() : QString();
}

bool Bus::openSerial(const QString& device, int baudRate) {
    d->serial.reset();
    auto serial = std::make_unique<RtuChannel>(*this, d->gapMs);
    if (!serial->openSerial(device, baudRate, &d->serialError))
        return false;
    d->lineBaud = baudRate;
    d->serial = std::move(serial);
    return true;
}

QString Bus::serialError() const {
    return d->serialError;
}

void Bus::closePty() {
    if (!d->pty)
        return;
    if (d->ptyCom > 0)
        qim::PortNames::unpublish(d->ptyCom, d->pty->device());
    d->ptyCom = 0;
    d->pty.reset();
}

void Bus::stop() {
    d->tcp.reset();
    closePty();
    d->serial.reset();
}

int Bus::lineBaudRate() const {
    return d->lineBaud;
}

void Bus::setLineBaudRate(int baudRate) {
    d->lineBaud = baudRate;
}

void Bus::setSpeedFactor(double factor) {
    d->base = simulatedSeconds();
    d->real.restart();
    d->factor = factor > 0 ? factor : 0;
}

double Bus::speedFactor() const {
    return d->factor;
}

double Bus::simulatedSeconds() const {
    return d->base + static_cast<double>(d->real.nsecsElapsed()) / 1e9 * d->factor;
}

void Bus::advanceTime(double seconds) {
    if (seconds > 0)
        d->base += seconds;
}

void Bus::setRtuGapMs(int ms) {
    d->gapMs = std::max(1, ms);
    if (d->pty)
        d->pty->setGapMs(d->gapMs);
    if (d->serial)
        d->serial->setGapMs(d->gapMs);
}

QList<RequestRecord> Bus::requests() const {
    return d->records;
}

void Bus::clearRequests() {
    d->records.clear();
}

// ------------------------------------------------------------------ serving

namespace {

// The reply frame as the fault makes it, in pieces.
Served applyFault(QByteArray frame, const std::optional<Fault>& fault, bool tcp) {
    Served s;
    if (!fault) {
        s.chunks = {{frame, 0}};
        return s;
    }
    switch (fault->kind) {
    case Fault::None:
    case Fault::Exception: // already in the frame
        s.chunks = {{frame, 0}};
        break;
    case Fault::Silence:
        break;
    case Fault::Delay:
        s.chunks = {{frame, std::max(0, fault->delayMs)}};
        break;
    case Fault::WrongCrc:
        if (!tcp)
            frame[frame.size() - 1] = static_cast<char>(~static_cast<uint8_t>(frame.back()));
        s.chunks = {{frame, 0}};
        break;
    case Fault::ExtraByte:
        s.chunks = {{frame + QByteArray(1, '\0'), 0}};
        break;
    case Fault::MissingByte:
        frame.chop(1);
        s.chunks = {{frame, 0}};
        break;
    case Fault::Split: {
        const int n = std::clamp(fault->pieces, 1, static_cast<int>(frame.size()));
        int at = 0;
        for (int k = 0; k < n; ++k) {
            const int end = static_cast<int>(frame.size()) * (k + 1) / n;
            s.chunks << Chunk{frame.mid(at, end - at), k == 0 ? 0 : std::max(0, fault->pauseMs)};
            at = end;
        }
        break;
    }
    case Fault::Garbage:
        s.chunks = {
            {fault->garbage.isEmpty() ? QByteArray::fromHex("FF00553CAA13") : fault->garbage, 0}};
        break;
    case Fault::CloseMidReply:
        s.chunks = {{frame.left(frame.size() / 2), 0}};
        s.closeAfter = tcp;
        break;
    }
    return s;
}

QString faultName(Fault::Kind k) {
    static const char* names[] = {"none",       "silence",        "delay",       "wrong CRC",
                                  "extra byte", "missing byte",   "split reply", "exception",
                                  "garbage",    "close mid-reply"};
    return QString::fromLatin1(names[k]);
}

} // namespace

// Serves one request from a transport: record, fault, reply frame.
struct Serving {
    static Served run(Bus& bus, uint8_t address, const QByteArray& pdu, bool tcp, uint16_t tid,
                      const QByteArray& raw, int connection = 0) {
        Bus::Private& d = *bus.d;
        RequestRecord rec;
        rec.at = QDateTime::currentDateTime();
        rec.tcp = tcp;
        rec.transactionId = tid;
        rec.connection = connection;
        // A copy of its own: the frame may share the transport's read buffer,
        // many kilobytes each, which the record would otherwise keep alive.
        rec.raw = QByteArray(raw.constData(), raw.size());
        rec.address = address;
        describe(pdu, rec);

        Module* m = address != 0 ? bus.module(address) : nullptr;
        const std::optional<Fault> fault =
            m && !pdu.isEmpty() ? m->takeFault(static_cast<uint8_t>(pdu[0])) : std::nullopt;
        QByteArray reply;
        if (fault && fault->kind == Fault::Exception)
            reply = exceptionPdu(rec.function, fault->exceptionCode);
        else if (!fault || fault->kind != Fault::Silence)
            reply = bus.handle(address, pdu, nullptr, tcp);

        Served s;
        if (!reply.isEmpty()) {
            QByteArray frame;
            if (tcp) {
                putWord(frame, tid);
                putWord(frame, 0);
                putWord(frame, static_cast<int>(reply.size()) + 1);
                frame.append(static_cast<char>(address));
                frame.append(reply);
            } else {
                frame.append(static_cast<char>(address));
                frame.append(reply);
                const int32_t crc = qim::crc16(frame, static_cast<int>(frame.size()));
                frame.append(static_cast<char>(qim::loByte(crc)));
                frame.append(static_cast<char>(qim::hiByte(crc)));
            }
            s = applyFault(frame, fault, tcp);
        }

        if (d.records.size() >= Bus::RecordLimit)
            d.records.remove(0, d.records.size() - Bus::RecordLimit + 1000);
        d.records << rec;
        if (bus.verbose)
            print(rec, reply, fault, m != nullptr);
        Q_EMIT bus.requestReceived(rec);
        return s;
    }

    static void print(const RequestRecord& r, const QByteArray& reply,
                      const std::optional<Fault>& fault, bool present) {
        QString line = r.at.toString(QStringLiteral("HH:mm:ss.zzz "));
        line += r.tcp ? QStringLiteral("TCP #%1 tid %2 ").arg(r.connection).arg(r.transactionId)
                      : QStringLiteral("RTU ");
        line += QStringLiteral("unit %1 fn %2").arg(r.address).arg(r.function);
        if (r.function != 17)
            line += QStringLiteral(" start %1").arg(r.start);
        if (r.count)
            line += QStringLiteral(" count %1").arg(r.count);
        if (!r.values.isEmpty()) {
            QStringList v;
            for (uint16_t x : r.values)
                v << QString::number(x);
            line += QStringLiteral(" values %1").arg(v.join(QLatin1Char(',')));
        }
        line += QStringLiteral(" -> ");
        if (!present)
            line += r.address == 0 ? QStringLiteral("broadcast, no reply")
                                   : QStringLiteral("no module, no reply");
        else if (reply.isEmpty())
            line += QStringLiteral("no reply");
        else if (static_cast<uint8_t>(reply[0]) & 0x80)
            line += QStringLiteral("exception %1").arg(static_cast<uint8_t>(reply[1]));
        else
            line += QStringLiteral("%1 bytes").arg(reply.size());
        if (fault)
            line += QStringLiteral(" [fault: %1]").arg(faultName(fault->kind));
        std::fprintf(stdout, "%s\n", qPrintable(line));
        std::fflush(stdout);
    }
};

Served Served::rtu(Bus& bus, const QByteArray& frame) {
    const uint8_t address = static_cast<uint8_t>(frame[0]);
    return Serving::run(bus, address, frame.mid(1, frame.size() - 3), false, 0, frame);
}

Served Served::tcp(Bus& bus, const QByteArray& frame, int connection) {
    const uint16_t tid = word(frame, 0);
    const uint8_t unit = static_cast<uint8_t>(frame[6]);
    return Serving::run(bus, unit, frame.mid(7), true, tid, frame, connection);
}

} // namespace qimsim

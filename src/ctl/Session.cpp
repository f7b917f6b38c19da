#include "Session.h"

#include "AnalogScale.h"
#include "Errors.h"
#include "Link.h"
#include "PollLoop.h"
#include "TemperatureRegisters.h"

#include <QLocale>
#include <array>

namespace qim::ctl {

namespace {

// The status LEDs of a loop, bit 0 first, named as the panel names them.
const char* const StatusBits[8] = {"OC", "SCG", "SCV", "TCF", "TS", "ON", "ALL", "ALH"};

// JSON keys of the identification, in the order of the main window's rows.
const char* const DeviceKeys[DeviceFieldCount] = {
    "name",
    "address",
    "code",
    "vendor",
    "firmware",
    "hardware",
    "connection",
    "baud",
    "type",
    "inputRegisters",
    "outputRegisters",
    "discreteInputs",
    "discreteOutputs",
};
constexpr bool DeviceKeyIsNumber(int i) {
    return i == 1 || i == 2 || i >= 9;
}

Field num(const QString& name, qint64 v) {
    return {name, QString::number(v), true};
}

QString bits(int value) {
    return QStringLiteral("0b") +
           QString::number(value & 0xFF, 2).rightJustified(8, QLatin1Char('0'));
}

bool isDiscrete(uint8_t code) {
    return code == 10 || code == 11;
}

QString moduleName(const DeviceRecord& r) {
    const QString name = DeviceNameOf(r.code);
    return name.isEmpty() ? QStringLiteral("device code %1").arg(r.code) : name;
}

} // namespace

int ExitOf(int16_t status) {
    switch (status) {
    case Status::Ok:
        return Exit::Ok;
    case Status::LinkDown:
        return Exit::LinkDown;
    case Status::WrongLength:
    case Status::CrcError:
        return Exit::NoReply;
    default:
        return Exit::ExceptionReply;
    }
}

Session::Session(Link& link, const Options& options, Printer& out, QObject* parent)
    : QObject(parent), m_link(link), m_o(options), m_out(out) {}

void Session::start() {
    m_link.setSettings(m_o.link);
    m_link.restartTransactions();
    switch (m_o.command) {
    case Command::Scan:
        scanNext(m_o.from);
        return;
    case Command::Info:
        identify([this] { info(); });
        return;
    case Command::Read:
        identify([this] { read(); });
        return;
    case Command::Write:
        identify([this] { write(); });
        return;
    }
}

void Session::interrupt() {
    if (++m_interrupts > 1) {
        finish(130);
        return;
    }
    // In a poll the cycle's end sees the interrupt and stops the loop; between
    // polls nothing is on the wire, so the watch ends now.
    if (m_loop && m_loop->running() && !m_inCycle) {
        m_loop->shutdown();
        finish(m_code);
    }
}

void Session::finish(int code) {
    if (m_finished)
        return;
    m_finished = true;
    Q_EMIT finished(code);
}

bool Session::failed(const Reply& reply, const QString& what, int needBytes) {
    if (reply.ok() && reply.holds(needBytes))
        return false;
    // A "good" reply too short to decode is a reply of the wrong length.
    const int16_t status = reply.ok() ? Status::WrongLength : reply.status;
    if (status == Status::LinkDown)
        m_linkDown = true;
    const QString text = QStringLiteral("Module %1: the %2 failed (%3).")
                             .arg(m_o.address)
                             .arg(what, Errors::StatusReason(status, reply.bytes.isEmpty()));
    Complain(m_o.watchMs ? Now() + QLatin1Char(' ') + text : text);
    m_code = ExitOf(status);
    return true;
}

Record Session::stamp() const {
    return {{QStringLiteral("time"), Now()}, num(QStringLiteral("address"), m_o.address)};
}

void Session::identify(std::function<void()> next) {
    m_link.reportSlaveId(uint8_t(m_o.address), {this, [this, next](const Reply& r) {
                                                    if (failed(r, QStringLiteral("identification"),
                                                               IdentificationMinimum)) {
                                                        finish(m_code);
                                                        return;
                                                    }
                                                    m_table.addFoundDevice(0, r);
                                                    m_module = m_table.at(0);
                                                    next();
                                                }});
}

Record Session::deviceRecord(const DeviceRecord& r) const {
    Record rec;
    const auto fields = DeviceFields(r);
    for (int i = 0; i < DeviceFieldCount; ++i) {
        QString shown = fields[size_t(i)].shown;
        while (shown.endsWith(QLatin1Char(' ')))
            shown.chop(1); // the fields' fixed-length padding
        rec.append({QLatin1String(DeviceKeys[i]), shown, DeviceKeyIsNumber(i)});
    }
    return rec;
}

// ---------------------------------------------------------------- scan, info

void Session::scanNext(int address) {
    m_link.reportSlaveId(
        uint8_t(address),
        {this, [this, address](const Reply& r) {
             if (r.status == Status::LinkDown) {
                 m_o.address = address;
                 failed(r, QStringLiteral("identification"));
                 finish(m_code);
                 return;
             }
             // Silence and refusals are what a scan mostly meets.
             if (r.ok() && m_table.addFoundDevice(m_found, r)) {
                 Record rec = deviceRecord(m_table.at(m_found++));
                 if (m_out.format() == Format::Text) {
                     // The columns that fit a terminal line.
                     rec = {rec[1], rec[0], rec[2], rec[4], rec[5], rec[6], rec[7], rec[8]};
                 }
                 m_out.row(rec);
             }
             if (address < m_o.to && !m_interrupts) {
                 scanNext(address + 1);
                 return;
             }
             if (m_found == 0)
                 Complain(QStringLiteral("No module answered from address %1 to %2.")
                              .arg(m_o.from)
                              .arg(address));
             finish(m_found ? Exit::Ok : Exit::NoReply);
         }});
}

void Session::info() {
    if (m_out.format() != Format::Text) {
        m_out.row(deviceRecord(m_module));
    } else {
        for (const DeviceField& f : DeviceFields(m_module)) {
            QString shown = f.shown;
            while (shown.endsWith(QLatin1Char(' ')))
                shown.chop(1);
            m_out.line(QStringLiteral("%1  %2").arg(
                QString::fromLatin1(f.caption).leftJustified(17), shown));
        }
    }
    finish(Exit::Ok);
}

// ---------------------------------------------------------------- read

void Session::read() {
    const uint8_t code = m_module.code;
    if (!isDiscrete(code) && code != 20 && code != 30) {
        Complain(QStringLiteral("Module %1 (%2) is not a model qimctl reads.")
                     .arg(m_o.address)
                     .arg(moduleName(m_module)));
        finish(Exit::BadArguments);
        return;
    }
    if (!m_o.watchMs) {
        poll([this](int16_t) { finish(m_code); });
        return;
    }
    if (m_interrupts) {
        finish(m_code);
        return;
    }
    m_loop = new PollLoop(m_link, this, [this](PollLoop::Done done) {
        m_inCycle = true;
        poll([this, done](int16_t status) {
            m_inCycle = false;
            if (m_interrupts || (m_o.count && ++m_polls >= m_o.count))
                m_loop->requestStop();
            done(status);
        });
    });
    connect(m_loop, &PollLoop::finished, this, [this] {
        if (m_linkDown || m_interrupts || (m_o.count && m_polls >= m_o.count)) {
            finish(m_code);
            return;
        }
        // The panel's limit of 100000 polls does not bind a logging run: go on.
        m_loop->resetCounts();
        m_loop->start(*m_o.watchMs);
    });
    m_loop->start(*m_o.watchMs);
}

void Session::poll(Next done) {
    if (isDiscrete(m_module.code))
        pollDiscrete(std::move(done));
    else if (m_module.code == 20)
        pollAnalog(std::move(done));
    else
        pollTemperature(std::move(done));
}

void Session::pollDiscrete(Next done) {
    m_link.readHoldingRegisters(
        uint8_t(m_o.address), 0, 1,
        {this, [this, done](const Reply& r) {
             if (failed(r, QStringLiteral("read of holding register 0"), 5)) {
                 done(r.status);
                 return;
             }
             const int inputs = *r.reg(0) & 0xFF;
             Record rec = stamp();
             rec.append({QStringLiteral("inputs"), bits(inputs)});
             for (int k = 0; k < 8; ++k)
                 rec.append(
                     num(QStringLiteral("in%1").arg(k + 1), GetBit(uint8_t(inputs), uint8_t(k))));
             m_out.row(rec);
             done(Status::Ok);
         }});
}

void Session::pollAnalog(Next done) {
    m_link.readInputRegisters(
        uint8_t(m_o.address), 0, 8,
        {this, [this, done](const Reply& r) {
             if (failed(r, QStringLiteral("read of input registers 0 to 7"), 3 + 16)) {
                 done(r.status);
                 return;
             }
             // Machine formats always use a decimal point; text follows the user's locale.
             const QLocale locale = m_out.format() == Format::Text ? QLocale() : QLocale::c();
             Record rec = stamp();
             for (int k = 0; k < 8; ++k) {
                 const int32_t counts = *r.reg(k);
                 // The panel converts with the range its boxes show, 0..10 V until
                 // the user picks another; it never reads the module's own setting.
                 rec.append({QStringLiteral("ain%1").arg(k + 1),
                             m_o.counts ? QString::number(counts)
                                        : Analog::VoltsText(counts, Analog::DefaultRange, locale),
                             true});
             }
             m_out.row(rec);
             done(Status::Ok);
         }});
}

void Session::pollTemperature(Next done) {
    m_link.readInputRegisters(
        uint8_t(m_o.address), 0, TempInputCount,
        {this, [this, done](const Reply& r) {
             TemperatureRegisters regs;
             if (failed(r, QStringLiteral("read of input registers 0 to 11"), 3 + 24)) {
                 done(r.status);
                 return;
             }
             regs.decodeInputs(r);
             // The set points as the module holds them: the panel shows its own
             // copy, which a command line run does not have.
             m_link.readHoldingRegisters(
                 uint8_t(m_o.address), TempLoopsStart, TempLoopRegisters,
                 {this, [this, done, regs](const Reply& h) {
                      const bool refused = !h.ok() && ExitOf(h.status) == Exit::ExceptionReply;
                      if (!refused && failed(h, QStringLiteral("read of holding registers 7 to 26"),
                                             3 + 2 * TempLoopRegisters)) {
                          done(h.status);
                          return;
                      }
                      if (refused && !m_spTold) {
                          m_spTold = true;
                          Complain(QStringLiteral("Module %1 does not give its set points (%2).")
                                       .arg(m_o.address)
                                       .arg(Errors::StatusReason(h.status, false)));
                      }
                      const auto setPoint = [&](int loop) {
                          return refused ? QString() : QString::number(*h.reg(5 * (loop - 1)));
                      };
                      const auto status = [&](int loop) { return regs.inputs[size_t(3 + loop)]; };
                      if (m_out.format() == Format::Text) {
                          for (int n = 1; n <= TempLoops; ++n) {
                              QStringList flags;
                              for (int b = 0; b < 8; ++b) {
                                  if (GetBit(LoByte(status(n)), uint8_t(b)))
                                      flags << QLatin1String(StatusBits[b]);
                              }
                              Record rec = stamp();
                              rec << num(QStringLiteral("loop"), n)
                                  << num(QStringLiteral("pv"), regs.inputs[size_t(n - 1)])
                                  << num(QStringLiteral("cj"), regs.inputs[size_t(7 + n)])
                                  << Field{QStringLiteral("sp"), setPoint(n), true}
                                  << num(QStringLiteral("power"), HiByte(status(n)))
                                  << Field{QStringLiteral("status"), bits(status(n))}
                                  << Field{QStringLiteral("flags"), flags.join(QLatin1Char(' '))};
                              m_out.row(rec);
                          }
                      } else {
                          Record rec = stamp();
                          for (int n = 1; n <= TempLoops; ++n) {
                              rec << num(QStringLiteral("pv%1").arg(n), regs.inputs[size_t(n - 1)])
                                  << num(QStringLiteral("cj%1").arg(n), regs.inputs[size_t(7 + n)])
                                  << Field{QStringLiteral("sp%1").arg(n), setPoint(n), true}
                                  << num(QStringLiteral("power%1").arg(n), HiByte(status(n)))
                                  << num(QStringLiteral("status%1").arg(n), LoByte(status(n)));
                          }
                          m_out.row(rec);
                      }
                      done(Status::Ok);
                  }});
         }});
}

// ---------------------------------------------------------------- write

void Session::write() {
    static constexpr const char* kinds[] = {"outputs", "dac", "relay", "pwm", "setpoint"};
    static constexpr const char* lacks[] = {"discrete outputs", "DAC outputs", "relays",
                                            "PWM outputs", "control loops"};
    const int kind = static_cast<int>(m_o.kind);
    const uint8_t code = m_module.code;
    const bool fits = m_o.kind == WriteKind::Outputs ? isDiscrete(code)
                      : m_o.kind == WriteKind::Dac   ? code == 20
                                                     : code == 30;
    if (!fits) {
        Complain(QStringLiteral("Module %1 is a %2: it has no %3; nothing was written.")
                     .arg(m_o.address)
                     .arg(moduleName(m_module), QLatin1String(lacks[kind])));
        finish(Exit::BadArguments);
        return;
    }
    const uint8_t slave = uint8_t(m_o.address);
    QString what;
    const auto after = [this, &what] {
        return Requester{
            this, [this, what](const Reply& r) {
                if (failed(r, what)) {
                    finish(m_code);
                    return;
                }
                Record rec = stamp();
                rec << Field{QStringLiteral("model"), moduleName(m_module)}
                    << Field{QStringLiteral("write"), QLatin1String(kinds[int(m_o.kind)])}
                    << Field{QStringLiteral("channel"),
                             m_o.channel ? QString::number(m_o.channel) : QString(), true}
                    << num(QStringLiteral("value"), m_o.value);
                m_out.row(rec);
                finish(Exit::Ok);
            }};
    };
    // Each register is written with the function its panel writes it with.
    switch (m_o.kind) {
    case WriteKind::Outputs:
        what = QStringLiteral("write of holding register 0");
        m_link.writeSingleRegister(slave, 0, m_o.value, after());
        return;
    case WriteKind::Dac: {
        std::array<int32_t, 8> values{};
        values[size_t(m_o.channel - 1)] = m_o.value;
        what = QStringLiteral("write of holding register %1").arg(m_o.channel - 1);
        m_link.writeMultipleRegisters(slave, int16_t(m_o.channel - 1), 1, values, after());
        return;
    }
    case WriteKind::Relay:
        what = QStringLiteral("write of coil %1").arg(m_o.channel - 1);
        m_link.writeSingleCoil(slave, int16_t(m_o.channel - 1), m_o.value ? 0xFF00 : 0, after());
        return;
    case WriteKind::Pwm:
        what = QStringLiteral("write of holding register %1").arg(m_o.channel);
        m_link.writeSingleRegister(slave, int16_t(m_o.channel), m_o.value, after());
        return;
    case WriteKind::Setpoint: {
        std::array<int32_t, TempOutputCount> values{};
        const int at = LoopBase(m_o.channel);
        values[size_t(at)] = m_o.value;
        what = QStringLiteral("write of holding register %1").arg(at);
        m_link.writeMultipleRegisters(slave, int16_t(at), 1, values, after());
        return;
    }
    }
}

} // namespace qim::ctl

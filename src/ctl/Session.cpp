#include "Session.h"

#include "AnalogModule.h"
#include "DiscreteModule.h"
#include "Errors.h"
#include "Link.h"
#include "PortNames.h"
#include "TemperatureModule.h"

#include <QFileInfo>
#include <QLocale>
#include <array>

namespace qim::ctl {

namespace {

constexpr int AllFlagsWidth = 27; // all eight names, blank-separated

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
constexpr bool deviceKeyIsNumber(int i) {
    return i == 1 || i == 2 || i == 7 || i >= 9; // address, code, baud, the counts
}

// A number, or unknown when there is no reply to take it from.
Field num(const QString& name, std::optional<qint64> v, int width) {
    return {name, v ? QString::number(*v) : QString(), Field::Number, width};
}

QString bits(int value) {
    return QStringLiteral("0b") +
           QString::number(value & 0xFF, 2).rightJustified(8, QLatin1Char('0'));
}

QString moduleName(const DeviceRecord& r) {
    const QString name = deviceNameOf(r.code);
    return name.isEmpty() ? QStringLiteral("device code %1").arg(r.code) : name;
}

// Why the serial port could not be used, as far as a look at its device
// tells; otherwise what the link said.
QString portTrouble(const LinkSettings& s, const QString& linkMessage) {
    const QString device = s.device.isEmpty() ? PortNames::resolve(s.comPort).device : s.device;
    if (device.isEmpty())
        return QStringLiteral("COM%1 is not a port of this computer").arg(s.comPort);
    const QFileInfo f(device);
    if (!f.exists())
        return QStringLiteral("%1 does not exist").arg(device);
    if (!f.isReadable() || !f.isWritable())
        return QStringLiteral("no permission to open %1 (add the user to the group dialout)")
            .arg(device);
    const QString notATty =
        QStringLiteral("Communication Error %1")
            .arg(Errors::serialErrorNumber(QSerialPort::UnsupportedOperationError));
    if (f.isFile() || f.isDir() || linkMessage == notATty)
        return QStringLiteral("%1 is not a serial port").arg(device);
    return linkMessage;
}

} // namespace

int exitOf(int16_t status) {
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
    : QObject(parent), m_link(link), m_o(options), m_out(out), m_next(this) {
    m_next.setSingleShot(true);
    connect(&m_next, &QTimer::timeout, this, &Session::watchNext);
}

void Session::start() {
    if (m_o.command == Command::Config && m_o.configAction == ConfigAction::Check) {
        checkConfig();
        return;
    }
    m_link.setSettings(m_o.link);
    m_link.restartTransactions();
    switch (m_o.command) {
    case Command::Scan:
        scan();
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
    case Command::Config:
        if (m_o.configAction == ConfigAction::Save) {
            identify([this] { saveConfig(); });
            return;
        }
        // A file that cannot be used is told before anything is sent.
        const ConfigFile::Loaded loaded = ConfigFile::load(m_o.file, ModuleKind::None);
        if (!loaded.settings) {
            printFailure(loaded.error);
            finish(Exit::BadArguments);
            return;
        }
        m_settings = loaded.settings;
        identify([this] { sendConfig(); });
        return;
    }
}

void Session::interrupt() {
    if (++m_interrupts > 1) {
        finish(Exit::Interrupted);
        return;
    }
    if (m_scan)
        m_scan->stop();
    // In a poll its end sees the interrupt; between polls nothing is on the
    // wire, so the watch ends now.
    if (m_next.isActive()) {
        m_next.stop();
        finish(m_code);
    }
}

void Session::finish(int code) {
    if (m_finished)
        return;
    m_finished = true;
    m_next.stop();
    if (m_scan)
        m_scan->abandon();
    Q_EMIT finished(code);
}

Session::Failure Session::failure(const Reply& reply, const QString& what, int needBytes) {
    if (reply.ok() && reply.holds(needBytes))
        return {};
    // A "good" reply too short to decode is a reply of the wrong length.
    const int16_t status = reply.ok() ? Status::WrongLength : reply.status;
    QString why = Errors::statusReason(status, reply.bytes.isEmpty());
    QString detail;
    if (status == Status::LinkDown) {
        QString said = m_linkMessage;
        while (said.endsWith(QLatin1Char('.')))
            said.chop(1);
        detail = m_o.link.tcp() ? said : portTrouble(m_o.link, said);
        if (!detail.isEmpty())
            why += QStringLiteral(": ") + detail;
    } else if (exitOf(status) == Exit::ExceptionReply) {
        if (const QString name = Errors::exceptionName(status); !name.isEmpty())
            why += QStringLiteral(", ") + name;
    }
    m_linkMessage.clear();
    return {QStringLiteral("the %1 failed (%2)").arg(what, why), why, exitOf(status)};
}

void Session::complain(const Failure& f) const {
    printFailure(QStringLiteral("Module %1: %2.").arg(m_o.address).arg(f.reason));
}

void Session::printed(bool ok) {
    if (ok || m_finished)
        return;
    printFailure(QStringLiteral("cannot write the output: %1").arg(m_out.error()));
    finish(Exit::OutputFailed);
}

void Session::print(const Record& values, const QString& reason) {
    Record rec{{QStringLiteral("time"), nowText()},
               num(QStringLiteral("address"), m_o.address, 3),
               {QStringLiteral("status"),
                reason.isEmpty() ? QStringLiteral("ok") : QStringLiteral("failed"), Field::Text,
                6}};
    rec << values << Field{QStringLiteral("reason"), reason.isEmpty() ? QString() : reason};
    printed(m_out.row(rec));
}

void Session::pollFailed(const Failure& f, const QList<Record>& values, const Done& done) {
    if (m_o.watchMs) {
        for (const Record& r : values)
            print(r, f.reason);
    } else {
        complain(f);
    }
    done(f.code);
}

void Session::identify(std::function<void()> next) {
    m_link.reportSlaveId(uint8_t(m_o.address),
                         {this, [this, next](const Reply& r) {
                              if (const Failure f = failure(r, QStringLiteral("identification"),
                                                            IdentificationMinimum)) {
                                  complain(f);
                                  finish(f.code);
                                  return;
                              }
                              m_table.addFoundDevice(0, r);
                              m_module = m_table.at(0);
                              next();
                          }});
}

Record Session::deviceRecord(const DeviceRecord& r) const {
    Record rec;
    const auto fields = deviceFields(r);
    for (int i = 0; i < DeviceFieldCount; ++i) {
        const QString shown = fields[size_t(i)].shown.trimmed(); // the fixed-length padding
        rec.append({QLatin1String(DeviceKeys[i]), shown.isEmpty() ? QString() : shown,
                    deviceKeyIsNumber(i) ? Field::Number : Field::Text});
    }
    return rec;
}

// ---------------------------------------------------------------- scan, info

void Session::scan() {
    m_scan = new BusScan(m_link, m_table, this);
    connect(m_scan, &BusScan::answered, this, &Session::scanned);
    connect(m_scan, &BusScan::finished, this, &Session::scanEnded);
    m_scan->start(m_o.from, m_o.to, std::nullopt);
}

void Session::scanned(int address, const Reply& r, int index) {
    m_o.address = address;
    const Failure f = failure(r, QStringLiteral("identification"), IdentificationMinimum);
    // Silence is what a scan mostly meets; a refusal is a module there all the same.
    if (f && f.code != Exit::ExceptionReply)
        return;
    DeviceRecord d;
    d.address = uint8_t(address);
    if (index >= 0)
        d = m_table.at(index);
    Record rec = deviceRecord(d);
    for (int i = 0; f && i < rec.size(); ++i)
        rec[i].value = i == 1 ? rec[i].value : QString();
    const Field status{QStringLiteral("status"),
                       f ? QStringLiteral("failed") : QStringLiteral("ok")};
    if (m_out.format() == Format::Text) {
        // The columns that fit a terminal line.
        rec = {rec[1], status, rec[0], rec[2], rec[4], rec[5], rec[6], rec[7], rec[8]};
    } else {
        rec << status;
    }
    rec << Field{QStringLiteral("reason"), f.reason};
    ++m_found;
    printed(m_out.row(rec));
}

void Session::scanEnded(BusScan::End how) {
    if (m_finished)
        return;
    if (how == BusScan::End::ConnectionError) {
        m_o.address = m_scan->address();
        Reply down;
        down.status = Status::LinkDown;
        const Failure f = failure(down, QStringLiteral("identification"));
        complain(f);
        finish(f.code);
    } else if (how == BusScan::End::Stopped) {
        printFailure(QStringLiteral("the scan was interrupted: addresses %1 to %2 were not asked.")
                         .arg(m_scan->address())
                         .arg(m_o.to));
        finish(Exit::Interrupted);
    } else {
        if (m_found == 0)
            printFailure(QStringLiteral("No module answered from address %1 to %2.")
                             .arg(m_o.from)
                             .arg(m_o.to));
        finish(m_found ? Exit::Ok : Exit::NoReply);
    }
}

void Session::info() {
    if (m_out.format() != Format::Text) {
        printed(m_out.row(deviceRecord(m_module)));
    } else {
        bool ok = true;
        for (const DeviceField& f : deviceFields(m_module)) {
            const QString shown = f.shown.trimmed();
            ok = ok && m_out.line(QStringLiteral("%1  %2").arg(
                           QString::fromLatin1(f.caption).leftJustified(17),
                           shown.isEmpty() ? QStringLiteral("-") : shown));
        }
        printed(ok);
    }
    finish(Exit::Ok);
}

// ---------------------------------------------------------------- read

void Session::read() {
    const ModuleKind kind = moduleKindOf(m_module.code);
    if (kind == ModuleKind::None) {
        printFailure(QStringLiteral("Module %1 (%2) is not a model qimctl reads.")
                         .arg(m_o.address)
                         .arg(moduleName(m_module)));
        finish(Exit::BadArguments);
        return;
    }
    if (m_o.counts && kind != ModuleKind::Analog) {
        printFailure(
            QStringLiteral("--counts is for the analog inputs of a QIM-M640; module %1 is a %2.")
                .arg(m_o.address)
                .arg(moduleName(m_module)));
        finish(Exit::BadArguments);
        return;
    }
    if (!m_o.watchMs) {
        poll([this](int code) { finish(code); });
        return;
    }
    if (m_interrupts) {
        finish(m_code);
        return;
    }
    watchNext();
}

// A watch polls at once, then every interval from the start of one poll to
// the start of the next (at once when a poll took longer). Failed polls are
// rows too; a lost link is simply asked again at the next poll.
void Session::watchNext() {
    m_pollStarted.start();
    m_link.advanceTransaction();
    poll([this](int code) {
        if (m_finished)
            return;
        if (code != Exit::Ok)
            m_code = code;
        ++m_polls;
        if (m_interrupts || (m_o.count && m_polls >= m_o.count) ||
            (code != Exit::Ok && m_o.stopOnError)) {
            finish(m_code);
            return;
        }
        m_next.start(int(std::max<qint64>(0, *m_o.watchMs - m_pollStarted.elapsed())));
    });
}

void Session::poll(Done done) {
    switch (moduleKindOf(m_module.code)) {
    case ModuleKind::Discrete:
        pollDiscrete(std::move(done));
        return;
    case ModuleKind::Analog:
        pollAnalog(std::move(done));
        return;
    default:
        pollTemperature(std::move(done));
        return;
    }
}

void Session::pollRead(const ModuleRequest& request, std::function<Record(const Reply*)> row,
                       Done done) {
    request.send(m_link, uint8_t(m_o.address), {this, [this, request, row, done](const Reply& r) {
                                                    const Failure f = failure(r, request.what(),
                                                                              request.replyBytes());
                                                    const Record rec = row(f ? nullptr : &r);
                                                    if (f) {
                                                        pollFailed(f, {rec}, done);
                                                        return;
                                                    }
                                                    print(rec);
                                                    done(Exit::Ok);
                                                }});
}

void Session::pollDiscrete(Done done) {
    pollRead(
        Discrete::readInputs(),
        [](const Reply* r) {
            const auto inputs = r ? Discrete::decodeInputs(*r) : std::nullopt;
            Record rec{
                {QStringLiteral("inputs"), inputs ? bits(*inputs) : QString(), Field::Text, 10}};
            for (int k = 0; k < Discrete::Points; ++k)
                rec << num(QStringLiteral("in%1").arg(k + 1),
                           inputs ? std::optional<qint64>(Discrete::stateOf(*inputs, k))
                                  : std::nullopt,
                           1);
            return rec;
        },
        std::move(done));
}

void Session::pollAnalog(Done done) {
    // Machine formats always use a decimal point; text follows the user's locale.
    const QLocale locale = m_out.format() == Format::Text ? QLocale() : QLocale::c();
    const Analog::Display display = m_o.counts ? Analog::Display::Counts : Analog::Display::Volts;
    pollRead(
        Analog::readInputs(),
        [locale, display](const Reply* r) {
            const auto counts = r ? Analog::decodeInputs(*r) : std::nullopt;
            Record rec;
            for (int k = 0; k < Analog::Inputs; ++k) {
                // The panel converts with the range its boxes show, 0..10 V until
                // the user picks another; it never reads the module's own setting.
                rec << Field{
                    QStringLiteral("ain%1").arg(k + 1),
                    counts ? Analog::inputText((*counts)[k], Analog::DefaultRange, display, locale)
                           : QString(),
                    Field::Number, display == Analog::Display::Counts ? 5 : 7};
            }
            return rec;
        },
        std::move(done));
}

void Session::pollTemperature(Done done) {
    // The records of a poll: a row per loop in text, one row otherwise; all
    // values unknown without readings, the set points unknown without loops.
    const auto records = [this](const Temperature::Readings* readings,
                                const Temperature::LoopBlocks* loops) {
        QList<Record> rows;
        const bool text = m_out.format() == Format::Text;
        for (int n = 1; n <= Temperature::Loops; ++n) {
            const QString k = text ? QString() : QString::number(n);
            const Temperature::LoopReading* in = readings ? &(*readings)[size_t(n - 1)] : nullptr;
            const auto value = [in](int32_t Temperature::LoopReading::*field) {
                return in ? std::optional<qint64>(in->*field) : std::nullopt;
            };
            QStringList flags;
            for (int b = 0; in && b < 8; ++b) {
                if (getBit(in->flags, uint8_t(b)))
                    flags << QLatin1String(Temperature::FlagNames[b]);
            }
            Record loop;
            if (text)
                loop << num(QStringLiteral("loop"), in ? std::optional<qint64>(n) : std::nullopt,
                            1);
            loop << num(QStringLiteral("pv") + k, value(&Temperature::LoopReading::processValue), 5)
                 << num(QStringLiteral("cj") + k, value(&Temperature::LoopReading::coldJunction), 5)
                 << num(QStringLiteral("sp") + k,
                        loops
                            ? std::optional<qint64>((*loops)[size_t(n - 1)][Temperature::SetPoint])
                            : std::nullopt,
                        4)
                 << num(QStringLiteral("power") + k,
                        in ? std::optional<qint64>(in->heaterPower) : std::nullopt, 3)
                 << Field{QStringLiteral("flags") + k,
                          !in               ? QString()
                          : flags.isEmpty() ? QStringLiteral("")
                                            : flags.join(QLatin1Char(' ')),
                          Field::Names, AllFlagsWidth};
            if (text && !in)
                return QList<Record>{loop};
            if (rows.isEmpty() || text)
                rows << loop;
            else
                rows.last() << loop;
        }
        return rows;
    };
    const ModuleRequest inputs = Temperature::readInputs();
    inputs.send(m_link, uint8_t(m_o.address),
                {this, [this, done, records, inputs](const Reply& r) {
                     if (const Failure f = failure(r, inputs.what(), inputs.replyBytes())) {
                         pollFailed(f, records(nullptr, nullptr), done);
                         return;
                     }
                     const Temperature::Readings readings = *Temperature::decodeInputs(r);
                     // The set points as the module holds them: the panel shows its own
                     // copy, which a command line run does not have.
                     const ModuleRequest loops = Temperature::readLoops();
                     loops.send(
                         m_link, uint8_t(m_o.address),
                         {this, [this, done, readings, records, loops](const Reply& h) {
                              const Failure f = failure(h, loops.what(), loops.replyBytes());
                              if (f && f.code != Exit::ExceptionReply) {
                                  pollFailed(f, records(nullptr, nullptr), done);
                                  return;
                              }
                              if (f && !m_spTold) {
                                  m_spTold = true;
                                  printFailure(
                                      QStringLiteral("Module %1 does not give its set points (%2).")
                                          .arg(m_o.address)
                                          .arg(f.why));
                              }
                              const auto blocks = Temperature::decodeLoops(h);
                              for (const Record& rec :
                                   records(&readings, blocks ? &*blocks : nullptr))
                                  print(rec);
                              done(Exit::Ok);
                          }});
                 }});
}

// ---------------------------------------------------------------- write

void Session::write() {
    static constexpr const char* kinds[] = {"outputs", "dac", "relay", "pwm", "setpoint"};
    static constexpr const char* lacks[] = {"discrete outputs", "DAC outputs", "relays",
                                            "PWM outputs", "control loops"};
    const int kind = static_cast<int>(m_o.kind);
    const ModuleKind wanted = m_o.kind == WriteKind::Outputs ? ModuleKind::Discrete
                              : m_o.kind == WriteKind::Dac   ? ModuleKind::Analog
                                                             : ModuleKind::Temperature;
    if (moduleKindOf(m_module.code) != wanted) {
        // A K530's relays are its discrete outputs.
        const bool relays =
            m_module.code == uint8_t(DeviceCode::K530) && m_o.kind == WriteKind::Relay;
        printFailure(relays
                         ? QStringLiteral("Module %1 is a %2: its relays are its discrete "
                                          "outputs (write %1 outputs BITS); nothing was written.")
                               .arg(m_o.address)
                               .arg(moduleName(m_module))
                         : QStringLiteral("Module %1 is a %2: it has no %3; nothing was written.")
                               .arg(m_o.address)
                               .arg(moduleName(m_module), QLatin1String(lacks[kind])));
        finish(Exit::BadArguments);
        return;
    }
    const ModuleRequest request = [this] {
        switch (m_o.kind) {
        case WriteKind::Outputs:
            return Discrete::writeOutputs(uint8_t(m_o.value));
        case WriteKind::Dac:
            return Analog::writeDacOutput(m_o.channel, m_o.value);
        case WriteKind::Relay:
            return Temperature::writeRelay(m_o.channel, m_o.value != 0);
        case WriteKind::Pwm:
            return Temperature::writePwm(m_o.channel, m_o.value);
        case WriteKind::Setpoint:
            break;
        }
        return Temperature::writeSetPoint(m_o.channel, m_o.value);
    }();
    request.send(m_link, uint8_t(m_o.address),
                 {this, [this, what = request.what()](const Reply& r) {
                      if (const Failure f = failure(r, what)) {
                          complain(f);
                          finish(f.code);
                          return;
                      }
                      Record rec{
                          {QStringLiteral("time"), nowText()},
                          num(QStringLiteral("address"), m_o.address, 0),
                          {QStringLiteral("model"), moduleName(m_module)},
                          {QStringLiteral("write"), QLatin1String(kinds[int(m_o.kind)])},
                          num(QStringLiteral("channel"),
                              m_o.channel ? std::optional<qint64>(m_o.channel) : std::nullopt, 0),
                          num(QStringLiteral("value"), m_o.value, 0)};
                      printed(m_out.row(rec));
                      finish(Exit::Ok);
                  }});
}

// ---------------------------------------------------------------- config

void Session::checkConfig() {
    const ConfigFile::Loaded loaded = ConfigFile::load(m_o.file, ModuleKind::None);
    if (!loaded.settings) {
        printFailure(loaded.error);
        finish(Exit::BadArguments);
        return;
    }
    bool ok = true;
    for (const QString& line : ConfigFile::describe(*loaded.settings))
        ok = ok && m_out.line(line);
    printed(ok);
    finish(Exit::Ok);
}

bool Session::configures(ModuleKind kind) {
    const ModuleKind module = moduleKindOf(m_module.code);
    if (kind == ModuleKind::None ? module == ModuleKind::Analog || module == ModuleKind::Temperature
                                 : module == kind)
        return true;
    const QString model =
        deviceNameOf(uint8_t(kind == ModuleKind::Analog ? DeviceCode::M640 : DeviceCode::P750));
    const QString said =
        kind == ModuleKind::None
            ? QStringLiteral(": it has no configuration to save; nothing was saved.")
            : QStringLiteral(", not a %1: nothing was written.").arg(model);
    printFailure(QStringLiteral("Module %1 is a %2").arg(m_o.address).arg(moduleName(m_module)) +
                 said);
    finish(Exit::BadArguments);
    return false;
}

void Session::sendConfig() {
    const ConfigFile::Settings& settings = *m_settings;
    if (!configures(ConfigFile::kindOf(settings)))
        return;
    // The panel's buttons in the panel's order; every write is sent, each
    // failure told, and the run exits with the first.
    const QList<ModuleRequest> writes = ConfigFile::writesOf(settings);
    auto left = std::make_shared<qsizetype>(writes.size());
    for (const ModuleRequest& w : writes) {
        w.send(m_link, uint8_t(m_o.address),
               {this, [this, left, what = w.what()](const Reply& r) {
                    if (const Failure f = failure(r, what)) {
                        complain(f);
                        if (m_code == Exit::Ok)
                            m_code = f.code;
                    }
                    if (--*left > 0)
                        return;
                    if (m_code == Exit::Ok)
                        printed(m_out.line(QStringLiteral("Module %1 (%2): %3 was "
                                                          "sent.")
                                               .arg(m_o.address)
                                               .arg(moduleName(m_module), m_o.file)));
                    finish(m_code);
                }});
    }
}

void Session::saveConfig() {
    if (!configures(ModuleKind::None))
        return;
    const ModuleKind kind = moduleKindOf(m_module.code);
    const ModuleRequest read = ConfigFile::readBack(kind);
    read.send(m_link, uint8_t(m_o.address),
              {this, [this, kind, read](const Reply& r) {
                   if (const Failure f = failure(r, read.what(), read.replyBytes())) {
                       complain(f);
                       finish(f.code);
                       return;
                   }
                   const ConfigFile::Loaded held =
                       ConfigFile::fromReply(kind, r, QStringLiteral("Module %1").arg(m_o.address));
                   if (!held.settings) {
                       printFailure(held.error + QStringLiteral("; nothing was saved."));
                       finish(Exit::NoReply);
                       return;
                   }
                   if (const QString why = ConfigFile::save(m_o.file, *held.settings);
                       !why.isEmpty()) {
                       printFailure(why);
                       finish(Exit::OutputFailed);
                       return;
                   }
                   printed(m_out.line(QStringLiteral("Module %1 (%2): its configuration was "
                                                     "saved to %3.")
                                          .arg(m_o.address)
                                          .arg(moduleName(m_module), m_o.file)));
                   finish(Exit::Ok);
               }});
}

} // namespace qim::ctl

#include "Options.h"

#include "AnalogModule.h"
#include "Bytes.h"
#include "NumberEntry.h"
#include "PortNames.h"
#include "TemperatureModule.h"

#include <QRegularExpression>
#include <array>

namespace qim::ctl {

namespace {

constexpr unsigned AllCommands = 0x1F;
constexpr unsigned bit(Command c) {
    return 1u << static_cast<unsigned>(c);
}

struct OptionRule {
    const char* name;
    bool value;
    unsigned commands;
};
constexpr std::array<OptionRule, 13> OptionRules{{
    {"port", true, AllCommands},
    {"baud", true, AllCommands},
    {"tcp", true, AllCommands},
    {"timeout", true, AllCommands},
    {"json", false, AllCommands & ~bit(Command::Config)},
    {"csv", false, AllCommands & ~bit(Command::Config)},
    {"help", false, AllCommands},
    {"from", true, bit(Command::Scan)},
    {"to", true, bit(Command::Scan)},
    {"watch", true, bit(Command::Read)},
    {"count", true, bit(Command::Read)},
    {"counts", false, bit(Command::Read)},
    {"stop-on-error", false, bit(Command::Read)},
}};

const char* const CommandNames[] = {"scan", "info", "read", "write", "config"};
const char* const ConfigActions[] = {"check", "send", "save"};

const char* const LinkHelp = R"(Link options:
  --port COMn|DEVICE  serial port, Modbus RTU 8N2 (default COM2; COMn as the
                      program names and pins it, or a device such as /dev/ttyUSB0)
  --baud RATE         9600, 19200 (default), 57600 or 115200
  --tcp HOST[:PORT]   Modbus TCP server instead (port 502 unless given)
  --timeout MS        how long a reply is waited for, 20 to 10000 (default 1000)
Numbers: addresses, channels, loops, bit patterns and counts are whole numbers
  as C writes them (37, 0x25, 0b00100101; no leading 0, which C reads as
  octal); percent and degrees take a decimal point (101.5), never a comma, and
  are rounded, halves to even. The same in every locale.
Output: aligned text, or --json (one object a line, null for an unknown value)
  or --csv (header, then rows). A failure is one line on stderr, "qimctl: ...".
Exit codes: 0 ok, 1 bad arguments (nothing sent), 2 link not available,
  3 no reply or a bad reply, 4 exception reply, 5 stdout could not be written,
  130 a scan interrupted by Ctrl+C (any run: a second Ctrl+C).
)";

QString helpOf(std::optional<Command> c) {
    QString text;
    if (!c) {
        text = QStringLiteral(
            "Usage: qimctl [link options] COMMAND ARGUMENTS [options]\n\n"
            "Commands:\n"
            "  scan [--from 1 --to 247]    the modules on the bus\n"
            "  info ADDRESS                a module's identification\n"
            "  read ADDRESS [--watch MS] [--count N] [--counts] [--stop-on-error]\n"
            "                              a module's inputs, decoded by model\n"
            "  write ADDRESS outputs BITS | dac CH VALUE | relay N on|off\n"
            "              | pwm N PERCENT | setpoint N DEGREES\n"
            "  config check FILE | send ADDRESS FILE | save ADDRESS FILE\n"
            "                              a QIM-M640's or QIM-P750's configuration\n\n"
            "qimctl COMMAND --help tells more.\n\n");
    } else if (*c == Command::Scan) {
        text = QStringLiteral(
            "Usage: qimctl [link options] scan [--from 1] [--to 247]\n\n"
            "Asks every address from --from to --to for its identification and lists\n"
            "the modules that answer, status ok, and those that refuse it with an\n"
            "exception, status failed and the exception as the reason. Exits 3 when no\n"
            "module answers. In text the table comes when the scan ends (JSON and CSV\n"
            "give a row as each module answers); Ctrl+C ends the scan after the address\n"
            "being asked, lists what answered and exits 130.\n\n");
    } else if (*c == Command::Config) {
        text = QStringLiteral(
            "Usage: qimctl config check FILE\n"
            "       qimctl [link options] config send ADDRESS FILE\n"
            "       qimctl [link options] config save ADDRESS FILE\n\n"
            "A configuration file (README: Module configurations) holds what the analog\n"
            "and temperature panels write: the QIM-M640's converter settings and DAC\n"
            "outputs, the QIM-P750's configuration and control registers, loop\n"
            "settings and PWM outputs.\n"
            "  check  reads FILE and prints its fields; a file that cannot be used\n"
            "         exits 1 with the field and its bound.\n"
            "  send   identifies the module, refuses another model (exit 1), and sends\n"
            "         the writes the panel's buttons send for those values, each once, in\n"
            "         the panel's order: QIM-M640 Config then Write (holding registers\n"
            "         8..10, then 0..7); QIM-P750 Write To Output Registers (5, 6, then\n"
            "         7..26). PWM outputs are never sent from a file.\n"
            "  save   reads back what the module holds (QIM-M640 holding registers\n"
            "         0..10, QIM-P750 1..26) and writes FILE; a module that refuses the\n"
            "         read exits 4 with its exception and no file is written.\n\n");
    } else if (*c == Command::Info) {
        text =
            QStringLiteral("Usage: qimctl [link options] info ADDRESS\n\n"
                           "The identification of the module at ADDRESS (1 to 247), decoded.\n\n");
    } else if (*c == Command::Read) {
        text = QStringLiteral(
            "Usage: qimctl [link options] read ADDRESS [--watch MS] [--count N] [--counts]\n"
            "                                  [--stop-on-error]\n\n"
            "Reads the module's inputs, decoded by its model:\n"
            "  QIM-K520/K530  the eight discrete inputs (in1..in8)\n"
            "  QIM-M640       the eight analog inputs in volts on the 0..10 V range the\n"
            "                 panel assumes (ain1..ain8), or in counts with --counts\n"
            "  QIM-P750       per loop: process value, cold junction, set point (as the\n"
            "                 module holds it), heater power % and the status bits set,\n"
            "                 by name (OC SCG SCV TCF TS ON ALL ALH)\n"
            "A row has the time, the address, the status (ok, or failed in a watch),\n"
            "the values and the reason a poll failed. A single read that fails prints\n"
            "no row: it says why on stderr. --counts is refused for other models.\n"
            "--watch MS polls at once, then every MS milliseconds (0 to 86400000, one\n"
            "day) until Ctrl+C or for --count N polls. A failed poll is a row with\n"
            "unknown values and its reason, and counts as a poll; a lost link is asked\n"
            "again at every poll. The exit code is that of the last failed poll (0 when\n"
            "none failed); --stop-on-error ends the watch at the first one.\n\n");
    } else {
        text = QStringLiteral(
            "Usage: qimctl [link options] write ADDRESS WHAT ...\n\n"
            "  outputs BITS        QIM-K520/K530 discrete outputs (the K530's relays):\n"
            "                      0b00100101 (output 1 is the last bit), 0x25 or 37\n"
            "  dac CH VALUE        QIM-M640 output AO1..AO4, CL1..CL4 (or 1..8), 0 to 4095 counts\n"
            "  relay N on|off      QIM-P750 relay 1 to 4 (on and off in any case)\n"
            "  pwm N PERCENT       QIM-P750 PWM output 1 to 4, 0 to 100 %\n"
            "  setpoint N DEGREES  QIM-P750 set point of loop 1 to 4, 0 to 1023 deg C\n"
            "The module is identified first; a write its model does not have is refused\n"
            "(exit 1) and nothing is written. A write is sent once, never repeated.\n\n");
    }
    return text + QString::fromUtf8(LinkHelp);
}

std::optional<Command> commandNamed(const QString& name) {
    for (int i = 0; i < int(std::size(CommandNames)); ++i) {
        if (name == QLatin1String(CommandNames[i]))
            return static_cast<Command>(i);
    }
    return std::nullopt;
}

const OptionRule* ruleNamed(const QString& name) {
    for (const OptionRule& s : OptionRules) {
        if (name == QLatin1String(s.name))
            return &s;
    }
    return nullptr;
}

// A whole number as C writes it: decimal (a sign allowed, no leading zero,
// which C would read as octal), 0x and hex digits, or 0b and bits. Never the
// locale's: a script must do the same thing wherever it runs.
std::optional<qint64> integer(const QString& text) {
    static const QRegularExpression c(
        QStringLiteral("^(?:([+-]?(?:0|[1-9][0-9]*))|0[xX]([0-9a-fA-F]+)|0[bB]([01]+))$"));
    const auto m = c.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 v = m.hasCaptured(3)   ? m.captured(3).toLongLong(&ok, 2)
                     : m.hasCaptured(2) ? m.captured(2).toLongLong(&ok, 16)
                                        : m.captured(1).toLongLong(&ok, 10);
    return ok ? std::optional(v) : std::nullopt;
}

// A whole number within [low, high], or the refusal's text.
struct Number {
    std::optional<int> value;
    QString error;
};
Number number(const QString& text, int low, int high, const QString& what) {
    if (const auto v = integer(text); v && *v >= low && *v <= high)
        return {int(*v), {}};
    return {std::nullopt, rangeMessage(what, low, high)};
}

// A value with a unit (percent, degrees): digits and at most one decimal
// point, in every locale; a comma or an exponent is refused. Within
// [low, high] it becomes the nearest integer, halves to even, as the windows
// round an entry.
Number unitValue(const QString& text, int low, int high, const QString& what) {
    static const QRegularExpression decimal(
        QStringLiteral("^[+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)$"));
    const double v = decimal.match(text).hasMatch() ? text.toDouble() : qQNaN();
    if (v >= low && v <= high)
        return {int(roundHalfEven(v)), {}};
    return {std::nullopt, rangeMessage(what, low, high)};
}

// 0b and up to eight bits, 0x25 or 37: 0 to 255.
std::optional<int> outputBits(const QString& text) {
    if (const auto v = integer(text); v && *v >= 0 && *v <= 255)
        return int(*v);
    return std::nullopt;
}

// AO1..AO4, CL1..CL4 or 1..8.
std::optional<int> dacChannel(const QString& text) {
    static const QRegularExpression named(QStringLiteral("^(AO|CL)([1-4])$"),
                                          QRegularExpression::CaseInsensitiveOption);
    if (const auto m = named.match(text); m.hasMatch())
        return m.captured(2).toInt() +
               (m.captured(1).compare(QLatin1String("CL"), Qt::CaseInsensitive) == 0 ? 4 : 0);
    if (const auto v = integer(text); v && *v >= 1 && *v <= 8)
        return int(*v);
    return std::nullopt;
}

} // namespace

Parsed parse(const QStringList& arguments) {
    QStringList positional;
    QList<std::pair<QString, QString>> given; // option name, value
    bool help = false;
    QString unknown;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        if (a == QLatin1String("-h")) {
            help = true;
            continue;
        }
        if (!a.startsWith(QLatin1String("--")) || a.size() == 2) {
            positional << a;
            continue;
        }
        QString name = a.mid(2);
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
        }
        const OptionRule* option = ruleNamed(name);
        if (!option) {
            if (unknown.isEmpty())
                unknown = QStringLiteral("Unknown option --%1").arg(name);
            continue;
        }
        if (option->value && !value) {
            if (i + 1 >= arguments.size()) {
                if (unknown.isEmpty())
                    unknown = QStringLiteral("--%1 needs a value").arg(name);
                continue;
            }
            value = arguments.at(++i);
        }
        if (!option->value && value) {
            if (unknown.isEmpty())
                unknown = QStringLiteral("--%1 takes no value").arg(name);
            continue;
        }
        if (name == QLatin1String("help"))
            help = true;
        else
            given.append({name, value.value_or(QString())});
    }

    const std::optional<Command> command =
        positional.isEmpty() ? std::nullopt : commandNamed(positional.first());
    if (help)
        return {std::nullopt, helpOf(command), {}};
    const auto refuse = [](const QString& text) { return Parsed{std::nullopt, {}, text}; };
    if (!unknown.isEmpty())
        return refuse(unknown);
    if (positional.isEmpty())
        return refuse(QStringLiteral("No command given (qimctl --help lists them)"));
    if (!command)
        return refuse(QStringLiteral("Unknown command %1 (qimctl --help lists them)")
                          .arg(positional.first()));

    Options o;
    o.command = *command;
    QString timeout;
    bool serialGiven = false;
    for (const auto& [name, value] : given) {
        if (!(ruleNamed(name)->commands & bit(o.command)))
            return refuse(QStringLiteral("--%1 is not an option of %2")
                              .arg(name, QLatin1String(CommandNames[int(o.command)])));
        if (name == QLatin1String("json") || name == QLatin1String("csv")) {
            const Format f = name == QLatin1String("json") ? Format::Json : Format::Csv;
            if (o.format != Format::Text && o.format != f)
                return refuse(QStringLiteral("Give --json or --csv, not both"));
            o.format = f;
        } else if (name == QLatin1String("port")) {
            static const QRegularExpression com(QStringLiteral("^COM(\\d+)$"),
                                                QRegularExpression::CaseInsensitiveOption);
            if (const auto m = com.match(value); m.hasMatch()) {
                const int n = m.captured(1).toInt();
                if (n < 1 || n > PortNames::PortCount)
                    return refuse(QStringLiteral("The port must be COM1 to COM%1 or a device")
                                      .arg(PortNames::PortCount));
                o.link.comPort = n;
            } else if (value.isEmpty()) {
                return refuse(QStringLiteral("--port needs a value"));
            } else {
                o.link.device = value;
            }
            serialGiven = true;
        } else if (name == QLatin1String("baud")) {
            const auto rate = integer(value);
            const auto speed = rate ? lineSpeedOf(*rate) : std::nullopt;
            if (!speed)
                return refuse(QStringLiteral("The baud rate must be %1").arg(lineSpeedList()));
            o.link.speed = *speed;
            serialGiven = true;
        } else if (name == QLatin1String("tcp")) {
            static const QRegularExpression hostPort(
                QStringLiteral("^(?:\\[([^\\]]+)\\]|([^:]+))(?::([^:]*))?$"));
            const auto m = hostPort.match(value);
            if (!m.hasMatch())
                return refuse(QStringLiteral("--tcp needs HOST or HOST:PORT"));
            o.link.transport = LinkSettings::Transport::Tcp;
            o.link.host = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
            if (m.hasCaptured(3)) {
                const Number port = number(m.captured(3), 1, 65535, QStringLiteral("Server Port"));
                if (!port.value)
                    return refuse(port.error);
                o.link.port = static_cast<quint16>(*port.value);
            }
        } else if (name == QLatin1String("timeout")) {
            timeout = value;
        } else if (name == QLatin1String("from") || name == QLatin1String("to")) {
            const bool from = name == QLatin1String("from");
            const Number n =
                number(value, BusScan::FirstAddress, BusScan::LastAddress,
                       from ? QStringLiteral("Start Address") : QStringLiteral("End Address"));
            if (!n.value)
                return refuse(n.error);
            (from ? o.from : o.to) = *n.value;
        } else if (name == QLatin1String("watch")) {
            const Number n = number(value, 0, MaxWatchMs, QStringLiteral("Time between polls"));
            if (!n.value)
                return refuse(n.error);
            o.watchMs = *n.value;
        } else if (name == QLatin1String("count")) {
            const Number n = number(value, 1, 1000000000, QStringLiteral("Count"));
            if (!n.value)
                return refuse(n.error);
            o.count = *n.value;
        } else if (name == QLatin1String("counts")) {
            o.counts = true;
        } else if (name == QLatin1String("stop-on-error")) {
            o.stopOnError = true;
        }
    }
    if (o.link.tcp() && serialGiven)
        return refuse(QStringLiteral("Give --tcp or a serial port (--port, --baud), not both"));
    if (!timeout.isNull()) {
        const Number t = number(timeout, MinTimeoutMs, 10000,
                                o.link.tcp() ? QStringLiteral("TCP/IP Timeout")
                                             : QStringLiteral("Serial Timeout"));
        if (!t.value)
            return refuse(t.error);
        (o.link.tcp() ? o.link.tcpTimeoutMs : o.link.serialTimeoutMs) = *t.value;
    }
    if (o.count > 0 && !o.watchMs)
        return refuse(QStringLiteral("--count needs --watch"));
    if (o.stopOnError && !o.watchMs)
        return refuse(QStringLiteral("--stop-on-error needs --watch"));
    if (const QString why = BusScan::rangeRefusal(o.from, o.to); !why.isEmpty())
        return refuse(why);

    // The module's address from positional argument at; why not, if it is none.
    const auto takeAddress = [&o, &positional](qsizetype at) {
        const Number a = number(positional.at(at), 1, 247, QStringLiteral("Address"));
        o.address = a.value.value_or(o.address);
        return a.value ? QString() : a.error;
    };
    if (o.command == Command::Config) {
        const qsizetype a =
            positional.size() > 1 ? itemTexts(ConfigActions).indexOf(positional.at(1)) : -1;
        if (a < 0)
            return refuse(QStringLiteral("config needs check, send or save"));
        o.configAction = static_cast<ConfigAction>(a);
        const bool check = o.configAction == ConfigAction::Check;
        const qsizetype need = check ? 3 : 4;
        if (positional.size() < need)
            return refuse(check ? QStringLiteral("config check needs a FILE")
                                : QStringLiteral("config %1 needs an ADDRESS and a FILE")
                                      .arg(positional.at(1)));
        if (positional.size() > need)
            return refuse(QStringLiteral("Too many arguments: %1").arg(positional.at(need)));
        if (const QString why = check ? QString() : takeAddress(2); !why.isEmpty())
            return refuse(why);
        o.file = positional.at(need - 1);
        return {o, {}, {}};
    }

    // Positional arguments: the command, the address, and what a write writes.
    const qsizetype want = o.command == Command::Scan ? 1 : o.command != Command::Write ? 2 : -1;
    if (o.command != Command::Scan) {
        if (positional.size() < 2)
            return refuse(QStringLiteral("%1 needs an ADDRESS").arg(positional.first()));
        if (const QString why = takeAddress(1); !why.isEmpty())
            return refuse(why);
    }
    if (want > 0 && positional.size() > want)
        return refuse(QStringLiteral("Too many arguments: %1").arg(positional.at(want)));
    if (o.command != Command::Write)
        return {o, {}, {}};

    static const QStringList kinds{QStringLiteral("outputs"), QStringLiteral("dac"),
                                   QStringLiteral("relay"), QStringLiteral("pwm"),
                                   QStringLiteral("setpoint")};
    const qsizetype k = positional.size() > 2 ? kinds.indexOf(positional.at(2)) : -1;
    if (k < 0)
        return refuse(QStringLiteral("write needs outputs, dac, relay, pwm or setpoint"));
    o.kind = static_cast<WriteKind>(k);
    const qsizetype needed = o.kind == WriteKind::Outputs ? 4 : 5;
    if (positional.size() < needed)
        return refuse(
            QStringLiteral("write %1 needs %2")
                .arg(positional.at(2), o.kind == WriteKind::Outputs ? QStringLiteral("BITS")
                                       : o.kind == WriteKind::Dac   ? QStringLiteral("CH VALUE")
                                       : o.kind == WriteKind::Relay ? QStringLiteral("N on|off")
                                       : o.kind == WriteKind::Pwm   ? QStringLiteral("N PERCENT")
                                                                    : QStringLiteral("N DEGREES")));
    if (positional.size() > needed)
        return refuse(QStringLiteral("Too many arguments: %1").arg(positional.at(needed)));

    const QString& first = positional.at(3);
    switch (o.kind) {
    case WriteKind::Outputs:
        if (const auto bits = outputBits(first)) {
            o.value = *bits;
            return {o, {}, {}};
        }
        return refuse(
            QStringLiteral("Outputs must be a number from 0 to 255 (0b00100101, 0x25 or 37)"));
    case WriteKind::Dac: {
        const auto ch = dacChannel(first);
        if (!ch)
            return refuse(
                QStringLiteral("The DAC output must be AO1 to AO4, CL1 to CL4 or 1 to 8"));
        o.channel = *ch;
        const EntryRule dac = Analog::dacRule(o.channel);
        const Number v = number(positional.at(4), dac.low, dac.high, dac.what);
        if (!v.value)
            return refuse(v.error);
        o.value = *v.value;
        return {o, {}, {}};
    }
    case WriteKind::Relay:
    case WriteKind::Pwm:
    case WriteKind::Setpoint: {
        const QString what = o.kind == WriteKind::Relay ? QStringLiteral("Relay")
                             : o.kind == WriteKind::Pwm ? QStringLiteral("PWM output")
                                                        : QStringLiteral("Control loop");
        const int last = o.kind == WriteKind::Relay ? Temperature::Relays
                         : o.kind == WriteKind::Pwm ? Temperature::PwmOutputs
                                                    : Temperature::Loops;
        const Number n = number(first, 1, last, what);
        if (!n.value)
            return refuse(n.error);
        o.channel = *n.value;
        const QString& second = positional.at(4);
        if (o.kind == WriteKind::Relay) {
            const bool on = second.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0;
            if (!on && second.compare(QLatin1String("off"), Qt::CaseInsensitive) != 0)
                return refuse(QStringLiteral("A relay is switched on or off"));
            o.value = on ? 1 : 0;
            return {o, {}, {}};
        }
        const EntryRule rule = o.kind == WriteKind::Pwm
                                   ? Temperature::pwmRule(o.channel)
                                   : Temperature::loopRule(Temperature::SetPoint);
        const Number v = unitValue(second, rule.low, rule.high, rule.what);
        if (!v.value)
            return refuse(v.error);
        o.value = *v.value;
        return {o, {}, {}};
    }
    }
    return {o, {}, {}};
}

} // namespace qim::ctl

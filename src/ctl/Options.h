#pragma once
// The command line of qimctl, checked whole before anything is sent: a bad
// argument ends the run with its message and exit code 1.

#include "BusScan.h"
#include "LinkSettings.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace qim::ctl {

enum class Command { Scan, Info, Read, Write, Config };
enum class ConfigAction { Check, Send, Save };
enum class WriteKind { Outputs, Dac, Relay, Pwm, Setpoint };
enum class Format { Text, Json, Csv };

struct Options {
    LinkSettings link;
    Command command = Command::Scan;
    Format format = Format::Text;
    int address = 0;
    int from = BusScan::FirstAddress;
    int to = BusScan::LastAddress;
    std::optional<int> watchMs;
    int count = 0; // polls of a watch; 0 = until interrupted
    bool counts = false;
    bool stopOnError = false; // a watch ends at its first failed poll
    WriteKind kind = WriteKind::Outputs;
    int channel = 0; // 1-based: DAC output, relay, PWM output or loop
    int value = 0;
    ConfigAction configAction = ConfigAction::Check;
    QString file; // a configuration file
};

// What the command line asks for: a run, or text to print and an exit code
// (help on stdout with 0, a refusal on stderr with 1).
struct Parsed {
    std::optional<Options> options;
    QString help;
    QString error;
};

Parsed parse(const QStringList& arguments);

// Exit codes, as scripts test them.
enum Exit {
    Ok = 0,
    BadArguments = 1,
    LinkDown = 2,
    NoReply = 3,
    ExceptionReply = 4,
    OutputFailed = 5, // stdout could not be written
    Interrupted = 130 // a scan ended by Ctrl+C, as a shell reports SIGINT
};

// A day between polls at most; a reply waited for from 20 ms (a bench, not
// the windows, sets it that short).
constexpr int MaxWatchMs = 86'400'000;
constexpr int MinTimeoutMs = 20;

} // namespace qim::ctl

#pragma once
// A module's configuration as a file: one JSON object in UTF-8 with the
// format, the model, and the fields in the names and units the windows show
// (list items by their text, set points in degrees C, the configuration and
// control words as their fields beside the word). The panels open and save
// it and qimctl checks, sends and saves it; the models' value types are the
// one place the fields are packed and unpacked.

#include "AnalogModule.h"
#include "DeviceCodes.h"
#include "TemperatureModule.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

namespace qim::ConfigFile {

constexpr int Format = 1;

// The analog module's settings (the converter's and the DAC outputs'), or the
// temperature module's image (configuration and control words, PWM outputs,
// the four loop blocks).
using Settings = std::variant<Analog::Settings, Temperature::Image>;

ModuleKind kindOf(const Settings& settings);

// The file's text: stable key order, so two files diff line by line.
QByteArray toJson(const Settings& settings);

// What a file holds, or why it cannot be used: the message names the file,
// the field and its bound (the windows' own messages where they have one).
struct Loaded {
    std::optional<Settings> settings;
    QString error;
};
// kind: the modules the caller configures (None: any).
Loaded fromJson(const QByteArray& json, const QString& name, ModuleKind kind);
Loaded load(const QString& path, ModuleKind kind);
// Writes the file whole or not at all; the message when it could not.
QString save(const QString& path, const Settings& settings);

// The fields as a person reads them, one "name  value" line each.
QStringList describe(const Settings& settings);

// The writes the panels' buttons send for these settings, in their order:
// the analog module's Config then Write, the temperature module's Write To
// Output Registers. The PWM outputs are not among them: only their sliders
// drive them.
QList<ModuleRequest> writesOf(const Settings& settings);

// What a module of kind holds of a file's fields: the read, and its reply
// decoded and checked against the file's bounds (an error names the field).
ModuleRequest readBack(ModuleKind kind);
Loaded fromReply(ModuleKind kind, const Reply& reply, const QString& name);

} // namespace qim::ConfigFile

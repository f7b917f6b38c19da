#include "ConfigFile.h"

#include "Bytes.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cmath>
#include <span>

namespace qim::ConfigFile {

namespace {

const QString AnalogModel = QStringLiteral("QIM-M640");
const QString TemperatureModel = QStringLiteral("QIM-P750");
const char* const LoopKeys[Temperature::LoopRegisters] = {"setPointC", "cycleTimeScaler",
                                                          "bandGain", "alarmHighC", "alarmLowC"};

QString loopName(int n) {
    return QStringLiteral("loop%1").arg(n);
}

// ---------------------------------------------------------------- writing

// A JSON object with its members in the order given, each value already
// written; nested objects are indented by depth.
using Members = QList<std::pair<QString, QByteArray>>;
QByteArray object(const Members& members, int depth) {
    const QByteArray in(4 * (depth + 1), ' ');
    QByteArray out = "{\n";
    for (qsizetype i = 0; i < members.size(); ++i) {
        out +=
            in + QJsonDocument(QJsonArray{members[i].first}).toJson(QJsonDocument::Compact).mid(1);
        out.chop(1); // the array's closing bracket
        out += ": " + members[i].second + (i + 1 < members.size() ? ",\n" : "\n");
    }
    return out + QByteArray(4 * depth, ' ') + '}';
}
QByteArray text(const QString& s) {
    QByteArray a = QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact);
    return a.mid(1, a.size() - 2);
}
QByteArray number(qint64 v) {
    return QByteArray::number(v);
}
QByteArray item(std::span<const char* const> items, int value) {
    return text(value >= 0 && value < int(items.size()) ? QString::fromLatin1(items[value])
                                                        : QString());
}

// A range's text; a code no list holds (read back from a module) has none.
QString rangeText(int code) {
    return code >= 0 && code < int(Analog::Ranges.size())
               ? QString::fromLatin1(Analog::Ranges[code].item).trimmed()
               : QString();
}

QByteArray analogJson(const Analog::Settings& a) {
    Members ranges;
    for (int k = 0; k < Analog::Inputs; ++k)
        ranges.append({QStringLiteral("AIN%1").arg(k + 1), text(rangeText(a.adc.ranges[k]))});
    Members dac;
    for (int ch = 1; ch <= Analog::Outputs; ++ch)
        dac.append({Analog::dacName(ch), number(a.dac[ch - 1])});
    const Members adc{{QStringLiteral("samplingIntervalMs"), number(a.adc.sampling)},
                      {QStringLiteral("mode"), item(Analog::ModeItems, a.adc.mode)},
                      {QStringLiteral("average"), item(Analog::AverageItems, a.adc.average)},
                      {QStringLiteral("ranges"), object(ranges, 2)}};
    return object({{QStringLiteral("format"), number(Format)},
                   {QStringLiteral("model"), text(AnalogModel)},
                   {QStringLiteral("adc"), object(adc, 1)},
                   {QStringLiteral("dacCounts"), object(dac, 1)}},
                  0);
}

QByteArray temperatureJson(const Temperature::Image& image) {
    const auto config = Temperature::ConfigFields::unpack(image.config);
    Members alarms;
    for (int n = 1; n <= Temperature::Loops; ++n)
        alarms.append({loopName(n), config.alarm[n - 1] ? "true" : "false"});
    const Members configuration{
        {QStringLiteral("word"), text(Temperature::registerHexText(image.config))},
        {QStringLiteral("average"), item(Temperature::AverageItems, config.average)},
        {QStringLiteral("type"), item(Temperature::TypeItems, config.type)},
        {QStringLiteral("sampling"), text(Temperature::samplingItems().value(config.sampling))},
        {QStringLiteral("alarms"), object(alarms, 2)}};
    const auto modes = Temperature::LoopModes::unpack(image.control);
    Members control{{QStringLiteral("word"), text(Temperature::registerHexText(image.control))}};
    Members loops;
    for (int n = 1; n <= Temperature::Loops; ++n) {
        control.append({loopName(n), item(Temperature::ModeItems, modes.mode[n - 1])});
        Members block;
        for (int r = 0; r < Temperature::LoopRegisters; ++r)
            block.append({QLatin1String(LoopKeys[r]), number(image.loops[n - 1][r])});
        loops.append({loopName(n), object(block, 2)});
    }
    Members pwm;
    for (int n = 1; n <= Temperature::PwmOutputs; ++n)
        pwm.append({QStringLiteral("PWM%1").arg(n), number(image.pwm[n - 1])});
    return object({{QStringLiteral("format"), number(Format)},
                   {QStringLiteral("model"), text(TemperatureModel)},
                   {QStringLiteral("configurationRegister"), object(configuration, 1)},
                   {QStringLiteral("controlRegister"), object(control, 1)},
                   {QStringLiteral("loops"), object(loops, 1)},
                   {QStringLiteral("pwmPercent"), object(pwm, 1)}},
                  0);
}

// ---------------------------------------------------------------- reading

// Reads the fields of one object, keeping the first failure: every value is
// looked up by its path ("loops.loop3.setPointC") so a message can name it.
class Reader {
public:
    explicit Reader(QString name) : m_name(std::move(name)) {}
    bool failed() const { return !m_error.isEmpty(); }
    const QString& error() const { return m_error; }

    void fail(const QString& path, const QString& why) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("%1: %2: %3").arg(m_name, path, why);
    }
    std::optional<QJsonValue> value(const QJsonObject& o, const QString& path) {
        const QJsonValue v = o.value(path.section(QLatin1Char('.'), -1));
        if (!v.isUndefined())
            return v;
        if (m_error.isEmpty())
            m_error = QStringLiteral("%1: %2 is missing").arg(m_name, path);
        return std::nullopt;
    }
    QJsonObject object(const QJsonObject& o, const QString& path) {
        const auto v = value(o, path);
        if (v && !v->isObject())
            fail(path, QStringLiteral("must be an object"));
        return v ? v->toObject() : QJsonObject();
    }
    // A number as the windows take it: within the rule's bounds, rounded
    // half to even; the rule's message otherwise.
    int number(const QJsonObject& o, const QString& path, const EntryRule& rule) {
        const auto v = value(o, path);
        if (!v)
            return 0;
        const double d = v->toDouble(std::nan(""));
        if (!v->isDouble() || !(d >= rule.low && d <= rule.high)) {
            fail(path, rule.message());
            return 0;
        }
        return static_cast<int>(roundHalfEven(d));
    }
    // One of a list's texts (blanks around it do not count); its position.
    int item(const QJsonObject& o, const QString& path, const QStringList& items) {
        const auto v = value(o, path);
        if (!v)
            return 0;
        for (qsizetype i = 0; i < items.size(); ++i)
            if (v->isString() && v->toString().trimmed() == items[i].trimmed())
                return static_cast<int>(i);
        QStringList quoted;
        for (const QString& i : items)
            quoted << QLatin1Char('"') + i.trimmed() + QLatin1Char('"');
        fail(path, QStringLiteral("must be one of %1").arg(quoted.join(QStringLiteral(", "))));
        return 0;
    }
    bool flag(const QJsonObject& o, const QString& path) {
        const auto v = value(o, path);
        if (v && !v->isBool())
            fail(path, QStringLiteral("must be true or false"));
        return v && v->toBool();
    }
    // The word beside its fields, if the file gives it, must be what they pack into.
    void word(const QJsonObject& o, const QString& path, uint16_t packed) {
        const QJsonValue v = o.value(QStringLiteral("word"));
        if (v.isUndefined())
            return;
        bool ok = false;
        const uint w = v.toString().toUInt(&ok, 0);
        if (!ok || w != packed)
            fail(path, QStringLiteral("does not match its fields (%1)")
                           .arg(Temperature::registerHexText(packed)));
    }

private:
    QString m_name;
    QString m_error;
};

Analog::Settings readAnalog(const QJsonObject& root, Reader& r) {
    Analog::Settings a;
    const QJsonObject adc = r.object(root, QStringLiteral("adc"));
    // The panel's rule: above 0 and up to 255, rounding to at least 1.
    const auto sampling = r.value(adc, QStringLiteral("adc.samplingIntervalMs"));
    const double s = sampling ? sampling->toDouble(0) : 1;
    if (sampling && (!sampling->isDouble() || !(s > 0 && s <= 255) || roundHalfEven(s) < 1))
        r.fail(QStringLiteral("adc.samplingIntervalMs"), Analog::samplingMessage());
    a.adc.sampling = static_cast<int>(roundHalfEven(s));
    a.adc.mode = r.item(adc, QStringLiteral("adc.mode"), itemTexts(Analog::ModeItems));
    a.adc.average = r.item(adc, QStringLiteral("adc.average"), itemTexts(Analog::AverageItems));
    QStringList ranges;
    for (const auto& range : Analog::Ranges)
        ranges << QString::fromLatin1(range.item);
    const QJsonObject rangeObject = r.object(adc, QStringLiteral("adc.ranges"));
    for (int k = 0; k < Analog::Inputs; ++k)
        a.adc.ranges[k] = static_cast<int16_t>(
            r.item(rangeObject, QStringLiteral("adc.ranges.AIN%1").arg(k + 1), ranges));
    const QJsonObject dac = r.object(root, QStringLiteral("dacCounts"));
    for (int ch = 1; ch <= Analog::Outputs; ++ch)
        a.dac[ch - 1] =
            r.number(dac, QStringLiteral("dacCounts.") + Analog::dacName(ch), Analog::dacRule(ch));
    return a;
}

Temperature::Image readTemperature(const QJsonObject& root, Reader& r) {
    using namespace Temperature;
    Image image;
    const QString cw = QStringLiteral("configurationRegister");
    const QJsonObject c = r.object(root, cw);
    ConfigFields f;
    f.average = r.item(c, cw + QStringLiteral(".average"), itemTexts(AverageItems));
    f.type = r.item(c, cw + QStringLiteral(".type"), itemTexts(TypeItems));
    f.sampling = r.item(c, cw + QStringLiteral(".sampling"), samplingItems());
    const QJsonObject alarms = r.object(c, cw + QStringLiteral(".alarms"));
    for (int n = 1; n <= Loops; ++n)
        f.alarm[n - 1] = r.flag(alarms, cw + QStringLiteral(".alarms.") + loopName(n)) ? 1 : 0;
    image.config = f.pack();
    r.word(c, cw + QStringLiteral(".word"), image.config);

    const QString ctl = QStringLiteral("controlRegister");
    const QJsonObject control = r.object(root, ctl);
    LoopModes modes;
    for (int n = 1; n <= Loops; ++n)
        modes.mode[n - 1] = static_cast<int16_t>(
            r.item(control, ctl + QLatin1Char('.') + loopName(n), itemTexts(ModeItems)));
    image.control = modes.pack();
    r.word(control, ctl + QStringLiteral(".word"), image.control);

    const QJsonObject loops = r.object(root, QStringLiteral("loops"));
    for (int n = 1; n <= Loops; ++n) {
        const QString path = QStringLiteral("loops.") + loopName(n);
        const QJsonObject block = r.object(loops, path);
        for (int reg = 0; reg < LoopRegisters; ++reg)
            image.loops[n - 1][reg] = r.number(
                block, path + QLatin1Char('.') + QLatin1String(LoopKeys[reg]), loopRule(reg));
    }
    const QJsonObject pwm = r.object(root, QStringLiteral("pwmPercent"));
    for (int n = 1; n <= PwmOutputs; ++n)
        image.pwm[n - 1] = r.number(pwm, QStringLiteral("pwmPercent.PWM%1").arg(n), pwmRule(n));
    return image;
}

QString modelOf(ModuleKind kind) {
    return kind == ModuleKind::Analog ? AnalogModel : TemperatureModel;
}

} // namespace

ModuleKind kindOf(const Settings& settings) {
    return std::holds_alternative<Analog::Settings>(settings) ? ModuleKind::Analog
                                                              : ModuleKind::Temperature;
}

QByteArray toJson(const Settings& settings) {
    if (const auto* a = std::get_if<Analog::Settings>(&settings))
        return analogJson(*a) + '\n';
    return temperatureJson(std::get<Temperature::Image>(settings)) + '\n';
}

Loaded fromJson(const QByteArray& json, const QString& name, ModuleKind kind) {
    QJsonParseError parsed{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parsed);
    if (parsed.error != QJsonParseError::NoError)
        // A line is what an editor shows; the offset is where the parser gave up.
        return {std::nullopt, QStringLiteral("%1 is not a configuration file: %2 on line %3")
                                  .arg(name, parsed.errorString())
                                  .arg(json.left(parsed.offset).count('\n') + 1)};
    if (!doc.isObject())
        return {std::nullopt, QStringLiteral("%1 is not a configuration file: it holds no "
                                             "JSON object")
                                  .arg(name)};
    const QJsonObject root = doc.object();
    Reader r(name);
    const auto format = r.value(root, QStringLiteral("format"));
    const auto model = r.value(root, QStringLiteral("model"));
    if (r.failed())
        return {std::nullopt, r.error()};
    if (!format->isDouble() || format->toDouble() != std::floor(format->toDouble()) ||
        format->toDouble() < 1)
        return {std::nullopt, QStringLiteral("%1: format must be a whole number from 1").arg(name)};
    if (format->toDouble() > Format)
        return {std::nullopt, QStringLiteral("%1 has format %2; this QIMTool reads format %3")
                                  .arg(name)
                                  .arg(format->toDouble())
                                  .arg(Format)};
    const QString m = model->toString();
    const ModuleKind found = m == AnalogModel        ? ModuleKind::Analog
                             : m == TemperatureModel ? ModuleKind::Temperature
                                                     : ModuleKind::None;
    if (found == ModuleKind::None)
        return {std::nullopt, QStringLiteral("%1: model must be \"%2\" or \"%3\"")
                                  .arg(name, AnalogModel, TemperatureModel)};
    if (kind != ModuleKind::None && found != kind)
        return {std::nullopt, QStringLiteral("%1 is a configuration of a %2, not of a %3")
                                  .arg(name, m, modelOf(kind))};
    Settings settings = found == ModuleKind::Analog ? Settings(readAnalog(root, r))
                                                    : Settings(readTemperature(root, r));
    if (r.failed())
        return {std::nullopt, r.error()};
    return {settings, {}};
}

Loaded load(const QString& path, ModuleKind kind) {
    QFile file(path);
    const QString name = QFileInfo(path).fileName();
    if (!file.open(QIODevice::ReadOnly))
        return {std::nullopt,
                QStringLiteral("%1 could not be read: %2").arg(name, file.errorString())};
    return fromJson(file.readAll(), name, kind);
}

QString save(const QString& path, const Settings& settings) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(toJson(settings));
        if (file.commit())
            return {};
    }
    return QStringLiteral("The configuration could not be saved to %1: %2")
        .arg(path, file.errorString());
}

QStringList describe(const Settings& settings) {
    QStringList lines;
    const auto add = [&lines](const QString& name, const QString& value) {
        lines << name.leftJustified(36) + value;
    };
    if (const auto* a = std::get_if<Analog::Settings>(&settings)) {
        add(QStringLiteral("model"), AnalogModel);
        add(QStringLiteral("adc.samplingIntervalMs"), QString::number(a->adc.sampling));
        add(QStringLiteral("adc.mode"), QString::fromLatin1(Analog::ModeItems[a->adc.mode]));
        add(QStringLiteral("adc.average"),
            QString::fromLatin1(Analog::AverageItems[a->adc.average]));
        for (int k = 0; k < Analog::Inputs; ++k)
            add(QStringLiteral("adc.ranges.AIN%1").arg(k + 1), rangeText(a->adc.ranges[k]));
        for (int ch = 1; ch <= Analog::Outputs; ++ch)
            add(QStringLiteral("dacCounts.") + Analog::dacName(ch),
                QString::number(a->dac[ch - 1]));
        const auto words = a->adc.pack();
        add(QStringLiteral("holding registers 8..10"),
            QStringLiteral("%1 %2 %3").arg(words[0]).arg(words[1]).arg(words[2]));
        return lines;
    }
    using namespace Temperature;
    const Image& image = std::get<Image>(settings);
    const auto f = ConfigFields::unpack(image.config);
    const auto modes = LoopModes::unpack(image.control);
    add(QStringLiteral("model"), TemperatureModel);
    add(QStringLiteral("configurationRegister.word"), registerHexText(image.config));
    add(QStringLiteral("configurationRegister.average"),
        QString::fromLatin1(AverageItems[f.average]));
    add(QStringLiteral("configurationRegister.type"), QString::fromLatin1(TypeItems[f.type]));
    add(QStringLiteral("configurationRegister.sampling"), samplingItems().value(f.sampling));
    for (int n = 1; n <= Loops; ++n)
        add(QStringLiteral("configurationRegister.alarms.") + loopName(n),
            f.alarm[n - 1] ? QStringLiteral("true") : QStringLiteral("false"));
    add(QStringLiteral("controlRegister.word"), registerHexText(image.control));
    for (int n = 1; n <= Loops; ++n)
        add(QStringLiteral("controlRegister.") + loopName(n),
            QString::fromLatin1(ModeItems[modes.mode[n - 1]]));
    for (int n = 1; n <= Loops; ++n)
        for (int reg = 0; reg < LoopRegisters; ++reg)
            add(QStringLiteral("loops.%1.%2").arg(loopName(n), QLatin1String(LoopKeys[reg])),
                QString::number(image.loops[n - 1][reg]));
    for (int n = 1; n <= PwmOutputs; ++n)
        add(QStringLiteral("pwmPercent.PWM%1").arg(n), QString::number(image.pwm[n - 1]));
    return lines;
}

QList<ModuleRequest> writesOf(const Settings& settings) {
    if (const auto* a = std::get_if<Analog::Settings>(&settings))
        return {Analog::writeConfig(a->adc), Analog::writeDac(a->dac)};
    const auto writes = Temperature::writeOutputRegisters(std::get<Temperature::Image>(settings));
    return {writes.begin(), writes.end()};
}

ModuleRequest readBack(ModuleKind kind) {
    return kind == ModuleKind::Analog ? Analog::readSettings() : Temperature::readImage();
}

Loaded fromReply(ModuleKind kind, const Reply& reply, const QString& name) {
    std::optional<Settings> settings;
    if (kind == ModuleKind::Analog) {
        if (const auto a = Analog::decodeSettings(reply))
            settings = *a;
    } else if (const auto t = Temperature::decodeImage(reply)) {
        settings = *t;
    }
    if (!settings)
        return {std::nullopt, QStringLiteral("%1: the reply is too short").arg(name)};
    // What the module holds must fit the file as a person could write it.
    return fromJson(toJson(*settings), name, kind);
}

} // namespace qim::ConfigFile

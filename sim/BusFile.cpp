// The JSON bus file: which modules sit at which address, how they identify
// themselves, how they misbehave. Everything is checked before the bus is
// touched, so a bad file changes nothing.
#include "SimBus.h"
#include "SimModels.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace qimsim {

namespace {

struct ForcedRead {
    int function = 0;
    int address = 0;
    uint16_t value = 0;
};

struct ModuleEntry {
    uint8_t address = 0;
    uint8_t code = 0;
    std::optional<std::pair<uint8_t, uint8_t>> firmware;
    std::optional<char> hardware;
    std::optional<uint8_t> connectionMode;
    std::optional<uint8_t> baudCode;
    std::optional<uint16_t> serialNumber;
    QByteArray identification;
    std::optional<bool> walking;
    std::optional<double> room;
    QList<std::pair<int, TemperatureModule::Sensor>> sensors;
    QList<std::pair<int, Fault>> faults;
    QList<ForcedRead> forced;
};

class Parser {
public:
    QString error;

    bool fail(const QString& where, const QString& what) {
        error = where.isEmpty() ? what : where + QStringLiteral(": ") + what;
        return false;
    }

    bool keysOnly(const QJsonObject& o, const QStringList& allowed, const QString& where) {
        for (const QString& k : o.keys()) {
            if (!allowed.contains(k))
                return fail(where, QStringLiteral("unknown key \"%1\" (known: %2)")
                                       .arg(k, allowed.join(QStringLiteral(", "))));
        }
        return true;
    }

    bool integer(const QJsonObject& o, const QString& key, int lo, int hi, const QString& where,
                 std::optional<int>& out) {
        if (!o.contains(key))
            return true;
        const QJsonValue v = o.value(key);
        const double x = v.toDouble(-1e300);
        if (!v.isDouble() || x != static_cast<double>(static_cast<long long>(x)) || x < lo ||
            x > hi)
            return fail(where, QStringLiteral("\"%1\" must be a whole number from %2 to %3")
                                   .arg(key)
                                   .arg(lo)
                                   .arg(hi));
        out = static_cast<int>(x);
        return true;
    }

    bool model(const QJsonObject& o, const QString& where, uint8_t& code) {
        std::optional<int> c;
        if (!integer(o, QStringLiteral("code"), 0, 255, where, c))
            return false;
        if (o.contains(QStringLiteral("model"))) {
            static const QList<std::pair<QString, int>> names = {
                {QStringLiteral("QIM-K520"), 10},
                {QStringLiteral("QIM-K530"), 11},
                {QStringLiteral("QIM-M640"), 20},
                {QStringLiteral("QIM-P750"), 30},
            };
            const QString name = o.value(QStringLiteral("model")).toString();
            std::optional<int> found;
            for (const auto& [n, k] : names) {
                if (n.compare(name, Qt::CaseInsensitive) == 0)
                    found = k;
            }
            if (!found)
                return fail(where, QStringLiteral("unknown model \"%1\" (known: QIM-K520, "
                                                  "QIM-K530, QIM-M640, QIM-P750; or give a "
                                                  "\"code\")")
                                       .arg(name));
            if (c && *c != *found)
                return fail(where, QStringLiteral("\"model\" and \"code\" disagree"));
            c = found;
        }
        if (!c)
            return fail(where, QStringLiteral("needs a \"model\" or a \"code\""));
        code = static_cast<uint8_t>(*c);
        return true;
    }

    bool fault(const QJsonObject& o, const QString& where, int& function, Fault& f) {
        if (!keysOnly(o,
                      {QStringLiteral("function"), QStringLiteral("kind"),
                       QStringLiteral("delayMs"), QStringLiteral("pieces"),
                       QStringLiteral("pauseMs"), QStringLiteral("code"), QStringLiteral("garbage"),
                       QStringLiteral("times")},
                      where))
            return false;
        static const QList<std::pair<QString, Fault::Kind>> kinds = {
            {QStringLiteral("silence"), Fault::Silence},
            {QStringLiteral("delay"), Fault::Delay},
            {QStringLiteral("wrongCrc"), Fault::WrongCrc},
            {QStringLiteral("extraByte"), Fault::ExtraByte},
            {QStringLiteral("missingByte"), Fault::MissingByte},
            {QStringLiteral("split"), Fault::Split},
            {QStringLiteral("exception"), Fault::Exception},
            {QStringLiteral("garbage"), Fault::Garbage},
            {QStringLiteral("closeMidReply"), Fault::CloseMidReply},
        };
        const QString kind = o.value(QStringLiteral("kind")).toString();
        bool known = false;
        for (const auto& [n, k] : kinds) {
            if (n == kind) {
                f.kind = k;
                known = true;
            }
        }
        if (!known) {
            QStringList all;
            for (const auto& [n, k] : kinds)
                all << n;
            return fail(where, QStringLiteral("\"kind\" must be one of %1").arg(all.join(", ")));
        }
        std::optional<int> fn, delay, pieces, pause, code, times;
        if (!integer(o, QStringLiteral("function"), 0, 255, where, fn) ||
            !integer(o, QStringLiteral("delayMs"), 0, 600000, where, delay) ||
            !integer(o, QStringLiteral("pieces"), 1, 256, where, pieces) ||
            !integer(o, QStringLiteral("pauseMs"), 0, 600000, where, pause) ||
            !integer(o, QStringLiteral("code"), 0, 255, where, code) ||
            !integer(o, QStringLiteral("times"), -1, 1000000, where, times))
            return false;
        if (f.kind == Fault::Exception && !code)
            return fail(where, QStringLiteral("an exception fault needs a \"code\""));
        function = fn.value_or(0);
        f.delayMs = delay.value_or(f.delayMs);
        f.pieces = pieces.value_or(f.pieces);
        f.pauseMs = pause.value_or(f.pauseMs);
        f.exceptionCode = static_cast<uint8_t>(code.value_or(0));
        f.times = times.value_or(-1);
        if (o.contains(QStringLiteral("garbage"))) {
            const QString hex = o.value(QStringLiteral("garbage")).toString();
            f.garbage = QByteArray::fromHex(hex.toLatin1());
            if (f.garbage.isEmpty() || f.garbage.toHex() != hex.toLatin1().toLower())
                return fail(where,
                            QStringLiteral("\"garbage\" must be bytes in hex, e.g. \"0103FF\""));
        }
        return true;
    }

    bool moduleEntry(const QJsonObject& o, const QString& where, ModuleEntry& m) {
        if (!keysOnly(o,
                      {QStringLiteral("address"), QStringLiteral("model"), QStringLiteral("code"),
                       QStringLiteral("firmware"), QStringLiteral("hardware"),
                       QStringLiteral("connectionMode"), QStringLiteral("baudCode"),
                       QStringLiteral("serialNumber"), QStringLiteral("identification"),
                       QStringLiteral("walk"), QStringLiteral("room"), QStringLiteral("sensors"),
                       QStringLiteral("faults"), QStringLiteral("force")},
                      where))
            return false;
        std::optional<int> address, mode, baud, serial;
        if (!integer(o, QStringLiteral("address"), 1, 247, where, address))
            return false;
        if (!address)
            return fail(where, QStringLiteral("needs an \"address\" from 1 to 247"));
        m.address = static_cast<uint8_t>(*address);
        if (!model(o, where, m.code) ||
            !integer(o, QStringLiteral("connectionMode"), 0, 255, where, mode) ||
            !integer(o, QStringLiteral("baudCode"), 0, 255, where, baud) ||
            !integer(o, QStringLiteral("serialNumber"), 0, 65535, where, serial))
            return false;
        if (mode)
            m.connectionMode = static_cast<uint8_t>(*mode);
        if (baud)
            m.baudCode = static_cast<uint8_t>(*baud);
        if (serial)
            m.serialNumber = static_cast<uint16_t>(*serial);
        if (o.contains(QStringLiteral("firmware"))) {
            const QStringList parts = o.value(QStringLiteral("firmware")).toString().split('.');
            bool ok1 = false, ok2 = false;
            const int major = parts.value(0).toInt(&ok1), minor = parts.value(1).toInt(&ok2);
            if (parts.size() != 2 || !ok1 || !ok2 || major < 0 || major > 255 || minor < 0 ||
                minor > 255)
                return fail(where,
                            QStringLiteral("\"firmware\" must read major.minor, e.g. \"1.10\""));
            m.firmware = {static_cast<uint8_t>(major), static_cast<uint8_t>(minor)};
        }
        if (o.contains(QStringLiteral("hardware"))) {
            const QString h = o.value(QStringLiteral("hardware")).toString();
            if (h.size() != 1 || h[0].unicode() > 255)
                return fail(where,
                            QStringLiteral("\"hardware\" must be one character, e.g. \"B\""));
            m.hardware = static_cast<char>(h[0].unicode());
        }
        if (o.contains(QStringLiteral("identification"))) {
            const QString hex = o.value(QStringLiteral("identification")).toString();
            m.identification = QByteArray::fromHex(hex.toLatin1());
            if (m.identification.size() != 18 ||
                m.identification.toHex() != hex.toLatin1().toLower())
                return fail(where, QStringLiteral("\"identification\" must be 18 bytes in hex"));
        }
        if (o.contains(QStringLiteral("walk"))) {
            if (!o.value(QStringLiteral("walk")).isBool() || (m.code != 10 && m.code != 11))
                return fail(where, QStringLiteral("\"walk\" is true or false, for QIM-K520 and "
                                                  "QIM-K530"));
            m.walking = o.value(QStringLiteral("walk")).toBool();
        }
        if (o.contains(QStringLiteral("room"))) {
            const QJsonValue v = o.value(QStringLiteral("room"));
            if (!v.isDouble() || m.code != 30 || v.toDouble() < -100 || v.toDouble() > 100)
                return fail(where, QStringLiteral("\"room\" is a temperature from -100 to 100, "
                                                  "for QIM-P750"));
            m.room = v.toDouble();
        }
        if (o.contains(QStringLiteral("sensors"))) {
            const QJsonArray a = o.value(QStringLiteral("sensors")).toArray();
            if (m.code != 30 || a.size() != 4)
                return fail(where, QStringLiteral("\"sensors\" lists four loops, for QIM-P750"));
            for (int i = 0; i < 4; ++i) {
                static const QList<std::pair<QString, TemperatureModule::Sensor>> names = {
                    {QStringLiteral("ok"), TemperatureModule::Sensor::Ok},
                    {QStringLiteral("open"), TemperatureModule::Sensor::Open},
                    {QStringLiteral("shortToGnd"), TemperatureModule::Sensor::ShortToGnd},
                    {QStringLiteral("shortToVcc"), TemperatureModule::Sensor::ShortToVcc},
                };
                const QString s = a.at(i).toString();
                bool known = false;
                for (const auto& [n, k] : names) {
                    if (n == s) {
                        m.sensors << std::pair{i, k};
                        known = true;
                    }
                }
                if (!known)
                    return fail(where, QStringLiteral("sensor %1 must be \"ok\", \"open\", "
                                                      "\"shortToGnd\" or \"shortToVcc\"")
                                           .arg(i + 1));
            }
        }
        const QJsonArray faults = o.value(QStringLiteral("faults")).toArray();
        if (o.contains(QStringLiteral("faults")) && !o.value(QStringLiteral("faults")).isArray())
            return fail(where, QStringLiteral("\"faults\" must be a list"));
        for (int i = 0; i < faults.size(); ++i) {
            const QString w = where + QStringLiteral(" faults[%1]").arg(i);
            if (!faults.at(i).isObject())
                return fail(w, QStringLiteral("must be an object"));
            int function = 0;
            Fault f;
            if (!fault(faults.at(i).toObject(), w, function, f))
                return false;
            m.faults << std::pair{function, f};
        }
        const QJsonArray force = o.value(QStringLiteral("force")).toArray();
        for (int i = 0; i < force.size(); ++i) {
            const QString w = where + QStringLiteral(" force[%1]").arg(i);
            const QJsonObject f = force.at(i).toObject();
            std::optional<int> fn, a, v;
            if (!keysOnly(f,
                          {QStringLiteral("function"), QStringLiteral("address"),
                           QStringLiteral("value")},
                          w) ||
                !integer(f, QStringLiteral("function"), 1, 4, w, fn) ||
                !integer(f, QStringLiteral("address"), 0, 65535, w, a) ||
                !integer(f, QStringLiteral("value"), 0, 65535, w, v))
                return false;
            if (!fn || !a || !v)
                return fail(w, QStringLiteral("needs \"function\", \"address\" and \"value\""));
            m.forced << ForcedRead{*fn, *a, static_cast<uint16_t>(*v)};
        }
        return true;
    }
};

} // namespace

bool loadBusJson(const QByteArray& json, Bus& bus, QString* error, double* speed) {
    QString ignored;
    QString& err = error ? *error : ignored;
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &pe);
    if (pe.error != QJsonParseError::NoError) {
        // Tell the line, not only the offset: people edit these by hand.
        const int line = static_cast<int>(json.left(pe.offset).count('\n')) + 1;
        err = QStringLiteral("line %1: %2").arg(line).arg(pe.errorString());
        return false;
    }
    if (!doc.isObject()) {
        err = QStringLiteral("the file must hold one JSON object with a \"modules\" list");
        return false;
    }
    Parser p;
    const QJsonObject root = doc.object();
    if (!p.keysOnly(root, {QStringLiteral("modules"), QStringLiteral("speed")}, {})) {
        err = p.error;
        return false;
    }
    std::optional<double> factor;
    if (root.contains(QStringLiteral("speed"))) {
        const QJsonValue v = root.value(QStringLiteral("speed"));
        if (!v.isDouble() || v.toDouble() <= 0) {
            err = QStringLiteral("\"speed\" must be a number above 0");
            return false;
        }
        factor = v.toDouble();
    }
    if (!root.value(QStringLiteral("modules")).isArray()) {
        err = QStringLiteral("\"modules\" must be a list of modules");
        return false;
    }
    const QJsonArray list = root.value(QStringLiteral("modules")).toArray();
    QList<ModuleEntry> entries;
    QSet<int> taken;
    for (int i = 0; i < list.size(); ++i) {
        const QString where = QStringLiteral("modules[%1]").arg(i);
        if (!list.at(i).isObject()) {
            err = where + QStringLiteral(": must be an object");
            return false;
        }
        ModuleEntry m;
        if (!p.moduleEntry(list.at(i).toObject(), where, m)) {
            err = p.error;
            return false;
        }
        if (taken.contains(m.address)) {
            err = where + QStringLiteral(": address %1 is taken twice").arg(m.address);
            return false;
        }
        taken.insert(m.address);
        entries << m;
    }

    for (const ModuleEntry& s : entries) {
        Module* m = bus.addModule(s.address, s.code);
        Identity& id = m->identity();
        if (s.firmware) {
            id.firmwareMajor = s.firmware->first;
            id.firmwareMinor = s.firmware->second;
        }
        if (s.hardware)
            id.hardwareRevision = *s.hardware;
        if (s.connectionMode)
            id.connectionMode = s.connectionMode;
        if (s.baudCode)
            id.baudCode = s.baudCode;
        if (s.serialNumber)
            id.serialNumber = *s.serialNumber;
        m->setIdentification(s.identification);
        if (s.walking)
            static_cast<DiscreteModule*>(m)->setWalking(*s.walking);
        if (auto* t = dynamic_cast<TemperatureModule*>(m)) {
            if (s.room)
                t->setRoomTemperature(*s.room);
            for (const auto& [loop, sensor] : s.sensors)
                t->setSensor(loop, sensor);
        }
        for (const auto& [function, f] : s.faults)
            m->setFault(function, f);
        for (const ForcedRead& f : s.forced)
            m->forceRead(f.function, f.address, f.value);
    }
    if (factor && speed)
        *speed = *factor;
    return true;
}

bool loadBusFile(const QString& path, Bus& bus, QString* error, double* speed) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    QString why;
    if (!loadBusJson(f.readAll(), bus, &why, speed)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

} // namespace qimsim

#include "NumberEntry.h"

#include "Bytes.h"

#include <QLocale>
#include <cmath>

namespace qim {

namespace {
std::optional<double> number(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    QLocale locale;
    // "1,5" must not silently become 15 in a locale whose group separator is ","
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double v = locale.toDouble(t, &ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

Entry entry(double v) {
    return {v, static_cast<int>(roundHalfEven(v))};
}
} // namespace

std::optional<Entry> parseEntry(const QString& text, double low, double high) {
    const auto v = number(text);
    if (!v || *v < low || *v > high)
        return std::nullopt;
    return entry(*v);
}

std::optional<Entry> parseEntryAbove(const QString& text, double low, double high) {
    const auto v = number(text);
    if (!v || *v <= low || *v > high)
        return std::nullopt;
    return entry(*v);
}

QString rangeMessage(const QString& what, int low, int high) {
    return QStringLiteral("%1 must be a number from %2 to %3").arg(what).arg(low).arg(high);
}

std::optional<int> EntryRule::parse(const QString& text) const {
    const auto e = parseEntry(text, low, high);
    return e ? std::optional<int>(e->rounded) : std::nullopt;
}

QStringList itemTexts(std::span<const char* const> items) {
    QStringList out;
    for (const char* item : items)
        out << QString::fromLatin1(item);
    return out;
}

} // namespace qim

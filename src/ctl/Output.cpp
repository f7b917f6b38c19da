#include "Output.h"

#include <QDateTime>
#include <cstdio>

namespace qim::ctl {

namespace {

void put(FILE* f, const QString& text) {
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), f);
    std::fflush(f);
}

QString jsonString(const QString& s) {
    QString out = QStringLiteral("\"");
    for (const QChar c : s) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

QString csvValue(const QString& s) {
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) &&
        !s.contains(QLatin1Char('\n')))
        return s;
    QString quoted = s;
    return QLatin1Char('"') + quoted.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

// Trailing blanks of the last column are padding, not data.
QString chopped(QString s) {
    while (s.endsWith(QLatin1Char(' ')))
        s.chop(1);
    return s;
}

} // namespace

QString Now() {
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString Printer::JsonOf(const Record& r) {
    QStringList parts;
    for (const Field& f : r) {
        const QString v = f.value.isNull() ? QStringLiteral("null")
                          : f.number       ? f.value
                                           : jsonString(f.value);
        parts << jsonString(f.name) + QLatin1Char(':') + v;
    }
    return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString Printer::CsvOf(const Record& r, bool header) {
    QStringList parts;
    for (const Field& f : r)
        parts << csvValue(header ? f.name : f.value);
    return parts.join(QLatin1Char(','));
}

void Printer::row(const Record& r) {
    if (m_format == Format::Json) {
        put(stdout, JsonOf(r));
        return;
    }
    if (m_format == Format::Csv) {
        if (!m_headerDone)
            put(stdout, CsvOf(r, true));
        m_headerDone = true;
        put(stdout, CsvOf(r, false));
        return;
    }
    // Text: columns as wide as the first row's header or value; numbers to the right.
    const auto cell = [](const Field& f, const QString& text, int width) {
        return f.number ? text.rightJustified(width) : text.leftJustified(width);
    };
    if (!m_headerDone) {
        m_widths.clear();
        QStringList head;
        for (const Field& f : r) {
            const int w = static_cast<int>(std::max(f.name.size(), f.value.size()));
            m_widths << std::max(w, 1);
            head << cell(f, f.name, m_widths.back());
        }
        put(stdout, chopped(head.join(QStringLiteral("  "))));
        m_headerDone = true;
    }
    QStringList cells;
    for (int i = 0; i < r.size(); ++i) {
        const Field& f = r.at(i);
        const QString text = f.value.isNull() ? QStringLiteral("-") : f.value;
        cells << cell(f, text, i < m_widths.size() ? m_widths.at(i) : 0);
    }
    put(stdout, chopped(cells.join(QStringLiteral("  "))));
}

void Printer::line(const QString& text) {
    put(stdout, text);
}

void Complain(const QString& text) {
    put(stderr, text.trimmed());
}

} // namespace qim::ctl

#include "Output.h"

#include <QDateTime>
#include <cerrno>
#include <cstdio>

namespace qim::ctl {

namespace {

// Writes a line and flushes it; the error's text when that failed.
QString write(FILE* f, const QString& text) {
    const QByteArray bytes = text.toUtf8() + '\n';
    errno = 0;
    const size_t n = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), f);
    if (std::fflush(f) == 0 && n == static_cast<size_t>(bytes.size()))
        return {};
    const int e = errno ? errno : EIO;
    std::clearerr(f);
    return qt_error_string(e);
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

QString nowText() {
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

Printer::Printer(Format format, bool streaming) : m_format(format), m_streaming(streaming) {}

QString Printer::jsonOf(const Record& r) {
    QStringList parts;
    for (const Field& f : r) {
        QString v;
        if (f.value.isNull()) {
            v = QStringLiteral("null");
        } else if (f.kind == Field::Number) {
            v = f.value;
        } else if (f.kind == Field::Names) {
            QStringList names;
            for (const QString& n : f.value.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                names << jsonString(n);
            v = QLatin1Char('[') + names.join(QLatin1Char(',')) + QLatin1Char(']');
        } else {
            v = jsonString(f.value);
        }
        parts << jsonString(f.name) + QLatin1Char(':') + v;
    }
    return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString Printer::csvOf(const Record& r, bool header) {
    QStringList parts;
    for (const Field& f : r)
        parts << csvValue(header ? f.name : f.value);
    return parts.join(QLatin1Char(','));
}

bool Printer::put(const QString& text) {
    if (!m_error.isEmpty())
        return false;
    m_error = write(stdout, text);
    return m_error.isEmpty();
}

// Numbers to the right, text to the left; an unknown value is "-".
QString Printer::textRow(const Record& r, bool header) const {
    QStringList cells;
    for (int i = 0; i < r.size(); ++i) {
        const Field& f = r.at(i);
        const QString text = header ? f.name : f.value.isEmpty() ? QStringLiteral("-") : f.value;
        const int width = i < m_widths.size() ? m_widths.at(i) : 0;
        cells << (f.kind == Field::Number ? text.rightJustified(width) : text.leftJustified(width));
    }
    return chopped(cells.join(QStringLiteral("  ")));
}

bool Printer::row(const Record& r) {
    if (m_format == Format::Json)
        return put(jsonOf(r));
    if (m_format == Format::Csv) {
        if (!m_headerDone && !put(csvOf(r, true)))
            return false;
        m_headerDone = true;
        return put(csvOf(r, false));
    }
    if (!m_streaming) {
        m_held << r;
        return m_error.isEmpty();
    }
    if (!m_headerDone) {
        for (const Field& f : r)
            m_widths << int(
                std::max({f.name.size(), f.value.size(), qsizetype(f.width), qsizetype(1)}));
        m_headerDone = true;
        if (!put(textRow(r, true)))
            return false;
    }
    return put(textRow(r, false));
}

bool Printer::line(const QString& text) {
    return put(text);
}

bool Printer::end() {
    if (m_held.isEmpty())
        return m_error.isEmpty();
    for (const Record& r : std::as_const(m_held)) {
        for (int i = 0; i < r.size(); ++i) {
            const int w = int(std::max({r.at(i).name.size(), r.at(i).value.size(), qsizetype(1)}));
            if (i < m_widths.size())
                m_widths[i] = std::max(m_widths[i], w);
            else
                m_widths << w;
        }
    }
    bool ok = put(textRow(m_held.first(), true));
    for (const Record& r : std::as_const(m_held))
        ok = ok && put(textRow(r, false));
    m_held.clear();
    return ok;
}

void printFailure(const QString& text) {
    write(stderr, QStringLiteral("qimctl: ") + text.trimmed());
}

} // namespace qim::ctl

#pragma once
// What qimctl prints on stdout: records of named fields, as an aligned text
// table, as one JSON object a line, or as CSV (a header, then rows). Every
// line is flushed at once, so a script reading a watch sees each poll as it
// comes.

#include "Options.h"

#include <QList>
#include <QString>

namespace qim::ctl {

struct Field {
    QString name;
    QString value; // a null string: unknown (null in JSON, empty in CSV, "-" in text)
    bool number = false;
};
using Record = QList<Field>;

// The local time with milliseconds and offset, e.g. 2024-05-02T14:03:07.125+02:00.
QString Now();

class Printer {
public:
    explicit Printer(Format format) : m_format(format) {}
    Format format() const { return m_format; }
    // One row of the run's table; the first one brings the header (text, CSV).
    void row(const Record& r);
    // A line of its own (the text form of info).
    void line(const QString& text);

    static QString JsonOf(const Record& r);
    static QString CsvOf(const Record& r, bool header);

private:
    Format m_format;
    bool m_headerDone = false;
    QList<int> m_widths;
};

// Errors and the link's messages.
void Complain(const QString& text);

} // namespace qim::ctl

#pragma once
// What qimctl prints on stdout: records of named fields, as an aligned text
// table, as one JSON object a line, or as CSV (a header, then rows). JSON and
// CSV lines, and the rows of a watch, are flushed as they come, so a script
// reading a watch sees each poll at once; any other text table is printed
// whole at the end, its columns as wide as their widest value.

#include "Options.h"

#include <QList>
#include <QString>

namespace qim::ctl {

struct Field {
    enum Kind { Text, Number, Names };
    QString name;
    QString value;    // a null string: unknown (null in JSON, empty in CSV, "-" in text)
    Kind kind = Text; // Names: names separated by blanks, a JSON array of strings
    // The widest text the value can take (0: its own): the rows of a watch
    // keep the columns of their first row.
    int width = 0;
};
using Record = QList<Field>;

// The local time with milliseconds and offset, e.g. 2024-05-02T14:03:07.125+02:00.
QString nowText();

class Printer {
public:
    // streaming: text rows are printed as they come (a watch), not held for the table.
    Printer(Format format, bool streaming);
    Format format() const { return m_format; }
    // One row of the run's table; the first one brings the header (text, CSV).
    // False once stdout could not be written.
    bool row(const Record& r);
    // A line of its own (the text form of info, help).
    bool line(const QString& text);
    // Prints the held text table; false when stdout could not be written.
    bool end();
    // Why stdout could not be written.
    QString error() const { return m_error; }

    static QString jsonOf(const Record& r);
    static QString csvOf(const Record& r, bool header);

private:
    bool put(const QString& text);
    QString textRow(const Record& r, bool header) const;

    Format m_format;
    bool m_streaming;
    bool m_headerDone = false;
    QList<int> m_widths;
    QList<Record> m_held;
    QString m_error;
};

// One line on stderr, prefixed "qimctl: ".
void printFailure(const QString& text);

} // namespace qim::ctl

// The rule for every number the user types: the value as typed within the
// bounds, then rounded halves to even, in the user's locale.
#include "NumberEntry.h"
#include "TestSupport.h"

#include <QLocale>
#include <QTest>

using namespace qim;

namespace {
struct Case {
    const char *locale, *text;
    double low, high;
    bool above;  // the exclusive lower bound
    int rounded; // -1: refused
};
// clang-format off
constexpr Case Cases[] = {
    // Inclusive bounds on the value as typed, before rounding; halves to even.
    {"en", "1000", 1000, 10000, false, 1000}, {"en", "10000", 1000, 10000, false, 10000},
    {"en", "999", 1000, 10000, false, -1},    {"en", "999.6", 1000, 10000, false, -1},
    {"en", "247.4", 1, 247, false, -1},       {"en", "246.6", 1, 247, false, 247},
    {"en", "0", 0, 100, true, -1},            {"en", "0.6", 0, 100, true, 1},
    {"en", "0.5", 0, 10, false, 0},           {"en", "1.5", 0, 10, false, 2},
    {"en", "2.5", 0, 10, false, 2},           {"en", "2.500001", 0, 10, false, 3},
    // Sign, exponent and blanks around are fine; anything else is not a number.
    {"en", " +7 ", 0, 10, false, 7},          {"en", "1.5E3", 0, 10000, false, 1500},
    {"en", "", 0, 10, false, -1},             {"en", "12abc", 0, 100, false, -1},
    // The user's locale: the comma is the decimal separator, a point is refused.
    {"de", "2,5", 0, 10, false, 2},           {"de", "1.000", 0, 10000, false, -1},
};
// clang-format on
} // namespace

class TestEntry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void entry_data() {
        QTest::addColumn<int>("i");
        for (int i = 0; i < int(std::size(Cases)); ++i)
            QTest::addRow("%s '%s'", Cases[i].locale, Cases[i].text) << i;
    }
    void entry() {
        QFETCH(int, i);
        const Case& c = Cases[i];
        QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
        const QString text = QString::fromLatin1(c.text);
        const auto e =
            c.above ? ParseEntryAbove(text, c.low, c.high) : ParseEntry(text, c.low, c.high);
        QCOMPARE(e ? e->rounded : -1, c.rounded);
        if (e)
            QCOMPARE(e->value, QLocale().toDouble(text.trimmed()));
    }
};

QIM_TEST_GUILESS_MAIN(TestEntry)
#include "tst_entry.moc"

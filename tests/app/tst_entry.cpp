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
    // Bounds are inclusive and hold for the value as typed, before rounding.
    {"en_US", "1000", 1000, 10000, false, 1000}, {"en_US", "10000", 1000, 10000, false, 10000},
    {"en_US", "999", 1000, 10000, false, -1}, {"en_US", "10001", 1000, 10000, false, -1},
    {"en_US", "999.6", 1000, 10000, false, -1}, {"en_US", "246.6", 1, 247, false, 247},
    {"en_US", "247.4", 1, 247, false, -1}, {"en_US", "0", 0, 100, true, -1},
    {"en_US", "0.6", 0, 100, true, 1}, {"en_US", "100", 0, 100, true, 100},
    // Halves go to the even neighbour.
    {"en_US", "0.5", 0, 10, false, 0}, {"en_US", "1.5", 0, 10, false, 2},
    {"en_US", "2.5", 0, 10, false, 2}, {"en_US", "2.500001", 0, 10, false, 3},
    {"en_US", "9999.5", 1000, 10000, false, 10000},
    // Sign, exponent and blanks around are fine; anything else is not a number.
    {"en_US", " 7 ", 0, 10, false, 7}, {"en_US", "+7", 0, 10, false, 7},
    {"en_US", "1.5E3", 0, 10000, false, 1500}, {"en_US", "", -1e9, 1e9, false, -1},
    {"en_US", "  ", -1e9, 1e9, false, -1}, {"en_US", "12abc", -1e9, 1e9, false, -1},
    {"en_US", "1 2", -1e9, 1e9, false, -1}, {"en_US", "0x10", -1e9, 1e9, false, -1},
    {"en_US", "1,000", -1e9, 1e9, false, -1}, {"en_US", "inf", -1e9, 1e9, false, -1},
    {"en_US", "nan", -1e9, 1e9, false, -1}, {"en_US", "1e999", -1e9, 1e9, false, -1},
    // A comma locale: the comma is the decimal separator, a point is refused.
    {"de_DE", "2,5", 0, 10, false, 2}, {"de_DE", "1,5", 0, 10, false, 2},
    {"de_DE", "1.000", 0, 10000, false, -1},
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

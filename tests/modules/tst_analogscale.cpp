// Counts to volts, the volts text and the ADC configuration words.
#include "AnalogScale.h"
#include "TestSupport.h"

#include <QTest>
#include <cstdlib>

using namespace qim;

namespace {
// The volts text worked out in exact integer arithmetic: volts x 10000 is
// 100 x (c x S - O x 65535) / 65535 with span S and offset O in hundredths of
// a volt, rounded half to even, then written with at most four decimals.
QString exactVoltsText(int64_t c, int code) {
    static const int64_t S[5] = {2048, 1024, 512, 1024, 512};
    static const int64_t O[5] = {1024, 512, 256, 0, 0};
    const int64_t num = 100 * (c * S[code] - O[code] * 65535);
    const int64_t den = 65535;
    int64_t q = num / den, r = num % den; // truncates toward zero
    const int64_t twice = 2 * std::llabs(r);
    if (twice > den || (twice == den && q % 2 != 0))
        q += num < 0 ? -1 : 1;
    const bool negative = q < 0;
    const int64_t a = std::llabs(q);
    QString frac = QString::number(a % 10000).rightJustified(4, QLatin1Char('0'));
    while (frac.endsWith(QLatin1Char('0')))
        frac.chop(1);
    QString text = QString::number(a / 10000);
    if (!frac.isEmpty())
        text += QLatin1Char('.') + frac;
    return (negative ? QStringLiteral("-") : QString()) + text;
}
} // namespace

class TestAnalogScale : public QObject {
    Q_OBJECT
    const QLocale c{QLocale::C};

private Q_SLOTS:
    void documentedVolts_data() {
        QTest::addColumn<int>("counts");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("0 on +/-10V") << 0 << 0 << "-10.24";
        QTest::newRow("65535 on +/-10V") << 65535 << 0 << "10.24";
        QTest::newRow("1 on +/-10V") << 1 << 0 << "-10.2397";
        QTest::newRow("0 on +/-5V") << 0 << 1 << "-5.12";
        QTest::newRow("65535 on +/-5V") << 65535 << 1 << "5.12";
        QTest::newRow("0 on +/-2.5V") << 0 << 2 << "-2.56";
        QTest::newRow("65535 on +/-2.5V") << 65535 << 2 << "2.56";
        QTest::newRow("100 on +10V") << 100 << 3 << "0.0156";
        QTest::newRow("65535 on +10V") << 65535 << 3 << "10.24";
        QTest::newRow("0 on +5V") << 0 << 4 << "0";
        QTest::newRow("65535 on +5V") << 65535 << 4 << "5.12";
        // Mid-scale on a bipolar range lands just either side of zero.
        QTest::newRow("32767 on +/-10V") << 32767 << 0 << "-0.0002";
        QTest::newRow("32768 on +/-10V") << 32768 << 0 << "0.0002";
    }
    void documentedVolts() {
        QFETCH(int, counts);
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(Analog::VoltsText(counts, code, c), text);
    }

    // Every count on every range, against exact arithmetic: no binary
    // rounding artefact anywhere, never "-0", never an exponent.
    void everyCountMatchesExactArithmetic() {
        for (int code = 0; code < 5; ++code)
            for (int counts = 0; counts <= 65535; ++counts) {
                const QString got = Analog::VoltsText(counts, code, c);
                if (got != exactVoltsText(counts, code))
                    QFAIL(qPrintable(QStringLiteral("count %1 code %2: %3, expected %4")
                                         .arg(counts)
                                         .arg(code)
                                         .arg(got, exactVoltsText(counts, code))));
            }
    }

    void roundingHalvesToEvenOnTheDecimalValue_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("rounded");
        // Halves as written, though their binary values sit a hair off them.
        QTest::newRow("0.12345 down to even") << 0.12345 << 0.1234;
        QTest::newRow("0.12355 up to even") << 0.12355 << 0.1236;
        QTest::newRow("1.00005 down") << 1.00005 << 1.0;
        QTest::newRow("-0.00015 away") << -0.00015 << -0.0002;
        QTest::newRow("-0.00005 to zero") << -0.00005 << 0.0;
        QTest::newRow("carry through nines") << 9.99995 << 10.0;
        QTest::newRow("carry into a new digit") << 99.99996 << 100.0;
        QTest::newRow("past the half") << 0.123451 << 0.1235;
        QTest::newRow("short already") << 2.5 << 2.5;
        QTest::newRow("whole") << -7.0 << -7.0;
    }
    void roundingHalvesToEvenOnTheDecimalValue() {
        QFETCH(double, value);
        QFETCH(double, rounded);
        QCOMPARE(Analog::RoundDecimals(value, 4), rounded);
        QVERIFY(!std::signbit(Analog::RoundDecimals(-0.00001, 4)));
    }

    void textUsesTheLocaleDecimalSeparator() {
        const QLocale german(QLocale::German, QLocale::Germany);
        QCOMPARE(Analog::VoltsText(1, 0, german), QStringLiteral("-10,2397"));
        QCOMPARE(Analog::VoltsText(0, 4, german), QStringLiteral("0"));
        QCOMPARE(Analog::DecimalText(0.0001, c), QStringLiteral("0.0001")); // no exponent
        QCOMPARE(Analog::DecimalText(-0.0, c), QStringLiteral("0"));
    }

    void configurationWords() {
        QCOMPARE(Analog::ConfigWord(10, 0, 3), 2563);   // interval 10, Auto, 8 samples
        QCOMPARE(Analog::ConfigWord(255, 1, 0), 65408); // 255, Manual, no average
        const int16_t allTen[4] = {3, 3, 3, 3};
        const int16_t allBipolar[4] = {0, 0, 0, 0};
        const int16_t mixed[4] = {1, 2, 3, 4};
        QCOMPARE(Analog::RangeWord(allTen), 6939);
        QCOMPARE(Analog::RangeWord(allBipolar), 0);
        QCOMPARE(Analog::RangeWord(mixed), 8977);
    }
};

QIM_TEST_GUILESS_MAIN(TestAnalogScale)
#include "tst_analogscale.moc"

// Counts to volts and the volts text against exact arithmetic, and the
// packing of the converter's registers.
#include "AnalogScale.h"
#include "TestSupport.h"

#include <QTest>
#include <cstdlib>

using namespace qim;

namespace {
// The volts text worked out in integers: volts x 10000 is
// 100 x (c x S - O x 65535) / 65535 with span S and offset O in hundredths of
// a volt, rounded half to even, written with at most four decimals.
QString exactVoltsText(int64_t c, int code) {
    constexpr int64_t S[5] = {2048, 1024, 512, 1024, 512};
    constexpr int64_t O[5] = {1024, 512, 256, 0, 0};
    const int64_t num = 100 * (c * S[code] - O[code] * 65535);
    int64_t q = num / 65535;
    const int64_t twice = 2 * std::llabs(num % 65535);
    if (twice > 65535 || (twice == 65535 && q % 2 != 0))
        q += num < 0 ? -1 : 1;
    QString frac = QString::number(std::llabs(q) % 10000).rightJustified(4, QLatin1Char('0'));
    while (frac.endsWith(QLatin1Char('0')))
        frac.chop(1);
    return (q < 0 ? QStringLiteral("-") : QString()) + QString::number(std::llabs(q) / 10000) +
           (frac.isEmpty() ? QString() : QLatin1Char('.') + frac);
}
} // namespace

class TestAnalogScale : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every count on every range: no binary rounding artefact, never "-0",
    // never an exponent, no trailing zeros.
    void everyCountMatchesExactArithmetic() {
        const QLocale c(QLocale::C);
        for (int code = 0; code < 5; ++code)
            for (int counts = 0; counts <= 65535; ++counts)
                if (Analog::VoltsText(counts, code, c) != exactVoltsText(counts, code))
                    QFAIL(qPrintable(QStringLiteral("count %1 code %2: %3, expected %4")
                                         .arg(counts)
                                         .arg(code)
                                         .arg(Analog::VoltsText(counts, code, c),
                                              exactVoltsText(counts, code))));
        const QLocale german(QLocale::German, QLocale::Germany);
        QCOMPARE(Analog::VoltsText(1, 0, german), QStringLiteral("-10,2397"));
    }

    void roundingHalvesToEvenOnTheDecimalValue_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("rounded");
        // Halves as written, though their binary values sit a hair off them.
        QTest::newRow("0.12345 down to even") << 0.12345 << 0.1234;
        QTest::newRow("0.12355 up to even") << 0.12355 << 0.1236;
        QTest::newRow("-0.00015 away from zero") << -0.00015 << -0.0002;
        QTest::newRow("-0.00005 to zero") << -0.00005 << 0.0;
        QTest::newRow("carry into a new digit") << 99.99996 << 100.0;
    }
    void roundingHalvesToEvenOnTheDecimalValue() {
        QFETCH(double, value);
        QFETCH(double, rounded);
        QCOMPARE(Analog::RoundDecimals(value, 4), rounded);
        QVERIFY(!std::signbit(Analog::RoundDecimals(-0.00001, 4)));
    }

    void registerWords_data() {
        QTest::addColumn<QList<int>>("codes"); // ranges of four inputs
        QTest::addColumn<int>("range");
        QTest::addColumn<QList<int>>("config"); // sampling, mode, average
        QTest::addColumn<int>("word");
        QTest::newRow("defaults") << QList<int>{3, 3, 3, 3} << 6939 << QList<int>{10, 0, 3} << 2563;
        QTest::newRow("one bit each")
            << QList<int>{1, 2, 3, 4} << 8977 << QList<int>{255, 1, 0} << 65408;
        QTest::newRow("third alone") << QList<int>{0, 0, 1, 0} << 256 << QList<int>{1, 1, 2} << 386;
    }
    void registerWords() {
        QFETCH(QList<int>, codes);
        QFETCH(int, range);
        QFETCH(QList<int>, config);
        QFETCH(int, word);
        const std::array<int16_t, 4> c{int16_t(codes[0]), int16_t(codes[1]), int16_t(codes[2]),
                                       int16_t(codes[3])};
        QCOMPARE(int(Analog::RangeWord(c)), range);
        QCOMPARE(int(Analog::ConfigWord(config[0], config[1], config[2])), word);
    }
};

QIM_TEST_GUILESS_MAIN(TestAnalogScale)
#include "tst_analogscale.moc"

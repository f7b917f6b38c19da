// Counts to volts and the volts text, against exact arithmetic.
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
        QCOMPARE(Analog::RoundDecimals(0.12345, 4), 0.1234); // a half as written goes to even
        QCOMPARE(Analog::RoundDecimals(0.12355, 4), 0.1236);
        const QLocale german(QLocale::German, QLocale::Germany);
        QCOMPARE(Analog::VoltsText(1, 0, german), QStringLiteral("-10,2397"));
    }
};

QIM_TEST_GUILESS_MAIN(TestAnalogScale)
#include "tst_analogscale.moc"

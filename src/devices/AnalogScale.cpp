#include "AnalogScale.h"

#include <charconv>
#include <cmath>
#include <string>

namespace qim::Analog {

namespace {
// Shortest round-trip text of v in plain notation (no exponent).
std::string shortestFixed(double v) {
    char buf[512]; // enough for any finite double in fixed notation
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    if (res.ec != std::errc())
        return {};
    return std::string(buf, res.ptr);
}
} // namespace

double volts(int32_t counts, int rangeCode) {
    const InputRange& r =
        Ranges[static_cast<size_t>(rangeCode >= 0 && rangeCode < 5 ? rangeCode : DefaultRange)];
    return static_cast<double>(counts) * r.span / FullScale - r.offset;
}

double roundDecimals(double v, int places) {
    if (!std::isfinite(v) || places < 0)
        return v;
    const std::string text = shortestFixed(v);
    if (text.empty())
        return v;
    const bool negative = text.front() == '-';
    const std::string body = negative ? text.substr(1) : text;
    const size_t point = body.find('.');
    if (point == std::string::npos || body.size() - point - 1 <= static_cast<size_t>(places))
        return v; // already short enough

    // digits = the kept digits as one decimal integer, the point `places` from its end
    std::string digits = body.substr(0, point);
    digits.append(body, point + 1, static_cast<size_t>(places));
    const char next = body[point + 1 + places];
    const bool restNonZero = body.find_first_not_of('0', point + 2 + places) != std::string::npos;
    const bool lastOdd = (digits.back() - '0') % 2 == 1;
    if (next > '5' || (next == '5' && (restNonZero || lastOdd))) {
        int i = static_cast<int>(digits.size()) - 1;
        for (; i >= 0 && digits[i] == '9'; --i)
            digits[i] = '0';
        if (i >= 0)
            ++digits[i];
        else
            digits.insert(digits.begin(), '1');
    }
    const size_t whole = digits.size() - static_cast<size_t>(places);
    std::string out = negative ? "-" : "";
    out.append(digits, 0, whole);
    if (places > 0) {
        out.push_back('.');
        out.append(digits, whole, std::string::npos);
    }
    double result = 0;
    const auto res = std::from_chars(out.data(), out.data() + out.size(), result);
    if (res.ec != std::errc())
        return v;
    return result == 0 ? 0.0 : result; // no "-0"
}

QString decimalText(double v, const QLocale& locale) {
    if (v == 0)
        v = 0; // -0 shows as 0
    QString text = QString::fromStdString(shortestFixed(v));
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point >= 0)
        text.replace(point, 1, locale.decimalPoint());
    return text;
}

QString voltsText(int32_t counts, int rangeCode, const QLocale& locale) {
    return decimalText(roundDecimals(volts(counts, rangeCode), 4), locale);
}

} // namespace qim::Analog

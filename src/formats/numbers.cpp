#include "formats/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace lorvane {

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<double> parseDecimal(std::string_view t) {
    if (double v; parsePlainDecimal(t, v)) return v;
    // Validate the grammar ourselves: from_chars would also take "inf", "nan"
    // and hexadecimal forms.
    std::size_t i = 0;
    const std::size_t n = t.size();
    bool negative = false;
    if (i < n && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    const std::size_t numStart = i;
    std::size_t intDigits = 0, fracDigits = 0, leadingZeros = 0;
    bool seenNonZero = false;
    while (i < n && isDigit(t[i])) {
        if (!seenNonZero && t[i] == '0')
            ++leadingZeros;
        else
            seenNonZero = true;
        ++intDigits;
        ++i;
    }
    if (i < n && t[i] == '.') {
        ++i;
        while (i < n && isDigit(t[i])) {
            ++fracDigits;
            ++i;
        }
    }
    if (intDigits + fracDigits == 0) return std::nullopt;
    long long exponent = 0;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool expNeg = false;
        if (i < n && (t[i] == '+' || t[i] == '-')) {
            expNeg = t[i] == '-';
            ++i;
        }
        if (i >= n || !isDigit(t[i])) return std::nullopt;
        while (i < n && isDigit(t[i])) {
            if (exponent < 100000000) exponent = exponent * 10 + (t[i] - '0');
            ++i;
        }
        if (expNeg) exponent = -exponent;
    }
    if (i != n) return std::nullopt;

    double value = 0;
    // from_chars does not take a leading '+'.
    auto res = std::from_chars(t.data() + numStart, t.data() + n, value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Overflow is refused; underflow becomes a signed zero. The decimal
        // magnitude tells the two apart.
        long long magnitude = static_cast<long long>(intDigits - leadingZeros) + exponent;
        if (magnitude > 0) return std::nullopt;
        value = 0.0;
    } else if (res.ec != std::errc() || res.ptr != t.data() + n) {
        return std::nullopt;
    }
    if (!std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

std::optional<std::int32_t> parseInteger(std::string_view t) {
    std::size_t i = 0;
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        i = 1;
    }
    if (i >= t.size()) return std::nullopt;
    std::int64_t v = 0;
    for (; i < t.size(); ++i) {
        if (!isDigit(t[i])) return std::nullopt;
        v = v * 10 + (t[i] - '0');
        if (v > 2147483648LL) return std::nullopt;
    }
    if (negative) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max() || v < std::numeric_limits<std::int32_t>::min())
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

void appendFixed(std::string& out, double value, int minIntDigits, int decimals) {
    if (!std::isfinite(value)) {
        out += std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
        return;
    }
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    const char* p = buf;
    const char* end = res.ptr;
    if (p < end && *p == '-') {
        out += '-';
        ++p;
    }
    const char* dot = p;
    while (dot < end && *dot != '.') ++dot;
    for (long pad = minIntDigits - (dot - p); pad > 0; --pad) out += '0';
    out.append(p, end);
}

std::string formatFixed(double value, int minIntDigits, int decimals) {
    std::string s;
    appendFixed(s, value, minIntDigits, decimals);
    return s;
}

std::string formatPadded(std::int64_t value, int minDigits) {
    std::string s;
    if (value < 0) s += '-';
    std::uint64_t mag = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, mag);
    for (long pad = minDigits - (res.ptr - buf); pad > 0; --pad) s += '0';
    s.append(buf, res.ptr);
    return s;
}

std::int64_t truncToInt64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (v <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v); // conversion truncates toward zero
}

std::string formatRoundTrip(double v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string format17(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
    return std::string(buf, res.ptr);
}

} // namespace lorvane

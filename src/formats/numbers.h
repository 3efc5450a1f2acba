// Locale-free number parsing and fixed-mask formatting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lorvane {

// A decimal number: [+|-]digits[.digits][(e|E)[+|-]digits], at least one digit
// before or after the point. No blanks, no inf/nan/hex; a value too large for a
// double is rejected, one too small underflows to a signed zero.
std::optional<double> parseDecimal(std::string_view text);

// The quick form of parseDecimal for what logs hold: [+|-]digits[.digits]
// with 1 to 19 digits, no exponent, whose digits as an integer fit in 53
// bits. Such a value is an exact integer divided by an exact power of ten, so
// the one rounding of that division gives the correctly rounded double: the
// same as parseDecimal. With `commaPoint` a ',' is read as the point too.
// Returns false (and leaves `out` alone) for any other text; parseDecimal then
// decides.
inline bool parsePlainDecimal(std::string_view text, double& out, bool commaPoint = false) {
    static constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                             1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
    const char* p = text.data();
    const char* const end = p + text.size();
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // The integer wraps beyond 19 digits, but is then not used.
    std::uint64_t digits = 0;
    const char* const intFrom = p;
    for (unsigned d; p < end && (d = static_cast<unsigned char>(*p) - '0') < 10; ++p) digits = digits * 10 + d;
    std::ptrdiff_t count = p - intFrom, fraction = 0;
    if (p < end && (*p == '.' || (commaPoint && *p == ','))) {
        const char* const fracFrom = ++p;
        for (unsigned d; p < end && (d = static_cast<unsigned char>(*p) - '0') < 10; ++p) digits = digits * 10 + d;
        fraction = p - fracFrom;
        count += fraction;
    }
    if (p != end || count == 0 || count > 19 || digits > (std::uint64_t{1} << 53)) return false;
    const double v = static_cast<double>(digits) / kExactPow10[fraction];
    out = negative ? -v : v;
    return true;
}

// [+|-]digits within 32 bits.
std::optional<std::int32_t> parseInteger(std::string_view text);

// Fixed formatting as printf's %.Nf rounds it (exact binary value, ties to
// even), with at least `minIntDigits` digits before the point (zero padded) and
// the '-' kept on a negative value that rounds to zero. Always '.' as point.
// Masks: "000.00" -> (3,2), "000000.00" -> (6,2), "0.000000" -> (1,6),
// "####0.000" -> (1,3), "00000.00" -> (5,2).
std::string formatFixed(double value, int minIntDigits, int decimals);
void appendFixed(std::string& out, double value, int minIntDigits, int decimals);

// Integer with at least `minDigits` digits, zero padded ("000" -> 3).
std::string formatPadded(std::int64_t value, int minDigits);

// Truncation toward zero to a 64-bit integer (saturating, NaN gives 0).
std::int64_t truncToInt64(double value);

// Shortest text that reads back as the same double (for JSON output).
std::string formatRoundTrip(double value);
// 17 significant digits.
std::string format17(double value);

} // namespace lorvane

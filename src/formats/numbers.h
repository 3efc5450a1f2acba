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
// with at least one digit, at most 19 significant digits and no exponent,
// whose digits as an integer fit in 53 bits and whose point has at most 22
// digits after it. Such a value is an exact integer times or divided by an
// exact power of ten, so one rounding gives the correctly rounded double: the
// same as parseDecimal. With `commaPoint` a ',' is read as the point too.
// Returns false (and leaves `out` alone) for any other text; parseDecimal then
// decides.
bool parsePlainDecimal(std::string_view text, double& out, bool commaPoint = false);

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

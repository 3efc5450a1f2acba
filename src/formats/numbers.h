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

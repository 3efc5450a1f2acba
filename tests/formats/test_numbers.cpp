#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "formats/numbers.h"

using namespace lorvane;

TEST(Numbers, DecimalGrammar) {
    EXPECT_EQ(parseDecimal("3090.12345"), 3090.12345);
    EXPECT_EQ(parseDecimal("-60.5"), -60.5);
    EXPECT_EQ(parseDecimal("+7"), 7.0);
    EXPECT_EQ(parseDecimal("5."), 5.0);
    EXPECT_EQ(parseDecimal(".5"), 0.5);
    EXPECT_EQ(parseDecimal("1e3"), 1000.0);
    EXPECT_EQ(parseDecimal("2.5E-1"), 0.25);
    auto negZero = parseDecimal("-0");
    ASSERT_TRUE(negZero);
    EXPECT_TRUE(std::signbit(*negZero));
    // Underflow is a (signed) zero, overflow is refused.
    EXPECT_EQ(parseDecimal("1e-999"), 0.0);
    EXPECT_FALSE(parseDecimal("1e999"));
    EXPECT_FALSE(parseDecimal("-1e999"));
    for (const char* bad : {"",    " ",   "1 ",   " 1",  ".",     "-",   "+.",    "e5",  "1e",  "1e+",
                            "inf", "nan", "-inf", "INF", "0x1p3", "1,5", "1.2.3", "12a", "--1", "1e5.5"})
        EXPECT_FALSE(parseDecimal(bad)) << bad;
}

TEST(Numbers, IntegerGrammar) {
    EXPECT_EQ(parseInteger("008"), 8);
    EXPECT_EQ(parseInteger("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseInteger("2147483647"), INT32_MAX);
    EXPECT_EQ(parseInteger("+5"), 5);
    for (const char* bad : {"", "-", "2147483648", "-2147483649", "1.0", "1e2", " 1", "99999999999999999999"})
        EXPECT_FALSE(parseInteger(bad)) << bad;
}

TEST(Numbers, FixedMasksRoundLikePrintf) {
    EXPECT_EQ(formatFixed(95.37, 3, 2), "095.37");
    EXPECT_EQ(formatFixed(1234.5, 3, 2), "1234.50");
    EXPECT_EQ(formatFixed(123456.789, 6, 2), "123456.79");
    EXPECT_EQ(formatFixed(93015.5, 6, 2), "093015.50");
    EXPECT_EQ(formatFixed(0.125, 1, 2), "0.12"); // exact tie: to even
    EXPECT_EQ(formatFixed(0.375, 1, 2), "0.38"); // exact tie: to even
    EXPECT_EQ(formatFixed(2.675, 1, 2), "2.67"); // binary value lies below the tie
    EXPECT_EQ(formatFixed(12.3456, 1, 3), "12.346");
    EXPECT_EQ(formatFixed(-3.21, 1, 3), "-3.210");
    EXPECT_EQ(formatFixed(-0.0004, 1, 3), "-0.000"); // the sign of a negative value stays
    EXPECT_EQ(formatFixed(-1.25, 5, 2), "-00001.25");
    EXPECT_EQ(formatFixed(0.62251, 1, 6), "0.622510");
}

TEST(Numbers, IndependentOfTheUserLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_EQ(parseDecimal("3.5"), 3.5);
    EXPECT_EQ(formatFixed(3.5, 3, 2), "003.50");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(Numbers, PaddingAndTruncation) {
    EXPECT_EQ(formatPadded(7, 3), "007");
    EXPECT_EQ(formatPadded(1234, 3), "1234");
    EXPECT_EQ(formatPadded(-12, 3), "-012");
    EXPECT_EQ(truncToInt64(-12345.6789), -12345);
    EXPECT_EQ(truncToInt64(95432.1), 95432);
    EXPECT_EQ(truncToInt64(std::nan("")), 0);
    EXPECT_EQ(truncToInt64(1e300), INT64_MAX);
}

namespace {

// What the standard library makes of a decimal text ('-' handled as parseDecimal does).
std::optional<double> reference(std::string_view t) {
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    double v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
    return negative ? -v : v;
}

std::uint64_t bitsOf(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

// parseDecimal, and the quick form where it answers, give from_chars's double to the bit.
void expectSameAsFromChars(const std::string& t) {
    const auto want = reference(t);
    ASSERT_TRUE(want) << t;
    const auto got = parseDecimal(t);
    ASSERT_TRUE(got) << t;
    EXPECT_EQ(bitsOf(*got), bitsOf(*want)) << t;
    double quick = 0;
    if (parsePlainDecimal(t, quick)) {
        EXPECT_EQ(bitsOf(quick), bitsOf(*want)) << t;
        std::string comma = t;
        std::replace(comma.begin(), comma.end(), '.', ',');
        double viaComma = 0;
        EXPECT_TRUE(parsePlainDecimal(comma, viaComma, true)) << comma;
        EXPECT_EQ(bitsOf(viaComma), bitsOf(*want)) << comma;
    }
}

} // namespace

TEST(Numbers, PlainDecimalsTakeTheQuickForm) {
    // What logs hold goes the quick way, and gives the same as from_chars.
    for (const char* t : {"3090.12345",
                          "-60.00001",
                          "0596.56824",
                          "-08847.94644",
                          "001000.00",
                          "0",
                          "-0",
                          "-0.0",
                          "+7",
                          "5.",
                          ".5",
                          "0.1",
                          "0.3",
                          "1.7",
                          "100000000000000000000.5",
                          "9007199254740992",
                          "900719925474099.2",
                          "0.000000000000000001",
                          "-0.000000000000000000",
                          "1,5"}) {
        std::string text = t;
        double v = -1;
        const bool comma = text.find(',') != std::string::npos;
        if (text == "100000000000000000000.5") {
            EXPECT_FALSE(parsePlainDecimal(text, v)) << "22 digits";
            continue;
        }
        ASSERT_TRUE(parsePlainDecimal(text, v, comma)) << t;
        if (comma) std::replace(text.begin(), text.end(), ',', '.');
        const auto want = reference(text);
        ASSERT_TRUE(want);
        EXPECT_EQ(bitsOf(v), bitsOf(*want)) << t;
    }
    double negZero = 1;
    ASSERT_TRUE(parsePlainDecimal("-0.0", negZero));
    EXPECT_TRUE(std::signbit(negZero));
    // Beyond the quick form: left to the general conversion, `out` untouched.
    for (const char* t : {"9007199254740993",
                          "12345678901234567890",
                          "0.0000000000000000001",
                          "1e3",
                          "1.5e-3",
                          "",
                          "+",
                          "-",
                          ".",
                          "-.",
                          "1.2.3",
                          "1,5",
                          "1,2,3",
                          " 1",
                          "1 ",
                          "inf",
                          "0x10",
                          "1..5",
                          "0.12345678901234567890",
                          "12a"}) {
        double v = 42;
        EXPECT_FALSE(parsePlainDecimal(t, v, std::string_view(t) == "1,2,3")) << t;
        EXPECT_EQ(v, 42) << t;
    }
    double v = 0;
    EXPECT_FALSE(parsePlainDecimal("1,5", v, false)); // a comma only when asked
    EXPECT_FALSE(parsePlainDecimal("1,5.5", v, true));
}

TEST(Numbers, DecimalsMatchFromCharsToTheBit) {
    // Edges: long digit strings, exponents, leading and trailing zeros, the
    // 53-bit boundary, values near the smallest normal and subnormal doubles.
    for (const char* t : {"9007199254740991",
                          "9007199254740992",
                          "9007199254740993",
                          "9007199254740994",
                          "9007199254740995",
                          "18014398509481983",
                          "0.9007199254740993",
                          "900719925474099.3",
                          "0.30000000000000004",
                          "0.1000000000000000055511151231257827",
                          "123456789012345678901234567890",
                          "1.00000000000000000000000000001",
                          "0000000000000000000000000001.5",
                          "1.5000000000000000000000000000",
                          "2.2250738585072011e-308",
                          "2.2250738585072014e-308",
                          "4.9e-324",
                          "1e-320",
                          "0.000000000000000000000000000000000000001",
                          "1.7976931348623157e308",
                          "1e22",
                          "1e23",
                          "8.589973e9",
                          "-0.0000",
                          "-60.00001",
                          "3090.12345",
                          "7.0e0",
                          "5e-324"})
        expectSameAsFromChars(t);

    std::mt19937_64 rng(8);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::string t;
    for (int i = 0; i < 200000; ++i) {
        t.clear();
        if (pick(0, 3) == 0) t += pick(0, 1) ? '-' : '+';
        const int digits = pick(1, 24);
        const int zerosFirst = pick(0, 4) == 0 ? pick(0, digits) : 0;
        const int style = pick(0, 5); // 0: nines, 1: trailing zeros, else random
        std::string d;
        for (int k = 0; k < digits; ++k) {
            if (k < zerosFirst)
                d += '0';
            else if (style == 0)
                d += '9';
            else if (style == 1 && k > digits / 2)
                d += '0';
            else
                d += static_cast<char>('0' + pick(0, 9));
        }
        const int point = pick(-1, digits); // -1: no point
        if (point >= 0) {
            const auto at = static_cast<std::size_t>(point);
            d = d.substr(0, at) + "." + d.substr(at);
        }
        t += d;
        if (pick(0, 9) == 0) {
            t += pick(0, 1) ? 'e' : 'E';
            t += std::to_string(pick(-30, 30));
        }
        expectSameAsFromChars(t);
        if (HasFailure()) break;
    }
    // Integers around 2^53 with the point anywhere.
    for (std::uint64_t m = (1ull << 53) - 300; m < (1ull << 53) + 300; ++m) {
        const std::string digits = std::to_string(m);
        for (std::size_t point = 0; point <= digits.size(); point += 3) {
            const std::string s = digits.substr(0, point) + "." + digits.substr(point);
            expectSameAsFromChars(s);
            expectSameAsFromChars("-" + s);
        }
    }
}

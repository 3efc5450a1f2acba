#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

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
    for (const char* bad : {"", " ", "1 ", " 1", ".", "-", "+.", "e5", "1e", "1e+", "inf", "nan", "-inf", "INF",
                            "0x1p3", "1,5", "1.2.3", "12a", "--1", "1e5.5"})
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
    EXPECT_EQ(formatFixed(0.125, 1, 2), "0.12");  // exact tie: to even
    EXPECT_EQ(formatFixed(0.375, 1, 2), "0.38");  // exact tie: to even
    EXPECT_EQ(formatFixed(2.675, 1, 2), "2.67");  // binary value lies below the tie
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

// Number text: '.' separator, halves away from zero in fixed text, general format.
#include <gtest/gtest.h>

#include "base/Errors.h"
#include "base/NumberText.h"

using namespace pelorin;

TEST(FormatFixed, RoundsExactBinaryValueHalvesAwayFromZero) {
    EXPECT_EQ(FormatFixed(1234.5678L, 3), "1234.568");
    EXPECT_EQ(FormatFixed(-12.5L, 3), "-12.500");
    EXPECT_EQ(FormatFixed(1234.5678L, 1), "1234.6");
    EXPECT_EQ(FormatFixed(0.125L, 2), "0.13");  // exact tie: away from zero
    EXPECT_EQ(FormatFixed(-0.125L, 2), "-0.13");
    EXPECT_EQ(FormatFixed(2.675, 2), "2.67");  // the double is just below the tie
    EXPECT_EQ(FormatFixed(2.5L, 0), "3");
    EXPECT_EQ(FormatFixed(-2.5L, 0), "-3");
    EXPECT_EQ(FormatFixed(0.0L, 3), "0.000");
    EXPECT_EQ(FormatFixed(-0.0004L, 3), "0.000");  // no "-0.000"
    EXPECT_EQ(FormatFixed(999.96L, 1), "1000.0");
    EXPECT_EQ(FormatFixed(0.00050001L, 3), "0.001");
    EXPECT_EQ(FormatFixed(0.00049999L, 3), "0.000");
    EXPECT_EQ(FormatFixed(0.0625L, 3), "0.063");
    EXPECT_EQ(FormatFixed(65535.0L, 3), "65535.000");
    EXPECT_EQ(FormatFixedWidth(5.0L, 4, 1), " 5.0");
    EXPECT_EQ(FormatFixedWidth(12345.0L, 2, 0), "12345");
}

TEST(FormatGeneral, TwelveAndFifteenDigits) {
    EXPECT_EQ(FormatGeneral(1523.5L, 12), "1523.5");
    EXPECT_EQ(FormatGeneral(-32768.0L, 12), "-32768");
    EXPECT_EQ(FormatGeneral(0.0L, 12), "0");
    EXPECT_EQ(FormatGeneral(0.125L, 15), "0.125");
    EXPECT_EQ(FormatGeneral(8.0L, 15), "8");
    EXPECT_EQ(FormatGeneral(0.0001L, 12), "0.0001");
    EXPECT_EQ(FormatGeneral(0.00001L, 12), "1E-5");
    EXPECT_EQ(FormatGeneral(1.5e20L, 12), "1.5E20");
    EXPECT_EQ(FormatGeneral(123456789012.0L, 12), "123456789012");
    EXPECT_EQ(FormatGeneral(1234567890123.0L, 12), "1.23456789012E12");
    EXPECT_EQ(FormatGeneral(0.1 + 0.2, 12), "0.3");
    EXPECT_EQ(FormatGeneral(-2.5e-7L, 12), "-2.5E-7");
}

TEST(ParseNumbers, RealsAndIntegersWithDotSeparator) {
    long double v = 0;
    EXPECT_TRUE(TryParseReal("32768.0", v));
    EXPECT_EQ(v, 32768.0L);
    EXPECT_TRUE(TryParseReal("9E99", v));
    EXPECT_EQ(v, 9e99L);
    EXPECT_TRUE(TryParseReal("-1.5e-3", v));
    EXPECT_EQ(v, -1.5e-3L);
    EXPECT_TRUE(TryParseReal("+.5", v));
    EXPECT_EQ(v, 0.5L);
    EXPECT_TRUE(TryParseReal(" 5. ", v));
    EXPECT_EQ(v, 5.0L);
    for (const char* bad : {"", "abc", "0,5", "1e", "inf", "nan", "0x10", "1.2.3", "."})
        EXPECT_FALSE(TryParseReal(bad, v)) << bad;
    // 0.3 parsed into extended precision is not the double 0.3.
    EXPECT_TRUE(TryParseReal("0.3", v));
    EXPECT_EQ(v, 0.3L);

    std::int32_t i = 0;
    EXPECT_TRUE(TryParseInteger("-12", i));
    EXPECT_EQ(i, -12);
    EXPECT_TRUE(TryParseInteger("2147483647", i));
    EXPECT_FALSE(TryParseInteger("2147483648", i));
    EXPECT_TRUE(TryParseInteger("-2147483648", i));
    EXPECT_EQ(i, INT32_MIN);
    EXPECT_FALSE(TryParseInteger("1.0", i));
    EXPECT_EQ(IntValueOrZero("x7"), 0);
    EXPECT_EQ(IntValueOrZero("7"), 7);
}

TEST(ParseNumbers, ErrorsCarryTheRuntimeTexts) {
    try {
        StrToFloat("abc");
        FAIL();
    } catch (const OperationError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
    }
    try {
        StrToInt("T");
        FAIL();
    } catch (const OperationError& e) {
        EXPECT_STREQ(e.what(), "'T' is not a valid integer value");
    }
}

TEST(RoundDivHalfEven, ExactQuotientsWithHalvesToEven) {
    EXPECT_EQ(RoundDivHalfEven(138 * 100, 240), 58);  // 57.5
    EXPECT_EQ(RoundDivHalfEven(77 * 600, 240), 192);  // 192.5
    EXPECT_EQ(RoundDivHalfEven(25 * 240, 96), 62);    // 62.5
    EXPECT_EQ(RoundDivHalfEven(7, 4), 2);
    EXPECT_EQ(RoundDivHalfEven(-5, 2), -2);
    EXPECT_EQ(RoundDivHalfEven(-7, 2), -4);
}

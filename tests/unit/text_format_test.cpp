#include "settings/text_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

TEST(FormatDecimal, WritesSignAndEveryDigit) {
    EXPECT_EQ(FormatDecimal(0), u"0");
    EXPECT_EQ(FormatDecimal(7), u"7");
    EXPECT_EQ(FormatDecimal(-1), u"-1");
    EXPECT_EQ(FormatDecimal(1234567890), u"1234567890");
    EXPECT_EQ(FormatDecimal(std::numeric_limits<std::int32_t>::min()), u"-2147483648");
    EXPECT_EQ(FormatDecimal(std::numeric_limits<std::int64_t>::min()), u"-9223372036854775808");
}

TEST(ParseDecimalPrefix, ReadsTheLongestDecimalPrefix) {
    EXPECT_FLOAT_EQ(static_cast<float>(ParseDecimalPrefix(u"7.4")), 7.4f);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u" 3.5abc"), 3.5);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"\t\n-2.25"), -2.25);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"+8"), 8.0);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u".5"), 0.5);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"5."), 5.0);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"1e3x"), 1000.0);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"2E-1"), 0.2);
}

TEST(ParseDecimalPrefix, AnExponentWithoutDigitsIsNotPartOfTheNumber) {
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"4e"), 4.0);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"4e+"), 4.0);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"4.5e-x"), 4.5);
}

TEST(ParseDecimalPrefix, TextWithoutANumberGivesZero) {
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"none"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u""), 0.0);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"."), 0.0);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"-"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDecimalPrefix(u"  .e5"), 0.0);
}

TEST(ParseDecimalPrefix, NumbersOutOfRangeSaturate) {
    EXPECT_EQ(ParseDecimalPrefix(u"1e999"), HUGE_VAL);
    EXPECT_EQ(ParseDecimalPrefix(u"-1e999"), -HUGE_VAL);
    EXPECT_EQ(ParseDecimalPrefix(u"1e-999"), 0.0);
}

#include "kavel/textnumber.h"

#include <gtest/gtest.h>

#include <climits>

namespace kavel {
namespace {

TEST(TextToInteger, ReadsLeadingDecimalNumber) {
    EXPECT_EQ(TextToInteger("512"), 512);
    EXPECT_EQ(TextToInteger(" 512"), 512);
    EXPECT_EQ(TextToInteger("\t\r\n\v\f 7"), 7);
    EXPECT_EQ(TextToInteger("12a"), 12);
    EXPECT_EQ(TextToInteger("-3"), -3);
    EXPECT_EQ(TextToInteger("+7"), 7);
    EXPECT_EQ(TextToInteger("007"), 7);
    EXPECT_EQ(TextToInteger("1 2"), 1);
}

TEST(TextToInteger, NoDigitsGiveZero) {
    EXPECT_EQ(TextToInteger(""), 0);
    EXPECT_EQ(TextToInteger("abc"), 0);
    EXPECT_EQ(TextToInteger("-"), 0);
    EXPECT_EQ(TextToInteger("+-5"), 0);
    EXPECT_EQ(TextToInteger("- 5"), 0);
    EXPECT_EQ(TextToInteger("   "), 0);
}

TEST(TextToInteger, WrapsIn32Bits) {
    EXPECT_EQ(TextToInteger("2147483647"), INT_MAX);
    EXPECT_EQ(TextToInteger("2147483648"), INT_MIN);
    EXPECT_EQ(TextToInteger("-2147483648"), INT_MIN);
    EXPECT_EQ(TextToInteger("4294967296"), 0);
    EXPECT_EQ(TextToInteger("4294967297"), 1);
    EXPECT_EQ(TextToInteger("4294967295"), -1);
    // Every digit counts, however many there are: 5000000000 - 2^32.
    EXPECT_EQ(TextToInteger("5000000000"), 705032704);
    EXPECT_EQ(TextToInteger("12345678901234567890"), -350287150);
    EXPECT_EQ(TextToInteger("-99999999999x"), -1215752191);
}

}  // namespace
}  // namespace kavel

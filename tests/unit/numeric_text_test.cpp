// The numeric test and the leading-number reading.
#include "job/numeric_text.h"

#include <gtest/gtest.h>

namespace {

TEST(NumericText, IsNumericAcceptsPlainDecimalNumbersOnly) {
  for (const char* yes : {"20261208", "00000000", " 2026 ", "-1234567", "+1", "1.5", ".5", "5.",
                          "1e5", "1E+05", "\t7"}) {
    EXPECT_TRUE(job::isNumeric(yes)) << yes;
  }
  for (const char* no : {"", " ", ".", "-", "2026_old", "1.2.3", "1e", "e5", "12 34", "0x1F",
                         "2026120a", "_2026120"}) {
    EXPECT_FALSE(job::isNumeric(no)) << no;
  }
}

TEST(NumericText, LeadingNumberReadsUntilTheNumberEnds) {
  EXPECT_EQ(job::leadingNumber("20261208"), 20261208);
  EXPECT_EQ(job::leadingNumber("1208_old"), 1208);
  EXPECT_EQ(job::leadingNumber(" 1 2\t3\n4"), 1234);
  EXPECT_EQ(job::leadingNumber("12.5.7"), 12.5);
  EXPECT_EQ(job::leadingNumber("-42x"), -42);
  EXPECT_EQ(job::leadingNumber("1e5"), 1);
  EXPECT_EQ(job::leadingNumber("old"), 0);
  EXPECT_EQ(job::leadingNumber(""), 0);
}

TEST(NumericText, RoundsHalvesToEven) {
  EXPECT_EQ(job::roundHalfEven(2.5), 2);
  EXPECT_EQ(job::roundHalfEven(3.5), 4);
  EXPECT_EQ(job::roundHalfEven(2.4999), 2);
  EXPECT_EQ(job::roundHalfEven(-2.5), -2);
  EXPECT_EQ(job::roundHalfEven(-3.5), -4);
  EXPECT_EQ(job::roundHalfEven(20261208), 20261208);
}

}  // namespace

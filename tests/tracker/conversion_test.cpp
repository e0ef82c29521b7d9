#include "tracker/conversion.h"

#include <gtest/gtest.h>

#include <limits>

TEST(IToStr, WritesPlainDecimal) {
  EXPECT_EQ(i_to_str(0), "0");
  EXPECT_EQ(i_to_str(-42), "-42");
  EXPECT_EQ(i_to_str(2147483647), "2147483647");
  EXPECT_EQ(i_to_str(std::numeric_limits<int>::min()), "-2147483648");
}

TEST(IToStr, FillsWithZerosUpToWidthButNeverCuts) {
  EXPECT_EQ(i_to_str(7, 2), "07");
  EXPECT_EQ(i_to_str(0, 2), "00");
  EXPECT_EQ(i_to_str(12, 4), "0012");
  EXPECT_EQ(i_to_str(2008, 4), "2008");
  EXPECT_EQ(i_to_str(123, 2), "123");
  EXPECT_EQ(i_to_str(5, 0), "5");
  EXPECT_EQ(i_to_str(5, -3), "5");
}

TEST(StrToI, ReadsTheNumberAtTheStart) {
  EXPECT_EQ(str_to_i("42"), 42);
  EXPECT_EQ(str_to_i("  \t42"), 42);
  EXPECT_EQ(str_to_i("42abc"), 42);
  EXPECT_EQ(str_to_i("+7"), 7);
  EXPECT_EQ(str_to_i("-15"), -15);
  EXPECT_EQ(str_to_i("010"), 10);
  EXPECT_EQ(str_to_i("0x1F"), 0);
  EXPECT_EQ(str_to_i("12 34"), 12);
  EXPECT_EQ(str_to_i("2147483647"), 2147483647);
  EXPECT_EQ(str_to_i("-2147483648"), std::numeric_limits<int>::min());
}

TEST(StrToI, TextWithoutNumberOrOutOfRange) {
  EXPECT_EQ(str_to_i(""), 0);
  EXPECT_EQ(str_to_i("abc"), 0);
  EXPECT_EQ(str_to_i("+ 5"), 0);
  EXPECT_EQ(str_to_i("2147483648"), std::numeric_limits<int>::max());
  EXPECT_EQ(str_to_i("-99999999999999999999"), std::numeric_limits<int>::min());
}

TEST(ParseInt, RejectsWhatIsNoIntAndAcceptsTheWholeRange) {
  EXPECT_EQ(parseInt(""), std::nullopt);
  EXPECT_EQ(parseInt("  -"), std::nullopt);
  EXPECT_EQ(parseInt("x15"), std::nullopt);
  EXPECT_EQ(parseInt("2147483648"), std::nullopt);
  EXPECT_EQ(parseInt("-2147483649"), std::nullopt);
  EXPECT_EQ(parseInt("99999999999999999999999"), std::nullopt);
  EXPECT_EQ(parseInt("-2147483648"), std::numeric_limits<int>::min());
  EXPECT_EQ(parseInt("2147483647"), 2147483647);
  EXPECT_EQ(parseInt(" 15abc"), 15);
}

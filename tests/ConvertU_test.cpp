#include "lib/ConvertU.h"

#include <gtest/gtest.h>

#include "base/Errors.h"

namespace {

std::int32_t Convert(const std::string& text) { return TextToInt(text); }

TEST(ConvertU, FlagsAndDecimalText) {
  EXPECT_EQ(BoolToYN(0), "N");
  EXPECT_EQ(BoolToYN(-7), "Y");
  EXPECT_EQ(YNToBool("y"), 1);
  EXPECT_EQ(YNToBool("Y"), 1);
  EXPECT_EQ(YNToBool("Yes"), 0);
  EXPECT_EQ(YNToBool(""), 0);
  EXPECT_EQ(YNToBool("1"), 0);
  EXPECT_EQ(IntToText(65535), "65535");
  EXPECT_EQ(IntToText(-1), "-1");
  EXPECT_EQ(IntToText(INT32_MIN), "-2147483648");
}

TEST(TextToInt, DecimalForms) {
  EXPECT_EQ(Convert("42"), 42);
  EXPECT_EQ(Convert("  -10"), -10);
  // Any control character counts as a blank before the number.
  EXPECT_EQ(Convert("\t\x01 12"), 12);
  EXPECT_EQ(Convert("+7"), 7);
  EXPECT_EQ(Convert("007"), 7);
  EXPECT_EQ(Convert("2147483647"), INT32_MAX);
  EXPECT_EQ(Convert("-2147483648"), INT32_MIN);
}

TEST(TextToInt, HexadecimalForms) {
  EXPECT_EQ(Convert("$10"), 16);
  EXPECT_EQ(Convert("x1f"), 31);
  EXPECT_EQ(Convert("X1F"), 31);
  EXPECT_EQ(Convert("0x10"), 16);
  EXPECT_EQ(Convert("0XaB"), 171);
  EXPECT_EQ(Convert("$FFFFFFFF"), -1);
  EXPECT_EQ(Convert("$0000000010"), 16);
  EXPECT_EQ(Convert("-$10"), -16);
  EXPECT_EQ(Convert("$80000000"), INT32_MIN);
}

TEST(TextToInt, EverythingElseIsAnError) {
  for (const char* bad : {"", " ", "-", "+", "$", "0x", "x", "12 ", "1a", "2147483648",
                          "-2147483649", "$100000000", "1.5", "--1", "0x-1", "Y", "$ 1"}) {
    std::int32_t value = 99;
    EXPECT_FALSE(TryTextToInt(bad, &value)) << bad;
    EXPECT_EQ(value, 99) << bad;
  }
  try {
    Convert("Y");
    FAIL();
  } catch (const ToolError& e) {
    EXPECT_STREQ(e.Kind(), "EConvertError");
    EXPECT_EQ(e.Message(), "'Y' is not a valid integer value");
  }
}

}  // namespace

// Header tokens and numbers as the reader takes them.
#include <gtest/gtest.h>

#include <limits>

#include "base/Error.h"
#include "exchange/ExchangeImageFile.h"

namespace {

TEST(HeaderTest, NumbersReadAsAtoiWithoutOverflow) {
  EXPECT_EQ(ParseHeaderInteger("65535"), 65535);
  EXPECT_EQ(ParseHeaderInteger("  \t-1.000000"), -1);
  EXPECT_EQ(ParseHeaderInteger("+42x"), 42);
  EXPECT_EQ(ParseHeaderInteger("x42"), 0);
  EXPECT_EQ(ParseHeaderInteger(""), 0);
  EXPECT_EQ(ParseHeaderInteger("-"), 0);
  EXPECT_EQ(ParseHeaderInteger("2147483647"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ParseHeaderInteger("2147483648"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ParseHeaderInteger("99999999999999999999999999999999"),
            std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ParseHeaderInteger("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ParseHeaderInteger("-99999999999999999999"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ParseHeaderInteger("6\r"), 6);
  EXPECT_THROW(ParseHeaderInteger(nullptr), EError);
}

}  // namespace

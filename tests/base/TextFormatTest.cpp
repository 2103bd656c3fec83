#include "base/TextFormat.h"

#include <gtest/gtest.h>

#include <cstring>

#include "base/Error.h"

namespace {

TEST(FormatTextTest, FormatsLikePrintf) {
  char buffer[33];
  EXPECT_EQ(FormatText(buffer, sizeof buffer, "%i", 65535), 5);
  EXPECT_STREQ(buffer, "65535");
  EXPECT_EQ(FormatText(buffer, sizeof buffer, "%d", -1), 2);
  EXPECT_STREQ(buffer, "-1");
  EXPECT_EQ(FormatText(buffer, sizeof buffer, "%s", "P6"), 2);
  EXPECT_STREQ(buffer, "P6");
}

TEST(FormatTextTest, CutsAtTheBufferAndTerminatesInItsLastByte) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  // The whole text's length tells the caller it was cut.
  EXPECT_EQ(FormatText(buffer, sizeof buffer, "%s", "abcdefghijkl"), 12);
  EXPECT_STREQ(buffer, "abcdefg");
  char guarded[12];
  std::memset(guarded, 'g', sizeof guarded);
  FormatText(guarded, 4, "%d", 123456);
  EXPECT_STREQ(guarded, "123");
  EXPECT_EQ(guarded[4], 'g') << "wrote past the given size";
  char one[1] = {'x'};
  FormatText(one, 1, "%d", 5);
  EXPECT_EQ(one[0], '\0');
}

TEST(FormatTextTest, RefusesNullBufferNullFormatAndZeroSize) {
  char buffer[4];
  EXPECT_THROW(FormatText(nullptr, 4, "%d", 1), EError);
  const char* noFormat = nullptr;
  EXPECT_THROW(FormatText(buffer, 4, noFormat), EError);
  EXPECT_THROW(FormatText(buffer, 0, "%d", 1), EError);
}

TEST(TextLengthTest, CountsBytesBeforeTheTerminator) {
  EXPECT_EQ(TextLength(""), 0u);
  EXPECT_EQ(TextLength("P6"), 2u);
  EXPECT_THROW(TextLength(nullptr), EError);
}

}  // namespace

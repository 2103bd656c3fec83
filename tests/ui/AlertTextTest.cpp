// Alert texts: placeholders, the 254-character limit, decimal formatting.
#include <gtest/gtest.h>

#include "ui/AlertText.h"

namespace {

AlertText Text(const std::string& s) {
  AlertText t;
  t.Assign(s);
  return t;
}

TEST(AlertTextTest, PlaceholdersAreReplacedOnce) {
  const AlertText one = Text("3.0");
  const AlertText two = Text("B");
  EXPECT_EQ(SubstitutePlaceholders("needs ^1 or later", &one, nullptr), "needs 3.0 or later");
  EXPECT_EQ(SubstitutePlaceholders("^1..^2", &one, &two), "3.0..B");
  EXPECT_EQ(SubstitutePlaceholders("suite '^0' gone", &one, &two), "suite '' gone");
  EXPECT_EQ(SubstitutePlaceholders("^2^1", nullptr, nullptr), "");
}

TEST(AlertTextTest, OtherCaretsStayAsTheyAre) {
  const AlertText one = Text("X");
  EXPECT_EQ(SubstitutePlaceholders("^3 and ^a", &one, nullptr), "^3 and ^a");
  EXPECT_EQ(SubstitutePlaceholders("^^1", &one, nullptr), "^X");
  EXPECT_EQ(SubstitutePlaceholders("end^", &one, nullptr), "end^");
  const AlertText empty = Text("");
  EXPECT_EQ(SubstitutePlaceholders("^1", &empty, nullptr), "");
}

TEST(AlertTextTest, ResultIsCutTo254Characters) {
  const AlertText long1 = Text(std::string(200, 'a'));
  const std::string message = std::string(100, 'm') + "^1" + "tail";
  const std::string out = SubstitutePlaceholders(message, &long1, nullptr);
  EXPECT_EQ(out.size(), 254u);
  EXPECT_EQ(out, std::string(100, 'm') + std::string(154, 'a'));
  EXPECT_EQ(SubstitutePlaceholders(std::string(300, 'z'), nullptr, nullptr).size(), 254u);
}

TEST(AlertTextTest, LengthPrefixedTextKeepsATerminator) {
  const AlertText t = Text(std::string(300, 'q'));
  EXPECT_EQ(t.length, 255);
  EXPECT_EQ(t.chars[255], '\0');
}

TEST(AlertTextTest, DecimalToTextRoundsAndDropsOneTrailingZero) {
  struct Case {
    double value;
    int16_t digits;
    const char* text;
  };
  const Case cases[] = {{3.0, 1, "3.0"},     {2.0, 2, "2.0"},     {1.5, 2, "1.5"},  {2.5, 1, "2.5"},
                        {-0.5, 1, "-0.5"},   {1.25, 1, "1.3"},    {1.24, 1, "1.2"}, {7.0, 0, "7.0"},
                        {0.125, 3, "0.125"}, {10.05, 2, "10.05"}, {2.999, 2, "3.0"}};
  for (const Case& c : cases) {
    AlertText t;
    DecimalToText(t, c.value, c.digits);
    EXPECT_EQ(t.Text(), c.text) << c.value << " with " << c.digits;
  }
}

}  // namespace

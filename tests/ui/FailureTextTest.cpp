// The words for failures: numbered placeholders, and the host's 255-byte
// string cut between characters, also in double-byte code pages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/FailureText.h"

namespace {

TEST(FailureTextTest, NumberedPlaceholdersTakeTheirFacts) {
  EXPECT_EQ(FillPlaceholders("%2 in %1 is \"%3\".", {"C:\\p.ini", "Key", ""}),
            "Key in C:\\p.ini is \"\".");
  EXPECT_EQ(FillPlaceholders("%1, %1 and %4", {"a"}), "a, a and ");
  // A fact is never read for placeholders: "%2" in a path stays as it is.
  EXPECT_EQ(FillPlaceholders("%1 (%2)", {"C:\\100%2done", "x"}), "C:\\100%2done (x)");
  EXPECT_EQ(FillPlaceholders("100%% of %1; 5% left%", {"it"}), "100% of it; 5% left%");
}

// Shift-JIS: lead bytes 0x81 to 0x9F and 0xE0 to 0xFC.
bool IsShiftJisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool NoLead(unsigned char) { return false; }

TEST(FailureTextTest, LongTextsAreCutBetweenCharactersWithTheirLengthByte) {
  uint8_t target[256];
  std::memset(target, 0xA5, sizeof target);
  EXPECT_EQ(WritePascalString(target, "short", &IsShiftJisLead), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(target + 1), 5), "short");
  EXPECT_EQ(target[6], 0);  // terminated for hosts that read it as text
  EXPECT_EQ(target[7], 0xA5);

  // 254 single bytes, then a two-byte character that does not fit whole.
  const std::string ascii(254, 'a');
  const std::string kanji = "\x88\x9f";  // one character, two bytes
  EXPECT_EQ(WritePascalString(target, ascii + kanji + "tail", &IsShiftJisLead), 254);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(target + 1), 254), ascii);
  // Where the same bytes are single characters, 255 of them fit.
  EXPECT_EQ(WritePascalString(target, ascii + kanji, &NoLead), 255);
  EXPECT_EQ(target[255], 0x88);
  // A trail byte that looks like a backslash or a lead byte is not a start.
  const std::string pairs = "\x81\x5c\x81\x81";  // two characters
  EXPECT_EQ(CutAtCharacter(pairs, 3, &IsShiftJisLead), 2u);
  EXPECT_EQ(CutAtCharacter(pairs, 4, &IsShiftJisLead), 4u);
  EXPECT_EQ(CutAtCharacter(std::string(300, '\x82') + "\x82", 255, &IsShiftJisLead), 254u);
  // A lead byte that ends the text stands alone.
  EXPECT_EQ(CutAtCharacter("ab\x81", 255, &IsShiftJisLead), 3u);
}

}  // namespace

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
size_t IsShiftJisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 2 : 1;
}
size_t NoLead(unsigned char) { return 1; }
size_t Utf8(unsigned char b) { return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 1; }

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

  // UTF-8 (code page 65001): characters of two, three and four bytes stay
  // whole wherever the 255th byte falls in them.
  const std::string euro = "\xE2\x82\xAC", clef = "\xF0\x9D\x84\x9E", e = "\xC3\xA9";
  for (size_t pad = 250; pad <= 254; ++pad) {
    for (const std::string& c : {e, euro, clef}) {
      const std::string text = std::string(pad, 'a') + c + c;
      size_t whole = pad;
      while (whole + c.size() <= 255 && whole < text.size()) whole += c.size();
      EXPECT_EQ(WritePascalString(target, text, &Utf8), whole) << pad << " " << c.size();
    }
  }
}

bool Fits(const std::string& message) { return message.size() <= 255; }

TEST(FailureTextTest, LongPathsAreShortenedInTheirMiddleNeverTheWordsAroundThem) {
  // Keeps the drive, the first folder and the last names.
  EXPECT_EQ(ElidePath("C:\\Users\\a\\b\\c\\velmorafilter\\Data.lif", 2, &NoLead),
            "C:\\Users\\...\\velmorafilter\\Data.lif");
  EXPECT_EQ(ElidePath("\\\\server\\share\\team\\x\\y\\Velmora.exe", 1, &NoLead),
            "\\\\server\\share\\team\\...\\Velmora.exe");
  EXPECT_EQ(ElidePath("C:\\Temp\\deep\\deeper\\", 1, &NoLead), "C:\\Temp\\...\\deeper\\");
  EXPECT_EQ(ElidePath("C:\\Temp\\Data.lif", 1, &NoLead), "C:\\Temp\\Data.lif");
  // In code page 932 a name's trail byte 0x5C is no separator.
  EXPECT_EQ(ElidePath("C:\\a\x81\\b\\c\\d", 1, &IsShiftJisLead), "C:\\a\x81\\b\\...\\d");

  const std::string deep = "C:\\Users\\" + std::string(190, 'd') + "\\" + std::string(40, 'e') +
                           "\\velmorafilter\\Velmora_Processed.ppm";
  const auto compose = [](const std::vector<std::string>& facts) {
    return FillPlaceholders(
        "The file %1 could not be replaced. Close that program. Windows says: "
        "\"The process cannot access the file.\"",
        facts);
  };
  const std::string fitted = FitPathsInMessage({deep, "x"}, 255, &NoLead, compose);
  EXPECT_TRUE(Fits(fitted)) << fitted.size();
  EXPECT_EQ(fitted, compose({"C:\\Users\\...\\" + std::string(40, 'e') +
                             "\\velmorafilter\\Velmora_Processed.ppm"}));
  // Short enough as it is: nothing changes.
  EXPECT_EQ(FitPathsInMessage({"C:\\a\\b\\c\\d"}, 255, &NoLead, compose),
            compose({"C:\\a\\b\\c\\d"}));
  // Two paths: the longer one gives way first, and neither more than needed.
  const std::string settings = "C:\\Users\\me\\VelmoraPro\\plugin.ini";
  const auto both = [](const std::vector<std::string>& facts) {
    return FillPlaceholders("Velmora.exe was not found at %1. Correct it in %2.", facts);
  };
  const std::string two = FitPathsInMessage({deep, settings}, 150, &NoLead, both);
  EXPECT_TRUE(two.size() <= 150) << two;
  EXPECT_NE(two.find(settings), std::string::npos) << two;
  EXPECT_NE(two.find("C:\\Users\\...\\velmorafilter\\Velmora_Processed.ppm"), std::string::npos)
      << two;
  // A value that is no full path, however long, is never shortened.
  const std::string value = std::string(300, 'v') + "\\a\\b\\c";
  EXPECT_EQ(FitPathsInMessage({value}, 255, &NoLead, compose), compose({value}));
}

}  // namespace

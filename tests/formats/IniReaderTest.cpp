#include "formats/IniReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>

#include "base/Error.h"
#include "support/TestFolders.h"

using namespace testing_support;

namespace {

// Every line ended by CR LF.
std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

bool ParseText(IniReader& reader, const std::string& text) {
  return reader.Parse(text.data(), static_cast<uint32_t>(text.size()));
}

const char* const kDefault = "<default>";

// --- Reading the file -------------------------------------------------------

class IniReaderFile : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    const std::string path = folder_.File("plugin.ini");
    WriteFile(path, bytes);
    return path;
  }
  TestFolder folder_;
  IniReader reader_;
};

// Descriptors this process holds open; -1 where the system does not tell.
int OpenDescriptors() {
#ifdef _WIN32
  return -1;
#else
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
#endif
}

TEST_F(IniReaderFile, ReadsTheApplicationsSettings) {
  const std::string path = Write(Lines({"[General]", "ApplicationPath=C:\\Apps\\Velmora\\"}));
  const int before = OpenDescriptors();
  ASSERT_TRUE(reader_.Load(path.c_str()));
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(reader_.Count(), 2u);
  EXPECT_STREQ(reader_.Lookup("General", "ApplicationPath", nullptr), "C:\\Apps\\Velmora\\");
  // The file is closed again: it can be replaced at once.
  std::filesystem::remove(path);
  EXPECT_FALSE(Exists(path));
}

TEST_F(IniReaderFile, AcceptsUpTo1022BytesAndRejectsLongerFiles) {
  const std::string head = Lines({"[General]", "ApplicationPath=C:\\A\\"});
  std::string text = head + std::string(1022 - head.size(), 'z');
  ASSERT_EQ(text.size(), 1022u);
  ASSERT_TRUE(reader_.Load(Write(text).c_str()));
  EXPECT_STREQ(reader_.Lookup("General", "ApplicationPath", nullptr), "C:\\A\\");

  text += 'z';
  EXPECT_FALSE(reader_.Load(Write(text).c_str()));
  EXPECT_EQ(reader_.Count(), 0u);
  EXPECT_THROW(reader_.Lookup("General", "ApplicationPath", nullptr), EError);

  // 1023 bytes of valid lines are rejected all the same.
  std::string valid = head;
  while (valid.size() + 5 <= 1023) valid += Lines({"k=v"});
  valid += std::string(1023 - valid.size(), ' ');
  ASSERT_EQ(valid.size(), 1023u);
  EXPECT_FALSE(reader_.Load(Write(valid).c_str()));
}

TEST_F(IniReaderFile, RejectsEmptyAndMissingFiles) {
  EXPECT_FALSE(reader_.Load(Write("").c_str()));
  EXPECT_FALSE(reader_.Load(folder_.File("missing.ini").c_str()));
  EXPECT_EQ(reader_.Count(), 0u);
  EXPECT_EQ(reader_.Length(), 0u);
}

TEST_F(IniReaderFile, RefusesANullPath) { EXPECT_THROW(reader_.Load(nullptr), EError); }

TEST_F(IniReaderFile, ForgetsTheEarlierFileOnEveryLoad) {
  ASSERT_TRUE(reader_.Load(Write(Lines({"[General]", "Old=1"})).c_str()));
  ASSERT_TRUE(reader_.Load(Write(Lines({"[General]", "New=2"})).c_str()));
  EXPECT_EQ(reader_.Lookup("General", "Old", kDefault), kDefault);
  EXPECT_STREQ(reader_.Lookup("General", "New", kDefault), "2");

  EXPECT_FALSE(reader_.Load(Write("[General]\nOld=1\n").c_str()));
  EXPECT_THROW(reader_.Lookup("General", "New", kDefault), EError);
}

TEST_F(IniReaderFile, ReadsTheBytesUntranslated) {
  // A lone LF inside a value stays part of it; only CR LF ends a line.
  ASSERT_TRUE(reader_.Load(Write("[General]\r\nA=x\ny\r\n").c_str()));
  EXPECT_STREQ(reader_.Lookup("General", "A", nullptr), "x\ny");
}

// --- Lines ------------------------------------------------------------------

TEST(IniLines, OnlyCrLfEndsALine) {
  IniReader reader;
  EXPECT_FALSE(ParseText(reader, "[General]\nApplicationPath=C:\\A\\\n"));
  EXPECT_EQ(reader.Count(), 0u);
  EXPECT_THROW(reader.Lookup("General", "ApplicationPath", nullptr), EError);
  EXPECT_FALSE(ParseText(reader, "[General]\rApplicationPath=C:\\A\\\r"));
  EXPECT_FALSE(ParseText(reader, "[General]\n\rA=1\n\r"));
}

TEST(IniLines, ALastLineWithoutCrLfIsIgnored) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, "[General]\r\nApplicationPath=C:\\A\\"));
  EXPECT_EQ(reader.Count(), 1u);
  EXPECT_EQ(reader.Lookup("General", "ApplicationPath", kDefault), kDefault);
}

TEST(IniLines, AZeroByteEndsTheUsableText) {
  IniReader reader;
  const std::string text("[General]\r\nA=1\0\r\nB=2\r\n", 22);
  ASSERT_TRUE(ParseText(reader, text));
  EXPECT_EQ(reader.Count(), 1u);
  EXPECT_EQ(reader.Lookup("General", "B", kDefault), kDefault);
}

TEST(IniLines, EmptyAndOtherLinesDoNotUseUpEntries) {
  std::string text;
  for (int i = 0; i < 20; ++i) text += Lines({"", ";comment", "   ", "just words"});
  text += Lines({"[General]", "ApplicationPath=C:\\A\\"});
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, text));
  EXPECT_EQ(reader.Count(), 2u);
  EXPECT_STREQ(reader.Lookup("General", "ApplicationPath", nullptr), "C:\\A\\");
}

TEST(IniLines, AFileWithoutEntriesIsNotLoaded) {
  IniReader reader;
  EXPECT_FALSE(ParseText(reader, Lines({"", "no entries here", ";"})));
  EXPECT_EQ(reader.Count(), 0u);
  EXPECT_THROW(reader.Lookup("a", "b", nullptr), EError);
}

TEST(IniLines, ParseHasTheFilesSizeLimits) {
  IniReader reader;
  EXPECT_FALSE(reader.Parse("", 0));
  EXPECT_FALSE(reader.Parse(nullptr, 0));
  EXPECT_THROW(reader.Parse(nullptr, 4), EError);
  const std::string ok = Lines({"[S]", "k=v"});
  std::string big = ok + std::string(1023 - ok.size(), ' ');
  EXPECT_FALSE(ParseText(reader, big));
  big.pop_back();
  EXPECT_TRUE(ParseText(reader, big));
  EXPECT_EQ(reader.Length(), 1022u);
}

TEST(IniLines, SixteenEntriesAtMost) {
  std::string text = Lines({"[General]"});
  for (int i = 1; i <= 16; ++i)
    text += Lines({"Key" + std::to_string(i) + "=" + std::to_string(i)});
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, text));
  EXPECT_EQ(reader.Count(), kIniMaxEntries);
  EXPECT_STREQ(reader.Lookup("General", "Key15", kDefault), "15");
  EXPECT_EQ(reader.Lookup("General", "Key16", kDefault), kDefault);
}

// --- Section headers ----------------------------------------------------------

TEST(IniSections, BlanksAroundTheNameAreCut) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({" \t[ \tGeneral  ]\t ", "ApplicationPath=C:\\A\\"})));
  EXPECT_EQ(reader.Entry(0).kind, eIniSection);
  EXPECT_EQ(reader.Entry(0).valueOffset, -1);
  EXPECT_STREQ(reader.TextAt(reader.Entry(0).nameOffset), "General");
  EXPECT_STREQ(reader.Lookup("General", "ApplicationPath", nullptr), "C:\\A\\");
}

TEST(IniSections, TextOutsideTheBracketsBelongsToTheName) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"[General] old", "ApplicationPath=C:\\A\\"})));
  EXPECT_STREQ(reader.TextAt(reader.Entry(0).nameOffset), "General  old");
  EXPECT_EQ(reader.Lookup("General", "ApplicationPath", kDefault), kDefault);

  ASSERT_TRUE(ParseText(reader, Lines({"x[General]", "ApplicationPath=C:\\A\\"})));
  EXPECT_STREQ(reader.TextAt(reader.Entry(0).nameOffset), "x General");
}

TEST(IniSections, BracketsCountInEitherOrderAndAnywhere) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"]General[", "ApplicationPath=C:\\A\\"})));
  EXPECT_STREQ(reader.Lookup("General", "ApplicationPath", nullptr), "C:\\A\\");

  // A value holding both brackets makes its line a section header.
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "ApplicationPath=C:\\[x]\\"})));
  EXPECT_EQ(reader.Entry(1).kind, eIniSection);
  EXPECT_EQ(reader.Lookup("General", "ApplicationPath", kDefault), kDefault);

  // One bracket alone does not.
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "ApplicationPath=C:\\[x\\"})));
  EXPECT_STREQ(reader.Lookup("General", "ApplicationPath", nullptr), "C:\\[x\\");
}

TEST(IniSections, AByteOrderMarkBecomesPartOfTheFirstName) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, "\xEF\xBB\xBF" + Lines({"[General]", "ApplicationPath=C:\\A\\"})));
  // The bracket became a blank inside the name, behind the mark.
  EXPECT_STREQ(reader.TextAt(reader.Entry(0).nameOffset),
               "\xEF\xBB\xBF"
               " General");
  EXPECT_EQ(reader.Lookup("General", "ApplicationPath", kDefault), kDefault);
}

// --- Keys and values ----------------------------------------------------------

TEST(IniKeys, BlanksAroundKeyAndValueAreCutInnerOnesKept) {
  IniReader reader;
  ASSERT_TRUE(
      ParseText(reader, Lines({"[General]", " \tApplicationPath \t=  C:\\My Apps\\a=b \t"})));
  EXPECT_EQ(reader.Entry(1).kind, eIniKeyValue);
  EXPECT_STREQ(reader.TextAt(reader.Entry(1).nameOffset), "ApplicationPath");
  EXPECT_STREQ(reader.Lookup("General", "ApplicationPath", nullptr), "C:\\My Apps\\a=b");
}

TEST(IniKeys, OtherControlBytesAreNotBlanks) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "A=\vx\f"})));
  EXPECT_STREQ(reader.Lookup("General", "A", nullptr), "\vx\f");
}

TEST(IniKeys, CaseMatters) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "applicationpath=C:\\A\\"})));
  EXPECT_EQ(reader.Lookup("General", "ApplicationPath", kDefault), kDefault);
  EXPECT_EQ(reader.Lookup("general", "applicationpath", kDefault), kDefault);
  EXPECT_STREQ(reader.Lookup("General", "applicationpath", kDefault), "C:\\A\\");
}

TEST(IniKeys, AnEmptyValueIsTextNotTheDefault) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "ApplicationPath=", "Blank=   "})));
  const char* value = reader.Lookup("General", "ApplicationPath", kDefault);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "");
  EXPECT_STREQ(reader.Lookup("General", "Blank", kDefault), "");
}

TEST(IniKeys, AnEmptyKeyAndASemicolonKeyAreKeys) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "=nameless", ";ApplicationPath=C:\\A\\"})));
  EXPECT_EQ(reader.Count(), 3u);
  EXPECT_STREQ(reader.Lookup("General", "", nullptr), "nameless");
  EXPECT_STREQ(reader.Lookup("General", ";ApplicationPath", nullptr), "C:\\A\\");
  EXPECT_EQ(reader.Lookup("General", "ApplicationPath", kDefault), kDefault);
}

// --- The lookup walk ----------------------------------------------------------

TEST(IniLookup, WalksOnIntoLaterSections) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "[Other]", "ApplicationPath=C:\\Later\\"})));
  EXPECT_STREQ(reader.Lookup("General", "ApplicationPath", nullptr), "C:\\Later\\");
  // A key before its section is not found.
  ASSERT_TRUE(ParseText(reader, Lines({"ApplicationPath=C:\\Early\\", "[General]"})));
  EXPECT_EQ(reader.Lookup("General", "ApplicationPath", kDefault), kDefault);
}

TEST(IniLookup, FirstSectionAndFirstKeyWin) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "A=1", "A=2", "[General]", "A=3"})));
  EXPECT_STREQ(reader.Lookup("General", "A", nullptr), "1");
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "[General]", "A=3"})));
  // The second header is compared with the key, not taken as a new start.
  EXPECT_STREQ(reader.Lookup("General", "A", nullptr), "3");
}

TEST(IniLookup, ASectionHeaderNamedLikeTheKeyGivesNull) {
  IniReader reader;
  ASSERT_TRUE(
      ParseText(reader, Lines({"[General]", "[ApplicationPath]", "ApplicationPath=C:\\A\\"})));
  EXPECT_EQ(reader.Lookup("General", "ApplicationPath", kDefault), nullptr);
}

TEST(IniLookup, AKeyNamedLikeTheSectionStartsIt) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"General=yes", "ApplicationPath=C:\\A\\"})));
  EXPECT_STREQ(reader.Lookup("General", "ApplicationPath", nullptr), "C:\\A\\");
}

TEST(IniLookup, TheSectionEntryItselfIsNotTheKey) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "X=1"})));
  EXPECT_STREQ(reader.Lookup("General", "General", kDefault), kDefault);
}

TEST(IniLookup, MissingSectionOrKeyGivesTheDefault) {
  IniReader reader;
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "A=1"})));
  EXPECT_EQ(reader.Lookup("Other", "A", kDefault), kDefault);
  EXPECT_EQ(reader.Lookup("General", "B", kDefault), kDefault);
  EXPECT_EQ(reader.Lookup("General", "B", nullptr), nullptr);
}

TEST(IniLookup, RefusesNullNamesAndAnEmptyReader) {
  IniReader reader;
  EXPECT_THROW(reader.Lookup("General", "A", nullptr), EError);
  ASSERT_TRUE(ParseText(reader, Lines({"[General]", "A=1"})));
  EXPECT_THROW(reader.Lookup(nullptr, "A", nullptr), EError);
  EXPECT_THROW(reader.Lookup("General", nullptr, nullptr), EError);
  reader.Reset();
  EXPECT_EQ(reader.Count(), 0u);
  EXPECT_EQ(reader.Length(), 0u);
  EXPECT_THROW(reader.Lookup("General", "A", nullptr), EError);
  EXPECT_THROW(reader.Entry(0), EError);
}

TEST(IniLookup, ValuesPointIntoTheReadersText) {
  IniReader reader;
  const std::string text = Lines({"[General]", "A = 1"});
  ASSERT_TRUE(ParseText(reader, text));
  const IniEntry& entry = reader.Entry(1);
  EXPECT_EQ(entry.nameOffset, 11);  // after "[General]" and its CR LF
  EXPECT_EQ(entry.valueOffset, 15);
  EXPECT_EQ(reader.Lookup("General", "A", nullptr), reader.TextAt(entry.valueOffset));
}

// Arbitrary bytes never take the parser outside its text, and every stored
// entry names a piece of it.
TEST(IniRobustness, ArbitraryBytesKeepEveryEntryInsideTheText) {
  std::mt19937 random(20260105);
  const char alphabet[] = "[]= \t\r\n\r\nab;\0\xFF";
  IniReader reader;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes(random() % 1100, '\0');
    for (char& c : bytes) c = alphabet[random() % (sizeof alphabet - 1)];
    const bool loaded = ParseText(reader, bytes);
    ASSERT_LE(reader.Count(), kIniMaxEntries);
    ASSERT_EQ(loaded, reader.Count() != 0);
    if (bytes.empty() || bytes.size() > kIniMaxFileSize) {
      ASSERT_FALSE(loaded);
      continue;
    }
    for (uint32_t i = 0; i < reader.Count(); ++i) {
      const IniEntry& entry = reader.Entry(i);
      ASSERT_GE(entry.nameOffset, 0);
      ASSERT_LT(static_cast<uint32_t>(entry.nameOffset), reader.Length());
      if (entry.kind == eIniKeyValue) {
        ASSERT_GE(entry.valueOffset, 0);
        ASSERT_LT(static_cast<uint32_t>(entry.valueOffset), reader.Length());
      } else {
        ASSERT_EQ(entry.kind, eIniSection);
        ASSERT_EQ(entry.valueOffset, -1);
      }
      // Names are single lines, cut of their blanks.
      const std::string name = reader.TextAt(entry.nameOffset);
      ASSERT_EQ(name.find("\r\n"), std::string::npos);
      if (!name.empty()) {
        ASSERT_TRUE(name.front() != ' ' && name.front() != '\t');
        ASSERT_TRUE(name.back() != ' ' && name.back() != '\t');
      }
    }
    if (loaded) reader.Lookup("a", "b", nullptr);
  }
}

}  // namespace

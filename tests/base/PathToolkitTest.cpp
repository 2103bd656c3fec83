#include "base/PathToolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "base/BinaryFile.h"
#include "base/Error.h"
#include "base/SystemPaths.h"
#include "host/HostInterface.h"
#include "support/TestFolders.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

using namespace testing_support;

namespace {

TEST(PathStrings, EnsureTrailingBackslashAddsOneOnlyWhenMissing) {
  EXPECT_EQ(EnsureTrailingBackslash(""), "");
  EXPECT_EQ(EnsureTrailingBackslash("C:\\dir"), "C:\\dir\\");
  EXPECT_EQ(EnsureTrailingBackslash("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(EnsureTrailingBackslash("C:\\"), "C:\\");
  EXPECT_EQ(EnsureTrailingBackslash("C:"), "C:\\");
  // A slash is not a separator the plug-in writes or recognises.
  EXPECT_EQ(EnsureTrailingBackslash("dir/"), "dir/\\");
}

TEST(PathStrings, StripTrailingBackslashRemovesExactlyOne) {
  EXPECT_EQ(StripTrailingBackslash("C:\\Temp\\velmorafilter\\"), "C:\\Temp\\velmorafilter");
  EXPECT_EQ(StripTrailingBackslash("C:\\dir\\\\"), "C:\\dir\\");
  EXPECT_EQ(StripTrailingBackslash("C:\\dir"), "C:\\dir");
  EXPECT_EQ(StripTrailingBackslash("\\"), "");
  EXPECT_EQ(StripTrailingBackslash(""), "");
}

TEST(PathStrings, JoinPathPutsOneBackslashBetween) {
  EXPECT_EQ(JoinPath("C:\\dir\\", "f"), "C:\\dir\\f");
  EXPECT_EQ(JoinPath("C:\\dir", "f"), "C:\\dir\\f");
  EXPECT_EQ(JoinPath("", "f"), "f");
  EXPECT_EQ(JoinPath("C:\\Temp\\", "velmorafilter"), "C:\\Temp\\velmorafilter");
  EXPECT_EQ(JoinPath("C:\\a b", "c d.txt"), "C:\\a b\\c d.txt");
  EXPECT_EQ(JoinPath("C:\\dir", ""), "C:\\dir\\");
}

TEST(PathStrings, IsAbsoluteFolderTakesDriveAndUncPathsOnly) {
  for (const char* absolute : {"C:\\", "c:\\Apps\\Velmora", "Z:\\a b\\", "\\\\server\\share",
                               "\\\\server\\share\\Velmora\\", "\\\\?\\C:\\Apps"}) {
    EXPECT_TRUE(IsAbsoluteFolder(absolute)) << absolute;
  }
  for (const char* relative :
       {"", "Velmora", ".\\Velmora", "..\\app", "C:", "C:Apps", "\\Apps", "\\\\", "\\\\server",
        "\\\\server\\", "\\\\\\share", "\\\\server\\\\share", "1:\\Apps", "C:/Apps", "\"C:\\Apps\"",
        "%ProgramFiles%\\Velmora", " C:\\Apps"}) {
    EXPECT_FALSE(IsAbsoluteFolder(relative)) << relative;
  }
}

// In code page 932 "\x94\x5C" is one character whose second byte is the
// backslash's; a path ending in it ends in no separator.
#ifdef _WIN32
bool DoubleByteCodePage() { return GetACP() == 932; }
#else
bool DoubleByteCodePage() {
  sys::SetAnsiCodePage(932);
  return true;
}
#endif

TEST(PathStrings, ASecondByteOf0x5CIsNoSeparator) {
  if (!DoubleByteCodePage()) GTEST_SKIP() << "the ANSI code page is not 932";
  const std::string users = "C:\\Users\\\x94\x5C";  // C:\Users\能
  EXPECT_FALSE(EndsWithBackslash(users));
  EXPECT_EQ(EnsureTrailingBackslash(users), users + "\\");
  EXPECT_EQ(StripTrailingBackslash(users), users);
  EXPECT_EQ(JoinPath(users, "VelmoraPro"), users + "\\VelmoraPro");
  EXPECT_EQ(StripTrailingBackslash(users + "\\"), users);
  // Two-byte characters side by side, and a real separator after one.
  EXPECT_EQ(JoinPath("C:\\\x94\x5C\x94\x5C", "f"), "C:\\\x94\x5C\x94\x5C\\f");
  EXPECT_EQ(JoinPath("C:\\\x94\x5C\\", "f"), "C:\\\x94\x5C\\f");
  // A lead byte cut off at the end is a character of its own.
  EXPECT_TRUE(EndsWithBackslash("C:\\\x94\x5C\\"));
  EXPECT_EQ(EnsureTrailingBackslash("C:\\a\x94"), "C:\\a\x94\\");
  // A server whose name ends in such a character still needs its share.
  EXPECT_FALSE(IsAbsoluteFolder("\\\\srv\x94\x5C"));
  EXPECT_TRUE(IsAbsoluteFolder("\\\\srv\x94\x5C\\share"));
  EXPECT_FALSE(IsAbsoluteFolder("\\\\srv\x94\x5C\\\\share"));
#ifndef _WIN32
  sys::SetAnsiCodePage(1252);
  EXPECT_TRUE(EndsWithBackslash(users));  // one byte a character
#endif
}

// Under UTF-8 as the ANSI code page a character takes up to four bytes, which
// the host's message is cut between; no byte of one is a backslash.
TEST(PathStrings, UnderUtf8ACharacterTakesUpToFourBytes) {
#ifdef _WIN32
  if (GetACP() != 65001) GTEST_SKIP() << "the ANSI code page is not UTF-8";
#else
  sys::SetAnsiCodePage(65001);
#endif
  EXPECT_EQ(sys::CharacterBytes('a'), 1u);
  EXPECT_EQ(sys::CharacterBytes(0xC3), 2u);  // é
  EXPECT_EQ(sys::CharacterBytes(0xE2), 3u);  // €
  EXPECT_EQ(sys::CharacterBytes(0xF0), 4u);
  EXPECT_EQ(sys::CharacterBytes(0x82), 1u);  // a stray continuation byte
  EXPECT_EQ(JoinPath("C:\\\xC3\xA9", "f"), "C:\\\xC3\xA9\\f");
#ifndef _WIN32
  sys::SetAnsiCodePage(1252);
  EXPECT_EQ(sys::CharacterBytes(0xC3), 1u);
#endif
}

TEST(PathStrings, SanitizeNameReplacesEveryOtherByteKeepingTheLength) {
  EXPECT_EQ(SanitizeName("a b.c"), "a_b_c");
  EXPECT_EQ(SanitizeName("x+(1)-y_"), "x+(1)-y_");
  EXPECT_EQ(SanitizeName("Velmora"), "Velmora");
  EXPECT_EQ(SanitizeName(""), "");
  const std::string allowed = "aAbBcCdDeEfFgGhHiIjJkKlLmMnNoOpPqQrRsStTuUvVwWxXyYzZ0123456789+-()_";
  ASSERT_EQ(allowed.size(), 67u);
  EXPECT_EQ(SanitizeName(allowed), allowed);

  std::string everyByte;
  for (int c = 0; c < 256; ++c) everyByte += static_cast<char>(c);
  const std::string sanitized = SanitizeName(everyByte);
  ASSERT_EQ(sanitized.size(), 256u);
  for (int c = 0; c < 256; ++c) {
    const bool kept = allowed.find(static_cast<char>(c)) != std::string::npos && c != 0;
    EXPECT_EQ(sanitized[c], kept ? static_cast<char>(c) : '_') << "byte " << c;
  }
  EXPECT_EQ(SanitizeName(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SanitizeName("C:\\x\xE9"), "C__x_");
}

TEST(PathStrings, BaseNameIsTheProductName) {
  host::FilterRecord record{};
  EXPECT_EQ(GetBaseName(&record), "Velmora");
  EXPECT_THROW(GetBaseName(nullptr), EError);
}

TEST(CopyPathTest, CopiesShortTextAndTerminates) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  CopyPath(buffer, sizeof buffer, "C:\\a");
  EXPECT_STREQ(buffer, "C:\\a");
  EXPECT_EQ(buffer[15], '\0');
}

TEST(CopyPathTest, CutsLongTextToSizeMinusOneAndTerminatesInTheLastByte) {
  char buffer[260];
  std::memset(buffer, 'x', sizeof buffer);
  const std::string fits(259, 'a');
  CopyPath(buffer, sizeof buffer, fits.c_str());
  EXPECT_EQ(std::string(buffer), fits);

  std::memset(buffer, 'x', sizeof buffer);
  const std::string tooLong = std::string(259, 'b') + "cdef";
  CopyPath(buffer, sizeof buffer, tooLong.c_str());
  EXPECT_EQ(buffer[259], '\0');
  EXPECT_EQ(std::string(buffer), std::string(259, 'b'));

  char one[1] = {'x'};
  CopyPath(one, 1, "abc");
  EXPECT_EQ(one[0], '\0');
}

TEST(CopyPathTest, RefusesNullPointersAndZeroSize) {
  char buffer[8] = "keep";
  EXPECT_THROW(CopyPath(nullptr, 8, "a"), EError);
  EXPECT_THROW(CopyPath(buffer, 8, nullptr), EError);
  EXPECT_THROW(CopyPath(buffer, 0, "a"), EError);
  EXPECT_STREQ(buffer, "keep");
}

TEST(PathExistsTest, FindsFilesAndFoldersWithOrWithoutTheFinalBackslash) {
  TestFolder folder;
  const std::string file = folder.File("plain.txt");
  WriteFile(file, "x");
  const std::string sub = folder.File("sub");
  MakeFolder(sub);

  EXPECT_TRUE(PathExists(file));
  EXPECT_TRUE(PathExists(sub));
  EXPECT_TRUE(PathExists(sub + "\\"));
  EXPECT_TRUE(PathExists(folder.Path()));
  EXPECT_FALSE(PathExists(folder.File("missing")));
  EXPECT_FALSE(PathExists(folder.File("missing") + "\\"));
  EXPECT_THROW(PathExists(""), EError);
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

void MakeHidden(const std::string& path) {
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
#else
  (void)path;  // a leading dot is all it takes
#endif
}

TEST(ListFilesTest, ListsPlainFilesOnlyHiddenOnesIncluded) {
  TestFolder folder;
  WriteFile(folder.File("a.ppm"), "1");
  WriteFile(folder.File("b c.txt"), "22");
  WriteFile(folder.File(".hidden"), "3");
  MakeHidden(folder.File(".hidden"));
  MakeFolder(folder.File("sub"));
  WriteFile((std::filesystem::path(folder.File("sub")) / "inner").string(), "4");

  EXPECT_EQ(Sorted(ListFiles(folder.Path())),
            (std::vector<std::string>{".hidden", "a.ppm", "b c.txt"}));
#ifdef _WIN32
  EXPECT_EQ(Sorted(ListFiles(folder.Path() + "\\")),
            (std::vector<std::string>{".hidden", "a.ppm", "b c.txt"}));
#endif
}

TEST(ListFilesTest, GivesNothingForEmptyMissingOrUnnamedFolders) {
  TestFolder folder;
  EXPECT_TRUE(ListFiles(folder.Path()).empty());
  EXPECT_TRUE(ListFiles(folder.File("missing")).empty());
  EXPECT_TRUE(ListFiles("").empty());
  MakeFolder(folder.File("only-a-folder"));
  EXPECT_TRUE(ListFiles(folder.Path()).empty());
}

TEST(EmptyFolderTest, RefusesAnEmptyPath) { EXPECT_THROW(EmptyFolder(""), EError); }

// Natively a backslash is an ordinary byte, so the files joined into a folder
// with it are not inside that folder; emptying is a Windows matter.
#ifdef _WIN32
TEST(EmptyFolderTest, KeepsOnlyTheSubfolderAndItsContents) {
  TestFolder folder;
  WriteFile(folder.File("Velmora.ppm"), "image");
  WriteFile(folder.File("Data.lif"), "job");
  WriteFile(folder.File("hidden.bin"), "h");
  MakeHidden(folder.File("hidden.bin"));
  MakeFolder(folder.File("keep"));
  WriteFile(folder.File("keep\\inner.txt"), "inner");

  EmptyFolder(folder.Path());

  EXPECT_TRUE(ListFiles(folder.Path()).empty());
  EXPECT_FALSE(Exists(folder.File("Velmora.ppm")));
  EXPECT_TRUE(Exists(folder.File("keep")));
  EXPECT_EQ(ReadFile(folder.File("keep\\inner.txt")), "inner");
}

TEST(EmptyFolderTest, LeavesAnEmptyFolderAsItIs) {
  TestFolder folder;
  EmptyFolder(folder.Path());
  EXPECT_TRUE(Exists(folder.Path()));
  EXPECT_TRUE(ListFiles(folder.Path()).empty());
}

TEST(EmptyFolderTest, DeletesReadOnlyFilesAndIgnoresOnesHeldOpen) {
  TestFolder folder;
  WriteFile(folder.File("copied from a disc.ppm"), "read-only");
  ASSERT_TRUE(
      SetFileAttributesA(folder.File("copied from a disc.ppm").c_str(), FILE_ATTRIBUTE_READONLY));
  WriteFile(folder.File("held.txt"), "stays");
  ASSERT_TRUE(SetFileAttributesA(folder.File("held.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  // Held open without delete sharing, as by a scanner or a preview pane.
  const HANDLE held = CreateFileA(folder.File("held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  EmptyFolder(folder.Path());

  EXPECT_EQ(ListFiles(folder.Path()), std::vector<std::string>{"held.txt"});
  EXPECT_NE(GetFileAttributesA(folder.File("held.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  CloseHandle(held);
  SetFileAttributesA(folder.File("held.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

}  // namespace

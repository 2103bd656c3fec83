// The installer's options as deployment tools write them; the installer test
// runs them through the installer under Wine.
#include "installer/files/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace files;

namespace {

const std::wstring kName = L"APPLICATIONPATH=";

TEST(CommandLineTest, TheOptionsValueAsWindowsUsersQuoteIt) {
  const std::vector<std::pair<std::wstring, std::wstring>> found = {
      {L"/S APPLICATIONPATH=C:\\Velmora", L"C:\\Velmora"},
      {L"applicationpath=C:\\Velmora /S", L"C:\\Velmora"},
      {L"/S \"APPLICATIONPATH=C:\\Program Files\\Velmora\" /D=C:\\x",
       L"C:\\Program Files\\Velmora"},
      {L"/S APPLICATIONPATH=\"C:\\Program Files\\Velmora\"", L"C:\\Program Files\\Velmora"},
      {L"/S\tAPPLICATIONPATH=C:\\a\tb", L"C:\\a"},
      {L"APPLICATIONPATH=", L""},
      {L"APPLICATIONPATH=\"C:\\unfinished", L"C:\\unfinished"},
  };
  for (const auto& [parameters, expected] : found) {
    SCOPED_TRACE(std::string(parameters.begin(), parameters.end()));
    std::wstring value = L"before";
    EXPECT_TRUE(TryFindOption(parameters, kName, value));
    EXPECT_EQ(value, expected);
  }
  // Only where the name starts a parameter.
  for (const wchar_t* none : {L"/S", L"XAPPLICATIONPATH=C:\\a", L"/D=C:\\APPLICATIONPATH=x", L""}) {
    std::wstring value;
    EXPECT_FALSE(TryFindOption(none, kName, value));
  }
}

TEST(CommandLineTest, OnlyAFolderGivenInFullIsOne) {
  for (const wchar_t* full : {L"C:\\", L"c:\\Velmora", L"\\\\server\\share\\Velmora"})
    EXPECT_TRUE(IsFullFolder(full));
  for (const wchar_t* partial : {L"Velmora", L"C:Velmora", L"\\Velmora", L"\\\\", L"1:\\x", L""})
    EXPECT_FALSE(IsFullFolder(partial));
}

}  // namespace

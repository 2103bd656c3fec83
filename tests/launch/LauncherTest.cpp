// The launcher for real under Wine: the settings file in the Wine user's
// profile folder, the stand-in Velmora.exe started in folders with spaces,
// the wait for its end, and every failure that must start nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "LaunchTestSupport.h"
#include "base/Error.h"
#include "base/PathToolkit.h"
#include "launch/Launcher.h"
#include "launch/MachineSetting.h"

namespace {

using namespace launchtest;

// Owns the settings file for one test: whatever was there before comes back
// afterwards, and a folder the test created goes again.
class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(GetProfileFolder(profile_));
    settingsFolder_ = profile_ + "VelmoraPro";
    settingsPath_ = settingsFolder_ + "\\plugin.ini";
    folderExisted_ = FileExists(settingsFolder_);
    saved_ = ReadBytes(settingsPath_);
    DeleteFileA(settingsPath_.c_str());
    appFolder_ = scratch_.Subfolder("Velmora app folder");
    ASSERT_TRUE(CopyFileA(StandinPath().c_str(), (appFolder_ + "\\Velmora.exe").c_str(), FALSE))
        << StandinPath();
    work_ = scratch_.Subfolder("work folder with spaces\\velmorafilter");
  }

  void TearDown() override {
    if (saved_) {
      WriteBytes(settingsPath_, *saved_);
    } else {
      DeleteFileA(settingsPath_.c_str());
      if (!folderExisted_) RemoveDirectoryA(settingsFolder_.c_str());
    }
  }

  void WriteSettings(const std::string& text) {
    CreateDirectoryA(settingsFolder_.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(settingsPath_, text));
  }

  void PointSettingsAt(const std::string& folder) {
    WriteSettings("[General]\r\nApplicationPath=" + folder + "\r\n");
  }

  std::string AppExecutable() const { return appFolder_ + "\\Velmora.exe"; }

  // True when some process of the stand-in was started since the log was
  // last removed, wherever its argument pointed.
  bool AnythingStarted() const {
    return FileExists(logPath_) || FileExists(work_ + "\\standin.log");
  }

  std::string profile_;
  std::string settingsFolder_;
  std::string settingsPath_;
  bool folderExisted_ = false;
  std::optional<std::string> saved_;
  ScratchFolder scratch_{"launcher test"};
  std::string appFolder_;
  std::string work_;
  // Every start of the stand-in leaves its record here, wherever its
  // argument points.
  std::string logPath_ = scratch_.Path() + "\\launched.log";
  ScopedEnvironment logEnvironment_{"VELMORA_STANDIN_LOG", logPath_.c_str()};
  ScopedEnvironment modeEnvironment_{"VELMORA_STANDIN_MODE", nullptr};
};

std::string CommandLineOf(const char (&buffer)[kCommandLineSize]) { return buffer; }

bool AllZero(const char (&buffer)[kCommandLineSize]) {
  for (char c : buffer) {
    if (c != '\0') return false;
  }
  return true;
}

TEST_F(LauncherTest, ProfileFolderIsTheUsersOwnWithOneTrailingBackslash) {
  const char* userProfile = std::getenv("USERPROFILE");
  ASSERT_NE(userProfile, nullptr);
  EXPECT_EQ(profile_, EnsureTrailingBackslash(userProfile));
  EXPECT_EQ(profile_.back(), '\\');
  EXPECT_NE(profile_.substr(0, profile_.size() - 1).back(), '\\');
  EXPECT_TRUE(FileExists(profile_));
  EXPECT_EQ(profile_.find("AppData"), std::string::npos);
}

TEST_F(LauncherTest, ApplicationFolderIsReadFromThePluginIniUnderTheProfile) {
  struct Case {
    const char* value;
    const char* folder;
  };
  const Case cases[] = {
      {"C:\\Apps\\Velmora", "C:\\Apps\\Velmora\\"},
      {"C:\\Apps\\Velmora\\", "C:\\Apps\\Velmora\\"},
      {"  C:\\Program Files\\Velmora App\t", "C:\\Program Files\\Velmora App\\"},
      {"C:\\%ProgramFiles%\\Velmora", "C:\\%ProgramFiles%\\Velmora\\"},
      {"\\\\server\\share\\Velmora", "\\\\server\\share\\Velmora\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    PointSettingsAt(c.value);
    std::string folder = "stale";
    EXPECT_TRUE(FindApplicationFolder(folder));
    EXPECT_EQ(folder, c.folder);
  }

  // The key may follow another section: the lookup walks on.
  WriteSettings("[General]\r\n[Other]\r\nApplicationPath=C:\\Later\r\n");
  std::string folder;
  EXPECT_TRUE(FindApplicationFolder(folder));
  EXPECT_EQ(folder, "C:\\Later\\");
}

TEST_F(LauncherTest, ApplicationFolderIsMissingWithoutAUsableSetting) {
  std::string folder = "stale";
  EXPECT_FALSE(FindApplicationFolder(folder)) << "no settings file";
  EXPECT_EQ(folder, "");

  const char* const texts[] = {
      "[General]\r\nOtherKey=C:\\Apps\r\n",          // key missing
      "[General]\r\napplicationpath=C:\\Apps\r\n",   // other letter case
      "[General]\nApplicationPath=C:\\Apps\n",       // LF line ends
      "[General]\r\nApplicationPath=C:\\Apps",       // no final CR LF
      "[Settings]\r\nApplicationPath=C:\\Apps\r\n",  // no section General
      "",                                            // empty file
      // Not a folder named in full: the system would search for it.
      "[General]\r\nApplicationPath=\r\n",
      "[General]\r\nApplicationPath=Velmora\r\n",
      "[General]\r\nApplicationPath=..\\app\r\n",
      "[General]\r\nApplicationPath=C:Apps\r\n",
      "[General]\r\nApplicationPath=\\Apps\r\n",
      "[General]\r\nApplicationPath=\"C:\\Quoted\"\r\n",
      "[General]\r\nApplicationPath=%ProgramFiles%\\Velmora\r\n",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    WriteSettings(text);
    folder = "stale";
    EXPECT_FALSE(FindApplicationFolder(folder));
    EXPECT_EQ(folder, "");
  }
  WriteSettings("[General]\r\nApplicationPath=" + std::string(1100, 'a') + "\r\n");
  EXPECT_FALSE(FindApplicationFolder(folder)) << "a file over 1022 bytes";
}

// The machine-wide setting in one registry view (KEY_WOW64_64KEY or
// KEY_WOW64_32KEY), removed again afterwards. Wine's user may write HKLM.
class ScopedMachineSetting {
 public:
  ScopedMachineSetting(REGSAM view, DWORD type, const std::wstring& value) : view_(view) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMachineSettingKey, 0, nullptr, 0,
                              KEY_SET_VALUE | view_, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (key == nullptr) return;
    EXPECT_EQ(RegSetValueExW(key, kMachineSettingValue, 0, type,
                             reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  ~ScopedMachineSetting() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMachineSettingKey, view_, 0); }
  ScopedMachineSetting(const ScopedMachineSetting&) = delete;
  ScopedMachineSetting& operator=(const ScopedMachineSetting&) = delete;

 private:
  REGSAM view_;
};

std::wstring Wide(const std::string& narrow) {
  std::wstring wide(narrow.size(), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, narrow.data(),
                                                      static_cast<int>(narrow.size()), wide.data(),
                                                      static_cast<int>(wide.size()))));
  return wide;
}

TEST_F(LauncherTest, AUserWithoutAFileStartsTheApplicationOfTheMachineWideSetting) {
  EXPECT_EQ(ReadMachineApplicationPath(), std::nullopt);
  const PreparedJob job = PrepareJob(work_, false);
  const LaunchRequest request{job.jobPath, true};
  {
    // Both the 32-bit and the 64-bit plug-in read the 64-bit view: a value
    // only in the other one does not count.
    ScopedMachineSetting other(KEY_WOW64_32KEY, REG_SZ, L"C:\\Elsewhere");
    ScopedMachineSetting machine(KEY_WOW64_64KEY, REG_SZ, Wide(appFolder_));
    EXPECT_EQ(ReadMachineApplicationPath(), appFolder_);
    std::string folder;
    std::string source;
    EXPECT_TRUE(FindApplicationFolder(folder, &source));
    EXPECT_EQ(folder, appFolder_ + "\\");
    EXPECT_EQ(source, kMachineSettingName);
    EXPECT_EQ(LaunchApplication(request, true), kNoErr);
    EXPECT_TRUE(FileExists(logPath_));

    // The user's own file wins, also when it names no usable folder.
    DeleteFileA(logPath_.c_str());
    const std::string emptyFolder = scratch_.Subfolder("folder without the application");
    PointSettingsAt(emptyFolder);
    EXPECT_TRUE(FindApplicationFolder(folder, &source));
    EXPECT_EQ(folder, emptyFolder + "\\");
    EXPECT_EQ(source, profile_ + "VelmoraPro\\plugin.ini");
    EXPECT_EQ(LaunchApplication(request, true), kPropertyUndefined);
    WriteSettings("[General]\r\n");
    EXPECT_EQ(LaunchApplication(request, true), kPropertyUndefined);
    EXPECT_FALSE(AnythingStarted());
  }
  DeleteFileA(settingsPath_.c_str());
  {
    // An expandable value is expanded.
    ScopedEnvironment where("VELMORA_TEST_APP", appFolder_.c_str());
    ScopedMachineSetting machine(KEY_WOW64_64KEY, REG_EXPAND_SZ, L"%VELMORA_TEST_APP%");
    EXPECT_EQ(ReadMachineApplicationPath(), appFolder_);
  }
  {
    // A value of another type is none.
    ScopedMachineSetting machine(KEY_WOW64_64KEY, REG_MULTI_SZ, Wide(appFolder_) + L'\0');
    EXPECT_EQ(ReadMachineApplicationPath(), std::nullopt);
    EXPECT_EQ(LaunchApplication(request, true), kPropertyUndefined);
  }
  EXPECT_FALSE(AnythingStarted());
}

TEST(CommandLineTest, BothPartsAreQuotedAndTheBufferNeverOverruns) {
  char buffer[kCommandLineSize];
  ASSERT_TRUE(FormatCommandLine("C:\\Program Files\\Velmora\\Velmora.exe",
                                "C:\\Users\\Jo Do\\Temp\\velmorafilter\\Data.lif", buffer));
  EXPECT_EQ(CommandLineOf(buffer),
            "\"C:\\Program Files\\Velmora\\Velmora.exe\" "
            "\"C:\\Users\\Jo Do\\Temp\\velmorafilter\\Data.lif\"");
  EXPECT_EQ(buffer[kCommandLineSize - 1], '\0');

  // Five characters of quotes and space: 518 in all fits, 519 does not.
  const std::string executable = "C:\\A\\Velmora.exe";
  const std::string fits(kCommandLineSize - 1 - 5 - executable.size(), 'x');
  ASSERT_TRUE(FormatCommandLine(executable, fits, buffer));
  EXPECT_EQ(CommandLineOf(buffer).size(), kCommandLineSize - 1);
  EXPECT_FALSE(FormatCommandLine(executable, fits + "x", buffer));
  EXPECT_TRUE(AllZero(buffer));
  EXPECT_FALSE(FormatCommandLine(std::string(600, 'e'), "x", buffer));
  EXPECT_TRUE(AllZero(buffer));
  EXPECT_FALSE(FormatCommandLine(executable, std::string(5000, 'x'), buffer));
  EXPECT_TRUE(AllZero(buffer));
}

TEST(CommandLineTest, QuotesAreRefusedAndFinalBackslashesDoubled) {
  char buffer[kCommandLineSize];
  EXPECT_FALSE(FormatCommandLine("C:\\A\\Velmora.exe", "C:\\a\"b\\Data.lif", buffer));
  EXPECT_TRUE(AllZero(buffer));
  EXPECT_FALSE(FormatCommandLine("\"C:\\A\"\\Velmora.exe", "C:\\Data.lif", buffer));
  EXPECT_TRUE(AllZero(buffer));

  ASSERT_TRUE(FormatCommandLine("C:\\A\\Velmora.exe", "C:\\Job folder\\", buffer));
  EXPECT_EQ(CommandLineOf(buffer), "\"C:\\A\\Velmora.exe\" \"C:\\Job folder\\\\\"");
  ASSERT_TRUE(FormatCommandLine("Velmora.exe", "", buffer));
  EXPECT_EQ(CommandLineOf(buffer), "\"Velmora.exe\" \"\"");
}

TEST_F(LauncherTest, StartsTheApplicationInFoldersWithSpacesOnExactlyOneArgument) {
  const PreparedJob job = PrepareJob(work_, false);
  const std::string expectedCommandLine = "\"" + AppExecutable() + "\" \"" + job.jobPath + "\"";
  for (const std::string& value : {appFolder_, appFolder_ + "\\"}) {
    SCOPED_TRACE(value);
    PointSettingsAt(value);
    DeleteFileA(job.processedPath.c_str());
    DeleteFileA(logPath_.c_str());
    EXPECT_EQ(LaunchApplication(LaunchRequest{job.jobPath, true}, true), kNoErr);
    const std::vector<std::string> expected = {"argc=2", "cmdline=" + expectedCommandLine,
                                               "arg1=" + job.jobPath};
    EXPECT_EQ(LogLines(logPath_), expected);
    EXPECT_EQ(ReadBytes(job.processedPath), job.exportedBytes);
  }
}

TEST_F(LauncherTest, WaitsUntilTheApplicationHasEnded) {
  const PreparedJob job = PrepareJob(work_, true);
  PointSettingsAt(appFolder_);
  ScopedEnvironment mode("VELMORA_STANDIN_MODE", "sleep:3000");
  const DWORD start = GetTickCount();
  EXPECT_EQ(LaunchApplication(LaunchRequest{job.jobPath, true}, true), kNoErr);
  EXPECT_GE(GetTickCount() - start, 3000u);
  // Written after the sleep, just before the process ends.
  EXPECT_EQ(ReadBytes(job.processedPath), job.exportedBytes);
}

TEST_F(LauncherTest, WithoutWaitingReturnsWhileTheApplicationRuns) {
  const PreparedJob job = PrepareJob(work_, false);
  PointSettingsAt(appFolder_);
  ScopedEnvironment mode("VELMORA_STANDIN_MODE", "sleep:3000");
  const DWORD start = GetTickCount();
  EXPECT_EQ(LaunchApplication(LaunchRequest{job.jobPath, false}, false), kNoErr);
  EXPECT_LT(GetTickCount() - start, 2500u);
  EXPECT_FALSE(FileExists(job.processedPath));
  // Let it finish before its folder goes.
  EXPECT_TRUE(WaitForFile(job.processedPath, 30000));
  Sleep(500);
}

TEST_F(LauncherTest, AnyExitCodeOrACrashCountsAsEnded) {
  const PreparedJob job = PrepareJob(work_, false);
  PointSettingsAt(appFolder_);
  const std::pair<const char*, uint32_t> cases[] = {
      {"exit:7", 7u}, {"exit:-1", 0xFFFFFFFFu}, {"crash", 0xC0000005u}};
  for (const auto& [how, status] : cases) {
    SCOPED_TRACE(how);
    ScopedEnvironment mode("VELMORA_STANDIN_MODE", how);
    DeleteFileA(logPath_.c_str());
    uint32_t exitCode = 12345;
    EXPECT_EQ(LaunchApplication(LaunchRequest{job.jobPath, true}, true, &exitCode), kNoErr);
    EXPECT_EQ(exitCode, status);
    EXPECT_TRUE(FileExists(logPath_));
  }
}

TEST_F(LauncherTest, EveryFailureGivesMinus30901AndStartsNothing) {
  const PreparedJob job = PrepareJob(work_, false);
  const LaunchRequest request{job.jobPath, true};
  const std::string emptyFolder = scratch_.Subfolder("folder without the application");

  auto expectNothingStarted = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(LaunchApplication(request, true), kPropertyUndefined);
    EXPECT_FALSE(AnythingStarted());
    EXPECT_FALSE(FileExists(job.processedPath));
  };

  expectNothingStarted("no settings file");
  WriteSettings("[General]\r\nSomethingElse=" + appFolder_ + "\r\n");
  expectNothingStarted("no ApplicationPath key");
  PointSettingsAt(emptyFolder);
  expectNothingStarted("folder without Velmora.exe");
  PointSettingsAt(scratch_.Path() + "\\no such folder");
  expectNothingStarted("folder that does not exist");

  // The same settings start the application once the job path is sound.
  PointSettingsAt(appFolder_);
  EXPECT_EQ(LaunchApplication(request, true), kNoErr);
  EXPECT_TRUE(FileExists(logPath_));
}

TEST_F(LauncherTest, CommandLineOf518CharactersStartsAndOf519StartsNothing) {
  PointSettingsAt(appFolder_);
  const size_t room = kCommandLineSize - 1 - 5 - AppExecutable().size();
  ASSERT_GT(room, 40u) << "the build folder's path is too long for this test";
  const std::string prefix = work_ + "\\";
  const std::string longest = prefix + std::string(room - prefix.size(), 'j');

  EXPECT_EQ(LaunchApplication(LaunchRequest{longest, true}, true), kNoErr);
  const std::vector<std::string> lines = LogLines(logPath_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "argc=2");
  EXPECT_EQ(lines[1].size(), std::string("cmdline=").size() + kCommandLineSize - 1);
  EXPECT_EQ(lines[2], "arg1=" + longest);

  DeleteFileA(logPath_.c_str());
  EXPECT_EQ(LaunchApplication(LaunchRequest{longest + "k", true}, true), kPropertyUndefined);
  EXPECT_EQ(LaunchApplication(LaunchRequest{longest + std::string(2000, 'k'), true}, true),
            kPropertyUndefined);
  EXPECT_EQ(LaunchApplication(LaunchRequest{work_ + "\\a\"b.lif", true}, true), kPropertyUndefined);
  EXPECT_FALSE(AnythingStarted());
}

TEST_F(LauncherTest, AnArgumentEndingInBackslashArrivesUnchanged) {
  PointSettingsAt(appFolder_);
  const std::string argument = work_ + "\\";
  EXPECT_EQ(LaunchApplication(LaunchRequest{argument, true}, true), kNoErr);
  const std::vector<std::string> lines = LogLines(logPath_);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "argc=2");
  EXPECT_EQ(lines[2], "arg1=" + argument);
}

TEST_F(LauncherTest, NoHandleIsLeftOpenOnAnyPath) {
  const PreparedJob job = PrepareJob(work_, false);
  const LaunchRequest request{job.jobPath, true};
  PointSettingsAt(appFolder_);
  // The first start may open what the system keeps for later ones.
  EXPECT_EQ(LaunchApplication(request, true), kNoErr);
  const long before = CountOwnHandles();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(LaunchApplication(request, true), kNoErr);
  {
    ScopedEnvironment mode("VELMORA_STANDIN_MODE", "sleep:300");
    DeleteFileA(job.processedPath.c_str());
    EXPECT_EQ(LaunchApplication(request, false), kNoErr);
    EXPECT_TRUE(WaitForFile(job.processedPath, 30000));
    Sleep(500);
  }
  PointSettingsAt(scratch_.Path());
  EXPECT_EQ(LaunchApplication(request, true), kPropertyUndefined);
  EXPECT_EQ(CountOwnHandles(), before);
}

}  // namespace

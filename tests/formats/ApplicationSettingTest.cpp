// The order in which the application's folder is looked up: the user's own
// settings file, as ever, and the machine-wide setting only for a user who
// has none; and the words for each way it fails.
#include "formats/ApplicationSetting.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/FailureReport.h"
#include "host/PluginContext.h"
#include "support/TestContext.h"
#include "support/TestFolders.h"

using namespace testing_support;

namespace {

class ApplicationSettingTest : public ::testing::Test {
 protected:
  // The profile folder with its final separator. The settings file's path
  // is formed from it with backslashes, which natively are bytes of one
  // file name in the test folder.
  std::string Profile() const {
#ifdef _WIN32
    return folder_.Path() + "\\";
#else
    return folder_.Path() + "/";
#endif
  }
  void WriteUserSettings(const std::string& text) {
    MakeFolder(folder_.File("VelmoraPro"));
    WriteFile(SettingsFileUnder(Profile()), text);
  }

  // Looks the folder up in a call of its own, with the machine-wide value
  // given, and keeps what the user would be told.
  bool Find(const std::optional<std::string>& machine, ApplicationSetting& setting,
            const std::string& profile) {
    machineAsked_ = 0;
    const MachineSettingReader reader = [&]() {
      ++machineAsked_;
      return machine;
    };
    host::FilterRecord record{};
    testsupport::BoundContext context(&record);
    FailureScope call;
    const bool found = FindApplicationSetting(profile, reader, setting);
    recordResult(found ? 0 : -30901);
    reported_ = call.Reported();
    language_ = call.LanguageSetting();
    return found;
  }
  bool Find(const std::optional<std::string>& machine, ApplicationSetting& setting) {
    return Find(machine, setting, Profile());
  }

  TestFolder folder_;
  int machineAsked_ = 0;
  FailureReport reported_;
  std::string language_;
};

TEST_F(ApplicationSettingTest, TheUsersOwnFileWinsOverTheMachineWideSetting) {
  WriteUserSettings("[General]\r\nApplicationPath=D:\\Mine\r\nLanguage=de\r\n");
  ApplicationSetting setting;
  EXPECT_TRUE(Find(std::string("C:\\Program Files\\Velmora"), setting));
  EXPECT_EQ(setting.folder, "D:\\Mine\\");
  EXPECT_EQ(setting.source, SettingsFileUnder(Profile()));
  EXPECT_EQ(language_, "de");
  EXPECT_EQ(machineAsked_, 0) << "the machine-wide setting was read beside the user's file";
}

TEST_F(ApplicationSettingTest, AUsersFileWithoutAUsableFolderIsNotPassedOver) {
  const std::string settings = SettingsFileUnder(Profile());
  struct Case {
    const char* text;
    EFailure failure;
  };
  const Case cases[] = {
      {"[General]\r\nOther=1\r\n", EFailure::kSettingsNoKey},
      {"", EFailure::kSettingsNoKey},  // there, but empty
      {"[General]\r\nApplicationPath=Velmora\r\n", EFailure::kSettingsNotFull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WriteUserSettings(c.text);
    ApplicationSetting setting{"stale", "stale"};
    EXPECT_FALSE(Find(std::string("C:\\Program Files\\Velmora"), setting));
    EXPECT_EQ(setting.folder, "");
    EXPECT_EQ(machineAsked_, 0);
    EXPECT_EQ(reported_.failure, c.failure);
    ASSERT_FALSE(reported_.facts.empty());
    EXPECT_EQ(reported_.facts[0], settings);
  }
}

TEST_F(ApplicationSettingTest, AUserWithoutAFileGetsTheMachineWideSetting) {
  // Also when the user's settings folder is there without the file.
  MakeFolder(folder_.File("VelmoraPro"));
  for (const std::string& value :
       {std::string("C:\\Program Files\\Velmora"), std::string("C:\\Program Files\\Velmora\\"),
        std::string("\\\\server\\share\\Velmora")}) {
    SCOPED_TRACE(value);
    ApplicationSetting setting;
    EXPECT_TRUE(Find(value, setting));
    EXPECT_EQ(setting.folder, value.back() == '\\' ? value : value + "\\");
    EXPECT_EQ(setting.source, kMachineSettingName);
    EXPECT_EQ(machineAsked_, 1);
    EXPECT_EQ(reported_.failure, EFailure::kNone);
    EXPECT_EQ(language_, "");
  }
  // A user without a usable profile folder can have no file of their own.
  ApplicationSetting setting;
  EXPECT_TRUE(Find(std::string("C:\\Velmora"), setting, ""));
  EXPECT_EQ(setting.folder, "C:\\Velmora\\");
}

TEST_F(ApplicationSettingTest, AMachineWideValueNotGivenInFullIsNamedAsSuch) {
  // Empty stands for a value that has no exact form in the code page.
  for (const std::string& value : {std::string(""), std::string("Velmora"),
                                   std::string("%ProgramFiles%\\Velmora"), std::string("C:Apps")}) {
    SCOPED_TRACE(value);
    ApplicationSetting setting{"stale", "stale"};
    EXPECT_FALSE(Find(value, setting));
    EXPECT_EQ(setting.folder, "");
    EXPECT_EQ(setting.source, kMachineSettingName);
    EXPECT_EQ(reported_.failure, EFailure::kSettingsNotFull);
    EXPECT_EQ(reported_.facts,
              (std::vector<std::string>{kMachineSettingName, "General", "ApplicationPath", value}));
  }
}

TEST_F(ApplicationSettingTest, WithNeitherTheWordsNameTheUsersFile) {
  ApplicationSetting setting{"stale", "stale"};
  EXPECT_FALSE(Find(std::nullopt, setting));
  EXPECT_EQ(machineAsked_, 1);
  EXPECT_EQ(setting.folder, "");
  EXPECT_EQ(setting.source, SettingsFileUnder(Profile()));
  EXPECT_EQ(reported_.failure, EFailure::kSettingsMissing);
  EXPECT_EQ(reported_.facts,
            (std::vector<std::string>{SettingsFileUnder(Profile()), "General", "ApplicationPath"}));
  // Without a profile folder there is no file to name.
  EXPECT_FALSE(Find(std::nullopt, setting, ""));
  EXPECT_EQ(reported_.failure, EFailure::kNoProfileFolder);
  // An empty reader is none.
  host::FilterRecord record{};
  testsupport::BoundContext context(&record);
  EXPECT_FALSE(FindApplicationSetting(Profile(), MachineSettingReader(), setting));
}

}  // namespace

// Which of the module's languages a language named by the user or the
// system gets.
#include <gtest/gtest.h>

#include "ui/Language.h"

namespace {

TEST(LanguageTest, NamesAsUsersAndTheSystemWriteThem) {
  EXPECT_EQ(ModuleLanguageForName("de"), 0x0407);
  EXPECT_EQ(ModuleLanguageForName("DE-at"), 0x0407);
  EXPECT_EQ(ModuleLanguageForName("en-GB"), kEnglishLanguage);
  EXPECT_EQ(ModuleLanguageForName("pt-BR"), 0x0416);
  EXPECT_EQ(ModuleLanguageForName("pt-PT"), 0x0416);
  EXPECT_EQ(ModuleLanguageForName("es-MX"), 0x0C0A);
  EXPECT_EQ(ModuleLanguageForName("ja"), 0x0411);
  EXPECT_EQ(ModuleLanguageForName("ko-KR"), 0x0412);
  // Chinese: the script decides, else the region.
  EXPECT_EQ(ModuleLanguageForName("zh"), 0x0804);
  EXPECT_EQ(ModuleLanguageForName("zh-CN"), 0x0804);
  EXPECT_EQ(ModuleLanguageForName("zh-SG"), 0x0804);
  EXPECT_EQ(ModuleLanguageForName("zh-TW"), 0x0404);
  EXPECT_EQ(ModuleLanguageForName("zh_HK"), 0x0404);
  EXPECT_EQ(ModuleLanguageForName("zh-Hant"), 0x0404);
  EXPECT_EQ(ModuleLanguageForName("zh-Hans-HK"), 0x0804);
  EXPECT_EQ(ModuleLanguageForName("zh-Hant-CN"), 0x0404);
  // No words of its own, or no language at all.
  EXPECT_EQ(ModuleLanguageForName("sv-SE"), 0);
  EXPECT_EQ(ModuleLanguageForName(""), 0);
  EXPECT_EQ(ModuleLanguageForName("de DE"), 0);
  EXPECT_EQ(ModuleLanguageForName("German"), 0);
}

TEST(LanguageTest, WindowsLanguageIdentifiers) {
  EXPECT_EQ(ModuleLanguageForId(0x0407), 0x0407);
  EXPECT_EQ(ModuleLanguageForId(0x0C07), 0x0407);  // German, Austria
  EXPECT_EQ(ModuleLanguageForId(0x0809), kEnglishLanguage);
  EXPECT_EQ(ModuleLanguageForId(0x0816), 0x0416);  // Portuguese, Portugal
  EXPECT_EQ(ModuleLanguageForId(0x040A), 0x0C0A);  // Spanish, traditional sort
  EXPECT_EQ(ModuleLanguageForId(0x0C04), 0x0404);  // Chinese, Hong Kong
  EXPECT_EQ(ModuleLanguageForId(0x1004), 0x0804);  // Chinese, Singapore
  EXPECT_EQ(ModuleLanguageForId(0x041D), 0);       // Swedish
  // Every module language is its own.
  for (const uint16_t language : ModuleLanguages()) {
    EXPECT_EQ(ModuleLanguageForId(language), language) << std::hex << language;
  }
}

}  // namespace

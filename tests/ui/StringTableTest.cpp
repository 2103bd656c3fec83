// The translations against their English originals, read from the sources:
// every language has every text that English has, with exactly its
// placeholders and the names that stay as they are. After new English texts
// are added, this names each one still to be translated, in every language.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "support/BuildPaths.h"
#include "ui/FailureText.h"
#include "ui/Language.h"

namespace {

std::string SourceFile(const std::string& relative) {
  const char* root = std::getenv("VELMORA_SOURCE_DIR");
  return testsupport::ToWindowsPath(std::string(root != nullptr ? root : ".") + "/" + relative);
}

std::string ReadSource(const std::string& relative) {
  std::ifstream in(SourceFile(relative), std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << relative;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A resource script's string tables and language.
struct StringTable {
  unsigned language = 0;
  std::map<std::string, std::string> texts;  // id name -> text as written
};

// The quoted parts of an entry, joined ("" is one quote); macros between
// them are left out.
std::string QuotedText(const std::string& rest) {
  std::string text;
  bool inside = false;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '"') {
      if (inside) text += rest[i];
    } else if (inside && i + 1 < rest.size() && rest[i + 1] == '"') {
      text += '"';
      ++i;
    } else {
      inside = !inside;
    }
  }
  return text;
}

StringTable ReadStringTable(const std::string& relative) {
  StringTable table;
  bool inTable = false;
  for (const std::string& raw : Lines(ReadSource(relative))) {
    const std::string line = Trim(raw);
    if (line.rfind("LANGUAGE ", 0) == 0) {
      char* end = nullptr;
      const unsigned long primary = std::strtoul(line.c_str() + 9, &end, 0);
      const unsigned long sub = std::strtoul(end + 1, nullptr, 0);
      table.language = static_cast<unsigned>(sub << 10 | primary);
    } else if (line == "STRINGTABLE") {
      inTable = true;
    } else if (inTable && line == "END") {
      inTable = false;
    } else if (inTable && line.rfind("IDS_", 0) == 0) {
      const size_t space = line.find_first_of(" \t");
      EXPECT_TRUE(table.texts
                      .emplace(line.substr(0, space),
                               QuotedText(space == std::string::npos ? "" : line.substr(space)))
                      .second)
          << relative << ": " << line.substr(0, space) << " twice";
    }
  }
  return table;
}

// The placeholders of a text, sorted: "%1".."%9" and "%%" of the failure
// texts, "^0".."^2" of the alerts.
std::vector<std::string> Placeholders(const std::string& text) {
  std::vector<std::string> found;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    const char next = text[i + 1];
    if ((text[i] == '%' && ((next >= '1' && next <= '9') || next == '%')) ||
        (text[i] == '^' && next >= '0' && next <= '2')) {
      found.push_back(text.substr(i, 2));
      ++i;
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// The variables and defines of an NSIS string ($R9, $AppFolder,
// ${SETTINGS_FILE}), sorted; escapes ($\n, $\") are the language's own.
std::vector<std::string> NsisVariables(const std::string& text) {
  std::vector<std::string> found;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '$') continue;
    const char next = text[i + 1];
    if (next == '\\' || next == '$') {
      ++i;
    } else if (next == '{' || next == '(') {
      const size_t end = text.find(next == '{' ? '}' : ')', i);
      found.push_back(text.substr(i, end - i + 1));
      i = end;
    } else {
      size_t end = i + 1;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_')) {
        ++end;
      }
      found.push_back(text.substr(i, end - i));
      i = end - 1;
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Backslashes as the text shows them: the resource compiler makes "\\" one
// and keeps a backslash before any other character.
std::string Unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') ++i;
  }
  return out;
}

// Each name that the English text has must be in the translation as it is.
void ExpectNamesKept(const std::string& english, const std::string& translated,
                     const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (english.find(name) != std::string::npos) {
      EXPECT_NE(translated.find(name), std::string::npos) << "\"" << name << "\" lost";
    }
  }
}

// The texts that the host interface quotes: English in every language.
const std::set<std::string> kEnglishOnly = {"IDS_ABOUT_VARIANT",     "IDS_INTEGER_RANGE",
                                            "IDS_DECIMAL_RANGE",     "IDS_VERSION_REQUIRED",
                                            "IDS_INCOMPATIBLE_HOST", "IDS_SUITE_UNAVAILABLE"};

// The translated string tables, as the module's script includes them.
std::vector<std::string> LanguageFiles() {
  std::vector<std::string> files;
  for (const std::string& line : Lines(ReadSource("ui/lang/Languages.rc"))) {
    const size_t open = line.find("#include \"");
    if (open == 0) files.push_back(line.substr(10, line.rfind('"') - 10));
  }
  return files;
}

TEST(StringTableTest, EveryLanguageHasEveryTextWithItsPlaceholders) {
  const StringTable english = ReadStringTable("ui/Velmora.rc");
  ASSERT_EQ(english.language, kEnglishLanguage);
  ASSERT_GT(english.texts.size(), 20u);
  std::set<unsigned> languages = {english.language};
  const std::vector<std::string> files = LanguageFiles();
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const StringTable table = ReadStringTable(file);
    EXPECT_TRUE(languages.insert(table.language).second) << "language given twice";
    for (const auto& [id, text] : english.texts) {
      const auto found = table.texts.find(id);
      if (kEnglishOnly.count(id) != 0) {
        EXPECT_TRUE(found == table.texts.end()) << id << " must stay English";
        continue;
      }
      if (found == table.texts.end()) {
        ADD_FAILURE() << id << " is not translated: \"" << text << "\"";
        continue;
      }
      SCOPED_TRACE(id);
      EXPECT_EQ(Placeholders(found->second), Placeholders(text)) << found->second;
      ExpectNamesKept(Unescaped(text), Unescaped(found->second),
                      {"Velmora.exe", "Velmora", "TEMP", "C:\\Temp", "C:\\Program Files\\Velmora\\",
                       "Windows", "[%2]"});
      // A single backslash before a letter is left to the resource
      // compiler's mercy: every one is written doubled.
      for (size_t i = 0; i < found->second.size(); ++i) {
        if (found->second[i] != '\\') continue;
        EXPECT_TRUE(i + 1 < found->second.size() && found->second[i + 1] == '\\')
            << "a single backslash in " << found->second;
        ++i;
      }
    }
    for (const auto& [id, text] : table.texts) {
      EXPECT_TRUE(english.texts.count(id) != 0) << id << " is not in the English table";
    }
  }
  // The tables are exactly the languages the code chooses from.
  EXPECT_EQ(languages, std::set<unsigned>(ModuleLanguages().begin(), ModuleLanguages().end()));
}

// The module's tables, English first.
std::vector<std::string> AllTables() {
  std::vector<std::string> files = LanguageFiles();
  files.insert(files.begin(), "ui/Velmora.rc");
  return files;
}

#ifdef _WIN32
// Text of a table as the module holds it: every table is written in UTF-8.
std::wstring Decoded(const std::string& text, UINT codePage) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(codePage, 0, text.data(),
                                                      static_cast<int>(text.size()), wide.data(),
                                                      static_cast<int>(wide.size()))));
  return wide;
}

// The bytes of the words in a code page; false when a character has no
// exact form there.
bool TryEncode(const std::wstring& words, UINT codePage, std::string& bytes) {
  // UTF-8 holds every character, and takes no flags and no lost-character
  // report.
  const bool utf8 = codePage == CP_UTF8;
  BOOL lost = FALSE;
  bytes.assign(words.size() * 3, '\0');
  bytes.resize(static_cast<size_t>(WideCharToMultiByte(
      codePage, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, words.data(), static_cast<int>(words.size()),
      bytes.data(), static_cast<int>(bytes.size()), nullptr, utf8 ? nullptr : &lost)));
  return !lost && !bytes.empty();
}

// Each failure's facts as short as the plug-in can make them for the host's
// 255 bytes (paths down to their drive, first folder and file name, sizes of
// nine digits), and whether Windows' reason follows its words.
struct ShortestFacts {
  std::vector<std::wstring> facts;
  bool reason;
};
const std::map<std::string, ShortestFacts>& FailureFacts() {
  const std::wstring work = L"C:\\Users\\...\\velmorafilter";
  const std::wstring processed = L"C:\\Users\\...\\Velmora_Processed.pfm";
  const std::wstring settings = L"C:\\Users\\...\\plugin.ini";
  const std::wstring application = L"C:\\Program Files\\...\\Velmora.exe";
  const std::wstring machine = L"HKLM\\SOFTWARE\\Velmora Plugin";
  const std::wstring bytes = L"123456789";
  static const std::map<std::string, ShortestFacts> facts = {
      {"IDS_FAILURE_NO_MEMORY", {{}, false}},
      {"IDS_FAILURE_PLUGIN_FAULT", {{L"-1715"}, false}},
      {"IDS_FAILURE_UNSUPPORTED_IMAGE", {{}, false}},
      {"IDS_FAILURE_NO_TEMP_FOLDER", {{}, false}},
      {"IDS_FAILURE_PATH_TOO_LONG", {{processed}, false}},
      {"IDS_FAILURE_WORK_FOLDER_NOT_MADE", {{work}, true}},
      {"IDS_FAILURE_WORK_FILE_HELD", {{processed}, true}},
      {"IDS_FAILURE_FILE_NOT_WRITTEN", {{L"C:\\Users\\...\\Velmora.pfm"}, true}},
      {"IDS_FAILURE_DISK_FULL", {{work, bytes, bytes}, false}},
      {"IDS_FAILURE_SETTINGS_MISSING", {{settings, L"General", L"ApplicationPath"}, false}},
      {"IDS_FAILURE_SETTINGS_NO_KEY", {{settings, L"General", L"ApplicationPath"}, false}},
      // From the machine-wide setting, whose name is never shortened, with a
      // value an administrator might well write there.
      {"IDS_FAILURE_SETTINGS_NOT_FULL",
       {{machine, L"General", L"ApplicationPath", L"%ProgramFiles%\\Velmora Photo\\"}, false}},
      // The folder may come from the machine-wide setting, whose name is
      // the longer one.
      {"IDS_FAILURE_APPLICATION_MISSING", {{application, machine, L"ApplicationPath"}, false}},
      {"IDS_FAILURE_APPLICATION_NOT_STARTED", {{application, machine, L"ApplicationPath"}, true}},
      {"IDS_FAILURE_COMMAND_TOO_LONG", {{application, L"C:\\Users\\...\\Data.lif"}, false}},
      {"IDS_FAILURE_WAIT_FAILED", {{}, false}},
      {"IDS_FAILURE_NO_PROFILE_FOLDER", {{}, false}},
      {"IDS_FAILURE_APPLICATION_CRASHED", {{L"0xC0000005"}, false}},
      {"IDS_FAILURE_NOT_AN_IMAGE", {{processed, L"PFM (float map)"}, false}},
      {"IDS_FAILURE_WRONG_SIZE", {{processed, L"12000", L"8000", L"12000", L"8000"}, false}},
      {"IDS_FAILURE_FILE_SHORT", {{processed, bytes, bytes}, false}},
      {"IDS_FAILURE_TEMP_FOLDER_UNUSABLE", {{L"C:\\Users\\...\\Temp"}, true}},
      {"IDS_FAILURE_HOST_FAULT", {{L"-1715"}, false}},
      {"IDS_FAILURE_SILENT_PLAY", {{}, false}},
  };
  return facts;
}

// Each failure's words in a table with their shortest facts and, where
// Windows gives a reason, one of a usual length: between "Access is denied."
// (17 bytes) and "The system cannot find the path specified." (42); id ->
// their bytes in the code page, empty when a character has no form there.
std::map<std::string, std::string> FailureBytes(const std::string& file, UINT codePage) {
  constexpr size_t kReasonBytes = 30;
  const StringTable table = ReadStringTable(file);
  auto text = [&](const std::string& id) {
    const auto found = table.texts.find(id);
    return found == table.texts.end() ? std::wstring() : Decoded(Unescaped(found->second), CP_UTF8);
  };
  const std::wstring says = text("IDS_FAILURE_SYSTEM_SAYS");
  EXPECT_FALSE(says.empty());
  std::map<std::string, std::string> found;
  for (const auto& [id, written] : table.texts) {
    if (id.rfind("IDS_FAILURE_", 0) != 0 || id.rfind("IDS_FAILURE_SYSTEM_", 0) == 0 ||
        id == "IDS_FAILURE_BOX_TITLE") {
      continue;
    }
    const auto facts = FailureFacts().find(id);
    if (facts == FailureFacts().end()) {
      ADD_FAILURE() << id << ": no shortest facts for this failure's words";
      continue;
    }
    std::wstring words = FillPlaceholders(text(id), facts->second.facts);
    if (facts->second.reason) words = FillPlaceholders(says, {words, L""});
    std::string& bytes = found[id];
    if (!TryEncode(words, codePage, bytes)) {
      bytes.clear();
    } else if (facts->second.reason) {
      bytes.append(kReasonBytes, 'x');
    }
  }
  return found;
}

// Hosts that read only errorString show 255 bytes of the words, in the
// system's code page: every failure's words must fit there in their
// language's code page.
TEST(StringTableTest, EveryFailureFitsTheHostsStringInItsLanguage) {
  for (const std::string& file : AllTables()) {
    SCOPED_TRACE(file);
    char codePageText[8] = {};
    ASSERT_GT(GetLocaleInfoA(MAKELCID(ReadStringTable(file).language, SORT_DEFAULT),
                             LOCALE_IDEFAULTANSICODEPAGE, codePageText, sizeof codePageText),
              0);
    const UINT codePage = static_cast<UINT>(std::atoi(codePageText));
    for (const auto& [id, bytes] : FailureBytes(file, codePage)) {
      SCOPED_TRACE(id);
      ASSERT_FALSE(bytes.empty()) << "not all in code page " << codePage;
      EXPECT_LE(bytes.size(), 255u) << "in code page " << codePage;
    }
  }
}

// A user may make UTF-8 the system's code page, where a letter outside
// ASCII takes two or three bytes. There the words of every language in the
// Latin script, and Chinese, still fit whole; the plug-in hands Russian,
// Japanese and Korean words that do not over in English, which must then
// fit in their place.
TEST(StringTableTest, EveryFailureIsHandedOverWholeOnAUtf8System) {
  const std::set<std::string> inEnglishWhenLonger = {"ui/lang/ru.rc", "ui/lang/ja.rc",
                                                     "ui/lang/ko.rc"};
  const std::map<std::string, std::string> english = FailureBytes("ui/Velmora.rc", CP_UTF8);
  for (const std::string& file : AllTables()) {
    SCOPED_TRACE(file);
    int inEnglish = 0;
    for (const auto& [id, bytes] : FailureBytes(file, CP_UTF8)) {
      SCOPED_TRACE(id);
      ASSERT_FALSE(bytes.empty());
      if (bytes.size() <= 255u) continue;
      EXPECT_TRUE(inEnglishWhenLonger.count(file) != 0) << bytes.size() << " bytes in UTF-8";
      const auto fallback = english.find(id);
      ASSERT_TRUE(fallback != english.end());
      EXPECT_LE(fallback->second.size(), 255u);
      ++inEnglish;
    }
    std::printf("%s: %d failures in English on a UTF-8 system\n", file.c_str(), inEnglish);
  }
}
#endif

// A machine-wide setting is a registry value, not a file: the texts that
// may name it (the setting's own %1, the application's %2) call it by no
// word for the settings file, which each table uses where only the file can
// be meant.
TEST(StringTableTest, TheMachineWideSettingIsNeverCalledAFile) {
  const std::map<std::string, std::string> settingsFile = {
      {"ui/Velmora.rc", "settings file"},
      {"ui/lang/de.rc", "Einstellungsdatei"},
      {"ui/lang/fr.rc", "fichier de paramètres"},
      {"ui/lang/es.rc", "archivo de configuración"},
      {"ui/lang/it.rc", "file delle impostazioni"},
      {"ui/lang/pt-BR.rc", "arquivo de configurações"},
      {"ui/lang/nl.rc", "instellingenbestand"},
      {"ui/lang/pl.rc", "pliku"},
      {"ui/lang/ru.rc", "файле настроек"},
      {"ui/lang/ja.rc", "設定ファイル"},
      {"ui/lang/ko.rc", "설정 파일"},
      {"ui/lang/zh-CN.rc", "设置文件"},
      {"ui/lang/zh-TW.rc", "設定檔"}};
  const std::map<std::string, std::string> mayNameTheSetting = {
      {"IDS_FAILURE_SETTINGS_NOT_FULL", "%1"},
      {"IDS_FAILURE_APPLICATION_MISSING", "%2"},
      {"IDS_FAILURE_APPLICATION_NOT_STARTED", "%2"}};
  for (const std::string& file : AllTables()) {
    SCOPED_TRACE(file);
    const auto word = settingsFile.find(file);
    ASSERT_TRUE(word != settingsFile.end()) << "no word for the settings file in this language";
    const StringTable table = ReadStringTable(file);
    // The word is the table's own: the texts about the file itself use it.
    EXPECT_NE(table.texts.at("IDS_FAILURE_SETTINGS_NO_KEY").find(word->second), std::string::npos);
    for (const auto& [id, placeholder] : mayNameTheSetting) {
      const std::string& text = table.texts.at(id);
      const size_t at = text.find(placeholder);
      ASSERT_NE(at, std::string::npos) << id;
      // The words just before the name, the setting's own included.
      const std::string before = text.substr(at > 40 ? at - 40 : 0, at > 40 ? 40 : at);
      EXPECT_EQ(before.find(word->second), std::string::npos) << id << ": " << text;
      EXPECT_EQ(text.find(word->second + " " + placeholder), std::string::npos) << id;
    }
  }
}

// The languages of the installer, as its script includes them.
std::vector<std::string> InstallerLanguages() {
  std::vector<std::string> names;
  for (const std::string& line : Lines(ReadSource("installer/lang/Languages.nsh"))) {
    const std::string prefix = "!insertmacro VelmoraLanguage \"";
    if (line.rfind(prefix, 0) == 0) {
      names.push_back(line.substr(prefix.size(), line.rfind('"') - prefix.size()));
    }
  }
  return names;
}

// name -> text of one language's LangStrings; all of them in that language.
std::map<std::string, std::string> ReadLangStrings(const std::string& name) {
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::map<std::string, std::string> texts;
  for (const std::string& line : Lines(ReadSource("installer/lang/" + name + ".nsh"))) {
    if (line.rfind("LangString ", 0) != 0) continue;
    const size_t nameEnd = line.find(' ', 11);
    const std::string id = line.substr(11, nameEnd - 11);
    const size_t languageEnd = line.find(' ', nameEnd + 1);
    EXPECT_EQ(line.substr(nameEnd + 1, languageEnd - nameEnd - 1), "${LANG_" + upper + "}") << id;
    const size_t open = line.find('"', languageEnd);
    const size_t close = line.rfind('"');
    EXPECT_TRUE(open != std::string::npos && close > open) << line;
    EXPECT_TRUE(texts.emplace(id, line.substr(open + 1, close - open - 1)).second)
        << id << " twice";
  }
  return texts;
}

// Photoshop's Filter menu as each language's Photoshop names it; the
// installer's language and the module's table of the same language.
struct MenuName {
  const char* installer;
  const char* table;
  const char* filterMenu;
};
const std::vector<MenuName>& PhotoshopFilterMenus() {
  static const std::vector<MenuName> menus = {
      {"English", "", "Filter"},
      {"German", "de", "Filter"},
      {"French", "fr", "Filtre"},
      {"Spanish", "es", "Filtro"},
      {"Italian", "it", "Filtro"},
      {"PortugueseBR", "pt-BR", "Filtro"},
      {"Dutch", "nl", "Filter"},
      {"Polish", "pl", "Filtr"},
      {"Russian", "ru", "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD1\x82\xD1\x80"},  // Фильтр
      {"Japanese", "ja",
       "\xE3\x83\x95\xE3\x82\xA3\xE3\x83\xAB\xE3\x82\xBF\xE3\x83\xBC"},  // フィルター
      {"Korean", "ko", "\xED\x95\x84\xED\x84\xB0"},                      // 필터
      {"SimpChinese", "zh-CN", "\xE6\xBB\xA4\xE9\x95\x9C"},              // 滤镜
      {"TradChinese", "zh-TW", "\xE6\xBF\xBE\xE9\x8F\xA1"}};             // 濾鏡
  return menus;
}

// The finish page and the install text tell where the filter is in the
// menu the user sees: in a translated Photoshop, by its translated name.
TEST(StringTableTest, EachLanguageNamesPhotoshopsFilterMenuInThatLanguage) {
  const std::vector<std::string> names = InstallerLanguages();
  EXPECT_EQ(names.size(), PhotoshopFilterMenus().size());
  for (const MenuName& menu : PhotoshopFilterMenus()) {
    SCOPED_TRACE(menu.installer);
    EXPECT_NE(std::find(names.begin(), names.end(), menu.installer), names.end());
    const std::string finish = ReadLangStrings(menu.installer)["VELMORA_FINISH_PHOTOSHOP"];
    EXPECT_NE(finish.find(menu.filterMenu), std::string::npos) << finish;
    const std::string text = ReadSource(
        *menu.table == '\0' ? std::string("installer/Install.txt")
                            : std::string("installer/lang/Install.") + menu.table + ".txt");
    EXPECT_NE(text.find(menu.filterMenu), std::string::npos);
  }
}

TEST(StringTableTest, EveryInstallerLanguageHasEveryTextWithItsVariables) {
  const std::vector<std::string> names = InstallerLanguages();
  ASSERT_FALSE(names.empty());
  ASSERT_EQ(names[0], "English");
  // English and one installer language for each of the module's others.
  EXPECT_EQ(names.size(), ModuleLanguages().size());
  const std::map<std::string, std::string> english = ReadLangStrings("English");
  ASSERT_GT(english.size(), 10u);
  for (size_t i = 1; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    const std::map<std::string, std::string> texts = ReadLangStrings(names[i]);
    for (const auto& [id, text] : english) {
      const auto found = texts.find(id);
      if (found == texts.end()) {
        ADD_FAILURE() << id << " is not translated: \"" << text << "\"";
        continue;
      }
      SCOPED_TRACE(id);
      EXPECT_EQ(NsisVariables(found->second), NsisVariables(text)) << found->second;
      ExpectNamesKept(
          text, found->second,
          {"Velmora.exe", "Velmora.8bf", "APPLICATIONPATH", "[General]",
           "ApplicationPath=", "VelmoraPro\\plugin.ini", "C:\\Program Files\\Velmora", "Windows"});
    }
    for (const auto& [id, text] : texts) {
      EXPECT_TRUE(english.count(id) != 0) << id << " is not in English.nsh";
    }
  }
}

// The zip's install text, one file per language beside the English one:
// each has the file names, paths, keys and menu names as they are.
TEST(StringTableTest, EveryLanguageHasTheInstallText) {
  const std::string english = ReadSource("installer/Install.txt");
  ASSERT_FALSE(english.empty());
  const std::vector<std::string> names = {"x64\\Velmora.8bf",
                                          "x86\\Velmora.8bf",
                                          "%USERPROFILE%\\VelmoraPro\\plugin.ini",
                                          "C:\\Users\\",
                                          "ApplicationPath",
                                          "plugin.ini",
                                          "Velmora.exe",
                                          "@VERSION@",
                                          "VelmoraPlugin-@VERSION@-setup.exe",
                                          "C:\\Program Files\\Common Files\\Adobe\\Plug-Ins\\CC",
                                          "Orlith > Velmora..."};
  for (const std::string& file : LanguageFiles()) {
    // ui/lang/de.rc gives Install.de.txt.
    const std::string code = file.substr(8, file.size() - 8 - 3);
    SCOPED_TRACE(code);
    const std::string translated = ReadSource("installer/lang/Install." + code + ".txt");
    ASSERT_FALSE(translated.empty());
    ExpectNamesKept(english, translated, names);
    EXPECT_NE(translated, english);
  }
}

}  // namespace

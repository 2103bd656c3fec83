#include "ui/Language.h"

#include <cctype>

namespace {

constexpr uint16_t kGerman = 0x0407;
constexpr uint16_t kFrench = 0x040C;
constexpr uint16_t kSpanish = 0x0C0A;  // international sort, as Windows has it for Spain
constexpr uint16_t kItalian = 0x0410;
constexpr uint16_t kPortugueseBrazil = 0x0416;
constexpr uint16_t kDutch = 0x0413;
constexpr uint16_t kPolish = 0x0415;
constexpr uint16_t kRussian = 0x0419;
constexpr uint16_t kJapanese = 0x0411;
constexpr uint16_t kKorean = 0x0412;
constexpr uint16_t kChineseSimplified = 0x0804;
constexpr uint16_t kChineseTraditional = 0x0404;

struct Primary {
  const char* name;
  uint16_t primaryId;  // PRIMARYLANGID of a LANGID
  uint16_t language;
};

// Chinese is decided by script and region, below.
constexpr Primary kPrimaries[] = {
    {"en", 0x09, kEnglishLanguage}, {"de", 0x07, kGerman},  {"fr", 0x0C, kFrench},
    {"es", 0x0A, kSpanish},         {"it", 0x10, kItalian}, {"pt", 0x16, kPortugueseBrazil},
    {"nl", 0x13, kDutch},           {"pl", 0x15, kPolish},  {"ru", 0x19, kRussian},
    {"ja", 0x11, kJapanese},        {"ko", 0x12, kKorean},
};

constexpr uint16_t kChinesePrimaryId = 0x04;

}  // namespace

const std::vector<uint16_t>& ModuleLanguages() {
  static const std::vector<uint16_t> languages = {
      kEnglishLanguage, kGerman, kFrench,  kSpanish,  kItalian,           kPortugueseBrazil,
      kDutch,           kPolish, kRussian, kJapanese, kChineseSimplified, kChineseTraditional,
      kKorean};
  return languages;
}

uint16_t ModuleLanguageForName(const std::string& name) {
  // Tags of the name, lower case: "zh_Hant-TW" gives zh, hant, tw.
  std::vector<std::string> tags(1);
  for (const char c : name) {
    if (c == '-' || c == '_') {
      tags.emplace_back();
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      tags.back() += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else {
      return 0;
    }
  }
  if (tags[0] == "zh") {
    bool traditional = false;
    for (size_t i = 1; i < tags.size(); ++i) {
      // A script, when named, decides over the region.
      if (tags[i] == "hant") return kChineseTraditional;
      if (tags[i] == "hans") return kChineseSimplified;
      if (tags[i] == "tw" || tags[i] == "hk" || tags[i] == "mo") traditional = true;
    }
    return traditional ? kChineseTraditional : kChineseSimplified;
  }
  for (const Primary& primary : kPrimaries) {
    if (tags[0] == primary.name) return primary.language;
  }
  return 0;
}

uint16_t ModuleLanguageForId(uint16_t languageId) {
  const uint16_t primaryId = languageId & 0x3FF;
  const uint16_t sublanguage = languageId >> 10;
  if (primaryId == kChinesePrimaryId) {
    // Taiwan, Hong Kong, Macao and the traditional script on their own.
    const bool traditional =
        sublanguage == 0x01 || sublanguage == 0x03 || sublanguage == 0x05 || languageId == 0x7C04;
    return traditional ? kChineseTraditional : kChineseSimplified;
  }
  for (const Primary& primary : kPrimaries) {
    if (primaryId == primary.primaryId) return primary.language;
  }
  return 0;
}

#include "ui/ModuleText.h"

#include <windows.h>

#include <vector>

#include "host/FailureReport.h"
#include "ui/Language.h"
#include "ui/ModuleState.h"

namespace {

// The first of the thread's preferred UI languages, then the user's and the
// system's fallbacks, that the module has; 0 when none.
uint16_t PreferredModuleLanguage() {
  ULONG count = 0;
  ULONG size = 0;
  constexpr DWORD kFlags = MUI_LANGUAGE_NAME | MUI_MERGE_USER_FALLBACK;
  if (!GetThreadPreferredUILanguages(kFlags, &count, nullptr, &size) || size == 0) return 0;
  std::vector<wchar_t> names(size + 1, L'\0');
  if (!GetThreadPreferredUILanguages(kFlags, &count, names.data(), &size)) return 0;
  // Names one after the other, each ended by a zero, the list by another.
  for (const wchar_t* name = names.data(); *name != L'\0'; name += wcslen(name) + 1) {
    std::string narrow;
    for (const wchar_t* c = name; *c != L'\0'; ++c) {
      narrow += *c < 0x80 ? static_cast<char>(*c) : '?';
    }
    const uint16_t language = ModuleLanguageForName(narrow);
    if (language != 0) return language;
  }
  return 0;
}

}  // namespace

uint16_t UserLanguage() {
  uint16_t language = ModuleLanguageForName(CurrentLanguageSetting());
  if (language == 0) language = PreferredModuleLanguage();
  if (language == 0) language = ModuleLanguageForId(GetUserDefaultUILanguage());
  return language != 0 ? language : kEnglishLanguage;
}

std::wstring ModuleText(unsigned id, uint16_t language) {
  const auto module = static_cast<HMODULE>(GetModuleInstance());
  for (const uint16_t tried : {language, kEnglishLanguage}) {
    // Strings come in blocks of sixteen, each a length and that many
    // UTF-16 units, without terminators.
    const HRSRC block =
        FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW((id >> 4) + 1), tried);
    const HGLOBAL loaded = block != nullptr ? LoadResource(module, block) : nullptr;
    const auto* units = static_cast<const wchar_t*>(loaded ? LockResource(loaded) : nullptr);
    if (units == nullptr) continue;
    const size_t total = SizeofResource(module, block) / sizeof(wchar_t);
    size_t at = 0;
    for (unsigned index = 0; index < (id & 15) && at < total; ++index) at += 1 + units[at];
    if (at < total && units[at] != 0 && at + 1 + units[at] <= total) {
      return std::wstring(units + at + 1, units[at]);
    }
  }
  return std::wstring();
}

std::wstring FromAnsi(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  }
  return wide;
}

namespace {

std::string ConvertToAnsi(const std::wstring& text, DWORD flags, BOOL* usedDefault) {
  if (text.empty()) return std::string();
  if (GetACP() == CP_UTF8) {
    // Holds every character, and takes neither the flag nor the question.
    flags = 0;
    usedDefault = nullptr;
  }
  const int length = WideCharToMultiByte(CP_ACP, flags, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, usedDefault);
  std::string ansi(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_ACP, flags, text.data(), static_cast<int>(text.size()), ansi.data(),
                        length, nullptr, usedDefault);
  }
  return ansi;
}

}  // namespace

bool TryToAnsi(const std::wstring& text, std::string& ansi) {
  BOOL usedDefault = FALSE;
  ansi = ConvertToAnsi(text, WC_NO_BEST_FIT_CHARS, &usedDefault);
  return usedDefault == FALSE && ansi.empty() == text.empty();
}

std::string ToAnsi(const std::wstring& text) { return ConvertToAnsi(text, 0, nullptr); }

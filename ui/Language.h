// The languages the module's own words are written in, named as Windows
// names them (language identifiers of its string tables), and which of them
// fits a language a user or the system names. Free of any window system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The module's first language: every text is there, and every other
// language falls back to it.
constexpr uint16_t kEnglishLanguage = 0x0409;

// Every language of the module's string tables, English first.
const std::vector<uint16_t>& ModuleLanguages();

// The module language for a language name as users and the system write it:
// a language, optionally with a script and a region ("de", "de-AT", "pt-BR",
// "zh-TW", "zh-Hant", "zh_Hans_SG"), in any case. A language the module has
// in one form serves all its regions (Portuguese from Portugal gets the
// Brazilian words); Chinese of Taiwan, Hong Kong and Macao, or in the
// traditional script, gets the traditional words, all other Chinese the
// simplified ones. 0 when the module has no words in that language.
uint16_t ModuleLanguageForName(const std::string& name);

// The same for a Windows language identifier (LANGID); 0 when none.
uint16_t ModuleLanguageForId(uint16_t languageId);

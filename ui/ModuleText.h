// The module's own words in the user's language.
#pragma once

#include <cstdint>
#include <string>

// The language of the user's words: the call's language setting
// (CurrentLanguageSetting) when the module has words in it, else the first
// of the thread's preferred user-interface languages that it has, else the
// user's display language when it has that, else English.
uint16_t UserLanguage();

// The string id of the module's string table in that language, loaded
// explicitly so that nothing of the thread or the process is changed; the
// English string when that language lacks it; empty when English lacks it
// too.
std::wstring ModuleText(unsigned id, uint16_t language);

// Text of the ANSI code page as wide text, and back. TryToAnsi is false when
// a character has no exact form in the code page (no look-alike stands in).
std::wstring FromAnsi(const std::string& text);
bool TryToAnsi(const std::wstring& text, std::string& ansi);
// Characters without a form in the code page become its default character.
std::string ToAnsi(const std::wstring& text);

#include "installer/files/CommandLine.h"

#include <cwctype>

namespace files {
namespace {

bool SameLetters(const std::wstring& text, size_t at, const std::wstring& name) {
  if (text.size() - at < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (std::towlower(text[at + i]) != std::towlower(name[i])) return false;
  }
  return true;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

bool TryFindOption(const std::wstring& parameters, const std::wstring& name, std::wstring& value) {
  if (name.empty()) return false;
  for (size_t at = 0; at < parameters.size(); ++at) {
    const wchar_t before = at == 0 ? L' ' : parameters[at - 1];
    if (!(IsBlank(before) || before == L'"') || !SameLetters(parameters, at, name)) continue;
    size_t i = at + name.size();
    // "NAME=value" ends at its closing quote, NAME="value" too; unquoted, at a blank.
    bool quoted = before == L'"';
    if (i < parameters.size() && parameters[i] == L'"') {
      quoted = true;
      ++i;
    }
    value.clear();
    for (; i < parameters.size(); ++i) {
      const wchar_t c = parameters[i];
      if (c == L'"' || (!quoted && IsBlank(c))) break;
      value += c;
    }
    return true;
  }
  return false;
}

bool IsFullFolder(const std::wstring& folder) {
  if (folder.size() > 2 && folder[0] == L'\\' && folder[1] == L'\\') return true;
  return folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\' &&
         ((folder[0] >= L'A' && folder[0] <= L'Z') || (folder[0] >= L'a' && folder[0] <= L'z'));
}

}  // namespace files

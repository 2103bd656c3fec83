#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <utility>

#include "base/NarrowPath.h"
#include "base/SystemPaths.h"

namespace sys {

namespace {

// The wide text in the ANSI code page, or false when some character has no
// exact counterpart there.
bool ConvertExactly(const std::wstring& wide, std::string& narrow) {
  if (wide.empty()) return false;
  // A UTF-8 code page holds every character, and the system refuses the
  // best-fit and default-character arguments for it; only a broken surrogate
  // cannot be converted.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* const usedDefaultOut = utf8 ? nullptr : &usedDefault;
  const int wideLength = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, nullptr, 0, nullptr,
                                       usedDefaultOut);
  if (size <= 0 || usedDefault) return false;
  std::string converted(static_cast<size_t>(size), '\0');
  const int written = WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, &converted[0],
                                          size, nullptr, usedDefaultOut);
  if (written != size || usedDefault) return false;
  narrow = std::move(converted);
  return true;
}

// The short form of an existing path; empty when the system gives none.
std::wstring ShortForm(const std::wstring& path) {
  const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0) return std::wstring();
  std::wstring shortPath(size, L'\0');
  const DWORD length = GetShortPathNameW(path.c_str(), &shortPath[0], size);
  if (length == 0 || length >= size) return std::wstring();
  shortPath.resize(length);
  return shortPath;
}

}  // namespace

bool ToExactNarrowPath(const std::wstring& wide, std::string& narrow, size_t maxLength) {
  narrow.clear();
  if (ConvertExactly(wide, narrow) && narrow.size() <= maxLength) return true;
  if (ConvertExactly(ShortForm(wide), narrow) && narrow.size() <= maxLength) return true;
  narrow.clear();
  return false;
}

bool QueryShortPath(const std::string& path, std::string& shortPath) {
  shortPath.clear();
  if (path.empty()) return false;
  const int pathLength = static_cast<int>(path.size());
  const int size =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), pathLength, nullptr, 0);
  if (size <= 0) return false;
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), pathLength, &wide[0], size) !=
      size) {
    return false;
  }
  return ConvertExactly(ShortForm(wide), shortPath);
}

}  // namespace sys

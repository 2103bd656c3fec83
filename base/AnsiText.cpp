#include "base/AnsiText.h"

#include "base/SystemPaths.h"

namespace {

// The length of the character starting at `at`, never past the text's end.
size_t CharacterLength(const std::string& text, size_t at) {
  const size_t bytes = sys::CharacterBytes(static_cast<unsigned char>(text[at]));
  return bytes < text.size() - at ? bytes : text.size() - at;
}

}  // namespace

size_t LastCharacterStart(const std::string& text) {
  size_t last = 0;
  for (size_t at = 0; at < text.size(); at += CharacterLength(text, at)) last = at;
  return last;
}

size_t FindBackslash(const std::string& text, size_t from) {
  for (size_t at = 0; at < text.size(); at += CharacterLength(text, at)) {
    if (at >= from && text[at] == '\\') return at;
  }
  return std::string::npos;
}

size_t Utf8CharacterBytes(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  return 1;
}

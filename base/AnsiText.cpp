#include "base/AnsiText.h"

#include "base/SystemPaths.h"

namespace {

// The length of the character starting at `at`: 2 for a lead byte with a
// byte after it, else 1.
size_t CharacterLength(const std::string& text, size_t at) {
  return sys::IsLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
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

#include "ui/FailureText.h"

#include <cstring>

namespace {

template <typename Char>
std::basic_string<Char> Fill(const std::basic_string<Char>& text,
                             const std::vector<std::basic_string<Char>>& facts) {
  std::basic_string<Char> out;
  for (size_t i = 0; i < text.size(); ++i) {
    const Char c = text[i];
    const Char next = i + 1 < text.size() ? text[i + 1] : Char('\0');
    if (c == '%' && next == '%') {
      out += '%';
      ++i;
    } else if (c == '%' && next >= '1' && next <= '9') {
      const size_t index = static_cast<size_t>(next - '1');
      if (index < facts.size()) out += facts[index];
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string FillPlaceholders(const std::string& text, const std::vector<std::string>& facts) {
  return Fill(text, facts);
}

std::wstring FillPlaceholders(const std::wstring& text, const std::vector<std::wstring>& facts) {
  return Fill(text, facts);
}

size_t CutAtCharacter(const std::string& text, size_t maxBytes, LeadBytePredicate isLeadByte) {
  size_t kept = 0;
  while (kept < text.size()) {
    const bool pair = isLeadByte(static_cast<unsigned char>(text[kept])) && kept + 1 < text.size();
    const size_t next = kept + (pair ? 2 : 1);
    if (next > maxBytes) break;
    kept = next;
  }
  return kept;
}

uint8_t WritePascalString(uint8_t (&target)[256], const std::string& text,
                          LeadBytePredicate isLeadByte) {
  const size_t length = CutAtCharacter(text, 255, isLeadByte);
  target[0] = static_cast<uint8_t>(length);
  std::memcpy(target + 1, text.data(), length);
  // For hosts that also read it as a terminated text.
  if (length < 255) target[length + 1] = 0;
  return static_cast<uint8_t>(length);
}

// Texts of the alerts: length-prefixed strings, placeholder substitution and
// decimal formatting, free of any window system.
#pragma once

#include <cstdint>
#include <string>

// A length byte and up to 255 characters, always followed by a zero byte.
struct AlertText {
  uint8_t length = 0;
  char chars[256] = {};

  void Assign(const std::string& text);
  std::string Text() const { return std::string(chars, length); }
};

// At most this many characters reach the message box.
constexpr size_t kMaxAlertChars = 254;

// Replaces "^0" by nothing, "^1" by param1 and "^2" by param2 (null counts as
// empty), scanning once from the start; a caret before any other character
// stays with that character. The result is cut to 254 characters.
std::string SubstitutePlaceholders(const std::string& message, const AlertText* param1,
                                   const AlertText* param2);

// Writes value in decimal with up to fractionDigits digits after the point,
// rounded half up; one trailing zero is dropped when two or more digits are
// asked for; at least one fraction digit is written.
void DecimalToText(AlertText& target, double value, int16_t fractionDigits);

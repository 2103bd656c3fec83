#include "ui/AlertText.h"

#include <cmath>
#include <cstring>

void AlertText::Assign(const std::string& text) {
  const size_t n = text.size() < 255 ? text.size() : 255;
  std::memset(chars, 0, sizeof chars);
  std::memcpy(chars, text.data(), n);
  length = static_cast<uint8_t>(n);
}

std::string SubstitutePlaceholders(const std::string& message, const AlertText* param1,
                                   const AlertText* param2) {
  std::string out;
  for (size_t i = 0; i < message.size() && out.size() < kMaxAlertChars; ++i) {
    const char c = message[i];
    if (c == '^' && i + 1 < message.size() && message[i + 1] >= '0' && message[i + 1] <= '2') {
      const char digit = message[++i];
      const AlertText* param = digit == '1' ? param1 : digit == '2' ? param2 : nullptr;
      if (param != nullptr) out += param->Text();
      continue;
    }
    out += c;  // any other caret stays, and its next character is read as usual
  }
  if (out.size() > kMaxAlertChars) out.resize(kMaxAlertChars);
  return out;
}

void DecimalToText(AlertText& target, double value, int16_t fractionDigits) {
  int digits = fractionDigits < 0 ? 0 : fractionDigits;
  const bool negative = value < 0;
  double v = std::fabs(value);
  const double scale = std::pow(10.0, digits);
  // Round half up at the first digit beyond the last one kept.
  const double beyond = std::floor(v * scale * 10.0);
  if (static_cast<int64_t>(beyond) % 10 >= 5) v += 5.0 / (scale * 10.0);
  // Drop one trailing zero at most.
  if (digits >= 2 && static_cast<int64_t>(std::floor(v * scale)) % 10 == 0) --digits;

  const auto whole = static_cast<int32_t>(v);
  std::string text = negative ? "-" : "";
  text += std::to_string(whole);
  text += '.';
  double fraction = v - whole;
  int written = 0;
  do {
    fraction *= 10.0;
    const int digit = static_cast<int>(fraction);
    text += static_cast<char>('0' + digit);
    fraction -= digit;
    ++written;
  } while (fraction > 0.0 && written < digits);
  target.Assign(text);
}

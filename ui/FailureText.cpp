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

namespace {

// The bytes of the character at `at`, never past the text's end.
size_t CharacterAt(const std::string& text, size_t at, CharacterBytes characterBytes) {
  const size_t bytes = characterBytes(static_cast<unsigned char>(text[at]));
  const size_t left = text.size() - at;
  return bytes == 0 ? 1 : bytes < left ? bytes : left;
}

// The path's names after the drive, split at backslash characters; the
// drive ("C:" or "\\server\share") goes to `drive`, and a backslash that
// ends the path (a folder's) to `end`.
std::vector<std::string> SplitPath(const std::string& path, std::string& drive, std::string& end,
                                   CharacterBytes characterBytes) {
  std::vector<std::string> parts(1);
  for (size_t at = 0; at < path.size();) {
    const size_t bytes = CharacterAt(path, at, characterBytes);
    if (bytes == 1 && path[at] == '\\') {
      parts.emplace_back();
    } else {
      parts.back().append(path, at, bytes);
    }
    at += bytes;
  }
  // "\\server\share\..." splits into "", "", "server", "share", ...
  size_t driveParts = 1;
  if (parts.size() >= 4 && parts[0].empty() && parts[1].empty()) driveParts = 4;
  drive.clear();
  for (size_t i = 0; i < driveParts; ++i) {
    if (i > 0) drive += '\\';
    drive += parts[i];
  }
  parts.erase(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(driveParts));
  end.clear();
  if (parts.size() > 1 && parts.back().empty()) {
    parts.pop_back();
    end = "\\";
  }
  return parts;
}

}  // namespace

size_t CutAtCharacter(const std::string& text, size_t maxBytes, CharacterBytes characterBytes) {
  size_t kept = 0;
  while (kept < text.size()) {
    const size_t next = kept + CharacterAt(text, kept, characterBytes);
    if (next > maxBytes) break;
    kept = next;
  }
  return kept;
}

uint8_t WritePascalString(uint8_t (&target)[256], const std::string& text,
                          CharacterBytes characterBytes) {
  const size_t length = CutAtCharacter(text, 255, characterBytes);
  target[0] = static_cast<uint8_t>(length);
  std::memcpy(target + 1, text.data(), length);
  // For hosts that also read it as a terminated text.
  if (length < 255) target[length + 1] = 0;
  return static_cast<uint8_t>(length);
}

bool IsFullPath(const std::string& text) {
  if (text.size() >= 3 && text[1] == ':' && text[2] == '\\') {
    const char drive = text[0];
    return (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  }
  return text.size() >= 3 && text[0] == '\\' && text[1] == '\\';
}

std::string ElidePath(const std::string& path, size_t keep, CharacterBytes characterBytes) {
  if (keep == 0) keep = 1;
  std::string drive;
  std::string end;
  const std::vector<std::string> names = SplitPath(path, drive, end, characterBytes);
  if (names.size() <= keep + 1) return path;
  std::string out = drive + '\\' + names[0] + "\\...";
  for (size_t i = names.size() - keep; i < names.size(); ++i) out += '\\' + names[i];
  return out + end;
}

std::string FitPathsInMessage(
    const std::vector<std::string>& facts, size_t maxBytes, CharacterBytes characterBytes,
    const std::function<std::string(const std::vector<std::string>&)>& compose) {
  std::vector<std::string> shown = facts;
  std::string message = compose(shown);
  // How many of its last names each path still keeps; 0 for the whole.
  std::vector<size_t> kept(facts.size(), 0);
  std::vector<size_t> names(facts.size(), 0);
  for (size_t i = 0; i < facts.size(); ++i) {
    if (!IsFullPath(facts[i])) continue;
    std::string drive;
    std::string end;
    names[i] = SplitPath(facts[i], drive, end, characterBytes).size();
  }
  while (message.size() > maxBytes) {
    // The longest path that can still lose a name loses one.
    size_t longest = facts.size();
    for (size_t i = 0; i < facts.size(); ++i) {
      const size_t keeps = kept[i] == 0 ? names[i] - (names[i] > 0 ? 1 : 0) : kept[i];
      if (names[i] < 3 || keeps <= 1) continue;
      if (longest == facts.size() || shown[i].size() > shown[longest].size()) longest = i;
    }
    if (longest == facts.size()) break;
    kept[longest] = kept[longest] == 0 ? names[longest] - 2 : kept[longest] - 1;
    shown[longest] = ElidePath(facts[longest], kept[longest], characterBytes);
    message = compose(shown);
  }
  return message;
}

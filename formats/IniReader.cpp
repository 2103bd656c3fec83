#include "formats/IniReader.h"

#include <cstring>
#include <string>

#include "base/Error.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsValid(const IniEntry& entry) {
  return (entry.kind == eIniSection && entry.nameOffset != -1) ||
         (entry.kind == eIniKeyValue && entry.valueOffset != -1);
}

}  // namespace

IniReader::IniReader() {
  for (IniEntry& entry : entries_) entry = IniEntry{eIniNone, -1, -1};
  Reset();
}

IniReader::~IniReader() { Reset(); }

void IniReader::Reset() {
  Close(file_);
  length_ = 0;
  count_ = 0;
  for (IniEntry& entry : entries_) entry = IniEntry{eIniNone, -1, -1};
  std::memset(text_, 0, kIniTextSize);
}

bool IniReader::Load(const char* path) {
  Require(path != nullptr);
  Reset();
  if (!Open(file_, std::string(path), false, false)) return false;
  bool loaded = false;
  const uint32_t length = ::Length(file_);
  if (length != 0 && length <= kIniMaxFileSize) {
    length_ = length;
    if (Read(file_, text_, length)) {
      text_[length] = '\0';
      ParseText();
      loaded = count_ != 0;
    }
  }
  Close(file_);
  return loaded;
}

bool IniReader::Parse(const char* bytes, uint32_t length) {
  Require(bytes != nullptr || length == 0);
  Reset();
  if (length == 0 || length > kIniMaxFileSize) return false;
  std::memcpy(text_, bytes, length);
  length_ = length;
  text_[length] = '\0';
  ParseText();
  return count_ != 0;
}

char* IniReader::TrimBlanks(char* piece) {
  char* start = piece;
  while (IsBlank(*start)) *start++ = '\0';
  size_t length = std::strlen(start);
  while (length != 0 && IsBlank(start[length - 1])) start[--length] = '\0';
  return start;
}

void IniReader::ParseText() {
  // Lines are cut in place; names and values become terminated pieces of the
  // text. The text is always terminated at length_, and an embedded zero byte
  // ends the usable text early.
  char* line = text_;
  while (count_ < kIniMaxEntries) {
    char* end = std::strstr(line, "\r\n");
    if (end == nullptr) break;
    end[0] = '\0';
    end[1] = '\0';

    IniEntry entry{eIniNone, -1, -1};
    char* open = std::strchr(line, '[');
    char* close = std::strchr(line, ']');
    if (open != nullptr && close != nullptr) {
      *open = ' ';
      *close = ' ';
      entry.kind = eIniSection;
      entry.nameOffset = static_cast<int32_t>(TrimBlanks(line) - text_);
    } else if (char* equals = std::strchr(line, '=')) {
      *equals = '\0';
      entry.kind = eIniKeyValue;
      entry.nameOffset = static_cast<int32_t>(TrimBlanks(line) - text_);
      entry.valueOffset = static_cast<int32_t>(TrimBlanks(equals + 1) - text_);
    }
    if (IsValid(entry)) entries_[count_++] = entry;
    line = end + 2;
  }
}

const char* IniReader::Lookup(const char* section, const char* key,
                              const char* defaultValue) const {
  Require(section != nullptr && key != nullptr && length_ != 0 && count_ != 0);
  bool inSection = false;
  for (uint32_t i = 0; i < count_; ++i) {
    const IniEntry& entry = entries_[i];
    const char* name = text_ + entry.nameOffset;
    if (!inSection) {
      inSection = std::strcmp(name, section) == 0;
      continue;
    }
    if (std::strcmp(name, key) == 0) {
      // A section header of that name answers with no value.
      const bool hasValue =
          entry.valueOffset >= 0 && static_cast<uint32_t>(entry.valueOffset) < length_;
      return hasValue ? text_ + entry.valueOffset : nullptr;
    }
  }
  return defaultValue;
}

const IniEntry& IniReader::Entry(uint32_t index) const {
  Require(index < count_);
  return entries_[index];
}

const char* IniReader::TextAt(int32_t offset) const {
  if (offset < 0 || static_cast<uint32_t>(offset) >= kIniTextSize) return nullptr;
  return text_ + offset;
}

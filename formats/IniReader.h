// A small fixed-size reader of INI-style settings: one file of at most 1022
// bytes, lines ended by CR LF, up to 16 section headers and key/value pairs.
// No comments, escapes, quoting, case folding or writing.
#pragma once

#include <cstdint>

#include "base/BinaryFile.h"

constexpr uint32_t kIniMaxEntries = 16;
// File content plus its terminator, with one byte to spare.
constexpr uint32_t kIniTextSize = 1024;
constexpr uint32_t kIniMaxFileSize = kIniTextSize - 2;

enum EIniKind : int32_t { eIniNone = 0, eIniSection = 1, eIniKeyValue = 2 };

struct IniEntry {
  int32_t kind;         // EIniKind
  int32_t nameOffset;   // section name or key in the text; -1 when none
  int32_t valueOffset;  // value in the text; -1 when none (every section)
};

// One fixed block: nothing is allocated while parsing or looking up. A text
// returned by Lookup points into the reader and stays valid until the next
// Load, Parse or Reset or the reader's destruction, so callers copy it at once.
class IniReader {
 public:
  IniReader();
  ~IniReader();
  IniReader(const IniReader&) = delete;
  IniReader& operator=(const IniReader&) = delete;

  // Reads the whole file with one read and parses it; the file is closed
  // again before returning. True when at least one entry was stored. False
  // for a missing, empty, too long (over 1022 bytes) or short-read file.
  // Throws EError for a null or empty path.
  bool Load(const char* path);

  // Parses length bytes as Load parses the content of a file: the same size
  // limits, the same result. Throws EError for null bytes with a non-zero
  // length.
  bool Parse(const char* bytes, uint32_t length);

  // The value of the first entry named key after the first entry named
  // section (the walk does not stop at later section headers); null when that
  // entry is a section header; defaultValue (may be null) when there is none.
  // Throws EError for a null section or key, or when nothing is loaded.
  const char* Lookup(const char* section, const char* key, const char* defaultValue) const;

  // Closes a file still open, forgets every entry and zeroes the text.
  void Reset();

  uint32_t Count() const { return count_; }
  uint32_t Length() const { return length_; }
  const IniEntry& Entry(uint32_t index) const;
  // The text at an offset of an entry, or null for -1.
  const char* TextAt(int32_t offset) const;

 private:
  void ParseText();
  static char* TrimBlanks(char* piece);

  BinaryFile file_;
  uint32_t length_ = 0;
  uint32_t count_ = 0;
  IniEntry entries_[kIniMaxEntries];
  char text_[kIniTextSize];
};

// The few system calls of the path toolkit, with one Windows and one POSIX
// implementation. Natively the paths are only those of tests: a backslash is
// passed on as an ordinary byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sys {

// Writes the user's temporary folder, with its trailing separator and a
// terminator, into the buffer; on Windows in the ANSI code page, as its short
// form when its own name does not convert exactly or does not fit the buffer
// while the short form does. Returns its length without
// the terminator, 0 on failure (also when it has no exact narrow form), or the
// size needed (terminator included) when it does not fit; then the buffer
// holds nothing usable.
uint32_t QueryTempPath(char* buffer, uint32_t size);

// True when the byte begins a two-byte character in the ANSI code page: only
// in the double-byte code pages 932, 936, 949 and 950.
bool IsLeadByte(unsigned char byte);

// The bytes of the character that the byte starts in the ANSI code page:
// 2 for a lead byte of a double-byte code page, 2 to 4 for the start of a
// sequence under UTF-8 (code page 65001, a Windows option), else 1.
size_t CharacterBytes(unsigned char lead);

#ifndef _WIN32
// Natively there is no ANSI code page: the path functions work as under 1252
// (one byte a character) unless a test sets 932, 936, 949, 950 or 65001 here.
void SetAnsiCodePage(uint32_t codePage);
#endif

// The short (8.3) form of an existing file or folder, in the same code page
// and converted back exactly. False, with shortPath empty, when the system
// has none (natively: never one).
bool QueryShortPath(const std::string& path, std::string& shortPath);

// True when the runtime's file status call succeeds for the path.
bool QueryPathStatus(const std::string& path);

// Deletes one file, a read-only one included; false when it cannot be
// deleted (then it keeps its attributes).
bool RemoveFile(const std::string& path);

// The system's error code of the last call that failed on this thread
// (GetLastError on Windows, errno elsewhere); read it right after that call,
// before anything else can change it.
uint32_t LastErrorCode();

// Sets that code to 0, so that a call which fails without giving a reason
// leaves none from an earlier one.
void ClearLastErrorCode();

// True for the error codes of a full disk.
bool IsDiskFullError(uint32_t code);

// The bytes free for the user on the disk that holds the folder; false, with
// bytes 0, when the system cannot tell.
bool TryGetFreeSpace(const std::string& folder, uint64_t& bytes);

struct FolderEntry {
  std::string name;
  bool isFolder = false;
};

// One folder search by a pattern "<folder>\*", closed on destruction.
class FolderSearch {
 public:
  explicit FolderSearch(const std::string& pattern);
  ~FolderSearch();
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;

  // The next entry, "." and ".." included; false when there are no more or
  // the search could not start.
  bool Next(FolderEntry& entry);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace sys

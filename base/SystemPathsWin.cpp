#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstring>

#include "base/AnsiText.h"
#include "base/NarrowPath.h"
#include "base/SystemPaths.h"

namespace sys {

uint32_t QueryTempPath(char* buffer, uint32_t size) {
  // Asked for wide: the narrow call puts "?" in place of every letter outside
  // the ANSI code page, naming a folder that does not exist.
  std::wstring wide(MAX_PATH + 1, L'\0');
  DWORD length = GetTempPathW(static_cast<DWORD>(wide.size()), &wide[0]);
  if (length > wide.size()) {
    wide.assign(length, L'\0');
    length = GetTempPathW(static_cast<DWORD>(wide.size()), &wide[0]);
    if (length >= wide.size()) return 0;
  }
  if (length == 0) return 0;
  wide.resize(length);
  // Too long as it stands, its short form may still fit.
  std::string narrow;
  if (buffer == nullptr || size == 0 || !ToExactNarrowPath(wide, narrow, size - 1)) {
    if (!ToExactNarrowPath(wide, narrow)) return 0;
    return static_cast<uint32_t>(narrow.size()) + 1;
  }
  const uint32_t narrowLength = static_cast<uint32_t>(narrow.size());
  std::memcpy(buffer, narrow.c_str(), narrowLength + 1);
  return narrowLength;
}

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

size_t CharacterBytes(unsigned char lead) {
  // Under UTF-8 the system knows no lead bytes: a character takes up to four.
  if (GetACP() == CP_UTF8) return Utf8CharacterBytes(lead);
  return IsDBCSLeadByte(lead) ? 2 : 1;
}

bool QueryPathStatus(const std::string& path) {
  struct _stat status;
  return _stat(path.c_str(), &status) == 0;
}

bool RemoveFile(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  // A file copied from a disc, a backup or a sync tool may be marked
  // read-only, which the system will not delete; it is cleared first, and
  // put back should the file stay for another reason.
  const DWORD error = GetLastError();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
      !SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    SetLastError(error);
    return false;
  }
  if (DeleteFileA(path.c_str())) return true;
  const DWORD stayed = GetLastError();
  SetFileAttributesA(path.c_str(), attributes);
  SetLastError(stayed);
  return false;
}

// The runtime's file calls leave the system's own code in place when they
// fail, beside the errno they derive from it.
uint32_t LastErrorCode() { return GetLastError(); }

void ClearLastErrorCode() { SetLastError(ERROR_SUCCESS); }

bool IsDiskFullError(uint32_t code) {
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL;
}

bool TryGetFreeSpace(const std::string& folder, uint64_t& bytes) {
  bytes = 0;
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return false;
  bytes = available.QuadPart;
  return true;
}

struct FolderSearch::State {
  intptr_t handle = -1;
  _finddata_t data{};
  bool pending = false;  // data holds an entry not yet handed out
};

FolderSearch::FolderSearch(const std::string& pattern) : state_(new State) {
  state_->handle = _findfirst(pattern.c_str(), &state_->data);
  state_->pending = state_->handle != -1;
}

FolderSearch::~FolderSearch() {
  if (state_->handle != -1) _findclose(state_->handle);
}

bool FolderSearch::Next(FolderEntry& entry) {
  if (state_->handle == -1) return false;
  if (!state_->pending && _findnext(state_->handle, &state_->data) != 0) return false;
  state_->pending = false;
  entry.name = state_->data.name;
  entry.isFolder = (state_->data.attrib & _A_SUBDIR) != 0;
  return true;
}

}  // namespace sys

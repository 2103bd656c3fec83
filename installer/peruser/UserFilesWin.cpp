#include "installer/peruser/UserFilesWin.h"

#include <windows.h>

namespace peruser {

EntryKind WinUserFiles::Kind(const std::wstring& path) {
  // The attributes of the name itself: a junction or a symbolic link
  // reports FILE_ATTRIBUTE_REPARSE_POINT, whatever it points at.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kMissing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder : EntryKind::kFile;
}

bool WinUserFiles::Copy(const std::wstring& from, const std::wstring& to, unsigned long& error) {
  error = 0;
  // Over an existing copy, which an earlier install placed; a host that has
  // it loaded keeps it, and the step says so.
  if (CopyFileW(from.c_str(), to.c_str(), FALSE)) return true;
  error = GetLastError();
  return false;
}

}  // namespace peruser

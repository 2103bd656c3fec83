// The installer's check of a host's plug-in folder before it writes there,
// run elevated from its temporary folder: 32-bit, so that one program serves
// 32-bit and 64-bit Windows alike.
// Usage: VelmoraHostFolder.exe <folder> <Program Files folder>...
// Exit code: the HostFolderVerdict (0 administrators own it, 1 outside
// Program Files, 2 a link on the way, 3 no such folder), 4 a wrong call.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/peruser/HostFolderCheck.h"
#include "tools/peruser/UserFilesWin.h"

namespace {

// The one form that tells whether two names are the same folder: full,
// without "." and "..", with long names where the folder exists.
std::wstring FullForm(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  DWORD length =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length);
    length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (length == 0 || length >= full.size()) return path;
  full.resize(length);
  std::wstring longForm(MAX_PATH, L'\0');
  length = GetLongPathNameW(full.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
  if (length >= longForm.size()) {
    longForm.resize(length);
    length = GetLongPathNameW(full.c_str(), longForm.data(), static_cast<DWORD>(longForm.size()));
  }
  if (length == 0 || length >= longForm.size()) return full;
  longForm.resize(length);
  return longForm;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 4;
  std::vector<std::wstring> programFiles;
  for (int i = 2; i < argc; ++i) programFiles.push_back(FullForm(argv[i]));
  peruser::WinUserFiles files;
  return static_cast<int>(peruser::CheckHostFolder(files, FullForm(argv[1]), programFiles));
}

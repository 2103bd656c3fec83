#include "installer/peruser/HostFolderCheck.h"

#include <cwctype>

namespace peruser {
namespace {

std::wstring WithoutTrailingBackslashes(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

// Windows compares names without regard to case.
bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// C:\ followed by names, none of them empty, "." or "..".
bool IsPlainFullPath(const std::wstring& path) {
  if (path.size() < 3 || path[1] != L':' || path[2] != L'\\' || !std::iswalpha(path[0]))
    return false;
  if (path.size() == 3) return true;
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring name = path.substr(start, end - start);
    if (name.empty() || name == L"." || name == L"..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

HostFolderVerdict CheckHostFolder(IUserFiles& files, const std::wstring& folder,
                                  const std::vector<std::wstring>& programFiles) {
  const std::wstring path = WithoutTrailingBackslashes(folder);
  if (!IsPlainFullPath(path)) return HostFolderVerdict::kOutsideProgramFiles;
  size_t rootLength = 0;
  for (const std::wstring& candidate : programFiles) {
    const std::wstring root = WithoutTrailingBackslashes(candidate);
    if (root.size() <= 3 || !IsPlainFullPath(root)) continue;  // never a whole drive
    if (path.size() > root.size() && path[root.size()] == L'\\' &&
        SameName(path.substr(0, root.size()), root)) {
      rootLength = root.size();
      break;
    }
  }
  if (rootLength == 0) return HostFolderVerdict::kOutsideProgramFiles;
  // From the host's folder up to the one below Program Files: the name of
  // each, not what it leads to.
  const EntryKind own = files.Kind(path);
  if (own == EntryKind::kMissing || own == EntryKind::kFile) return HostFolderVerdict::kMissing;
  for (size_t end = path.size(); end > rootLength; end = path.rfind(L'\\', end - 1)) {
    if (files.Kind(path.substr(0, end)) == EntryKind::kLink)
      return HostFolderVerdict::kLinkOnTheWay;
  }
  return HostFolderVerdict::kAdminOwned;
}

}  // namespace peruser

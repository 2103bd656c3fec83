#include "installer/files/FolderRules.h"

#include <algorithm>
#include <cwctype>

namespace files {
namespace {

// The rights that let an account put something into a folder, take
// something out, or hand such rights to others: add a file (or write
// data), add a folder (or append), write extended attributes or attributes
// (a reparse point is set through them), delete a child, delete, change the
// permissions, take ownership, and the generic all and write.
constexpr uint32_t kChangingRights = 0x0002 | 0x0004 | 0x0010 | 0x0040 | 0x0100 | 0x00010000u |
                                     0x00040000u | 0x00080000u | 0x10000000u | 0x40000000u;

bool IsTrusted(const std::string& sid, const std::vector<std::string>& trusted) {
  return std::find(trusted.begin(), trusted.end(), sid) != trusted.end();
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

bool IsBelow(const std::wstring& path, const std::wstring& root) {
  return path.size() > root.size() && path[root.size()] == L'\\' &&
         SameName(path.substr(0, root.size()), root);
}

}  // namespace

std::wstring WithoutTrailingBackslashes(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

std::vector<std::string> TrustedAccounts() {
  return {
      "S-1-5-32-544",                                                    // Administrators
      "S-1-5-18",                                                        // SYSTEM
      "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
  };
}

bool OthersCanChange(const Security& security, const std::vector<std::string>& trusted) {
  if (!security.known || !security.hasDacl) return true;
  if (!IsTrusted(security.owner, trusted)) return true;
  for (const AccessEntry& entry : security.entries) {
    if (!entry.allows || entry.inheritOnly) continue;
    if ((entry.mask & kChangingRights) != 0 && !IsTrusted(entry.sid, trusted)) return true;
  }
  return false;
}

bool TrySplitUnderRoot(const std::wstring& path, const std::vector<std::wstring>& roots,
                       std::wstring& root, std::vector<std::wstring>& names) {
  const std::wstring full = WithoutTrailingBackslashes(path);
  if (!IsPlainFullPath(full)) return false;
  for (const std::wstring& candidate : roots) {
    const std::wstring trimmed = WithoutTrailingBackslashes(candidate);
    if (trimmed.size() <= 3 || !IsPlainFullPath(trimmed)) continue;  // never a whole drive
    root = trimmed;
    names.clear();
    if (SameName(full, trimmed)) return true;
    if (!IsBelow(full, trimmed)) continue;
    size_t start = trimmed.size() + 1;
    while (start <= full.size()) {
      size_t end = full.find(L'\\', start);
      if (end == std::wstring::npos) end = full.size();
      names.push_back(full.substr(start, end - start));
      start = end + 1;
    }
    return true;
  }
  return false;
}

Verdict HoldFolder(IHeldFolders& folders, const std::wstring& folder,
                   const std::vector<std::wstring>& roots, const std::vector<std::string>& trusted,
                   bool create, bool& made) {
  made = false;
  std::wstring root;
  std::vector<std::wstring> names;
  if (!TrySplitUnderRoot(folder, roots, root, names)) return Verdict::kOutsideRoots;
  auto verdictOf = [&](const Entry& entry) {
    switch (entry.kind) {
      case EntryKind::kMissing:
      case EntryKind::kFile:
        return Verdict::kMissing;
      case EntryKind::kLink:
        return Verdict::kLinkOnTheWay;
      case EntryKind::kFolder:
        break;
    }
    return OthersCanChange(entry.security, trusted) ? Verdict::kOthersCanChange
                                                    : Verdict::kAdminOwned;
  };
  Verdict verdict = verdictOf(folders.HoldRoot(root));
  for (const std::wstring& name : names) {
    if (verdict != Verdict::kAdminOwned) break;
    verdict = verdictOf(folders.HoldChild(name, create, made));
  }
  return verdict;
}

OwnFolderPlan PlanOwnFolder(const std::wstring& folder, bool exists, const std::wstring& earlier,
                            const std::vector<std::wstring>& roots) {
  const std::wstring full = WithoutTrailingBackslashes(folder);
  // A Program Files folder itself is never the installation's, which would
  // share it with everything else there.
  for (const std::wstring& root : roots) {
    if (SameName(full, WithoutTrailingBackslashes(root))) return OwnFolderPlan::kRefused;
  }
  std::wstring root;
  std::vector<std::wstring> names;
  if (TrySplitUnderRoot(folder, roots, root, names)) return OwnFolderPlan::kBelowRoot;
  // Nor a drive's root, or a name in any other form.
  if (!IsPlainFullPath(full) || full.size() <= 3) return OwnFolderPlan::kRefused;
  if (!exists) return OwnFolderPlan::kMakeElsewhere;
  if (!earlier.empty() && SameName(full, WithoutTrailingBackslashes(earlier)))
    return OwnFolderPlan::kEarlierElsewhere;
  return OwnFolderPlan::kRefused;
}

}  // namespace files

// The rules by which the elevated installer and uninstaller touch a folder:
// it is opened by handle from a root that administrators own (a Program
// Files folder) down, one name at a time, and every folder on the way must be
// a plain folder (no junction or symbolic link, which could lead anywhere)
// whose security lets nobody but administrators, the system and
// TrustedInstaller write, add, delete or change its permissions. Only then
// is anything written or deleted in it, through the handles held since the
// check. Portable: the file system is the caller's (IHeldFolders).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace files {

enum class EntryKind { kMissing, kFolder, kFile, kLink };

// One entry of a folder's access list, as the system reports it.
struct AccessEntry {
  bool allows = true;        // an allowing entry (denying ones only take rights away)
  bool inheritOnly = false;  // applies to what is made below, not to the folder itself
  uint32_t mask = 0;         // the rights it gives
  std::string sid;           // whom, as S-1-...
};

struct Security {
  bool known = false;    // false when the system could not tell
  std::string owner;     // S-1-...; an owner may always change the permissions
  bool hasDacl = false;  // no access list at all lets everyone do everything
  std::vector<AccessEntry> entries;
};

// What a name turned out to be when it was opened: the name itself, a link
// reported as a link and never as what it leads to.
struct Entry {
  EntryKind kind = EntryKind::kMissing;
  Security security;
};

enum class Outcome {
  kDone,
  kAbsent,     // nothing of that name to remove
  kInUse,      // a running program holds the file
  kAtRestart,  // in use: done when Windows next starts
  kLink,       // the file's own name is a link, or a second name of another file
  kFailed,     // the system's error code says why
};

// The file system as the rules use it: a stack of folders held open, each
// opened by its name below the one before.
class IHeldFolders {
 public:
  virtual ~IHeldFolders() = default;
  // Opens and holds a root by its full name.
  virtual Entry HoldRoot(const std::wstring& root) = 0;
  // Opens and holds a folder by its name below the innermost held one; with
  // create, makes it first when it is missing (made is then true).
  virtual Entry HoldChild(const std::wstring& name, bool create, bool& made) = 0;
  // In the innermost held folder: writes a file of that name (replacing one
  // there), or removes a file or empty folder of that name. With atRestart, a
  // file in use is replaced or removed when Windows next starts.
  virtual Outcome Write(const std::wstring& name, const std::vector<uint8_t>& bytes, bool atRestart,
                        unsigned long& error) = 0;
  virtual Outcome Remove(const std::wstring& name, bool atRestart, unsigned long& error) = 0;
};

enum class Verdict {
  kAdminOwned = 0,
  kOutsideRoots = 1,
  kLinkOnTheWay = 2,
  kMissing = 3,
  kOthersCanChange = 5,
};

// The accounts trusted with a folder: Administrators, SYSTEM, TrustedInstaller.
std::vector<std::string> TrustedAccounts();

// Whether anyone but the trusted accounts may write, add or delete in a
// folder or change its permissions: its owner, or an allowing entry that
// applies to the folder itself with any such right. Unknown security counts
// as changeable.
bool OthersCanChange(const Security& security, const std::vector<std::string>& trusted);

// path and the roots in full (C:\...), without "." or ".." in them; either
// may end in backslashes. Gives the first root path is or lies below, and
// the names from there down. False for a path below none, or named in any other
// form, whose name alone does not tell where it leads.
bool TrySplitUnderRoot(const std::wstring& path, const std::vector<std::wstring>& roots,
                       std::wstring& root, std::vector<std::wstring>& names);

// Holds the root and every folder from there down to folder, checking each
// as it is opened; stops at the first that fails. With create, missing
// folders are made (each new one checked like the others); made tells
// whether the last one was.
Verdict HoldFolder(IHeldFolders& folders, const std::wstring& folder,
                   const std::vector<std::wstring>& roots, const std::vector<std::string>& trusted,
                   bool create, bool& made);

// Where the installation may go, decided from names alone before anything is
// opened: below a root (checked like a host's folder, made as needed); a
// folder elsewhere that the installer makes now, with administrators-only
// permissions; the earlier installation's own folder elsewhere (checked as a
// root); never an existing folder elsewhere, which others may have made.
enum class OwnFolderPlan { kBelowRoot, kMakeElsewhere, kEarlierElsewhere, kRefused };
OwnFolderPlan PlanOwnFolder(const std::wstring& folder, bool exists, const std::wstring& earlier,
                            const std::vector<std::wstring>& roots);

// Whether two full names are the same, as Windows compares them (no case).
bool SameName(const std::wstring& a, const std::wstring& b);
std::wstring WithoutTrailingBackslashes(std::wstring path);

}  // namespace files

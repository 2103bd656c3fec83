// What the per-user step asks of the file system: what a path is, and a
// copy. Windows' own in UserFilesWin; the tests give one of their own.
#pragma once

#include <string>

namespace peruser {

enum class EntryKind {
  kMissing,
  kFolder,
  kFile,
  // A junction, a symbolic link or any other reparse point: a name that
  // may lead anywhere, so nothing is written or deleted through it.
  kLink,
};

class IUserFiles {
 public:
  virtual ~IUserFiles() = default;
  // What the path names itself, the link and not its target.
  virtual EntryKind Kind(const std::wstring& path) = 0;
  // Copies the file over the target (replacing a file there); false, with
  // the system's error code in error, when it cannot.
  virtual bool Copy(const std::wstring& from, const std::wstring& to, unsigned long& error) = 0;
};

}  // namespace peruser

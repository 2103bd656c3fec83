// The rules' file system on Windows: every folder opened by handle below the
// one held before it (NtCreateFile relative to that handle), held without
// letting others delete or rename it until the program ends, and described
// from the handle: its attributes, the name the system gives the open handle
// (a link leads to another name, also where the system does not report the
// reparse point, as Wine does not) and its owner and access list.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "installer/files/FolderRules.h"

namespace files {

// One Windows handle, closed exactly once.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle();
  HANDLE get() const { return handle_; }
  HANDLE release();
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = nullptr;
};

class WinHeldFolders : public IHeldFolders {
 public:
  Entry HoldRoot(const std::wstring& root) override;
  Entry HoldChild(const std::wstring& name, bool create, bool& made) override;
  Outcome Write(const std::wstring& name, const std::vector<uint8_t>& bytes, bool atRestart,
                unsigned long& error) override;
  Outcome Remove(const std::wstring& name, bool atRestart, unsigned long& error) override;

  // Makes the folder name below parent now, with permissions of its own
  // (Administrators and SYSTEM full control, Users read and run, nothing
  // inherited), and holds it. Fails, with the system's code, when anything
  // of that name is there already.
  Entry MakeProtected(const std::wstring& parent, const std::wstring& name, unsigned long& error);
  // Removes a root, when empty: the installation's own folder outside the
  // Program Files folders, whose parent is no root. Not through a link.
  Outcome RemoveRoot(const std::wstring& root, unsigned long& error);

 private:
  Entry Hold(Handle handle, const std::wstring& expected);
  std::vector<Handle> handles_;
  std::vector<std::wstring> paths_;  // the name each held folder must have
};

// The account this program runs as, S-1-...; empty when unknown.
std::string OwnAccount();

}  // namespace files

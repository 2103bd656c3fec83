#include <windows.h>

#include <string>

#include "base/PathToolkit.h"
#include "exchange/WorkFolder.h"
#include "exchange/WorkFolderLock.h"
#include "host/FailureReport.h"

WorkFolderLock::~WorkFolderLock() { Release(); }

WorkFolderLock::WorkFolderLock(WorkFolderLock&& other) noexcept : handle_(other.handle_) {
  other.handle_ = nullptr;
}

WorkFolderLock& WorkFolderLock::operator=(WorkFolderLock&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

void WorkFolderLock::Release() {
  if (handle_ == nullptr) return;
  CloseHandle(handle_);
  handle_ = nullptr;
}

bool WorkFolderLock::ShareWith(void* process) const {
  if (handle_ == nullptr || process == nullptr) return false;
  // The handle's value in the other process is of no use to it; it is never
  // told, and the system closes the duplicate when that process ends.
  HANDLE duplicate = nullptr;
  return DuplicateHandle(GetCurrentProcess(), handle_, static_cast<HANDLE>(process), &duplicate, 0,
                         FALSE, DUPLICATE_SAME_ACCESS) != FALSE;
}

ELockResult LockWorkFolder(WorkFolderLock& lock) {
  lock.Release();
  std::string temp;
  if (!GetTempFolder(temp)) {
    NoteFailure(EFailure::kNoTempFolder);
    return ELockResult::eFailed;
  }
  // Beside the folder, not in it: emptying the folder must not meet it, and
  // the application sees only the files of its job.
  const std::string path = JoinPath(temp, std::string(kWorkFolderName) + ".lock");
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return ELockResult::eBusy;
    if (path.size() >= MAX_PATH) {
      NoteFailure(EFailure::kPathTooLong, {path});
    } else {
      NoteFailure(EFailure::kTempFolderUnusable, {StripTrailingBackslash(temp)}, error);
    }
    return ELockResult::eFailed;
  }
  lock.handle_ = file;
  return ELockResult::eHeld;
}

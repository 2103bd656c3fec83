// One run at a time in the working folder, across every process of the user,
// 32-bit and 64-bit alike: a second run would empty the first one's folder
// and overwrite its exported image, and the first would then import the
// second one's result into its own document.
#pragma once

enum class ELockResult { eHeld, eBusy, eFailed };

// Owns the lock: the file "velmorafilter.lock" beside the working folder,
// opened without any sharing. The system closes it when the process ends in
// any way, a crash included, so no stale lock outlives its run; the file
// itself means nothing. Move-only; the destructor releases the lock.
class WorkFolderLock {
 public:
  WorkFolderLock() = default;
  ~WorkFolderLock();
  WorkFolderLock(WorkFolderLock&& other) noexcept;
  WorkFolderLock& operator=(WorkFolderLock&& other) noexcept;
  WorkFolderLock(const WorkFolderLock&) = delete;
  WorkFolderLock& operator=(const WorkFolderLock&) = delete;

  bool IsHeld() const { return handle_ != nullptr; }
  // Places a duplicate of the lock in another process (a process handle with
  // the right to duplicate into it), where it stays until that process ends:
  // so the lock outlives this process for as long as the application it
  // started runs, should the host crash or be ended meanwhile. False, with
  // nothing placed, when no lock is held or the system refuses.
  bool ShareWith(void* process) const;
  // Gives the lock up; harmless when none is held.
  void Release();

 private:
  friend ELockResult LockWorkFolder(WorkFolderLock& lock);
  void* handle_ = nullptr;
};

// Takes the lock into lock (releasing what it held) without waiting. eHeld
// on success; eBusy when another run, in this process or another one, holds
// it; eFailed, with nothing held, when there is no temporary folder or the
// lock file cannot be made for another reason.
ELockResult LockWorkFolder(WorkFolderLock& lock);

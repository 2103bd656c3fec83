#include "launch/Launcher.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <cstring>
#include <utility>

#include "base/BinaryFile.h"
#include "base/Error.h"
#include "base/NarrowPath.h"
#include "base/PathToolkit.h"
#include "base/TextFormat.h"
#include "exchange/WorkFolderLock.h"
#include "host/FailureReport.h"
#include "launch/MachineSetting.h"
#include "launch/ModalWait.h"

namespace {

// Owns one kernel handle. Move-only; closing on destruction reports nothing,
// because nothing can be done about a handle that will not close.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ~ScopedHandle() { Reset(); }

  HANDLE Get() const { return handle_; }
  void Reset() noexcept {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// The two handles CreateProcessA hands out. The process handle is closed
// before the thread handle, on every way out.
class ChildProcess {
 public:
  explicit ChildProcess(const PROCESS_INFORMATION& info)
      : process_(info.hProcess), thread_(info.hThread) {}
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess(ChildProcess&&) noexcept = default;
  ChildProcess& operator=(ChildProcess&&) noexcept = default;
  ~ChildProcess() {
    process_.Reset();
    thread_.Reset();
  }

  // Lets the suspended process run once it holds the lock too; a process
  // that cannot be given the lock or cannot run is ended unstarted.
  bool Run(const WorkFolderLock* lock) const {
    if ((lock == nullptr || lock->ShareWith(process_.Get())) &&
        ResumeThread(thread_.Get()) != static_cast<DWORD>(-1)) {
      return true;
    }
    TerminateProcess(process_.Get(), 1);
    return false;
  }

  // True once the process has ended; false when the wait itself fails. The
  // host's thread serves its messages meanwhile, its windows disabled.
  bool WaitForEnd(intptr_t ownerWindow, IWaitNote* note) const {
    return WaitModally(process_.Get(), ownerWindow, note);
  }
  // The exit status of the ended process: its own exit code, or the code of
  // the exception that ended it.
  bool TryGetExitCode(uint32_t& code) const {
    DWORD status = 0;
    if (!GetExitCodeProcess(process_.Get(), &status)) return false;
    code = status;
    return true;
  }

 private:
  ScopedHandle process_;
  ScopedHandle thread_;
};

// The size field announces the structure's version: 68 bytes for 32-bit
// processes, 104 for 64-bit ones.
static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104), "STARTUPINFOA size");

}  // namespace

bool GetProfileFolder(std::string& path) {
  path.clear();
  // Asked for wide: the narrow call puts "?" in place of every letter of the
  // account's name outside the ANSI code page.
  wchar_t buffer[MAX_PATH];
  std::memset(buffer, 0, sizeof buffer);
  const HRESULT result =
      SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (FAILED(result)) return false;
  buffer[MAX_PATH - 1] = L'\0';
  std::string narrow;
  if (!sys::ToExactNarrowPath(buffer, narrow)) return false;
  path = EnsureTrailingBackslash(narrow);
  return true;
}

bool FindApplicationFolder(std::string& path, std::string* source) {
  path.clear();
  std::string profile;
  // Without a usable profile folder the user can have no file of their own;
  // the machine-wide setting may still serve.
  if (!GetProfileFolder(profile)) profile.clear();
  ApplicationSetting setting;
  const bool found = FindApplicationSetting(profile, ReadMachineApplicationPath, setting);
  path = setting.folder;
  if (source != nullptr) *source = setting.source;
  return found;
}

bool FormatCommandLine(const std::string& executable, const std::string& argument,
                       char (&buffer)[kCommandLineSize]) {
  std::memset(buffer, 0, sizeof buffer);
  if (executable.find('"') != std::string::npos || argument.find('"') != std::string::npos) {
    return false;
  }
  // Backslashes right before a quote escape it for the argument parser, so
  // the argument's final ones are doubled; the executable's part is read up
  // to the next quote without escapes and ends in a file name anyway.
  // A 0x5C that ends a double-byte character is no backslash to the parser,
  // which sees the command line as wide text.
  std::string quotedArgument = argument;
  for (std::string rest = argument; EndsWithBackslash(rest); rest.pop_back()) {
    quotedArgument += '\\';
  }
  const int length = FormatText(buffer, sizeof buffer, "\"%s\" \"%s\"", executable.c_str(),
                                quotedArgument.c_str());
  if (length < 0 || static_cast<size_t>(length) > kCommandLineSize - 1) {
    std::memset(buffer, 0, sizeof buffer);
    return false;
  }
  return true;
}

int16_t LaunchApplication(const LaunchRequest& request, bool wait, uint32_t* exitCode,
                          bool* started) {
  int16_t result = kPropertyUndefined;
  if (started != nullptr) *started = false;
  std::string folder;
  std::string settings;
  if (!FindApplicationFolder(folder, &settings)) return result;
  const std::string executable = JoinPath(folder, kApplicationFileName);
  if (!PathExists(executable)) {
    NoteFailure(EFailure::kApplicationMissing, {executable, settings, kApplicationPathKey});
    return result;
  }

  char commandLine[kCommandLineSize];
  if (!FormatCommandLine(executable, request.argument, commandLine)) {
    NoteFailure(EFailure::kCommandTooLong, {executable, request.argument});
    return result;
  }

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  // The executable named in full, so that the system runs that file and
  // searches nowhere else. No handle of the host is inherited: the
  // application needs none, and would keep the host's files and pipes open
  // for as long as it runs.
  if (!CreateProcessA(executable.c_str(), commandLine, nullptr, nullptr, FALSE,
                      NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr, nullptr, &startup,
                      &info)) {
    NoteFailure(EFailure::kApplicationNotStarted, {executable, settings, kApplicationPathKey},
                GetLastError());
    return result;
  }
  const ChildProcess child(info);
  if (!child.Run(request.lock)) {
    NoteFailure(EFailure::kApplicationNotStarted, {executable, settings, kApplicationPathKey});
    return result;
  }
  if (started != nullptr) *started = true;
  if (!wait) return kNoErr;
  if (!child.WaitForEnd(request.ownerWindow, request.note)) {
    NoteFailure(EFailure::kWaitFailed);
    return result;
  }
  uint32_t status = 0;
  if (exitCode != nullptr && child.TryGetExitCode(status)) *exitCode = status;
  return kNoErr;
}

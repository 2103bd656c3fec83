// VelmoraFiles.exe: every file the elevated installer and uninstaller write
// or delete, written or deleted by this program and by nothing else, through
// handles it holds from a root administrators own (the Program Files
// folders, or the installation's own folder where the installer made it
// elsewhere) down, each folder on the way checked as it is opened
// (FolderRules.h). 32-bit, so that one program serves every Windows,
// Windows on ARM (under emulation) included; the uninstaller carries it.
//
// Usage: VelmoraFiles.exe <command> [--at-restart] [--create] <argument>... -- <root>...
//   check <folder>                whether the folder may be written
//   own-folder <folder> <earlier> whether the installation may go there
//                                 (--create: and makes it); earlier is the
//                                 folder of an earlier install, or ""
//   mkdir <folder>                makes the folder (its parent checked)
//   rmdir <folder>...             removes each folder when empty
//   place <folder> <source>|<name>...   copies each source there as name
//                                 (<source folder>\*: each file there by its name)
//   delete <folder> <name>...     deletes those files there
//   --at-restart: a file in use is replaced or removed when Windows next starts.
// Exit code: 0 done; 1 outside every root; 2 a link on the way (or in the
// file's place); 3 no such folder; 4 a wrong call; 5 others may change a
// folder on the way; 6 a file is in use; 7 failed (the system's words on the
// standard output); 8 done when Windows next starts; 9 nothing to do (no
// such file, the folder was there already, or is not empty); 10 a folder
// outside the Program Files folders that exists already.
//
//   VelmoraFiles.exe --build-for <windows> <host program>
//     The build that host loads on a Windows of that architecture.
//   VelmoraFiles.exe --shared-build <windows> [<Photoshop program>...]
//     The build for Adobe's 64-bit shared folder, given the Photoshops.
//   <windows> is x86, x64 or arm64. Exit code: 0 the x86 build, 1 the x64
//   build, 2 the ARM64 build, 3 none, 4 a wrong call.
//
//   VelmoraFiles.exe --application-path <parameters file> <answer file>
//     The folder of Velmora.exe that APPLICATIONPATH= names among the
//     installer's parameters (UTF-16 text, as the installer writes it), as
//     the plug-in can read it: in full, without a trailing backslash, in the
//     system's code page or else by its short (8.3) name. The answer file
//     gets that folder, or the value as given when it is refused (UTF-16).
//     Exit code: 0 the folder, 9 no such option, 11 not a full path, 12 no
//     form of it the plug-in could read, 4 a wrong call.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "installer/files/CommandLine.h"
#include "installer/files/FolderRules.h"
#include "installer/files/HeldFoldersWin.h"
#include "installer/placement/BuildPlacement.h"

namespace {

enum Exit {
  kDone = 0,
  kWrongCall = 4,
  kInUse = 6,
  kFailed = 7,
  kAtRestart = 8,
  kNothingToDo = 9,
  kExistsElsewhere = 10,
};
constexpr int kNoBuild = 3;
// The largest file this program copies: the plug-ins and the installer's
// own programs are a few megabytes.
constexpr LONGLONG kLargestFile = 64ll << 20;

// A file search, which closes with FindClose, not CloseHandle.
struct Search {
  explicit Search(HANDLE opened) : handle(opened) {}
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;
  ~Search() {
    if (handle != INVALID_HANDLE_VALUE) FindClose(handle);
  }
  const HANDLE handle;
};

int ExitCodeOf(std::optional<placement::Arch> build) {
  if (!build) return kNoBuild;
  switch (*build) {
    case placement::Arch::X86:
      return 0;
    case placement::Arch::X64:
      return 1;
    case placement::Arch::Arm64:
      return 2;
  }
  return kNoBuild;
}

std::optional<placement::Arch> ArchNamed(const std::wstring& name) {
  if (name == L"x86") return placement::Arch::X86;
  if (name == L"x64") return placement::Arch::X64;
  if (name == L"arm64") return placement::Arch::Arm64;
  return std::nullopt;
}

// A file's bytes, up to kLargestFile; false when it cannot be read whole.
bool TryReadFile(const std::wstring& path, std::vector<uint8_t>& bytes, size_t limit) {
  files::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestFile) return false;
  bytes.resize(std::min<size_t>(static_cast<size_t>(size.QuadPart), limit));
  DWORD read = 0;
  return bytes.empty() ||
         (ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
          read == bytes.size());
}

std::optional<placement::Arch> ArchOfProgramFile(const std::wstring& path) {
  std::vector<uint8_t> bytes;
  // A program's architecture lies in its headers, in its first bytes.
  if (!TryReadFile(path, bytes, 4096)) return std::nullopt;
  return placement::ArchOfProgram(bytes);
}

int AnswerBuild(int argc, wchar_t** argv) {
  const std::wstring question = argv[1];
  const std::optional<placement::Arch> windows = ArchNamed(argv[2]);
  if (!windows) return kWrongCall;
  if (question == L"--build-for") {
    if (argc != 4) return kWrongCall;
    const std::optional<placement::Arch> host = ArchOfProgramFile(argv[3]);
    return host ? ExitCodeOf(placement::BuildForHost(*windows, *host)) : kNoBuild;
  }
  // Photoshops whose program cannot be read tell nothing of their kind.
  std::vector<placement::Arch> photoshops;
  for (int i = 3; i < argc; ++i) {
    if (const std::optional<placement::Arch> arch = ArchOfProgramFile(argv[i])) {
      photoshops.push_back(*arch);
    }
  }
  return ExitCodeOf(placement::BuildForSharedFolder(
      *windows, placement::SharedFolder::CommonFiles64, photoshops));
}

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
  if (length == 0 || length >= longForm.size()) return files::WithoutTrailingBackslashes(full);
  longForm.resize(length);
  return files::WithoutTrailingBackslashes(longForm);
}

// The system's words for a failure, on the standard output, where the
// installer reads them, in the system's code page.
int Fail(unsigned long error) {
  wchar_t* text = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring words = text != nullptr ? text : L"";
  LocalFree(text);
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '))
    words.pop_back();
  words += L" (error " + std::to_wstring(error) + L")";
  const int bytes = WideCharToMultiByte(CP_ACP, 0, words.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes > 1) {
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, words.c_str(), -1, narrow.data(), bytes, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), narrow.data(), static_cast<DWORD>(bytes - 1),
              &written, nullptr);
  }
  return kFailed;
}

int ExitOf(files::Outcome outcome, unsigned long error) {
  switch (outcome) {
    case files::Outcome::kDone:
      return kDone;
    case files::Outcome::kAbsent:
      return kNothingToDo;
    case files::Outcome::kInUse:
      return kInUse;
    case files::Outcome::kAtRestart:
      return kAtRestart;
    case files::Outcome::kLink:
      return static_cast<int>(files::Verdict::kLinkOnTheWay);
    case files::Outcome::kFailed:
      return error == ERROR_DIR_NOT_EMPTY ? kNothingToDo : Fail(error);
  }
  return kFailed;
}

struct Call {
  std::wstring command;
  std::vector<std::wstring> arguments;
  std::vector<std::wstring> roots;
  bool atRestart = false;
  bool create = false;
};

bool TryParse(int argc, wchar_t** argv, Call& call) {
  call.command = argv[1];
  bool inRoots = false;
  for (int i = 2; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (inRoots) {
      call.roots.push_back(FullForm(argument));
    } else if (argument == L"--") {
      inRoots = true;
    } else if (argument == L"--at-restart") {
      call.atRestart = true;
    } else if (argument == L"--create") {
      call.create = true;
    } else {
      call.arguments.push_back(argument);
    }
  }
  return inRoots && !call.arguments.empty();
}

// The folder of a full name, and its last name.
void SplitLast(const std::wstring& path, std::wstring& parent, std::wstring& name) {
  const size_t slash = path.rfind(L'\\');
  parent = slash == std::wstring::npos ? L"" : path.substr(0, slash);
  name = slash == std::wstring::npos ? path : path.substr(slash + 1);
}

int OwnFolder(const Call& call, const std::vector<std::string>& trusted) {
  if (call.arguments.size() != 2) return kWrongCall;
  const std::wstring folder = FullForm(call.arguments[0]);
  const std::wstring earlier = call.arguments[1].empty() ? L"" : FullForm(call.arguments[1]);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  files::WinHeldFolders held;
  bool made = false;
  switch (files::PlanOwnFolder(folder, exists, earlier, call.roots)) {
    case files::OwnFolderPlan::kBelowRoot:
      if (!call.create) {
        // Checked as far as it exists; the rest is made below checked folders.
        std::wstring existing = folder;
        while (GetFileAttributesW(existing.c_str()) == INVALID_FILE_ATTRIBUTES) {
          std::wstring name;
          SplitLast(std::wstring(existing), existing, name);
          if (existing.empty()) return static_cast<int>(files::Verdict::kMissing);
        }
        // The part that exists may be a root itself, which --create checks.
        for (const std::wstring& root : call.roots) {
          if (files::SameName(existing, root)) return static_cast<int>(files::Verdict::kAdminOwned);
        }
        return static_cast<int>(
            files::HoldFolder(held, existing, call.roots, trusted, false, made));
      }
      return static_cast<int>(files::HoldFolder(held, folder, call.roots, trusted, true, made));
    case files::OwnFolderPlan::kEarlierElsewhere: {
      // Checked as a root of its own: the folder itself, not the folders above.
      const files::Entry entry = held.HoldRoot(folder);
      if (entry.kind == files::EntryKind::kLink)
        return static_cast<int>(files::Verdict::kLinkOnTheWay);
      if (entry.kind != files::EntryKind::kFolder)
        return static_cast<int>(files::Verdict::kMissing);
      return files::OthersCanChange(entry.security, trusted)
                 ? static_cast<int>(files::Verdict::kOthersCanChange)
                 : kDone;
    }
    case files::OwnFolderPlan::kMakeElsewhere: {
      std::wstring parent, name;
      SplitLast(folder, parent, name);
      if (parent.size() == 2) parent += L"\\";  // a drive's root
      if (GetFileAttributesW(parent.c_str()) == INVALID_FILE_ATTRIBUTES)
        return static_cast<int>(files::Verdict::kMissing);
      if (!call.create) return kDone;
      unsigned long error = 0;
      const files::Entry entry = held.MakeProtected(parent, name, error);
      if (entry.kind == files::EntryKind::kLink)
        return static_cast<int>(files::Verdict::kLinkOnTheWay);
      if (entry.kind != files::EntryKind::kFolder)
        return error == ERROR_ALREADY_EXISTS ? kExistsElsewhere : Fail(error);
      return kDone;
    }
    case files::OwnFolderPlan::kRefused:
      break;
  }
  return kExistsElsewhere;
}

// Removes an empty folder below a held, checked one (or a root itself: the
// installation's own folder elsewhere).
int RemoveFolder(const std::wstring& folder, const Call& call,
                 const std::vector<std::string>& trusted) {
  files::WinHeldFolders held;
  unsigned long error = 0;
  for (const std::wstring& root : call.roots) {
    if (files::SameName(root, folder)) return ExitOf(held.RemoveRoot(folder, error), error);
  }
  std::wstring parent, name;
  SplitLast(folder, parent, name);
  bool made = false;
  const files::Verdict verdict = files::HoldFolder(held, parent, call.roots, trusted, false, made);
  if (verdict != files::Verdict::kAdminOwned) return static_cast<int>(verdict);
  return ExitOf(held.Remove(name, call.atRestart, error), error);
}

bool IsWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int Run(const Call& call) {
  std::vector<std::string> trusted = files::TrustedAccounts();
  // Wine keeps no access lists of Windows' kind: every folder belongs to its
  // one user, who has full control and runs the installer. There, and only
  // there, that account counts as an administrator.
  if (IsWine()) trusted.push_back(files::OwnAccount());
  if (call.command == L"own-folder") return OwnFolder(call, trusted);

  files::WinHeldFolders held;
  bool made = false;
  const std::wstring folder = FullForm(call.arguments[0]);
  if (call.command == L"check") {
    if (call.arguments.size() != 1) return kWrongCall;
    return static_cast<int>(files::HoldFolder(held, folder, call.roots, trusted, false, made));
  }
  if (call.command == L"rmdir") {
    // Each in turn, the deeper first as given; one not empty stays.
    int result = kDone;
    for (const std::wstring& argument : call.arguments) {
      const int code = RemoveFolder(FullForm(argument), call, trusted);
      if (code != kDone && code != kNothingToDo && code != kAtRestart) return code;
      if (result == kDone) result = code;
    }
    return result;
  }
  if (call.command == L"mkdir") {
    if (call.arguments.size() != 1) return kWrongCall;
    std::wstring parent, name;
    SplitLast(folder, parent, name);
    const files::Verdict verdict =
        files::HoldFolder(held, parent, call.roots, trusted, false, made);
    if (verdict != files::Verdict::kAdminOwned) return static_cast<int>(verdict);
    const files::Entry entry = held.HoldChild(name, true, made);
    if (entry.kind == files::EntryKind::kLink)
      return static_cast<int>(files::Verdict::kLinkOnTheWay);
    if (entry.kind != files::EntryKind::kFolder) return static_cast<int>(files::Verdict::kMissing);
    if (files::OthersCanChange(entry.security, trusted))
      return static_cast<int>(files::Verdict::kOthersCanChange);
    return made ? kDone : kNothingToDo;
  }
  const bool place = call.command == L"place";
  if (!place && call.command != L"delete") return kWrongCall;
  if (call.arguments.size() < 2) return kWrongCall;
  const files::Verdict verdict = files::HoldFolder(held, folder, call.roots, trusted, false, made);
  if (verdict != files::Verdict::kAdminOwned) return static_cast<int>(verdict);
  int result = kDone;
  std::vector<std::wstring> arguments(call.arguments.begin() + 1, call.arguments.end());
  if (place) {
    // <folder>\* names every file in that folder, each placed by its name.
    std::vector<std::wstring> expanded;
    for (const std::wstring& argument : arguments) {
      if (argument.size() < 2 || argument.compare(argument.size() - 2, 2, L"\\*") != 0) {
        expanded.push_back(argument);
        continue;
      }
      const std::wstring from = argument.substr(0, argument.size() - 1);
      WIN32_FIND_DATAW found;
      const Search search(FindFirstFileW(argument.c_str(), &found));
      if (search.handle == INVALID_HANDLE_VALUE) return Fail(GetLastError());
      do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
          expanded.push_back(from + found.cFileName + L"|" + found.cFileName);
      } while (FindNextFileW(search.handle, &found));
    }
    arguments = expanded;
  }
  for (size_t i = 0; i < arguments.size(); ++i) {
    unsigned long error = 0;
    files::Outcome outcome;
    if (place) {
      const std::wstring& argument = arguments[i];
      const size_t bar = argument.rfind(L'|');
      const std::wstring name = bar == std::wstring::npos ? L"" : argument.substr(bar + 1);
      if (name.empty() || name.find(L'\\') != std::wstring::npos || name == L"." || name == L"..")
        return kWrongCall;
      std::vector<uint8_t> bytes;
      if (!TryReadFile(argument.substr(0, bar), bytes, static_cast<size_t>(kLargestFile)))
        return Fail(GetLastError());
      outcome = held.Write(name, bytes, call.atRestart, error);
    } else {
      const std::wstring& name = arguments[i];
      if (name.find(L'\\') != std::wstring::npos || name == L"." || name == L"..")
        return kWrongCall;
      outcome = held.Remove(name, call.atRestart, error);
    }
    const int code = ExitOf(outcome, error);
    // A file in use or left for the restart does not stop the others; any
    // refusal or failure does.
    if (code == kAtRestart || (code == kNothingToDo && !place)) {
      if (result == kDone || code == kAtRestart) result = code;
      continue;
    }
    if (code != kDone) return code;
  }
  return result;
}

// Whether every letter of text has its own counterpart in the system's code
// page, in which the plug-in reads its settings (a letter that would become a
// look-alike or a question mark has none).
bool FitsCodePage(const std::wstring& text) {
  if (GetACP() == CP_UTF8) return true;
  BOOL lossy = FALSE;
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0,
                                        nullptr, &lossy);
  return bytes > 0 && !lossy;
}

int AnswerApplicationPath(const std::wstring& question, const std::wstring& answer) {
  std::vector<uint8_t> bytes;
  if (!TryReadFile(question, bytes, 1 << 16)) return Fail(GetLastError());
  std::wstring parameters(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < parameters.size(); ++i)
    parameters[i] = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  if (!parameters.empty() && parameters[0] == 0xFEFF) parameters.erase(0, 1);
  std::wstring folder;
  if (!files::TryFindOption(parameters, L"APPLICATIONPATH=", folder)) return kNothingToDo;
  int code = kDone;
  if (!files::IsFullFolder(folder)) {
    code = 11;
  } else {
    // The plug-in adds the backslash itself; a drive's root keeps its own.
    folder = files::WithoutTrailingBackslashes(folder);
    if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    if (!FitsCodePage(folder)) {
      // Windows gives a short name only for a folder that exists, on a disk
      // that keeps them.
      std::wstring shortName(MAX_PATH, L'\0');
      const DWORD length =
          GetShortPathNameW(folder.c_str(), shortName.data(), static_cast<DWORD>(shortName.size()));
      shortName.resize(length < shortName.size() ? length : 0);
      if (!shortName.empty() && FitsCodePage(shortName)) {
        folder = files::WithoutTrailingBackslashes(shortName);
      } else {
        code = 12;
      }
    }
  }
  files::Handle file(CreateFileW(answer.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(folder.size() * sizeof(wchar_t));
  if (!file || !WriteFile(file.get(), folder.data(), size, &written, nullptr) || written != size)
    return Fail(GetLastError());
  return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return kWrongCall;
  const std::wstring first = argv[1];
  if (first == L"--application-path")
    return argc == 4 ? AnswerApplicationPath(argv[2], argv[3]) : kWrongCall;
  if (first == L"--build-for" || first == L"--shared-build") return AnswerBuild(argc, argv);
  Call call;
  if (!TryParse(argc, argv, call)) return kWrongCall;
  return Run(call);
}

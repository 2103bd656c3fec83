// The installer's check of a host's plug-in folder before it writes there,
// and its choice of build for a host, run elevated from its temporary
// folder: 32-bit, so that one program serves every Windows, Windows on ARM
// (under emulation) included.
// Usage:
//   VelmoraHostFolder.exe <folder> <Program Files folder>...
//     Exit code: the HostFolderVerdict (0 administrators own it, 1 outside
//     Program Files, 2 a link on the way, 3 no such folder), 4 a wrong call.
//   VelmoraHostFolder.exe --build-for <windows> <host program>
//     The build that host loads on a Windows of that architecture.
//   VelmoraHostFolder.exe --shared-build <windows> [<Photoshop program>...]
//     The build for Adobe's 64-bit shared folder, given the Photoshops.
//   <windows> is x86, x64 or arm64. Exit code: 0 the x86 build, 1 the x64
//   build, 2 the ARM64 build, 3 none (a program that cannot be read, or no
//   build for it), 4 a wrong call.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "installer/peruser/HostFolderCheck.h"
#include "installer/peruser/UserFilesWin.h"
#include "installer/placement/BuildPlacement.h"

namespace {

constexpr int kNoBuild = 3;
constexpr int kWrongCall = 4;

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

// A program's architecture from its headers, which lie in its first bytes.
std::optional<placement::Arch> ArchOfProgramFile(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<uint8_t> bytes(4096);
  DWORD read = 0;
  const BOOL ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  bytes.resize(read);
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
  if (length == 0 || length >= longForm.size()) return full;
  longForm.resize(length);
  return longForm;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return kWrongCall;
  const std::wstring first = argv[1];
  if (first == L"--build-for" || first == L"--shared-build") return AnswerBuild(argc, argv);
  std::vector<std::wstring> programFiles;
  for (int i = 2; i < argc; ++i) programFiles.push_back(FullForm(argv[i]));
  peruser::WinUserFiles files;
  return static_cast<int>(peruser::CheckHostFolder(files, FullForm(argv[1]), programFiles));
}

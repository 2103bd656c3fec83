// VelmoraPerUser.exe: the installer's per-user step, run as the user whose
// profile it serves, never by the elevated installer: Windows' Active Setup
// starts it at each user's next sign-in (the StubPath the installer
// registers), and a user may start it at any time. It copies the 64-bit
// plug-in installed beside it (x64\Velmora.8bf) into the user's own plug-in
// folders of Affinity, where they exist, and moves aside the settings file
// an earlier release wrote into the profile once the folder it names no
// longer holds Velmora.exe (plugin.ini.old), so that the machine-wide
// setting reaches the user. A settings file the user wrote or edited stays.
//
// Usage: VelmoraPerUser.exe [/place]
// Writes one line per folder to its standard output, when it has one.
// Exit codes: 0 every folder that exists got its copy (also when there is
// none); 1 a folder was refused or a copy failed; 2 a wrong argument, or no
// plug-in beside it (a 32-bit Windows, whose Affinity has none to take).
#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "installer/peruser/AffinityCopies.h"
#include "installer/peruser/EarlierSettings.h"
#include "installer/peruser/UserFilesWin.h"

namespace {

// A known folder of the user's, without a trailing backslash; empty when
// the system gives none.
std::wstring KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &path);
  std::wstring folder = SUCCEEDED(result) && path != nullptr ? path : L"";
  CoTaskMemFree(path);  // also when the call failed
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

std::wstring OwnFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return L"";
    if (length < buffer.size()) break;
    buffer.resize(buffer.size() * 2);
  }
  std::wstring path = buffer.data();
  const size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

void Say(const std::wstring& line) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  const std::wstring text = line + L"\r\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(output, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// Moves VelmoraPro\plugin.ini aside when an earlier release wrote it and the
// folder it names has no Velmora.exe any more. Nothing through a link.
void MoveAsideEarlierSettings(peruser::IUserFiles& files, const std::wstring& profile) {
  if (profile.empty()) return;
  const std::wstring folder = profile + L"\\VelmoraPro";
  const std::wstring settings = folder + L"\\plugin.ini";
  if (files.Kind(folder) != peruser::EntryKind::kFolder ||
      files.Kind(settings) != peruser::EntryKind::kFile) {
    return;
  }
  std::string bytes(1024, '\0');  // the file it wrote is a line and a path
  DWORD read = 0;
  {
    const HANDLE opened = CreateFileW(settings.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return;
    const std::unique_ptr<void, decltype(&CloseHandle)> file(opened, &CloseHandle);
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
      return;
  }
  if (read == bytes.size()) return;
  bytes.resize(read);
  std::string named;
  if (!peruser::TryEarlierReleaseSettings(bytes, named)) return;
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, named.data(),
                                         static_cast<int>(named.size()), nullptr, 0);
  if (length <= 0) return;
  std::wstring application(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, named.data(), static_cast<int>(named.size()),
                      application.data(), length);
  if (application.back() != L'\\') application += L'\\';
  application += L"Velmora.exe";
  if (GetFileAttributesW(application.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  // An earlier plugin.ini.old stays as it is: then this one stays too.
  const std::wstring aside = settings + L".old";
  if (MoveFileExW(settings.c_str(), aside.c_str(), 0)) {
    Say(L"moved aside, no Velmora.exe in its folder: " + settings + L" -> " + aside);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  const std::wstring arguments = commandLine != nullptr ? commandLine : L"";
  if (!arguments.empty() && arguments != L"/place") {
    Say(L"usage: VelmoraPerUser.exe [/place]");
    return 2;
  }
  const std::wstring plugin = OwnFolder() + L"\\x64\\" + peruser::kPluginFileName;
  const DWORD attributes = GetFileAttributesW(plugin.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    Say(L"no plug-in at " + plugin);
    return 2;
  }
  const peruser::UserFolders folders{KnownFolder(FOLDERID_Profile),
                                     KnownFolder(FOLDERID_RoamingAppData)};
  peruser::WinUserFiles files;
  MoveAsideEarlierSettings(files, folders.profile);
  int status = 0;
  for (const peruser::Placement& placement :
       peruser::PlaceAffinityCopies(files, peruser::AffinityPluginFolders(folders), plugin)) {
    switch (placement.outcome) {
      case peruser::Outcome::kPlaced:
        Say(L"placed: " + placement.folder);
        break;
      case peruser::Outcome::kNoFolder:
        Say(L"no folder: " + placement.folder);
        break;
      case peruser::Outcome::kRefusedLink:
        Say(L"refused, a link on the way: " + placement.folder);
        status = 1;
        break;
      case peruser::Outcome::kFailed:
        Say(L"not placed (error " + std::to_wstring(placement.error) + L"): " + placement.folder);
        status = 1;
        break;
    }
  }
  return status;
}

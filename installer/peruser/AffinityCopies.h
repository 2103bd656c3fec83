// The per-user step: the 64-bit plug-in copied into the user's own plug-in
// folders of Affinity, which reads no folder an administrator could serve.
// Runs as the user (Active Setup at sign-in, or the user's own start), never
// elevated on another account's behalf.
#pragma once

#include <string>
#include <vector>

#include "installer/peruser/UserFiles.h"

namespace peruser {

// The user's known folders, without a trailing backslash.
struct UserFolders {
  std::wstring profile;         // %USERPROFILE%
  std::wstring roamingAppData;  // %APPDATA%, which may be redirected elsewhere
};

// One of Affinity's plug-in folders: a known folder of the user's and the
// folders below it.
struct AffinityFolder {
  std::wstring root;
  std::vector<std::wstring> below;
  std::wstring Path() const;
};

// Affinity Photo 2's (under the roaming application data), later releases'
// and Affinity 3's (under .affinity in the profile), in that order.
std::vector<AffinityFolder> AffinityPluginFolders(const UserFolders& folders);

enum class Outcome {
  kPlaced,
  kNoFolder,     // Affinity has not made it (not installed, or not run yet)
  kRefusedLink,  // a link below the known folder, or a link or folder in the file's place
  kFailed,       // the copy failed
};

struct Placement {
  std::wstring folder;
  Outcome outcome = Outcome::kNoFolder;
  unsigned long error = 0;  // the system's code for kFailed
};

constexpr const wchar_t* kPluginFileName = L"Velmora.8bf";

// Copies plugin into each of the folders as Velmora.8bf, where the folder
// exists: no folder is created, and none is written through a link (each
// folder from below its known folder down, and the file's own name).
std::vector<Placement> PlaceAffinityCopies(IUserFiles& files,
                                           const std::vector<AffinityFolder>& folders,
                                           const std::wstring& plugin);

}  // namespace peruser

#include "installer/peruser/AffinityCopies.h"

namespace peruser {

std::wstring AffinityFolder::Path() const {
  std::wstring path = root;
  for (const std::wstring& name : below) path += L"\\" + name;
  return path;
}

std::vector<AffinityFolder> AffinityPluginFolders(const UserFolders& folders) {
  return {
      {folders.roamingAppData, {L"Affinity", L"Photo", L"2.0", L"Plugins"}},
      {folders.profile, {L".affinity", L"Photo", L"2.0", L"Plugins"}},
      {folders.profile, {L".affinity", L"Affinity", L"3.0", L"Plugins"}},
  };
}

namespace {

// The outcome of the walk from the known folder down to the file's name.
// The known folder itself is the system's word (a profile or a redirected
// folder may well lie behind a link an administrator made); every name
// below it is the user's.
Outcome Walk(IUserFiles& files, const AffinityFolder& folder, std::wstring& file) {
  if (folder.root.empty()) return Outcome::kNoFolder;
  std::wstring path = folder.root;
  for (const std::wstring& name : folder.below) {
    path += L"\\" + name;
    switch (files.Kind(path)) {
      case EntryKind::kFolder:
        break;
      case EntryKind::kLink:
        return Outcome::kRefusedLink;
      case EntryKind::kMissing:
      case EntryKind::kFile:
        return Outcome::kNoFolder;
    }
  }
  file = path + L"\\" + kPluginFileName;
  switch (files.Kind(file)) {
    case EntryKind::kMissing:
    case EntryKind::kFile:
      return Outcome::kPlaced;
    case EntryKind::kLink:
    case EntryKind::kFolder:
      break;
  }
  return Outcome::kRefusedLink;
}

}  // namespace

std::vector<Placement> PlaceAffinityCopies(IUserFiles& files,
                                           const std::vector<AffinityFolder>& folders,
                                           const std::wstring& plugin) {
  std::vector<Placement> placements;
  for (const AffinityFolder& folder : folders) {
    Placement placement;
    placement.folder = folder.Path();
    std::wstring file;
    placement.outcome = Walk(files, folder, file);
    if (placement.outcome == Outcome::kPlaced && !files.Copy(plugin, file, placement.error)) {
      placement.outcome = Outcome::kFailed;
    }
    placements.push_back(placement);
  }
  return placements;
}

}  // namespace peruser

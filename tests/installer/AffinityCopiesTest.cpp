// The per-user step's choice of folders and its refusal of links, against a
// file system of the test's own; tests/e2e/InstallerTest.sh runs the real
// program under Wine as Active Setup would.
#include "installer/peruser/AffinityCopies.h"
#include "installer/peruser/EarlierSettings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace peruser;

namespace {

class FakeFiles : public IUserFiles {
 public:
  EntryKind Kind(const std::wstring& path) override {
    const auto found = entries.find(path);
    return found == entries.end() ? EntryKind::kMissing : found->second;
  }
  bool Copy(const std::wstring& from, const std::wstring& to, unsigned long& error) override {
    copies.emplace_back(from, to);
    if (to == failing) {
      error = 32;
      return false;
    }
    entries[to] = EntryKind::kFile;
    return true;
  }

  // A folder and every folder above it, up to the known folder.
  void Folder(const std::wstring& root, const std::vector<std::wstring>& below) {
    std::wstring path = root;
    for (const std::wstring& name : below) {
      path += L"\\" + name;
      entries.emplace(path, EntryKind::kFolder);
    }
  }

  std::map<std::wstring, EntryKind> entries;
  std::vector<std::pair<std::wstring, std::wstring>> copies;
  std::wstring failing;
};

const UserFolders kUser{L"C:\\Users\\jo", L"C:\\Users\\jo\\AppData\\Roaming"};
const std::wstring kPlugin = L"C:\\Program Files\\Velmora Plugin\\x64\\Velmora.8bf";
const std::wstring kPhoto2 = L"C:\\Users\\jo\\AppData\\Roaming\\Affinity\\Photo\\2.0\\Plugins";
const std::wstring kPhoto2b = L"C:\\Users\\jo\\.affinity\\Photo\\2.0\\Plugins";
const std::wstring kAffinity3 = L"C:\\Users\\jo\\.affinity\\Affinity\\3.0\\Plugins";

std::vector<Outcome> Outcomes(const std::vector<Placement>& placements) {
  std::vector<Outcome> outcomes;
  for (const Placement& placement : placements) outcomes.push_back(placement.outcome);
  return outcomes;
}

TEST(AffinityCopiesTest, TheThreeFoldersOfAffinityInTheUsersOwnFolders) {
  std::vector<std::wstring> paths;
  for (const AffinityFolder& folder : AffinityPluginFolders(kUser)) paths.push_back(folder.Path());
  EXPECT_EQ(paths, (std::vector<std::wstring>{kPhoto2, kPhoto2b, kAffinity3}));
  // A roaming folder redirected to a share is taken as the system gives it.
  const UserFolders redirected{L"C:\\Users\\jo", L"\\\\server\\home\\jo"};
  EXPECT_EQ(AffinityPluginFolders(redirected)[0].Path(),
            L"\\\\server\\home\\jo\\Affinity\\Photo\\2.0\\Plugins");
  EXPECT_EQ(AffinityPluginFolders(redirected)[0].root, L"\\\\server\\home\\jo");
}

TEST(AffinityCopiesTest, OnlyFoldersThatExistGetACopyAndNoneIsMade) {
  FakeFiles files;
  files.Folder(kUser.roamingAppData, {L"Affinity", L"Photo", L"2.0", L"Plugins"});
  files.Folder(kUser.profile, {L".affinity", L"Photo", L"2.0"});  // no Plugins yet
  const std::vector<Placement> placements =
      PlaceAffinityCopies(files, AffinityPluginFolders(kUser), kPlugin);
  EXPECT_EQ(Outcomes(placements),
            (std::vector<Outcome>{Outcome::kPlaced, Outcome::kNoFolder, Outcome::kNoFolder}));
  EXPECT_EQ(
      files.copies,
      (std::vector<std::pair<std::wstring, std::wstring>>{{kPlugin, kPhoto2 + L"\\Velmora.8bf"}}));
  EXPECT_EQ(placements[1].folder, kPhoto2b);

  // Again over the copy it left: replaced.
  files.copies.clear();
  PlaceAffinityCopies(files, AffinityPluginFolders(kUser), kPlugin);
  EXPECT_EQ(files.copies.size(), 1u);
}

TEST(AffinityCopiesTest, NothingIsWrittenThroughALinkAnywhereBelowTheKnownFolder) {
  // A link in the place of each folder of the way in turn, and of the file.
  const std::vector<std::wstring> below = {L".affinity", L"Affinity", L"3.0", L"Plugins"};
  for (size_t link = 0; link <= below.size(); ++link) {
    SCOPED_TRACE(link);
    FakeFiles files;
    files.Folder(kUser.profile, below);
    files.Folder(kUser.roamingAppData, {L"Affinity", L"Photo", L"2.0", L"Plugins"});
    std::wstring path = kUser.profile;
    for (size_t i = 0; i < link; ++i) path += L"\\" + below[i];
    path += link < below.size() ? L"\\" + below[link] : L"\\Velmora.8bf";
    files.entries[path] = EntryKind::kLink;
    const std::vector<Placement> placements =
        PlaceAffinityCopies(files, AffinityPluginFolders(kUser), kPlugin);
    // A link in the place of .affinity is on the way to the later Photo 2's
    // folder too.
    EXPECT_EQ(Outcomes(placements),
              (std::vector<Outcome>{Outcome::kPlaced,
                                    link == 0 ? Outcome::kRefusedLink : Outcome::kNoFolder,
                                    Outcome::kRefusedLink}));
    // The other folders are still served.
    EXPECT_EQ(files.copies, (std::vector<std::pair<std::wstring, std::wstring>>{
                                {kPlugin, kPhoto2 + L"\\Velmora.8bf"}}));
  }
  // A folder in the file's place is not written into either.
  FakeFiles files;
  files.Folder(kUser.profile, {L".affinity", L"Photo", L"2.0", L"Plugins", L"Velmora.8bf"});
  EXPECT_EQ(Outcomes(PlaceAffinityCopies(files, AffinityPluginFolders(kUser), kPlugin))[1],
            Outcome::kRefusedLink);
  EXPECT_TRUE(files.copies.empty());
}

TEST(AffinityCopiesTest, AFailedCopyIsToldWithTheSystemsCode) {
  FakeFiles files;
  files.Folder(kUser.profile, {L".affinity", L"Photo", L"2.0", L"Plugins"});
  files.failing = kPhoto2b + L"\\Velmora.8bf";
  const std::vector<Placement> placements =
      PlaceAffinityCopies(files, AffinityPluginFolders(kUser), kPlugin);
  EXPECT_EQ(placements[1].outcome, Outcome::kFailed);
  EXPECT_EQ(placements[1].error, 32u);
  // Without a known folder, nothing is looked at.
  FakeFiles none;
  EXPECT_EQ(Outcomes(PlaceAffinityCopies(none, AffinityPluginFolders(UserFolders{}), kPlugin)),
            (std::vector<Outcome>(3, Outcome::kNoFolder)));
  EXPECT_TRUE(none.copies.empty());
}

// Only the exact bytes an earlier release wrote are its file; any edit
// makes it the user's.
TEST(EarlierSettingsTest, OnlyTheEarlierReleasesOwnBytesAreItsFile) {
  std::string folder;
  EXPECT_TRUE(
      TryEarlierReleaseSettings("[General]\r\nApplicationPath=C:\\Old\\Velmora\\\r\n", folder));
  EXPECT_EQ(folder, "C:\\Old\\Velmora");
  EXPECT_TRUE(TryEarlierReleaseSettings("[General]\r\nApplicationPath=D:\\\\\r\n", folder));
  EXPECT_EQ(folder, "D:\\");
  for (const char* own :
       {"[General]\r\nApplicationPath=C:\\Old\\Velmora\r\n",
        "[General]\r\nApplicationPath=C:\\Old\\Velmora\\\r\n\r\n",
        "[General]\nApplicationPath=C:\\Old\\Velmora\\\n",
        "\xEF\xBB\xBF[General]\r\nApplicationPath=C:\\Old\\Velmora\\\r\n",
        "[General]\r\nApplicationPath=C:\\Old\\\\\r\n",
        "[General]\r\napplicationpath=C:\\Old\\\r\n", "[General]\r\nApplicationPath=\\\r\n",
        "[General]\r\nApplicationPath=C:\\A\r\nApplicationPath=C:\\B\\\r\n", ""}) {
    SCOPED_TRACE(own);
    EXPECT_FALSE(TryEarlierReleaseSettings(own, folder));
  }
}

}  // namespace

// The installer's check of a host's folder, against a file system of the
// test's own; tests/e2e/InstallerTest.sh runs it under Wine with real
// folders and links.
#include "installer/peruser/HostFolderCheck.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace peruser;

namespace {

class FakeFiles : public IUserFiles {
 public:
  EntryKind Kind(const std::wstring& path) override {
    asked.push_back(path);
    const auto found = entries.find(path);
    return found == entries.end() ? EntryKind::kMissing : found->second;
  }
  bool Copy(const std::wstring&, const std::wstring&, unsigned long& error) override {
    error = 5;
    return false;
  }
  // A folder and every folder above it below the drive.
  void Folder(const std::wstring& path) {
    for (size_t end = path.find(L'\\', 3);; end = path.find(L'\\', end + 1)) {
      entries.emplace(path.substr(0, end), EntryKind::kFolder);
      if (end == std::wstring::npos) break;
    }
  }
  std::map<std::wstring, EntryKind> entries;
  std::vector<std::wstring> asked;
};

const std::vector<std::wstring> kProgramFiles = {L"C:\\Program Files", L"C:\\Program Files (x86)"};
const std::wstring kElements = L"C:\\Program Files\\Adobe\\Photoshop Elements 2024\\Plug-Ins";

TEST(HostFolderCheckTest, AFolderInEitherProgramFilesWithoutLinksIsAdministrators) {
  FakeFiles files;
  files.Folder(kElements);
  files.Folder(L"C:\\Program Files (x86)\\Serif\\PhotoPlus X8\\Plugins");
  EXPECT_EQ(CheckHostFolder(files, kElements, kProgramFiles), HostFolderVerdict::kAdminOwned);
  EXPECT_EQ(CheckHostFolder(files, L"C:\\Program Files (x86)\\Serif\\PhotoPlus X8\\Plugins\\\\",
                            kProgramFiles),
            HostFolderVerdict::kAdminOwned);
  // Every folder from the host's up to Program Files, not Program Files itself.
  files.asked.clear();
  CheckHostFolder(files, kElements, kProgramFiles);
  EXPECT_EQ(files.asked,
            (std::vector<std::wstring>{kElements, kElements,
                                       L"C:\\Program Files\\Adobe\\Photoshop Elements 2024",
                                       L"C:\\Program Files\\Adobe"}));
}

TEST(HostFolderCheckTest, NamesAreComparedAsWindowsDoesWithoutRegardToCase) {
  FakeFiles files;
  files.Folder(L"c:\\PROGRAM FILES\\IrfanView\\Plugins\\Adobe 8BF");
  EXPECT_EQ(
      CheckHostFolder(files, L"c:\\PROGRAM FILES\\IrfanView\\Plugins\\Adobe 8BF", kProgramFiles),
      HostFolderVerdict::kAdminOwned);
}

TEST(HostFolderCheckTest, AFolderOutsideProgramFilesIsRefused) {
  FakeFiles files;
  files.Folder(L"C:\\Elements 2021\\Plug-Ins");
  files.Folder(L"C:\\Program Files Extra\\Plug-Ins");
  files.Folder(L"C:\\Users\\bob\\Plug-ins");
  const std::vector<std::wstring> folders = {
      L"C:\\Elements 2021\\Plug-Ins", L"C:\\Program Files Extra\\Plug-Ins",
      L"C:\\Users\\bob\\Plug-ins",    L"C:\\Program Files",
      L"C:\\Program Files\\",         L"D:\\Program Files\\Adobe"};
  for (const std::wstring& folder : folders) {
    EXPECT_EQ(CheckHostFolder(files, folder, kProgramFiles),
              HostFolderVerdict::kOutsideProgramFiles);
  }
}

TEST(HostFolderCheckTest, ANameThatDoesNotSayWhereItLeadsIsRefused) {
  FakeFiles files;
  files.Folder(kElements);
  for (const std::wstring& folder :
       {std::wstring(L"C:\\Program Files\\..\\Users\\bob"),
        std::wstring(L"C:\\Program Files\\.\\Adobe"), std::wstring(L"C:\\Program Files\\\\Adobe"),
        std::wstring(L"\\\\server\\share\\Program Files\\Adobe"),
        std::wstring(L"Program Files\\Adobe")}) {
    EXPECT_EQ(CheckHostFolder(files, folder, kProgramFiles),
              HostFolderVerdict::kOutsideProgramFiles);
  }
  // Nor is a whole drive a Program Files folder.
  EXPECT_EQ(CheckHostFolder(files, kElements, {L"C:\\"}), HostFolderVerdict::kOutsideProgramFiles);
}

TEST(HostFolderCheckTest, ALinkAnywhereBelowProgramFilesIsRefused) {
  for (const std::wstring& link :
       {kElements, std::wstring(L"C:\\Program Files\\Adobe\\Photoshop Elements 2024"),
        std::wstring(L"C:\\Program Files\\Adobe")}) {
    FakeFiles files;
    files.Folder(kElements);
    files.entries[link] = EntryKind::kLink;
    EXPECT_EQ(CheckHostFolder(files, kElements, kProgramFiles), HostFolderVerdict::kLinkOnTheWay);
  }
}

TEST(HostFolderCheckTest, AFolderThatIsNotThereOrIsAFileIsMissing) {
  FakeFiles files;
  EXPECT_EQ(CheckHostFolder(files, kElements, kProgramFiles), HostFolderVerdict::kMissing);
  files.Folder(L"C:\\Program Files\\Adobe\\Photoshop Elements 2024");
  files.entries[kElements] = EntryKind::kFile;
  EXPECT_EQ(CheckHostFolder(files, kElements, kProgramFiles), HostFolderVerdict::kMissing);
}

}  // namespace

// The rules by which the elevated installer writes and deletes, against a
// file system of the test's own that reports a link, or a folder others may
// change, at each depth; tests/e2e/InstallerTest.sh runs the program under
// Wine with real folders and links.
#include "installer/files/FolderRules.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace files;

namespace {

const std::string kAdministrators = "S-1-5-32-544";
const std::string kUsers = "S-1-5-32-545";
const std::string kAuthenticatedUsers = "S-1-5-11";
const std::string kCreatorOwner = "S-1-3-0";

// What Program Files and the folders installers make there carry.
Security AdminsOnly() {
  Security security;
  security.known = true;
  security.owner = kAdministrators;
  security.hasDacl = true;
  security.entries = {{true, false, 0x1F01FF, kAdministrators},
                      {true, false, 0x1F01FF, "S-1-5-18"},
                      {true, false, 0x1200A9, kUsers},
                      {true, true, 0x10000000, kCreatorOwner}};
  return security;
}

class FakeFolders : public IHeldFolders {
 public:
  Entry HoldRoot(const std::wstring& root) override {
    held = {root};
    return Look(root);
  }
  Entry HoldChild(const std::wstring& name, bool create, bool& made) override {
    const std::wstring path = held.back() + L"\\" + name;
    made = create && entries.find(path) == entries.end();
    if (made) entries[path] = Entry{EntryKind::kFolder, AdminsOnly()};
    held.push_back(path);
    return Look(path);
  }
  Outcome Write(const std::wstring& name, const std::vector<uint8_t>&, bool,
                unsigned long&) override {
    written.push_back(held.back() + L"\\" + name);
    return Outcome::kDone;
  }
  Outcome Remove(const std::wstring& name, bool, unsigned long&) override {
    written.push_back(L"-" + held.back() + L"\\" + name);
    return Outcome::kDone;
  }
  Entry Look(const std::wstring& path) {
    const auto found = entries.find(path);
    return found == entries.end() ? Entry{} : found->second;
  }
  // A folder and every folder above it, all administrators'.
  void Folder(const std::wstring& path) {
    for (size_t end = path.find(L'\\', 3);; end = path.find(L'\\', end + 1)) {
      entries.emplace(path.substr(0, end), Entry{EntryKind::kFolder, AdminsOnly()});
      if (end == std::wstring::npos) break;
    }
  }
  std::map<std::wstring, Entry> entries;
  std::vector<std::wstring> held;
  std::vector<std::wstring> written;
};

const std::vector<std::wstring> kRoots = {L"C:\\Program Files", L"C:\\Program Files (x86)"};
const std::wstring kPlugins = L"C:\\Program Files\\Adobe\\Adobe Photoshop 2025\\Plug-ins";
const std::vector<std::wstring> kChain = {L"C:\\Program Files", L"C:\\Program Files\\Adobe",
                                          L"C:\\Program Files\\Adobe\\Adobe Photoshop 2025",
                                          kPlugins};

// What the installer does with a host's folder: hold it, then write there.
Verdict PlaceInto(FakeFolders& folders, const std::wstring& folder) {
  bool made = false;
  const Verdict verdict = HoldFolder(folders, folder, kRoots, TrustedAccounts(), false, made);
  unsigned long error = 0;
  if (verdict == Verdict::kAdminOwned) folders.Write(L"Velmora.8bf", {}, false, error);
  return verdict;
}

TEST(FolderRulesTest, AFolderIsWrittenOnlyWhenEveryFolderFromTheRootDownIsAdministrators) {
  FakeFolders clean;
  clean.Folder(kPlugins);
  EXPECT_EQ(PlaceInto(clean, kPlugins + L"\\\\"), Verdict::kAdminOwned);
  EXPECT_EQ(clean.held, kChain);
  EXPECT_EQ(clean.written, std::vector<std::wstring>{kPlugins + L"\\Velmora.8bf"});

  // At each depth, the root included: a link, then a folder others may
  // change in each way, then unknown security. Nothing is written, and
  // nothing below the refused folder is opened.
  std::vector<Security> changeable;
  for (uint32_t right : {0x2u, 0x4u, 0x40u, 0x10000u, 0x40000u, 0x80000u, 0x10000000u}) {
    Security security = AdminsOnly();
    security.entries.push_back({true, false, right | 0x1200A9, kAuthenticatedUsers});
    changeable.push_back(security);
  }
  Security userOwned = AdminsOnly();
  userOwned.owner = "S-1-5-21-1-2-3-1001";
  changeable.push_back(userOwned);
  Security noDacl = AdminsOnly();
  noDacl.hasDacl = false;
  changeable.push_back(noDacl);
  changeable.push_back(Security{});
  for (size_t depth = 0; depth < kChain.size(); ++depth) {
    SCOPED_TRACE(depth);
    FakeFolders linked;
    linked.Folder(kPlugins);
    linked.entries[kChain[depth]].kind = EntryKind::kLink;
    EXPECT_EQ(PlaceInto(linked, kPlugins), Verdict::kLinkOnTheWay);
    EXPECT_TRUE(linked.written.empty());
    EXPECT_EQ(linked.held.size(), depth + 1);
    for (const Security& security : changeable) {
      FakeFolders open;
      open.Folder(kPlugins);
      open.entries[kChain[depth]].security = security;
      EXPECT_EQ(PlaceInto(open, kPlugins), Verdict::kOthersCanChange);
      EXPECT_TRUE(open.written.empty());
      EXPECT_EQ(open.held.size(), depth + 1);
    }
  }
}

TEST(FolderRulesTest, WhatIsNotThereOrOutsideTheRootsIsNeverOpened) {
  FakeFolders folders;
  folders.Folder(kPlugins);
  folders.entries[kPlugins + L"\\file"] = Entry{EntryKind::kFile, AdminsOnly()};
  EXPECT_EQ(PlaceInto(folders, kPlugins + L"\\Gone"), Verdict::kMissing);
  EXPECT_EQ(PlaceInto(folders, kPlugins + L"\\file"), Verdict::kMissing);
  // A root itself is held alone.
  EXPECT_EQ(PlaceInto(folders, L"C:\\Program Files\\"), Verdict::kAdminOwned);
  EXPECT_EQ(folders.held, std::vector<std::wstring>{L"C:\\Program Files"});
  for (const wchar_t* outside : {L"D:\\Adobe\\Photoshop 2025\\Plug-ins", L"C:\\",
                                 L"C:\\Program Files Evil\\x", L"C:\\Program Files\\..\\Users\\bob",
                                 L"\\\\server\\share\\Plug-ins", L"\\\\?\\C:\\Program Files\\Adobe",
                                 L"Program Files\\Adobe", L"C:\\Program Files\\\\Adobe"}) {
    SCOPED_TRACE(outside);
    FakeFolders none;
    EXPECT_EQ(PlaceInto(none, outside), Verdict::kOutsideRoots);
    EXPECT_TRUE(none.held.empty());
  }
  // A denying entry, or one only for what is made below, gives nobody a right.
  FakeFolders denied;
  denied.Folder(kPlugins);
  denied.entries[kPlugins].security.entries.push_back({false, false, 0x1F01FF, kUsers});
  denied.entries[kPlugins].security.entries.push_back({true, true, 0x1F01FF, kUsers});
  EXPECT_EQ(PlaceInto(denied, kPlugins), Verdict::kAdminOwned);
  // Names are compared as Windows compares them.
  FakeFolders upper;
  upper.Folder(kPlugins);
  bool made = false;
  EXPECT_EQ(HoldFolder(upper, L"c:\\PROGRAM FILES\\Adobe", kRoots, TrustedAccounts(), false, made),
            Verdict::kAdminOwned);
}

TEST(FolderRulesTest, MissingFoldersAreMadeOnlyBelowCheckedOnes) {
  FakeFolders folders;
  folders.Folder(L"C:\\Program Files");
  bool made = false;
  EXPECT_EQ(HoldFolder(folders, L"C:\\Program Files\\Velmora Plugin\\x64", kRoots,
                       TrustedAccounts(), true, made),
            Verdict::kAdminOwned);
  EXPECT_TRUE(made);
  FakeFolders linked;
  linked.Folder(L"C:\\Program Files");
  linked.entries[L"C:\\Program Files\\Velmora Plugin"] = Entry{EntryKind::kLink, {}};
  EXPECT_EQ(HoldFolder(linked, L"C:\\Program Files\\Velmora Plugin\\x64", kRoots, TrustedAccounts(),
                       true, made),
            Verdict::kLinkOnTheWay);
  EXPECT_EQ(linked.entries.count(L"C:\\Program Files\\Velmora Plugin\\x64"), 0u);
}

TEST(FolderRulesTest, TheInstallationGoesBelowARootIntoAFolderMadeNowOrIntoItsEarlierOne) {
  EXPECT_EQ(PlanOwnFolder(L"C:\\Program Files\\Velmora Plugin", false, L"", kRoots),
            OwnFolderPlan::kBelowRoot);
  EXPECT_EQ(PlanOwnFolder(L"C:\\VelmoraPlug", false, L"", kRoots), OwnFolderPlan::kMakeElsewhere);
  EXPECT_EQ(PlanOwnFolder(L"C:\\VelmoraPlug", true, L"", kRoots), OwnFolderPlan::kRefused);
  EXPECT_EQ(PlanOwnFolder(L"C:\\VelmoraPlug", true, L"c:\\velmoraplug\\", kRoots),
            OwnFolderPlan::kEarlierElsewhere);
  EXPECT_EQ(PlanOwnFolder(L"C:\\VelmoraPlug", true, L"C:\\Other", kRoots), OwnFolderPlan::kRefused);
  for (const wchar_t* never : {L"C:\\", L"C:\\Program Files", L"\\\\server\\share\\Velmora",
                               L"C:\\a\\..\\b", L"Velmora"}) {
    SCOPED_TRACE(never);
    EXPECT_EQ(PlanOwnFolder(never, false, never, kRoots), OwnFolderPlan::kRefused);
  }
}

}  // namespace

#include "exchange/WorkFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/Error.h"
#include "base/PathToolkit.h"
#include "host/PluginContext.h"
#include "support/TestFolders.h"

using namespace testing_support;

namespace {

bool AllZero(const char* buffer) {
  for (size_t i = 0; i < kPathSize; ++i) {
    if (buffer[i] != '\0') return false;
  }
  return true;
}

void FillWithOldPath(char* buffer) {
  std::memset(buffer, 'o', kPathSize - 1);
  buffer[kPathSize - 1] = '\0';
}

// Length that GetTempFolder adds to a temporary folder given without its
// final separator.
size_t TempFolderOverhead(const std::string& folder) {
  ScopedTempFolder temp(folder);
  std::string path;
  EXPECT_TRUE(GetTempFolder(path));
  return path.size() - folder.size();
}

TEST(FileFormats, MapHostFormatsToFileFormatsAndKinds) {
  EXPECT_EQ(GetFileFormat(None), None);
  EXPECT_EQ(GetFileFormat(RGB8), RGB8);
  EXPECT_EQ(GetFileFormat(Gray8), RGB8);
  EXPECT_EQ(GetFileFormat(RGB16), RGB16);
  EXPECT_EQ(GetFileFormat(Gray16), RGB16);
  EXPECT_EQ(GetFileFormat(RGB32F), RGB32F);
  EXPECT_EQ(GetFileFormat(Gray32F), RGB32F);
  EXPECT_EQ(GetFileFormat(7), None);
  EXPECT_EQ(GetFileFormat(-1), None);

  EXPECT_EQ(GetFileKind(None), eNoFileKind);
  EXPECT_EQ(GetFileKind(RGB8), ePixmap16);
  EXPECT_EQ(GetFileKind(RGB16), ePixmap16);
  EXPECT_EQ(GetFileKind(RGB32F), eFloatMap);
  // Only the file formats have a kind; gray host formats are not file formats.
  EXPECT_EQ(GetFileKind(Gray8), eNoFileKind);
  EXPECT_EQ(GetFileKind(Gray32F), eNoFileKind);
  EXPECT_EQ(GetFileKind(-1), eNoFileKind);
}

struct NameCase {
  int16_t mode;
  int32_t depth;
  int16_t planes;
  const char* exported;
  const char* processed;
};

TEST(FileNames, FollowTheHostImagesDepth) {
  const NameCase cases[] = {
      {host::kModeRGBColor, 8, 3, "Velmora.ppm", "Velmora_Processed.ppm"},
      {host::kModeGrayScale, 8, 1, "Velmora.ppm", "Velmora_Processed.ppm"},
      {host::kModeRGB48, 16, 3, "Velmora.ppm", "Velmora_Processed.ppm"},
      {host::kModeGray16, 16, 1, "Velmora.ppm", "Velmora_Processed.ppm"},
      {host::kModeRGB96, 32, 3, "Velmora.pfm", "Velmora_Processed.pfm"},
      {host::kModeGray32, 32, 1, "Velmora.pfm", "Velmora_Processed.pfm"},
  };
  for (const NameCase& c : cases) {
    TestContext context(c.mode, c.depth, c.planes);
    std::string name = "stale";
    EXPECT_TRUE(GetExportFileName(context.get(), name)) << c.mode << "/" << c.depth;
    EXPECT_EQ(name, c.exported);
    EXPECT_TRUE(GetProcessedFileName(context.get(), name));
    EXPECT_EQ(name, c.processed);
  }
}

TEST(FileNames, AreEmptyForUnsupportedImages) {
  TestContext cmyk(host::kModeCMYKColor, 8, 4);
  std::string name = "stale";
  EXPECT_FALSE(GetExportFileName(cmyk.get(), name));
  EXPECT_EQ(name, "");
  name = "stale";
  EXPECT_FALSE(GetProcessedFileName(cmyk.get(), name));
  EXPECT_EQ(name, "");

  TestContext oddDepth(host::kModeRGBColor, 12, 3);
  EXPECT_FALSE(GetExportFileName(oddDepth.get(), name));
  EXPECT_EQ(name, "");
}

TEST(FileNames, NeedAContextWithAHostRecord) {
  std::string name;
  EXPECT_THROW(GetExportFileName(nullptr, name), EError);
  EXPECT_THROW(GetProcessedFileName(nullptr, name), EError);
  TestContext context(host::kModeRGBColor, 8, 3);
  context->filterRecord = nullptr;
  EXPECT_THROW(GetExportFileName(context.get(), name), EError);
}

TEST(TempFolderTest, EndsWithABackslash) {
  TestFolder folder;
  ScopedTempFolder temp(folder.Path());
  std::string path = "stale";
  ASSERT_TRUE(GetTempFolder(path));
  EXPECT_EQ(path, ExpectedTempFolder(folder.Path()));
  EXPECT_EQ(path.back(), '\\');
}

TEST(TempFolderTest, RefusesAFolderThatLeavesNoRoomForTheWorkingFolderFiles) {
  TestFolder folder;
  // "velmorafilter\Velmora_Processed.ppm" (35 bytes) must follow the folder
  // and its separator within 259 bytes.
  const size_t longestLength = 259 - 35 - TempFolderOverhead(folder.Path());
  const std::string longest = MakeFolderOfLength(folder.Path(), longestLength);
  {
    ScopedTempFolder temp(longest);
    std::string path;
    EXPECT_TRUE(GetTempFolder(path));
    EXPECT_EQ(path, ExpectedTempFolder(longest));
    EXPECT_EQ(path.size(), 259u - 35u);
  }
  // One more: its short form where the system has one, else nothing.
  const std::string tooLong = MakeFolderOfLength(folder.Path(), longestLength + 1);
  {
    ScopedTempFolder temp(tooLong);
    std::string path = "stale";
    const std::string shortForm = SystemShortForm(tooLong);
    if (shortForm.empty()) {
      EXPECT_FALSE(GetTempFolder(path));
      EXPECT_EQ(path, "");
      EXPECT_FALSE(PrepareWorkFolder(path, false));
    } else {
      EXPECT_TRUE(GetTempFolder(path));
      EXPECT_EQ(path, ExpectedTempFolder(shortForm));
    }
  }
}

TEST(PrepareWorkFolderTest, CreatesTheFolderUnderTheTemporaryFolder) {
  TestFolder folder;
  ScopedTempFolder temp(folder.Path());
  std::string path;
  ASSERT_TRUE(PrepareWorkFolder(path, true));
  EXPECT_EQ(path, ExpectedWorkFolder(folder.Path()));
  EXPECT_TRUE(PathExists(path));
  // Once present it is used again.
  std::string again;
  EXPECT_TRUE(PrepareWorkFolder(again, false));
  EXPECT_EQ(again, path);
  EXPECT_TRUE(PrepareWorkFolder(again, true));
}

TEST(PrepareWorkFolderTest, FailsWhenTheFolderCannotBeCreated) {
  TestFolder folder;
  // A temporary folder that does not exist: its subfolder cannot be made.
  ScopedTempFolder temp(folder.File("missing"));
  std::string path;
  EXPECT_FALSE(PrepareWorkFolder(path, true));
}

TEST(PrepareWorkFolderTest, TakesAPlainFileOfThatNameAsPresent) {
  TestFolder folder;
  ScopedTempFolder temp(folder.Path());
  WriteFile(ExpectedWorkFolder(folder.Path()), "not a folder");
  std::string path;
  EXPECT_TRUE(PrepareWorkFolder(path, true));
  EXPECT_EQ(ReadFile(path), "not a folder");
}

#ifdef _WIN32
TEST(PrepareWorkFolderTest, EmptiesOnlyWhenAskedAndKeepsSubfolders) {
  TestFolder folder;
  ScopedTempFolder temp(folder.Path());
  std::string path;
  ASSERT_TRUE(PrepareWorkFolder(path, false));
  WriteFile(path + "\\Velmora.ppm", "old image");
  WriteFile(path + "\\stray.txt", "stray");
  MakeFolder(path + "\\sub");
  WriteFile(path + "\\sub\\kept.txt", "kept");

  ASSERT_TRUE(PrepareWorkFolder(path, false));
  EXPECT_EQ(ListFiles(path).size(), 2u);

  ASSERT_TRUE(PrepareWorkFolder(path, true));
  EXPECT_TRUE(ListFiles(path).empty());
  EXPECT_EQ(ReadFile(path + "\\sub\\kept.txt"), "kept");
}

TEST(SetPaths, EmptyTheWorkingFolderBeforeStoringThePaths) {
  TestFolder folder;
  ScopedTempFolder temp(folder.Path());
  const std::string work = ExpectedWorkFolder(folder.Path());
  MakeFolder(work);
  WriteFile(work + "\\Velmora_Processed.ppm", "from the last run");
  TestContext context(host::kModeRGBColor, 8, 3);
  EXPECT_EQ(SetExportPath(), 0);
  EXPECT_FALSE(Exists(work + "\\Velmora_Processed.ppm"));
  WriteFile(work + "\\Velmora.ppm", "written between the steps");
  EXPECT_EQ(SetImportPath(), 0);
  EXPECT_FALSE(Exists(work + "\\Velmora.ppm"));
}
#endif

TEST(SetPaths, StoreTheFullPathsOfBothImages) {
  TestFolder folder;
  ScopedTempFolder temp(folder.Path());
  const std::string work = ExpectedWorkFolder(folder.Path());

  TestContext rgb16(host::kModeRGB48, 16, 3);
  EXPECT_EQ(SetExportPath(), 0);
  EXPECT_EQ(SetImportPath(), 0);
  EXPECT_EQ(std::string(rgb16->exportPath), work + "\\Velmora.ppm");
  EXPECT_EQ(std::string(rgb16->importPath), work + "\\Velmora_Processed.ppm");
  EXPECT_TRUE(PathExists(work));
  EXPECT_EQ(std::string(rgb16->jobPath), "");
}

TEST(SetPaths, UseFloatMapsForA32BitGrayImage) {
  TestFolder folder;
  ScopedTempFolder temp(folder.Path());
  const std::string work = ExpectedWorkFolder(folder.Path());
  TestContext gray32(host::kModeGray32, 32, 1);
  EXPECT_EQ(SetExportPath(), 0);
  EXPECT_EQ(SetImportPath(), 0);
  EXPECT_EQ(std::string(gray32->exportPath), work + "\\Velmora.pfm");
  EXPECT_EQ(std::string(gray32->importPath), work + "\\Velmora_Processed.pfm");
}

TEST(SetPaths, GiveParamErrAndZeroFilledPathsForUnsupportedImages) {
  TestFolder folder;
  ScopedTempFolder temp(folder.Path());
  TestContext context(host::kModeLabColor, 8, 3);
  FillWithOldPath(context->exportPath);
  FillWithOldPath(context->importPath);
  EXPECT_EQ(SetExportPath(), kParamErr);
  EXPECT_EQ(SetImportPath(), kParamErr);
  EXPECT_TRUE(AllZero(context->exportPath));
  EXPECT_TRUE(AllZero(context->importPath));
}

TEST(SetPaths, GiveParamErrWithoutAWorkingFolder) {
  TestFolder folder;
  ScopedTempFolder temp(folder.File("missing"));
  TestContext context(host::kModeRGBColor, 8, 3);
  FillWithOldPath(context->exportPath);
  FillWithOldPath(context->importPath);
  EXPECT_EQ(SetExportPath(), kParamErr);
  EXPECT_EQ(SetImportPath(), kParamErr);
  EXPECT_TRUE(AllZero(context->exportPath));
  EXPECT_TRUE(AllZero(context->importPath));
}

TEST(SetPaths, StoreTheLongestPathsThatFitAndRefuseLongerOnes) {
  TestFolder folder;
  const size_t overhead = TempFolderOverhead(folder.Path());
  // The temporary folder, the working folder's name and its backslash, then
  // the file name. "Velmora.ppm" is 11 bytes, "Velmora_Processed.ppm" 21.
  const size_t fixed = overhead + std::strlen("velmorafilter") + 1;

  // The processed path takes exactly 259 bytes and fits.
  const std::string exact = MakeFolderOfLength(folder.Path(), 259 - fixed - 21);
  {
    ScopedTempFolder temp(exact);
    TestContext context(host::kModeRGBColor, 8, 3);
    EXPECT_EQ(SetExportPath(), 0);
    EXPECT_EQ(std::string(context->exportPath), ExpectedWorkFolder(exact) + "\\Velmora.ppm");
    EXPECT_EQ(SetImportPath(), 0);
    EXPECT_EQ(std::strlen(context->importPath), 259u);
  }
  // One byte more and the paths go under the folder's short form where the
  // system has one; else neither is stored, cut or whole.
  const std::string over = MakeFolderOfLength(folder.Path(), 260 - fixed - 21);
  {
    ScopedTempFolder temp(over);
    TestContext context(host::kModeRGBColor, 8, 3);
    FillWithOldPath(context->exportPath);
    FillWithOldPath(context->importPath);
    const std::string shortForm = SystemShortForm(over);
    if (shortForm.empty()) {
      EXPECT_EQ(SetExportPath(), kParamErr);
      EXPECT_TRUE(AllZero(context->exportPath));
      EXPECT_EQ(SetImportPath(), kParamErr);
      EXPECT_TRUE(AllZero(context->importPath));
    } else {
      EXPECT_EQ(SetExportPath(), 0);
      EXPECT_EQ(std::string(context->exportPath), ExpectedWorkFolder(shortForm) + "\\Velmora.ppm");
      EXPECT_EQ(SetImportPath(), 0);
      EXPECT_EQ(std::string(context->importPath),
                ExpectedWorkFolder(shortForm) + "\\Velmora_Processed.ppm");
    }
  }
}

TEST(SetPaths, NeedACurrentContext) {
  gContext = nullptr;
  EXPECT_THROW(SetExportPath(), EError);
  EXPECT_THROW(SetImportPath(), EError);
}

}  // namespace

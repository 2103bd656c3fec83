#include "formats/JobDescription.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/Error.h"
#include "exchange/WorkFolder.h"
#include "host/PluginContext.h"
#include "support/TestFolders.h"

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace testing_support;

namespace {

std::string ExpectedDocument(const std::string& workFolder, const char* pluginType,
                             const char* extension) {
  const std::string e = extension;
  return std::string("<?xml version=\"1.0\"?>\r\n") +
         "<General>\r\n"
         "<SourceApplication>Photoshop</SourceApplication>\r\n"
         "<PluginType>" +
         pluginType + "</PluginType>\r\n" +
         "<ImageCount>1</ImageCount>\r\n"
         "<ImportPath>" +
         workFolder + "</ImportPath>\r\n" +
         "<SourcePath>NA</SourcePath>\r\n"
         "<ImageList>\r\n"
         "<Image0000>Velmora." +
         e + "</Image0000>\r\n" +
         "</ImageList>\r\n"
         "<ExportPath>" +
         workFolder + "</ExportPath>\r\n" + "<ExportImage>Velmora_Processed." + e +
         "</ExportImage>\r\n" + "</General>\r\n";
}

void SetOldJobPath(PluginContext* context) {
  std::strcpy(context->jobPath, "C:\\previous\\Data.lif");
}

// Each case redirects the temporary folder into a fresh folder of its own.
class JobDescriptionTest : public ::testing::Test {
 protected:
  TestFolder folder_;
  ScopedTempFolder temp_{folder_.Path()};
  std::string work_ = ExpectedWorkFolder(folder_.Path());
  std::string job_ = work_ + "\\Data.lif";
};

TEST_F(JobDescriptionTest, WritesThe13LinesForA16BitImage) {
  TestContext context(host::kModeRGB48, 16, 3);
  ASSERT_EQ(WriteJobDescription(context.get()), 0);
  const std::string expected = ExpectedDocument(work_, "FILTER", "ppm");
  EXPECT_EQ(ReadFile(job_), expected);
  EXPECT_EQ(std::string(context->jobPath), job_);
  // Exactly 13 lines, each ended by CR LF, and nothing after the last.
  size_t lines = 0;
  for (size_t at = expected.find("\r\n"); at != std::string::npos;
       at = expected.find("\r\n", at + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, 13u);
  EXPECT_EQ(expected.substr(expected.size() - 12), "</General>\r\n");
}

TEST_F(JobDescriptionTest, Writes8BitImagesAsPixmapsToo) {
  TestContext context(host::kModeGrayScale, 8, 1);
  ASSERT_EQ(WriteJobDescription(context.get()), 0);
  EXPECT_EQ(ReadFile(job_), ExpectedDocument(work_, "FILTER", "ppm"));
}

TEST_F(JobDescriptionTest, NamesFloatMapsForA32BitImage) {
  TestContext context(host::kModeRGB96, 32, 3);
  ASSERT_EQ(WriteJobDescription(context.get()), 0);
  EXPECT_EQ(ReadFile(job_), ExpectedDocument(work_, "FILTER", "pfm"));
  TestContext gray(host::kModeGray32, 32, 1);
  ASSERT_EQ(WriteJobDescription(gray.get()), 0);
  EXPECT_EQ(ReadFile(job_), ExpectedDocument(work_, "FILTER", "pfm"));
}

TEST_F(JobDescriptionTest, NamesThePluginType) {
  const struct {
    int32_t type;
    const char* text;
  } cases[] = {{0, "EXPORT"}, {1, "FILTER"}, {2, "UNKNOWN"}, {-1, "UNKNOWN"}};
  for (const auto& c : cases) {
    TestContext context(host::kModeRGBColor, 8, 3);
    context->pluginType = c.type;
    ASSERT_EQ(WriteJobDescription(context.get()), 0) << c.type;
    EXPECT_EQ(ReadFile(job_), ExpectedDocument(work_, c.text, "ppm")) << c.type;
  }
}

TEST_F(JobDescriptionTest, ReplacesALongerDescriptionCompletely) {
  MakeFolder(work_);
  WriteFile(job_, std::string(5000, '<'));
  TestContext context(host::kModeRGBColor, 8, 3);
  ASSERT_EQ(WriteJobDescription(context.get()), 0);
  EXPECT_EQ(ReadFile(job_), ExpectedDocument(work_, "FILTER", "ppm"));
}

TEST_F(JobDescriptionTest, CreatesTheWorkingFolderWithoutEmptyingIt) {
  TestContext context(host::kModeRGBColor, 8, 3);
  ASSERT_EQ(WriteJobDescription(context.get()), 0);
  EXPECT_TRUE(std::filesystem::is_directory(work_));
#ifdef _WIN32
  WriteFile(work_ + "\\Velmora.ppm", "exported image");
  ASSERT_EQ(WriteJobDescription(context.get()), 0);
  EXPECT_EQ(ReadFile(work_ + "\\Velmora.ppm"), "exported image");
#endif
}

TEST_F(JobDescriptionTest, FailsWithoutWritingForUnsupportedImages) {
  TestContext context(host::kModeCMYKColor, 8, 4);
  SetOldJobPath(context.get());
  EXPECT_EQ(WriteJobDescription(context.get()), kParamErr);
  EXPECT_FALSE(Exists(job_));
  EXPECT_STREQ(context->jobPath, "C:\\previous\\Data.lif");
}

TEST_F(JobDescriptionTest, FailsWhenTheFileCannotBeOpened) {
  MakeFolder(job_);  // a folder where the file should go
  TestContext context(host::kModeRGBColor, 8, 3);
  SetOldJobPath(context.get());
  EXPECT_EQ(WriteJobDescription(context.get()), kParamErr);
  EXPECT_STREQ(context->jobPath, "C:\\previous\\Data.lif");
}

TEST_F(JobDescriptionTest, NeedsAContextWithAHostRecord) {
  EXPECT_THROW(WriteJobDescription(nullptr), EError);
  TestContext context(host::kModeRGBColor, 8, 3);
  context->filterRecord = nullptr;
  EXPECT_THROW(WriteJobDescription(context.get()), EError);
  EXPECT_FALSE(Exists(job_));
}

TEST_F(JobDescriptionTest, EscapesTheAmpersandOfAFolderName) {
  const std::string odd = folder_.File("R&D a;b'c");
  MakeFolder(odd);
  ScopedTempFolder temp(odd);
  TestContext context(host::kModeRGBColor, 8, 3);
  ASSERT_EQ(WriteJobDescription(context.get()), 0);
  const std::string work = ExpectedWorkFolder(odd);
  std::string escaped = work;
  const size_t at = escaped.find("R&D");
  ASSERT_NE(at, std::string::npos);
  escaped.replace(at, 3, "R&amp;D");
  EXPECT_EQ(ReadFile(work + "\\Data.lif"), ExpectedDocument(escaped, "FILTER", "ppm"));
  // The file itself is where the unescaped path says.
  EXPECT_EQ(std::string(context->jobPath), work + "\\Data.lif");
}

TEST(JobDescriptionPaths, RefusesATemporaryFolderTooLongForTheWorkingFolderBeforeOpeningAnything) {
  TestFolder folder;
  std::string probe;
  size_t overhead;
  {
    ScopedTempFolder temp(folder.Path());
    ASSERT_TRUE(GetTempFolder(probe));
    overhead = probe.size() - folder.Path().size();
  }
  // The longest temporary folder is the one that leaves 259 bytes for the
  // longest file of the working folder, the processed image.
  const size_t fixed =
      overhead + std::strlen("velmorafilter") + 1 + std::strlen("Velmora_Processed.ppm");

  const std::string longest = MakeFolderOfLength(folder.Path(), 259 - fixed);
  {
    ScopedTempFolder temp(longest);
    TestContext context(host::kModeRGBColor, 8, 3);
    ASSERT_EQ(WriteJobDescription(context.get()), 0);
    EXPECT_EQ(std::string(context->jobPath), ExpectedWorkFolder(longest) + "\\Data.lif");
    EXPECT_EQ(ReadFile(context->jobPath).size(),
              ExpectedDocument(ExpectedWorkFolder(longest), "FILTER", "ppm").size());
  }
  // One byte more: the job goes under the folder's short form where the
  // system has one; else nothing is opened and the old path stays.
  const std::string over = MakeFolderOfLength(folder.Path(), 260 - fixed);
  {
    ScopedTempFolder temp(over);
    TestContext context(host::kModeRGBColor, 8, 3);
    SetOldJobPath(context.get());
    const std::string shortForm = SystemShortForm(over);
    if (shortForm.empty()) {
      EXPECT_EQ(WriteJobDescription(context.get()), kParamErr);
      EXPECT_STREQ(context->jobPath, "C:\\previous\\Data.lif");
      EXPECT_FALSE(Exists(ExpectedWorkFolder(over) + "\\Data.lif"));
    } else {
      ASSERT_EQ(WriteJobDescription(context.get()), 0);
      const std::string work = ExpectedWorkFolder(shortForm);
      EXPECT_EQ(std::string(context->jobPath), work + "\\Data.lif");
      EXPECT_EQ(ReadFile(context->jobPath), ExpectedDocument(work, "FILTER", "ppm"));
    }
  }
}

TEST(JobDescriptionPaths, FailsWithoutATemporaryFolder) {
  TestFolder folder;
  ScopedTempFolder temp(folder.File("missing"));
  TestContext context(host::kModeRGBColor, 8, 3);
  SetOldJobPath(context.get());
  EXPECT_EQ(WriteJobDescription(context.get()), kParamErr);
  EXPECT_STREQ(context->jobPath, "C:\\previous\\Data.lif");
}

#ifndef _WIN32
// Natively the job file is a plain name in the temporary folder, so a link of
// that name can lead its bytes to a device that is always full.
TEST_F(JobDescriptionTest, FailsWhenTheDescriptionCannotBeWrittenCompletely) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  MakeFolder(work_);
  ASSERT_EQ(::symlink("/dev/full", job_.c_str()), 0);
  TestContext context(host::kModeRGBColor, 8, 3);
  EXPECT_EQ(WriteJobDescription(context.get()), kParamErr);
}

// What xmllint reads as the text of ImportPath; its exit status in status.
std::string XmllintImportPath(const std::string& path, int& status) {
  const std::string output = path + ".xpath";
  const std::string command = "/usr/bin/xmllint --xpath 'string(/General/ImportPath)' '" + path +
                              "' >'" + output + "' 2>/dev/null";
  status = std::system(command.c_str());
  std::string text = ReadFile(output);
  if (!text.empty() && text.back() == '\n') text.pop_back();  // xmllint ends its answer so
  return text;
}

TEST_F(JobDescriptionTest, IsWellFormedForARealXmlReaderWhateverTheFolderHolds) {
  if (!Exists("/usr/bin/xmllint")) FAIL() << "xmllint is not installed";
  TestContext context(host::kModeRGB96, 32, 3);
  int status = -1;
  ASSERT_EQ(WriteJobDescription(context.get()), 0);
  EXPECT_EQ(XmllintImportPath(context->jobPath, status), work_);
  EXPECT_EQ(status, 0) << ReadFile(context->jobPath);

  // Markup characters in the folder name reach the reader as they are.
  const std::string odd = folder_.File("R&D <x> & y");
  MakeFolder(odd);
  ScopedTempFolder temp(odd);
  ASSERT_EQ(WriteJobDescription(context.get()), 0);
  EXPECT_EQ(XmllintImportPath(context->jobPath, status), ExpectedWorkFolder(odd));
  EXPECT_EQ(status, 0) << ReadFile(context->jobPath);

  // The reader is really looking: it refuses a bare ampersand.
  std::string broken = ReadFile(context->jobPath);
  broken.replace(broken.find("&amp;"), 5, "&");
  WriteFile(context->jobPath, broken);
  XmllintImportPath(context->jobPath, status);
  EXPECT_NE(status, 0);
}
#endif

}  // namespace

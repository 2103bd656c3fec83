#include "formats/XmlWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/Error.h"
#include "support/TestFolders.h"

using namespace testing_support;

namespace {

const std::string kDeclarationLine = "<?xml version=\"1.0\"?>\r\n";

class XmlWriterTest : public ::testing::Test {
 protected:
  TestFolder folder_;
  std::string path_ = folder_.File("doc.xml");
};

TEST_F(XmlWriterTest, TheDeclarationIs21BytesAndCrLf) {
  EXPECT_EQ(kDeclarationLine.size(), 23u);
  XmlWriter writer;
  ASSERT_TRUE(writer.OpenDocument(path_.c_str()));
  EXPECT_EQ(writer.Text(), kDeclarationLine);
}

TEST_F(XmlWriterTest, WritesElementsOnlyAtFlush) {
  XmlWriter writer;
  ASSERT_TRUE(writer.OpenDocument(path_.c_str()));
  writer.BeginElement("Root", true);
  writer.AddElement("Name", "value");
  writer.AddIntElement("Count", 1);
  writer.BeginElement("Inline", false);
  writer.EndElement("Inline");
  writer.EndElement("Root");
  EXPECT_EQ(ReadFile(path_), "") << "nothing reaches the disk before Flush";

  const std::string expected = kDeclarationLine +
                               "<Root>\r\n"
                               "<Name>value</Name>\r\n"
                               "<Count>1</Count>\r\n"
                               "<Inline></Inline>\r\n"
                               "</Root>\r\n";
  EXPECT_EQ(writer.Text(), expected);
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(writer.Text(), expected);
  ASSERT_TRUE(writer.CloseDocument());
  EXPECT_EQ(writer.Text(), "");
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ(ReadFile(path_), expected);
}

TEST_F(XmlWriterTest, EscapesAmpersandAndAngleBracketsInElementText) {
  XmlWriter writer;
  ASSERT_TRUE(writer.OpenDocument(path_.c_str()));
  writer.AddElement("Path", "C:\\R&D <c> \"d\" 'e' &amp; >>");
  writer.AddElement("Plain", "C:\\Temp\\velmorafilter \xE9;");
  writer.AddElement("Empty", "");
  EXPECT_EQ(writer.Text(), kDeclarationLine +
                               "<Path>C:\\R&amp;D &lt;c&gt; \"d\" 'e' &amp;amp; &gt;&gt;</Path>\r\n"
                               "<Plain>C:\\Temp\\velmorafilter \xE9;</Plain>\r\n"
                               "<Empty></Empty>\r\n");
}

TEST_F(XmlWriterTest, FormatsIntegersInDecimalInAtMostTenCharacters) {
  XmlWriter writer;
  writer.AddIntElement("N", 0);
  writer.AddIntElement("N", -5);
  writer.AddIntElement("N", 2147483647);
  writer.AddIntElement("N", -2147483647 - 1);
  EXPECT_EQ(writer.Text(), "<N>0</N>\r\n<N>-5</N>\r\n<N>2147483647</N>\r\n<N>-214748364</N>\r\n");
}

TEST_F(XmlWriterTest, AClosedWriterOnlyCollectsText) {
  XmlWriter writer;
  writer.AddElement("A", "b");
  EXPECT_EQ(writer.Text(), "<A>b</A>\r\n");
  EXPECT_TRUE(writer.Flush());
  EXPECT_TRUE(writer.CloseDocument());
  EXPECT_EQ(writer.Text(), "");
}

TEST_F(XmlWriterTest, OpeningStartsAFreshDocumentAndTruncates) {
  WriteFile(path_, std::string(4000, 'x'));
  XmlWriter writer;
  writer.AddElement("Dropped", "text");
  ASSERT_TRUE(writer.OpenDocument(path_.c_str()));
  EXPECT_EQ(writer.Text(), kDeclarationLine);
  EXPECT_EQ(ReadFile(path_), "");
  ASSERT_TRUE(writer.Flush());
  ASSERT_TRUE(writer.CloseDocument());
  EXPECT_EQ(ReadFile(path_), kDeclarationLine);
}

TEST_F(XmlWriterTest, FailsToOpenInAMissingFolderAndKeepsTheTextEmpty) {
  XmlWriter writer;
  writer.AddElement("Dropped", "text");
  const std::string inMissing =
      (std::filesystem::path(folder_.File("missing")) / "doc.xml").string();
  EXPECT_FALSE(writer.OpenDocument(inMissing.c_str()));
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ(writer.Text(), "");
}

TEST_F(XmlWriterTest, RefusesNullNamesAndPaths) {
  XmlWriter writer;
  EXPECT_THROW(writer.OpenDocument(nullptr), EError);
  EXPECT_THROW(writer.OpenDocument(""), EError);
  EXPECT_THROW(writer.BeginElement(nullptr, true), EError);
  EXPECT_THROW(writer.EndElement(nullptr), EError);
  EXPECT_THROW(writer.AddElement(nullptr, "v"), EError);
  EXPECT_THROW(writer.AddElement("n", nullptr), EError);
  EXPECT_THROW(writer.AddIntElement(nullptr, 1), EError);
  EXPECT_EQ(writer.Text(), "");
}

TEST_F(XmlWriterTest, RefusesToOpenOverAnOpenDocument) {
  XmlWriter writer;
  ASSERT_TRUE(writer.OpenDocument(path_.c_str()));
  EXPECT_THROW(writer.OpenDocument(folder_.File("other.xml").c_str()), EError);
  EXPECT_TRUE(writer.IsOpen());
}

TEST_F(XmlWriterTest, DestructionClosesTheFile) {
  {
    XmlWriter writer;
    ASSERT_TRUE(writer.OpenDocument(path_.c_str()));
    writer.AddElement("A", "b");
  }
  // An open descriptor would keep Windows from deleting the file.
  std::error_code error;
  EXPECT_TRUE(std::filesystem::remove(path_, error)) << error.message();
}

#ifndef _WIN32
TEST_F(XmlWriterTest, ReportsAWriteThatDoesNotComplete) {
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  XmlWriter writer;
  ASSERT_TRUE(writer.OpenDocument("/dev/full"));
  writer.AddElement("A", "b");
  EXPECT_FALSE(writer.Flush());
  EXPECT_TRUE(writer.CloseDocument());
}
#endif

}  // namespace

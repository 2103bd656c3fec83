// BinaryFile on real files in a per-test folder.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "base/BinaryFile.h"
#include "base/Error.h"
#include "support/TestContext.h"

namespace {

using testsupport::Bytes;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

TEST(BinaryFileTest, ClosedFileClosesHarmlessly) {
  BinaryFile file;
  EXPECT_EQ(file.descriptor, -1);
  EXPECT_TRUE(Close(file));
  EXPECT_TRUE(Close(file));
  EXPECT_EQ(file.descriptor, -1);
}

TEST(BinaryFileTest, CreateTruncatesAndWritesExactly) {
  TempFolder folder;
  const std::string path = folder.File("a.bin");
  WriteBytes(path, Bytes("a much longer old content"));
  BinaryFile file;
  ASSERT_TRUE(Open(file, path, true, true));
  EXPECT_NE(file.descriptor, -1);
  EXPECT_TRUE(Write(file, "abc\n\r\n", 6));
  EXPECT_TRUE(Close(file));
  EXPECT_EQ(ReadBytes(path), Bytes("abc\n\r\n"));  // binary: no newline translation
}

TEST(BinaryFileTest, OpenWithoutCreateFailsForAMissingFile) {
  TempFolder folder;
  BinaryFile file;
  EXPECT_FALSE(Open(file, folder.File("missing.bin"), false, false));
  EXPECT_EQ(file.descriptor, -1);
  EXPECT_THROW(Open(file, "", false, false), EError);
}

TEST(BinaryFileTest, ReadIsAllOrNothingAndKeepsWhatArrived) {
  TempFolder folder;
  const std::string path = folder.File("r.bin");
  WriteBytes(path, Bytes("12345"));
  BinaryFile file;
  ASSERT_TRUE(Open(file, path, false, false));
  EXPECT_EQ(Length(file), 5u);
  char buffer[8] = {};
  EXPECT_TRUE(Read(file, buffer, 2));
  EXPECT_EQ(Length(file), 5u);  // the position is not disturbed
  EXPECT_FALSE(Read(file, buffer, 8));
  EXPECT_EQ(std::string(buffer, 3), "345");
  EXPECT_FALSE(Read(file, buffer, 1));  // at end of file
}

TEST(BinaryFileTest, ArgumentErrorsThrow) {
  TempFolder folder;
  BinaryFile closed;
  char byte = 0;
  EXPECT_THROW(Write(closed, &byte, 1), EError);
  EXPECT_THROW(Read(closed, &byte, 1), EError);
  EXPECT_THROW(Length(closed), EError);
  BinaryFile file;
  ASSERT_TRUE(Open(file, folder.File("w.bin"), true, true));
  EXPECT_THROW(Write(file, &byte, 0), EError);
  EXPECT_THROW(Write(file, nullptr, 1), EError);
  EXPECT_THROW(Read(file, nullptr, 1), EError);
  EXPECT_THROW(CreateFolder(""), EError);
}

TEST(BinaryFileTest, EmptyFileHasLengthZeroAndReadOnlyFileRefusesWrites) {
  TempFolder folder;
  const std::string path = folder.File("empty.bin");
  WriteBytes(path, {});
  BinaryFile file;
  ASSERT_TRUE(Open(file, path, false, false));
  EXPECT_EQ(Length(file), 0u);
  EXPECT_FALSE(Write(file, "x", 1));
}

TEST(BinaryFileTest, BytesLeftCountFromThePositionPastFourGigabytes) {
  TempFolder folder;
  const std::string path = folder.File("big.bin");
  WriteBytes(path, Bytes("abcdef"));
  BinaryFile file;
  ASSERT_TRUE(Open(file, path, false, false));
  uint64_t left = 1;
  ASSERT_TRUE(TryGetBytesLeft(file, left));
  EXPECT_EQ(left, 6u);
  char head[2];
  ASSERT_TRUE(Read(file, head, 2));
  ASSERT_TRUE(TryGetBytesLeft(file, left));
  EXPECT_EQ(left, 4u);
  ASSERT_TRUE(Read(file, head, 2));  // the position did not move
  EXPECT_EQ(std::string(head, 2), "cd");
  ASSERT_TRUE(Close(file));

  // Sparse, so that nothing is written: 5 GiB + 6 must neither wrap nor read as 0.
  const int64_t size = (int64_t{5} << 30) + 6;
  BinaryFile grown;
  ASSERT_TRUE(Open(grown, path, false, true));
#ifdef _WIN32
  ASSERT_EQ(_chsize_s(grown.descriptor, size), 0);
#else
  ASSERT_EQ(ftruncate(grown.descriptor, size), 0);
#endif
  ASSERT_TRUE(TryGetBytesLeft(grown, left));
  EXPECT_EQ(left, static_cast<uint64_t>(size));
  ASSERT_TRUE(Close(grown));
  EXPECT_THROW(TryGetBytesLeft(grown, left), EError);
}

TEST(BinaryFileTest, MoveTransfersOwnershipAndDestructorCloses) {
  TempFolder folder;
  const std::string path = folder.File("m.bin");
  BinaryFile target;
  {
    BinaryFile source;
    ASSERT_TRUE(Open(source, path, true, true));
    const int32_t fd = source.descriptor;
    target = std::move(source);
    EXPECT_EQ(source.descriptor, -1);
    EXPECT_EQ(target.descriptor, fd);
    BinaryFile& alias = target;
    target = std::move(alias);  // self-move keeps the file
    EXPECT_EQ(target.descriptor, fd);
  }
  EXPECT_TRUE(Write(target, "ok", 2));
  { BinaryFile scoped = std::move(target); }
  EXPECT_EQ(ReadBytes(path), Bytes("ok"));
}

TEST(BinaryFileTest, FoldersAndBackslashes) {
  TempFolder folder;
  const std::string sub = folder.File("sub");
  EXPECT_TRUE(CreateFolder(sub));
  EXPECT_FALSE(CreateFolder(sub));  // exists already
  EXPECT_FALSE(CreateFolder(folder.File("no/such/parent")));
  EXPECT_TRUE(EndsWithBackslash("C:\\"));
  EXPECT_FALSE(EndsWithBackslash("C:"));
  EXPECT_FALSE(EndsWithBackslash(""));
}

}  // namespace

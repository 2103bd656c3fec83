// BinaryFile on real files in a per-test folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "base/BinaryFile.h"
#include "base/BlockReader.h"
#include "base/BlockWriter.h"
#include "base/Error.h"
#include "base/SystemPaths.h"
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

// Blocks of 10 bytes for a file of 36 written in pieces: full blocks go to
// the file in the background, each after the one before, and the last one
// before the piece that completes the file returns.
TEST(BinaryFileTest, BlockWriterWritesFullBlocksAndTheLastBytesAsTheyArrive) {
  TempFolder folder;
  const std::string path = folder.File("blocks.bin");
  const std::string text = "0123456789abcdefghijklmnopqrstuvwxyz";
  BinaryFile file;
  ASSERT_TRUE(Open(file, path, true, true));
  BlockWriter writer(file, 10, text.size());
  ASSERT_TRUE(writer.Append(text.data(), 7));
  EXPECT_TRUE(ReadBytes(path).empty());
  ASSERT_TRUE(writer.Append(text.data() + 7, 25));  // three blocks handed over, two bytes held
  const std::vector<uint8_t> sofar = ReadBytes(path);
  EXPECT_TRUE(sofar.size() >= 20 && sofar.size() <= 30) << sofar.size();  // the third on its way
  EXPECT_EQ(sofar, Bytes(text.substr(0, sofar.size())));
  ASSERT_TRUE(writer.Append(text.data() + 32, 4));  // the last bytes: written at once
  EXPECT_EQ(ReadBytes(path), Bytes(text));
  EXPECT_TRUE(writer.Flush());  // nothing left to write
  EXPECT_EQ(writer.FailureCode(), 0u);
  EXPECT_THROW(writer.Append(nullptr, 1), EError);
  EXPECT_THROW(writer.Append(text.data(), 0), EError);
  EXPECT_THROW(BlockWriter(file, 0, 1), EError);
  ASSERT_TRUE(Close(file));

  // A file that takes no writes: the block written in the background fails
  // the next call that hands one over, or Flush, and every call after it,
  // with the system's reason kept; what reached the file before stays.
  BinaryFile readOnly;
  ASSERT_TRUE(Open(readOnly, path, false, false));
  BlockWriter failing(readOnly, 4, 100);
  EXPECT_TRUE(failing.Append("abc", 3));
  EXPECT_TRUE(failing.Append("def", 3));  // "abcd" on its way
  EXPECT_FALSE(failing.Flush());
  EXPECT_NE(failing.FailureCode(), 0u);
  EXPECT_FALSE(failing.Append("g", 1));
  EXPECT_EQ(failing.Reserve(1), nullptr);
  EXPECT_EQ(ReadBytes(path), Bytes(text));
  BlockWriter failingAtOnce(readOnly, 4, 4);  // one block: written as it fills
  EXPECT_FALSE(failingAtOnce.Append("abcd", 4));
  EXPECT_NE(failingAtOnce.FailureCode(), 0u);
  // What a background write throws is thrown on the writer's own thread.
  BinaryFile closed;
  BlockWriter throwing(closed, 4, 100);
  EXPECT_TRUE(throwing.Append("abcd", 4));
  EXPECT_THROW(throwing.Flush(), EError);
}

// Many blocks through both buffers, in pieces that straddle them, made in
// place and appended: the file holds every byte once, in order, whichever
// buffer the writer fills while the other is written; a reader with as many
// blocks gives them back in pieces of other sizes.
TEST(BinaryFileTest, BlocksWrittenAndReadInTheBackgroundKeepEveryByteInOrder) {
  TempFolder folder;
  const std::string path = folder.File("many.bin");
  std::vector<uint8_t> expected(100000);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<uint8_t>(i * 7 + i / 251);
  BinaryFile file;
  ASSERT_TRUE(Open(file, path, true, true));
  {
    BlockWriter writer(file, 1000, expected.size());
    for (size_t done = 0, step = 1; done < expected.size(); step = step % 977 + 13) {
      const auto count = static_cast<uint32_t>(std::min(step, expected.size() - done));
      if (step % 2 == 0) {
        ASSERT_TRUE(writer.Append(expected.data() + done, count));
      } else {
        void* room = writer.Reserve(count);
        ASSERT_NE(room, nullptr);
        std::memcpy(room, expected.data() + done, count);
        ASSERT_TRUE(writer.Commit(count));
      }
      done += count;
    }
    EXPECT_EQ(ReadBytes(path), expected);  // whole when the last piece is in
  }
  ASSERT_TRUE(Close(file));

  ASSERT_TRUE(Open(file, path, false, false));
  BlockReader reader(file, 1000, expected.size());
  std::vector<uint8_t> got;
  for (uint32_t step = 1; got.size() < expected.size(); step = step % 983 + 17) {
    const auto count = static_cast<uint32_t>(std::min<size_t>(step, expected.size() - got.size()));
    const auto* piece = static_cast<const uint8_t*>(reader.Take(count));
    ASSERT_NE(piece, nullptr) << got.size();
    got.insert(got.end(), piece, piece + count);
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(reader.Take(1), nullptr);
}

// Pieces made in place: the room for one that does not fit in what is left
// of the block comes after that block has been written.
TEST(BinaryFileTest, BlockWriterHandsOutRoomToFillInPlace) {
  TempFolder folder;
  const std::string path = folder.File("room.bin");
  BinaryFile file;
  ASSERT_TRUE(Open(file, path, true, true));
  BlockWriter writer(file, 8, 14);
  auto put = [&writer](const char* text, uint32_t count) {
    void* room = writer.Reserve(count);
    if (room == nullptr) return false;
    std::memcpy(room, text, count);
    return writer.Commit(count);
  };
  ASSERT_TRUE(put("abc", 3));
  ASSERT_TRUE(put("def", 3));
  EXPECT_TRUE(ReadBytes(path).empty());
  EXPECT_EQ(writer.Reserve(9), nullptr);  // more than a block
  ASSERT_TRUE(put("ghi", 3));             // does not fit: "abcdef" goes first
  ASSERT_TRUE(writer.Append("jk", 2));
  ASSERT_TRUE(put("lmn", 3));  // the last bytes: written at once
  EXPECT_EQ(ReadBytes(path), Bytes("abcdefghijklmn"));
  EXPECT_THROW(writer.Reserve(0), EError);
  EXPECT_THROW(writer.Commit(9), EError);
}

TEST(BinaryFileTest, BlockReaderHandsOutPiecesAcrossBlocksAndReadsNoFurtherThanItsTotal) {
  TempFolder folder;
  const std::string path = folder.File("pieces.bin");
  WriteBytes(path, Bytes("HEAD:abcdefghijklmnopqrstuvwxyz:TAIL"));
  BinaryFile file;
  ASSERT_TRUE(Open(file, path, false, false));
  char head[5];
  ASSERT_TRUE(Read(file, head, 5));
  BlockReader reader(file, 8, 26);
  auto take = [&reader](uint32_t count) {
    const void* piece = reader.Take(count);
    return piece == nullptr ? std::string("(none)")
                            : std::string(static_cast<const char*>(piece), count);
  };
  EXPECT_EQ(take(5), "abcde");
  EXPECT_EQ(take(5), "fghij");   // three held, five more read behind them
  EXPECT_EQ(take(9), "(none)");  // more than a block
  EXPECT_EQ(take(8), "klmnopqr");
  EXPECT_EQ(take(8), "stuvwxyz");
  EXPECT_EQ(take(1), "(none)");  // the total is reached, the file goes on
  uint64_t left = 0;
  ASSERT_TRUE(TryGetBytesLeft(file, left));
  EXPECT_EQ(left, 5u);  // ":TAIL" never read
  EXPECT_THROW(reader.Take(0), EError);
  EXPECT_THROW(BlockReader(file, 0, 1), EError);
  ASSERT_TRUE(Close(file));

  // A file shorter than the total: the piece that is not all there fails,
  // and takes nothing with it.
  WriteBytes(path, Bytes("abcdefghij"));
  BinaryFile shorter;
  ASSERT_TRUE(Open(shorter, path, false, false));
  BlockReader cut(shorter, 4, 12);
  EXPECT_NE(cut.Take(4), nullptr);
  EXPECT_NE(cut.Take(4), nullptr);
  EXPECT_EQ(cut.Take(4), nullptr);
  const void* rest = cut.Take(2);
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(rest), 2), "ij");
}

#ifndef _WIN32
// A write that meets the end of a small disk takes what fits and reports a
// short count without a reason; the rest, written once more, brings the
// system's own: the disk is full. (The same through Wine's runtime is a
// case of the round-trip test.)
TEST(BinaryFileTest, AWriteThatFillsTheDiskPartWayGetsTheSystemsReason) {
  TempFolder folder;
  const std::string disk = folder.File("disk");
  ASSERT_EQ(std::system(("mkdir -p '" + disk + "'").c_str()), 0);
  if (std::system(("mount -t tmpfs -o size=32768 tmpfs '" + disk + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no tmpfs can be mounted here (that needs root)";
  {
    BinaryFile file;
    ASSERT_TRUE(Open(file, disk + "/image.ppm", true, true));
    ASSERT_TRUE(Write(file, "P6\n", 3));
    const std::vector<uint8_t> block(45000, 0x5A);
    uint32_t left = 0;
    errno = 0;
    EXPECT_FALSE(Write(file, block.data(), static_cast<uint32_t>(block.size()), &left));
    EXPECT_EQ(sys::LastErrorCode(), static_cast<uint32_t>(ENOSPC));
    EXPECT_EQ(left, 45000u + 3u - 32768u);
    uint64_t free = 1;
    EXPECT_TRUE(sys::TryGetFreeSpace(disk, free));
    EXPECT_LT(free, left);
  }
  EXPECT_EQ(std::system(("umount '" + disk + "'").c_str()), 0);
}
#endif

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

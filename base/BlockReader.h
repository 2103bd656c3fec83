// Reads a file ahead in large blocks and hands it out in small pieces: one
// runtime read fills a buffer with many pieces at once. Under Wine every
// runtime read costs about half a microsecond of its own, which for a file
// read in pieces of a few thousand bytes is as much again as moving the
// bytes.
//
// A file of more than one block is read through two buffers: the next block
// is read on a background thread while the pieces of the one before are
// handed out, so that the read (the system copying the file's pages) and the
// work done with the pieces overlap.
#pragma once

#include <cstdint>
#include <memory>

#include "base/BackgroundTask.h"
#include "base/BinaryFile.h"

class BlockReader {
 public:
  // Reads from file, from its current position, which must stay open for as
  // long as the reader is used, through buffers of capacity bytes (0 throws
  // EError; std::bad_alloc when there is no memory for them). At most total
  // bytes are read in all: whatever follows them in the file is never read.
  // With more than a block to read, the first block is read at once, in the
  // background.
  BlockReader(BinaryFile& file, uint32_t capacity, uint64_t total);
  // Waits for a block still being read.
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // The next count bytes of the file, valid until the next call; when the
  // buffer does not hold them all, the rest of it goes in front of the next
  // block. Null, with nothing consumed, when the file or total ends before
  // count bytes (a file that shrank), a read fails, or count exceeds the
  // largest piece: the capacity, and with two buffers at most kMaxPiece bytes.
  // Throws EError for a count of 0.
  const void* Take(uint32_t count);

  static constexpr uint32_t kMaxPiece = 64 * 1024;

 private:
  bool Refill();
  void ReadAhead(uint8_t* block);

  BinaryFile& file_;
  std::unique_ptr<uint8_t[]> buffers_[2];
  uint8_t* buffer_;  // the one pieces are handed out from
  uint32_t capacity_;
  uint32_t margin_;           // room before a block for the bytes left of the one before
  uint32_t begin_;            // first byte not yet handed out
  uint32_t end_;              // end of the bytes read into the buffer
  uint64_t left_;             // bytes still to be read from the file
  uint8_t* ahead_ = nullptr;  // the buffer being read into, while a read is under way
  uint32_t wanted_ = 0;       // what that read asked for
  uint32_t got_ = 0;          // what it read, once it has finished
  // Last, so that it is destroyed first: a running read uses the buffers.
  BackgroundTask reads_;
};

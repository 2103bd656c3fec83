// Reads a file ahead in large blocks and hands it out in small pieces: one
// runtime read fills the buffer with many pieces at once. Under Wine every
// runtime read costs about half a microsecond of its own, which for a file
// read in pieces of a few thousand bytes is as much again as moving the
// bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "base/BinaryFile.h"

class BlockReader {
 public:
  // Reads from file, from its current position, which must stay open for as
  // long as the reader is used, through a buffer of capacity bytes (0 throws
  // EError; std::bad_alloc when there is no memory for it). At most total
  // bytes are read in all: whatever follows them in the file is never read.
  BlockReader(BinaryFile& file, uint32_t capacity, uint64_t total);
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // The next count bytes of the file, valid until the next call; when the
  // buffer does not hold them all, the rest of it moves to its start and the
  // file fills it up as far as total allows. Null, with nothing consumed,
  // when the file or total ends before count bytes (a file that shrank), a
  // read fails, or count exceeds the capacity. Throws EError for a count of 0.
  const void* Take(uint32_t count);

 private:
  BinaryFile& file_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t capacity_;
  uint32_t begin_ = 0;  // first byte not yet handed out
  uint32_t end_ = 0;    // end of the bytes read into the buffer
  uint64_t left_;       // bytes still to be read from the file
};

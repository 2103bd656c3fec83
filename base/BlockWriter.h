// Writes a file in large blocks: bytes appended in small pieces are collected
// in one buffer and reach the file in one write each time the buffer is full,
// and one for the rest. Under Wine every runtime write costs about half a
// microsecond of its own, which for a file written in pieces of a few
// thousand bytes is as much again as moving the bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "base/BinaryFile.h"

class BlockWriter {
 public:
  // Writes to file, which must stay open for as long as the writer is used,
  // through a buffer of capacity bytes (0 throws EError; std::bad_alloc when
  // there is no memory for it). total is the number of bytes the writer is
  // expected to receive: once they have all been appended they are written
  // without waiting for Flush, so that the file is complete when the last
  // piece has been handed over.
  BlockWriter(BinaryFile& file, uint32_t capacity, uint64_t total);
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // Appends count bytes. True when they are in the buffer or written; false
  // when a write failed (now or before): the file then holds the blocks
  // written before the failure and nothing after it, and every later call
  // fails too. Throws EError for null data or a count of 0.
  bool Append(const void* data, uint32_t count);
  // Room for the next count bytes, to be filled in place and then handed
  // over with Commit(count): a piece made straight into the buffer needs no
  // copy. When the buffer has less room left than count, what it holds is
  // written first. Null when a write failed (now or before) or count exceeds
  // the capacity. Throws EError for a count of 0.
  void* Reserve(uint32_t count);
  // Takes count bytes written into the room Reserve gave, as Append would
  // take them. Throws EError for a count of 0 or beyond the room.
  bool Commit(uint32_t count);
  // Writes what the buffer holds in one write; true when that succeeds or
  // there is nothing to write, false when it or an earlier write failed.
  bool Flush();

 private:
  bool WriteBlock();

  BinaryFile& file_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t capacity_;
  uint32_t used_ = 0;
  uint64_t left_;  // bytes still expected
  bool failed_ = false;
};

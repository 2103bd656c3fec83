// Writes a file in large blocks: bytes appended in small pieces are collected
// in one buffer and reach the file in one write each time the buffer is full,
// and one for the rest. Under Wine every runtime write costs about half a
// microsecond of its own, which for a file written in pieces of a few
// thousand bytes is as much again as moving the bytes.
//
// A file of more than one block is written through two buffers: a full block
// goes to the file on a background thread while the next one fills, so that
// the write (the system copying the block into the file's pages) and the
// work that makes the next block overlap. The last block is written before
// the piece that completes it is taken, so that the file is whole, or its
// failure known, when the last piece has been handed over.
#pragma once

#include <cstdint>
#include <memory>

#include "base/BackgroundTask.h"
#include "base/BinaryFile.h"

class BlockWriter {
 public:
  // Writes to file, which must stay open for as long as the writer is used,
  // through buffers of capacity bytes (0 throws EError; std::bad_alloc when
  // there is no memory for them). total is the number of bytes the writer is
  // expected to receive: once they have all been appended they are written
  // without waiting for Flush, so that the file is complete when the last
  // piece has been handed over.
  BlockWriter(BinaryFile& file, uint32_t capacity, uint64_t total);
  // Waits for a block still being written.
  ~BlockWriter();
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // Appends count bytes. True when they are in a buffer or written; false
  // when a write failed (now or before): the file then holds the blocks
  // written before the failure and nothing after it, and every later call
  // fails too. A failed write of a block on its way to the file is noticed by
  // the call that next hands a block over, or by Flush. Throws EError for null
  // data or a count of 0.
  bool Append(const void* data, uint32_t count);
  // Room for the next count bytes, to be filled in place and then handed
  // over with Commit(count): a piece made straight into the buffer needs no
  // copy. When the buffer has less room left than count, what it holds is
  // handed to the file first. Null when a write failed (now or before) or
  // count exceeds the capacity. Throws EError for a count of 0.
  void* Reserve(uint32_t count);
  // Takes count bytes written into the room Reserve gave, as Append would
  // take them. Throws EError for a count of 0 or beyond the room.
  bool Commit(uint32_t count);
  // Writes what the buffer holds and waits until every block is in the file;
  // true when all of them were written, false when one failed.
  bool Flush();
  // The system's error code of the write that failed (see sys::LastErrorCode),
  // 0 while none has.
  uint32_t FailureCode() const { return failureCode_; }
  // The bytes of that write that did not reach the file, 0 while none has
  // failed: with less free space on the disk than that, the disk is full.
  uint32_t FailureShortfall() const { return failureShortfall_; }

 private:
  bool HandOver();
  bool Settle();
  void WriteBlock(const uint8_t* block, uint32_t bytes);

  BinaryFile& file_;
  std::unique_ptr<uint8_t[]> buffers_[2];
  uint8_t* buffer_;  // the one being filled
  uint32_t capacity_;
  uint32_t used_ = 0;
  uint64_t left_;  // bytes still expected
  bool failed_ = false;
  // Written by the write of a block, read once it has finished.
  bool writeFailed_ = false;
  uint32_t failureCode_ = 0;
  uint32_t failureShortfall_ = 0;
  // Last, so that it is destroyed first: a running write uses the buffers.
  BackgroundTask writes_;
};

#include "base/BlockWriter.h"

#include <cstring>

#include "base/Error.h"
#include "base/SystemPaths.h"

BlockWriter::BlockWriter(BinaryFile& file, uint32_t capacity, uint64_t total)
    : file_(file), capacity_(capacity), left_(total) {
  Require(capacity != 0);
  // Not value-initialised: pages the image never fills are never touched.
  buffers_[0].reset(new uint8_t[capacity]);
  // A file of one block has nothing to overlap its write with.
  if (total > capacity) buffers_[1].reset(new uint8_t[capacity]);
  buffer_ = buffers_[0].get();
}

BlockWriter::~BlockWriter() {
  try {
    writes_.Wait();
  } catch (...) {
    // What the write threw is of no use to anybody now.
  }
}

bool BlockWriter::Append(const void* data, uint32_t count) {
  Require(data != nullptr && count != 0);
  if (failed_) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (count > 0) {
    const uint32_t room = capacity_ - used_;
    const uint32_t piece = count < room ? count : room;
    std::memcpy(buffer_ + used_, bytes, piece);
    used_ += piece;
    bytes += piece;
    count -= piece;
    left_ = left_ > piece ? left_ - piece : 0;
    if ((used_ == capacity_ || left_ == 0) && !HandOver()) return false;
  }
  return true;
}

void* BlockWriter::Reserve(uint32_t count) {
  Require(count != 0);
  if (failed_ || count > capacity_) return nullptr;
  if (capacity_ - used_ < count && !HandOver()) return nullptr;
  return buffer_ + used_;
}

bool BlockWriter::Commit(uint32_t count) {
  Require(count != 0 && count <= capacity_ - used_);
  if (failed_) return false;
  used_ += count;
  left_ = left_ > count ? left_ - count : 0;
  if (used_ == capacity_ || left_ == 0) return HandOver();
  return true;
}

bool BlockWriter::Flush() {
  if (failed_) return false;
  if (used_ != 0 && !HandOver()) return false;
  return Settle();
}

// The block being filled goes to the file: on the background thread while
// more is expected and there is a second buffer to fill meanwhile, here and
// now for the last block.
bool BlockWriter::HandOver() {
  const uint32_t bytes = used_;
  used_ = 0;
  // The block before must be in the file before this one follows it.
  if (!Settle()) return false;
  uint8_t* block = buffer_;
  if (buffers_[1] == nullptr || left_ == 0) {
    WriteBlock(block, bytes);
    return Settle();
  }
  buffer_ = block == buffers_[0].get() ? buffers_[1].get() : buffers_[0].get();
  writes_.Run([this, block, bytes] { WriteBlock(block, bytes); });
  return true;
}

// Waits for the block on its way to the file; false when it or an earlier
// one failed.
bool BlockWriter::Settle() {
  writes_.Wait();
  if (writeFailed_) failed_ = true;
  return !failed_;
}

// On whichever thread writes the block; its code is read right after the
// write, on that thread.
void BlockWriter::WriteBlock(const uint8_t* block, uint32_t bytes) {
  uint32_t left = 0;
  if (Write(file_, block, bytes, &left)) return;
  writeFailed_ = true;
  failureCode_ = sys::LastErrorCode();
  failureShortfall_ = left;
}

#include "base/BlockReader.h"

#include <cstring>

#include "base/Error.h"

BlockReader::BlockReader(BinaryFile& file, uint32_t capacity, uint64_t total)
    : file_(file), capacity_(capacity), left_(total) {
  Require(capacity != 0);
  const bool twoBlocks = total > capacity;
  margin_ = twoBlocks ? (capacity < kMaxPiece ? capacity : kMaxPiece) : 0;
  // Not value-initialised: pages a small file never fills are never touched.
  buffers_[0].reset(new uint8_t[margin_ + capacity]);
  buffer_ = buffers_[0].get();
  begin_ = end_ = margin_;
  if (twoBlocks) {
    buffers_[1].reset(new uint8_t[margin_ + capacity]);
    ReadAhead(buffers_[1].get());
  }
}

BlockReader::~BlockReader() {
  try {
    reads_.Wait();
  } catch (...) {
    // What the read threw is of no use to anybody now.
  }
}

const void* BlockReader::Take(uint32_t count) {
  Require(count != 0);
  if (count > capacity_ || (buffers_[1] != nullptr && count > margin_)) return nullptr;
  if (end_ - begin_ < count && (!Refill() || end_ - begin_ < count)) return nullptr;
  const void* piece = buffer_ + begin_;
  begin_ += count;
  return piece;
}

// Puts the bytes not yet handed out in front of the next block, the one read
// ahead; with one buffer, reads the file. False when there is nothing more.
bool BlockReader::Refill() {
  if (buffers_[1] == nullptr) {
    // A file of one block is read whole, at the first call; a short read
    // means the end of the file (or a failure): nothing more is to be had,
    // whatever total promised.
    if (left_ == 0) return false;
    end_ += ReadUpTo(file_, buffer_ + end_, static_cast<uint32_t>(left_));
    left_ = 0;
    return true;
  }
  if (ahead_ == nullptr) return false;
  const uint32_t held = end_ - begin_;
  reads_.Wait();
  uint8_t* block = ahead_;
  ahead_ = nullptr;
  left_ -= got_;
  if (got_ < wanted_) left_ = 0;
  // held is below the piece asked for, so within the margin.
  std::memcpy(block + margin_ - held, buffer_ + begin_, held);
  uint8_t* done = buffer_;
  buffer_ = block;
  begin_ = margin_ - held;
  end_ = margin_ + got_;
  if (left_ > 0) ReadAhead(done);
  return true;
}

void BlockReader::ReadAhead(uint8_t* block) {
  wanted_ = left_ < capacity_ ? static_cast<uint32_t>(left_) : capacity_;
  got_ = 0;
  ahead_ = block;
  reads_.Run([this, block] { got_ = ReadUpTo(file_, block + margin_, wanted_); });
}

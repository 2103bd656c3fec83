#include "base/BlockWriter.h"

#include <cstring>

#include "base/Error.h"

BlockWriter::BlockWriter(BinaryFile& file, uint32_t capacity, uint64_t total)
    : file_(file), capacity_(capacity), left_(total) {
  Require(capacity != 0);
  // Not value-initialised: pages the image never fills are never touched.
  buffer_.reset(new uint8_t[capacity]);
}

bool BlockWriter::Append(const void* data, uint32_t count) {
  Require(data != nullptr && count != 0);
  if (failed_) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (count > 0) {
    const uint32_t room = capacity_ - used_;
    const uint32_t piece = count < room ? count : room;
    std::memcpy(buffer_.get() + used_, bytes, piece);
    used_ += piece;
    bytes += piece;
    count -= piece;
    left_ = left_ > piece ? left_ - piece : 0;
    if ((used_ == capacity_ || left_ == 0) && !WriteBlock()) return false;
  }
  return true;
}

void* BlockWriter::Reserve(uint32_t count) {
  Require(count != 0);
  if (failed_ || count > capacity_) return nullptr;
  if (capacity_ - used_ < count && !WriteBlock()) return nullptr;
  return buffer_.get() + used_;
}

bool BlockWriter::Commit(uint32_t count) {
  Require(count != 0 && count <= capacity_ - used_);
  if (failed_) return false;
  used_ += count;
  left_ = left_ > count ? left_ - count : 0;
  if (used_ == capacity_ || left_ == 0) return WriteBlock();
  return true;
}

bool BlockWriter::Flush() {
  if (failed_) return false;
  return used_ == 0 || WriteBlock();
}

bool BlockWriter::WriteBlock() {
  const uint32_t bytes = used_;
  used_ = 0;
  failed_ = !Write(file_, buffer_.get(), bytes);
  return !failed_;
}

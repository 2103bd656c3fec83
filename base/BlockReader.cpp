#include "base/BlockReader.h"

#include <cstring>

#include "base/Error.h"

BlockReader::BlockReader(BinaryFile& file, uint32_t capacity, uint64_t total)
    : file_(file), capacity_(capacity), left_(total) {
  Require(capacity != 0);
  // Not value-initialised: pages a small file never fills are never touched.
  buffer_.reset(new uint8_t[capacity]);
}

const void* BlockReader::Take(uint32_t count) {
  Require(count != 0);
  if (count > capacity_) return nullptr;
  if (end_ - begin_ < count) {
    const uint32_t held = end_ - begin_;
    std::memmove(buffer_.get(), buffer_.get() + begin_, held);
    begin_ = 0;
    end_ = held;
    const uint32_t room = capacity_ - held;
    const uint32_t wanted = left_ < room ? static_cast<uint32_t>(left_) : room;
    if (wanted > 0) {
      const uint32_t got = ReadUpTo(file_, buffer_.get() + held, wanted);
      end_ += got;
      left_ -= got;
      // A short read means the end of the file (or a failure): nothing more
      // is to be had, whatever total promised.
      if (got < wanted) left_ = 0;
    }
    if (end_ - begin_ < count) return nullptr;
  }
  const void* piece = buffer_.get() + begin_;
  begin_ += count;
  return piece;
}

#include "base/BinaryFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "base/AnsiText.h"
#include "base/Error.h"
#include "base/SystemPaths.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
constexpr int kBinaryFlag = _O_BINARY;
constexpr int kPermission = _S_IREAD | _S_IWRITE;
int SysOpen(const char* path, int flags, int mode) { return _open(path, flags, mode); }
int SysClose(int fd) { return _close(fd); }
long SysWrite(int fd, const void* data, uint32_t count) { return _write(fd, data, count); }
long SysRead(int fd, void* data, uint32_t count) { return _read(fd, data, count); }
int64_t SysSeek(int fd, int64_t offset, int whence) { return _lseeki64(fd, offset, whence); }
int SysMakeDir(const char* path) { return _mkdir(path); }
#else
constexpr int kBinaryFlag = 0;  // no binary/text distinction here
constexpr int kPermission = S_IRUSR | S_IWUSR;
int SysOpen(const char* path, int flags, int mode) { return ::open(path, flags, mode); }
int SysClose(int fd) { return ::close(fd); }
long SysWrite(int fd, const void* data, uint32_t count) { return ::write(fd, data, count); }
long SysRead(int fd, void* data, uint32_t count) { return ::read(fd, data, count); }
int64_t SysSeek(int fd, int64_t offset, int whence) { return ::lseek(fd, offset, whence); }
int SysMakeDir(const char* path) { return ::mkdir(path, 0777); }
#endif

}  // namespace

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept {
  if (this != &other) {
    Close(*this);
    descriptor = other.descriptor;
    other.descriptor = -1;
  }
  return *this;
}

BinaryFile::~BinaryFile() { Close(*this); }

bool Open(BinaryFile& file, const std::string& path, bool create, bool write) {
  Require(!path.empty());
  int flags = kBinaryFlag | (write ? O_WRONLY : O_RDONLY);
  int fd;
  if (create) {
    fd = SysOpen(path.c_str(), flags | O_CREAT | O_TRUNC, kPermission);
  } else {
    fd = SysOpen(path.c_str(), flags, 0);
  }
  file.descriptor = fd < 0 ? -1 : fd;
  return file.descriptor != -1;
}

bool Close(BinaryFile& file) {
  if (file.descriptor == -1) return true;
  int fd = file.descriptor;
  file.descriptor = -1;
  return SysClose(fd) == 0;
}

bool Write(BinaryFile& file, const void* data, uint32_t count, uint32_t* left) {
  Require(file.descriptor != -1 && data != nullptr && count != 0);
  if (left != nullptr) *left = count;
  const int64_t start = SysSeek(file.descriptor, 0, SEEK_CUR);
  sys::ClearLastErrorCode();
  const long written = SysWrite(file.descriptor, data, count);
  if (written > 0 && static_cast<uint32_t>(written) == count) {
    if (left != nullptr) *left = 0;
    return true;
  }
  // A write that meets the end of the disk's free space takes what fits and
  // reports a short count (some runtimes a failure) without the system's
  // reason. Where the file's position shows that part of it went, the rest
  // is written once more: it either fits now, or its failure carries the
  // reason (a full disk). A write that took nothing keeps its own.
  const int64_t end = start < 0 ? -1 : SysSeek(file.descriptor, 0, SEEK_CUR);
  if (end <= start || end - start >= static_cast<int64_t>(count)) return false;
  const uint32_t done = static_cast<uint32_t>(end - start);
  if (left != nullptr) *left = count - done;
  sys::ClearLastErrorCode();
  const long rest =
      SysWrite(file.descriptor, static_cast<const uint8_t*>(data) + done, count - done);
  if (rest > 0 && static_cast<uint32_t>(rest) == count - done) {
    if (left != nullptr) *left = 0;
    return true;
  }
  return false;
}

bool Read(BinaryFile& file, void* buffer, uint32_t count) {
  Require(file.descriptor != -1 && buffer != nullptr && count != 0);
  long got = SysRead(file.descriptor, buffer, count);
  return got > 0 && static_cast<uint32_t>(got) == count;
}

uint32_t ReadUpTo(BinaryFile& file, void* buffer, uint32_t count) {
  Require(file.descriptor != -1 && buffer != nullptr && count != 0);
  auto* bytes = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    const long got = SysRead(file.descriptor, bytes + done, count - done);
    if (got <= 0) break;
    done += static_cast<uint32_t>(got);
  }
  return done;
}

uint32_t Length(BinaryFile& file) {
  Require(file.descriptor != -1);
  int64_t here = SysSeek(file.descriptor, 0, SEEK_CUR);
  if (here < 0) return 0;
  int64_t end = SysSeek(file.descriptor, 0, SEEK_END);
  SysSeek(file.descriptor, here, SEEK_SET);
  if (end <= 0 || end > 0xFFFFFFFFLL) return 0;
  return static_cast<uint32_t>(end);
}

bool TryGetBytesLeft(BinaryFile& file, uint64_t& bytes) {
  Require(file.descriptor != -1);
  bytes = 0;
  const int64_t here = SysSeek(file.descriptor, 0, SEEK_CUR);
  if (here < 0) return false;
  const int64_t end = SysSeek(file.descriptor, 0, SEEK_END);
  if (SysSeek(file.descriptor, here, SEEK_SET) != here || end < 0) return false;
  bytes = end > here ? static_cast<uint64_t>(end - here) : 0;
  return true;
}

bool CreateFolder(const std::string& path) {
  Require(!path.empty());
  return SysMakeDir(path.c_str()) == 0;
}

bool EndsWithBackslash(const std::string& path) {
  // A lead byte is never 0x5C: a backslash that starts the last character is
  // the whole of it.
  return !path.empty() && path[LastCharacterStart(path)] == '\\';
}

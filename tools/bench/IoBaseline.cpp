// VelmoraIoBaseline.exe: the plain file I/O the plug-in's transfer is
// compared with. Writes a number of bytes to a new file and reads them back
// with the C runtime's unbuffered descriptor calls (_open, _write, _read) in
// binary mode, the calls the plug-in's exchange files go through, in chunks
// of the given sizes, and prints the times. The file is deleted afterwards.
//
// Usage: VelmoraIoBaseline FILE BYTES CHUNK [CHUNK...]
//   CHUNK 0 means one block: the whole count in one call, or the largest
//   count one call can report (INT_MAX bytes) at a time.
// Prints per chunk size one line:
//   io-baseline: chunk=<bytes> bytes=<n> calls=<writes> write_s=<s> close_s=<s> read_s=<s>
// write_s covers opening and the write calls, close_s closing the written
// file, read_s opening, the read calls and closing. Closing is timed apart
// because it is not cheap: Wine truncates a file it creates, and ext4 then
// starts writing the file's dirty pages back when it is closed (its
// auto_da_alloc); a plug-in closing its exported file pays the same.
// Exit status 0, 2 for bad arguments, 3 when the file cannot be written or
// read back.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One runtime descriptor, closed on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return _close(fd) == 0;
  }

 private:
  int fd_;
};

bool ParseCount(const char* text, uint64_t& value) {
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return *text != '\0' && *end == '\0';
}

struct Times {
  double write = 0;
  double close = 0;
  double read = 0;
  uint64_t calls = 0;
};

// Writes `bytes` in calls of at most `chunk` bytes from `buffer`, then reads
// them back into it the same way.
bool WriteThenRead(const std::string& path, uint64_t bytes, uint64_t chunk,
                   std::vector<char>& buffer, Times& times) {
  const Clock::time_point begin = Clock::now();
  Clock::time_point written;
  {
    Descriptor file(
        _open(path.c_str(), _O_BINARY | _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE));
    if (file.Get() < 0) return false;
    for (uint64_t done = 0; done < bytes;) {
      const auto count = static_cast<unsigned>(bytes - done < chunk ? bytes - done : chunk);
      if (_write(file.Get(), buffer.data(), count) != static_cast<int>(count)) return false;
      done += count;
      ++times.calls;
    }
    written = Clock::now();
    if (!file.Close()) return false;
  }
  const Clock::time_point closed = Clock::now();
  {
    Descriptor file(_open(path.c_str(), _O_BINARY | _O_RDONLY));
    if (file.Get() < 0) return false;
    for (uint64_t done = 0; done < bytes;) {
      const auto count = static_cast<unsigned>(bytes - done < chunk ? bytes - done : chunk);
      if (_read(file.Get(), buffer.data(), count) != static_cast<int>(count)) return false;
      done += count;
    }
    if (!file.Close()) return false;
  }
  const Clock::time_point read = Clock::now();
  times.write = std::chrono::duration<double>(written - begin).count();
  times.close = std::chrono::duration<double>(closed - written).count();
  times.read = std::chrono::duration<double>(read - closed).count();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t bytes = 0;
  if (argc < 4 || !ParseCount(argv[2], bytes) || bytes == 0) {
    std::fprintf(stderr,
                 "Usage: VelmoraIoBaseline FILE BYTES CHUNK [CHUNK...] (CHUNK 0: one block)\n");
    return 2;
  }
  const std::string path = argv[1];
  std::vector<uint64_t> chunks;
  for (int i = 3; i < argc; ++i) {
    uint64_t chunk = 0;
    if (!ParseCount(argv[i], chunk)) {
      std::fprintf(stderr, "VelmoraIoBaseline: bad chunk size '%s'\n", argv[i]);
      return 2;
    }
    if (chunk == 0 || chunk > INT_MAX) chunk = bytes < INT_MAX ? bytes : INT_MAX;
    chunks.push_back(chunk);
  }
  for (const uint64_t chunk : chunks) {
    std::vector<char> buffer;
    try {
      // Filled before the clock starts, so that no first touch of a page is
      // timed; not all zero.
      buffer.resize(static_cast<size_t>(chunk));
      for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<char>(i * 131 + 7);
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "VelmoraIoBaseline: no memory for a block of %llu bytes\n",
                   static_cast<unsigned long long>(chunk));
      return 3;
    }
    Times times;
    const bool ok = WriteThenRead(path, bytes, chunk, buffer, times);
    _unlink(path.c_str());
    if (!ok) {
      std::fprintf(stderr, "VelmoraIoBaseline: writing or reading back %s failed\n", path.c_str());
      return 3;
    }
    std::printf(
        "io-baseline: chunk=%llu bytes=%llu calls=%llu write_s=%.6f close_s=%.6f read_s=%.6f\n",
        static_cast<unsigned long long>(chunk), static_cast<unsigned long long>(bytes),
        static_cast<unsigned long long>(times.calls), times.write, times.close, times.read);
    std::fflush(stdout);
  }
  return 0;
}

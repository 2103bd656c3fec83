// Shared pieces of the fuzz targets: a check that stops the run so that
// libFuzzer keeps the input, and a private scratch folder for the files the
// targets write.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

// A broken invariant is a finding like a crash: abort, and libFuzzer saves
// the input that caused it.
#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::fuzzsupport::Fail(#condition, __FILE__, __LINE__))

namespace fuzzsupport {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

// One folder per process under the temporary folder the process started
// with, removed with its contents when the process exits normally. Targets
// reuse a few file names in it, so a long run does not fill the disk.
class ScratchFolder {
 public:
  explicit ScratchFolder(const char* tag) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = base != nullptr && *base != '\0' ? base : "/tmp";
    if (pattern.back() != '/') pattern += '/';
    pattern += std::string("velmora-fuzz-") + tag + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Fail("scratch folder created", __FILE__, __LINE__);
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  // Removes everything inside the folder, keeping the folder itself.
  void Clear() const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ignored)) {
      std::filesystem::remove_all(entry.path(), ignored);
    }
  }

 private:
  std::string path_;
};

inline bool WriteWholeFile(const std::string& path, const void* bytes, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = size == 0 || std::fwrite(bytes, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

inline bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

}  // namespace fuzzsupport

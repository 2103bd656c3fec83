// Support for tests that drive the plug-in's steps directly: a per-test
// temporary folder and a plug-in context bound to a test host's record.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "convert/IConvertBuffer.h"
#include "host/PluginContext.h"

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its
// contents afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("velmora-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// A context as the entry point makes one, current for the test's lifetime.
class BoundContext {
 public:
  explicit BoundContext(host::FilterRecord* record) {
    std::memset(storage_, 0, sizeof storage_);
    context_ = reinterpret_cast<PluginContext*>(storage_);
    context_->result = &result;
    context_->filterRecord = record;
    InitContext(context_);
    gContext = context_;
  }
  ~BoundContext() {
    Close(context_->exportFile);
    Close(context_->importFile);
    context_->converter.reset();
    gContext = nullptr;
  }
  BoundContext(const BoundContext&) = delete;
  BoundContext& operator=(const BoundContext&) = delete;

  PluginContext* operator->() { return context_; }
  PluginContext* get() { return context_; }

  void SetExportPath(const std::string& path) { Copy(context_->exportPath, path); }
  void SetImportPath(const std::string& path) { Copy(context_->importPath, path); }

  int16_t result = 0;

 private:
  static void Copy(char* target, const std::string& path) {
    std::memset(target, 0, kPathSize);
    std::strncpy(target, path.c_str(), kPathSize - 1);
  }
  alignas(PluginContext) unsigned char storage_[sizeof(PluginContext)];
  PluginContext* context_;
};

}  // namespace testsupport

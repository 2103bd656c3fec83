// Per-test folders, a controlled temporary folder and a bound plug-in context
// for the tests of the working folder, the settings reader and the job
// description.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "host/HostInterface.h"
#include "host/PluginContext.h"

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its
// contents afterwards.
class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  // The folder's path in the platform's own form, without a final separator.
  const std::string& Path() const { return path_; }
  // Path() joined with a name by the platform's own separator.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Points the system's temporary folder (TMP and TEMP on Windows, TMPDIR
// elsewhere) at another folder for the lifetime of the object.
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const std::string& folder);
  ~ScopedTempFolder();
  ScopedTempFolder(const ScopedTempFolder&) = delete;
  ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

 private:
  struct Saved {
    const char* name;
    bool present;
    std::string value;
  };
  Saved saved_[2];
  int savedCount_ = 0;
};

// The working folder path that GetTempFolder and PrepareWorkFolder form from
// a temporary folder given without its final separator. Windows reports the
// folder with a backslash; the native stand-in reports it with a slash, and
// the toolkit then adds its backslash all the same.
std::string ExpectedTempFolder(const std::string& folder);
std::string ExpectedWorkFolder(const std::string& folder);

// The short (8.3) form of an existing folder as the system gives it; empty
// where it gives none, as natively.
std::string SystemShortForm(const std::string& folder);

// Creates (with its parents) and returns a folder below base whose path is
// exactly length bytes long. base must be shorter than length - 1.
std::string MakeFolderOfLength(const std::string& base, size_t length);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
void MakeFolder(const std::string& path);

// A plug-in context as the entry point makes one, bound to a local host record
// and current (gContext) for the object's lifetime.
class TestContext {
 public:
  TestContext(int16_t imageMode, int32_t depth, int16_t planes);
  ~TestContext();
  TestContext(const TestContext&) = delete;
  TestContext& operator=(const TestContext&) = delete;

  PluginContext* get() { return context_; }
  PluginContext* operator->() { return context_; }
  host::FilterRecord record{};
  int16_t result = 0;

 private:
  alignas(PluginContext) unsigned char storage_[sizeof(PluginContext)];
  PluginContext* context_;
};

}  // namespace testing_support

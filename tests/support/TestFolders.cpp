#include "support/TestFolders.h"

#include "convert/IConvertBuffer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace testing_support {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
const char* const kTempVariables[] = {"TMP", "TEMP"};
#else
constexpr char kSeparator = '/';
const char* const kTempVariables[] = {"TMPDIR"};
#endif

bool GetVariable(const char* name, std::string& value) {
#ifdef _WIN32
  char buffer[4096];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return false;
  value.assign(buffer, length);
  return true;
#else
  const char* found = std::getenv(name);
  if (found == nullptr) return false;
  value = found;
  return true;
#endif
}

void SetVariable(const char* name, const std::string* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value != nullptr ? value->c_str() : nullptr);
#else
  if (value != nullptr) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
#endif
}

}  // namespace

TestFolder::TestFolder() {
  std::random_device random;
  fs::path base = fs::temp_directory_path();
  std::string name = "velmora-ft-" + std::to_string(random() % 1000000000u);
  std::string path = base.string();
  if (!path.empty() && path.back() != kSeparator) path += kSeparator;
  path_ = path + name;
  fs::create_directories(path_);
}

TestFolder::~TestFolder() {
  std::error_code ignored;
  // Read-only files left by a test would stop the removal.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

std::string TestFolder::File(const std::string& name) const { return path_ + kSeparator + name; }

ScopedTempFolder::ScopedTempFolder(const std::string& folder) {
  for (const char* name : kTempVariables) {
    Saved& saved = saved_[savedCount_++];
    saved.name = name;
    saved.present = GetVariable(name, saved.value);
    SetVariable(name, &folder);
  }
}

ScopedTempFolder::~ScopedTempFolder() {
  for (int i = 0; i < savedCount_; ++i) {
    SetVariable(saved_[i].name, saved_[i].present ? &saved_[i].value : nullptr);
  }
}

std::string ExpectedTempFolder(const std::string& folder) {
#ifdef _WIN32
  return folder + "\\";
#else
  return folder + "/\\";
#endif
}

std::string ExpectedWorkFolder(const std::string& folder) {
  return ExpectedTempFolder(folder) + "velmorafilter";
}

std::string SystemShortForm(const std::string& folder) {
#ifdef _WIN32
  // Asked for wide: the narrow call stops at 260 characters.
  const std::wstring wide(folder.begin(), folder.end());  // ASCII test paths
  std::wstring shortForm(32768, L'\0');
  const DWORD length = GetShortPathNameW(wide.c_str(), &shortForm[0], 32768);
  if (length == 0 || length >= 32768) return std::string();
  return std::string(shortForm.begin(), shortForm.begin() + length);
#else
  (void)folder;
  return std::string();
#endif
}

std::string MakeFolderOfLength(const std::string& base, size_t length) {
  if (base.size() + 2 > length) throw std::logic_error("base folder too long");
  std::string path = base;
  while (path.size() < length) {
    size_t segment = length - path.size() - 1;  // after the separator
    if (segment > 100) segment = segment - 100 > 1 ? 100 : 50;
    path += kSeparator;
    path += std::string(segment, 'd');
  }
  fs::create_directories(path);
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  // The C library's reason (errno) is what the stream went by.
  if (!out) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(fs::path(path), ignored);
}

void MakeFolder(const std::string& path) { fs::create_directories(path); }

TestContext::TestContext(int16_t imageMode, int32_t depth, int16_t planes) {
  record.imageMode = imageMode;
  record.depth = depth;
  record.planes = planes;
  std::memset(storage_, 0, sizeof storage_);
  context_ = reinterpret_cast<PluginContext*>(storage_);
  context_->result = &result;
  context_->filterRecord = &record;
  InitContext(context_);
  gContext = context_;
}

TestContext::~TestContext() {
  Close(context_->exportFile);
  Close(context_->importFile);
  context_->converter.reset();
  gContext = nullptr;
}

}  // namespace testing_support

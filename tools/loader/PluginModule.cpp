#include "tools/loader/PluginModule.h"

#include <windows.h>

#include <utility>

namespace loader {
namespace {

// The system's text for an error code, without its trailing line break.
// Into a buffer of its own: Debian 12's arm64 Wine returns from LocalFree
// with x18, the register that holds the thread's TEB on ARM64, cleared, and
// the throw that follows, which reaches the C++ runtime's thread-local
// state, would fault there (Windows keeps x18 for every call).
std::string SystemMessage(DWORD code) {
  char buffer[1024] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, buffer, sizeof buffer, nullptr);
  std::string text = length > 0 ? std::string(buffer, length) : std::string();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(code)
                      : text + " (error " + std::to_string(code) + ")";
}

// Owns a loaded module until the load has fully succeeded.
struct ModuleGuard {
  HMODULE module;
  ~ModuleGuard() {
    if (module != nullptr) FreeLibrary(module);
  }
  HMODULE Release() { return std::exchange(module, nullptr); }
};

}  // namespace

PluginModule::PluginModule(const std::string& path) : path_(path) {
  // No error boxes from the system for a module that is not loadable: the
  // caller reports the failure itself.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE loaded = LoadLibraryA(path.c_str());
  const DWORD loadError = GetLastError();
  SetErrorMode(oldMode);
  if (loaded == nullptr) throw LoadError(path + ": cannot load: " + SystemMessage(loadError));
  ModuleGuard guard{loaded};

  // The wide form: Debian 12's arm64 Wine returns from FindResourceA with x18
  // cleared, as from LocalFree above.
  HRSRC resource = FindResourceW(loaded, MAKEINTRESOURCEW(kPropertyListId), L"PIPL");
  if (resource == nullptr) {
    throw LoadError(path + ": no plug-in property list (resource PIPL " +
                    std::to_string(kPropertyListId) + "): not a plug-in module");
  }
  const DWORD size = SizeofResource(loaded, resource);
  HGLOBAL data = LoadResource(loaded, resource);
  const void* bytes = data != nullptr ? LockResource(data) : nullptr;
  if (bytes == nullptr) {
    throw LoadError(path + ": cannot read the property list: " + SystemMessage(GetLastError()));
  }
  const auto* first = static_cast<const uint8_t*>(bytes);
  propertyBytes_.assign(first, first + size);
  try {
    properties_ = DecodePropertyList(propertyBytes_.data(), propertyBytes_.size());
    entryName_ = FilterEntryPointName(properties_);
  } catch (const LoadError& e) {
    throw LoadError(path + ": " + e.what());
  }

  FARPROC procedure = GetProcAddress(loaded, entryName_.c_str());
  if (procedure == nullptr) {
    throw LoadError(path + ": entry point '" + entryName_ +
                    "' named in the property list is not exported");
  }
  entry_ = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(procedure));
  module_ = guard.Release();
}

PluginModule::~PluginModule() { Unload(); }

PluginModule::PluginModule(PluginModule&& other) noexcept
    : path_(std::move(other.path_)),
      module_(std::exchange(other.module_, nullptr)),
      propertyBytes_(std::move(other.propertyBytes_)),
      properties_(std::move(other.properties_)),
      entryName_(std::move(other.entryName_)),
      entry_(std::exchange(other.entry_, nullptr)) {}

PluginModule& PluginModule::operator=(PluginModule&& other) noexcept {
  if (this != &other) {
    Unload();
    path_ = std::move(other.path_);
    module_ = std::exchange(other.module_, nullptr);
    propertyBytes_ = std::move(other.propertyBytes_);
    properties_ = std::move(other.properties_);
    entryName_ = std::move(other.entryName_);
    entry_ = std::exchange(other.entry_, nullptr);
  }
  return *this;
}

void PluginModule::Unload() noexcept {
  entry_ = nullptr;
  if (module_ != nullptr) FreeLibrary(static_cast<HMODULE>(std::exchange(module_, nullptr)));
}

}  // namespace loader

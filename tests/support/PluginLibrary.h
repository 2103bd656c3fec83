// The built plug-in loaded by the system loader, as a host loads it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "support/BuildPaths.h"
#include "support/SystemError.h"

namespace testsupport {

using PluginEntry = void (*)(int16_t, void*, intptr_t*, int16_t*);

class PluginLibrary {
 public:
  PluginLibrary() : module_(LoadLibraryA(BuildFile("plugin/Velmora.8bf").c_str())) {
    if (module_ == nullptr)
      error_ = LastErrorText("cannot load " + BuildFile("plugin/Velmora.8bf"));
  }
  ~PluginLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  HMODULE module() const { return module_; }
  // Why the module could not be loaded; empty when it was.
  const std::string& error() const { return error_; }
  PluginEntry entry() const {
    return module_ == nullptr ? nullptr
                              : reinterpret_cast<PluginEntry>(
                                    reinterpret_cast<void*>(GetProcAddress(module_, "PluginMain")));
  }

 private:
  HMODULE module_;
  std::string error_;
};

}  // namespace testsupport

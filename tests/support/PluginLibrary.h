// The built plug-in loaded by the system loader, as a host loads it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/BuildPaths.h"

namespace testsupport {

using PluginEntry = void (*)(int16_t, void*, intptr_t*, int16_t*);

class PluginLibrary {
 public:
  PluginLibrary() : module_(LoadLibraryA(BuildFile("plugin/Velmora.8bf").c_str())) {}
  ~PluginLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  HMODULE module() const { return module_; }
  PluginEntry entry() const {
    return module_ == nullptr ? nullptr
                              : reinterpret_cast<PluginEntry>(
                                    reinterpret_cast<void*>(GetProcAddress(module_, "PluginMain")));
  }

 private:
  HMODULE module_;
};

}  // namespace testsupport

// A filter module loaded the way hosts load one: LoadLibrary, the property
// list resource (type "PIPL", id 16000), the kind and this architecture's
// entry-point key, then GetProcAddress of the name found there. Windows only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/loader/PropertyList.h"

namespace loader {

// The entry point every filter module exports (cdecl on i686).
using EntryPoint = void (*)(int16_t selector, void* parameterBlock, intptr_t* data,
                            int16_t* result);

constexpr int kPropertyListId = 16000;

class PluginModule {
 public:
  // Loads `path` and resolves its entry point. Throws LoadError with the
  // path and the reason (the system's message for a failed load, a missing
  // or malformed property list, a module of another kind or architecture, an
  // entry point the module does not export). Nothing stays loaded then.
  explicit PluginModule(const std::string& path);
  ~PluginModule();  // unloads the module
  PluginModule(PluginModule&& other) noexcept;
  PluginModule& operator=(PluginModule&& other) noexcept;
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  EntryPoint Entry() const { return entry_; }
  const std::string& EntryPointName() const { return entryName_; }
  const PropertyList& Properties() const { return properties_; }
  // The property list resource's bytes exactly as the module holds them.
  const std::vector<uint8_t>& PropertyListBytes() const { return propertyBytes_; }
  const std::string& Path() const { return path_; }
  // The module handle (HMODULE) while loaded, null after a move.
  void* NativeHandle() const { return module_; }

 private:
  void Unload() noexcept;

  std::string path_;
  void* module_ = nullptr;
  std::vector<uint8_t> propertyBytes_;
  PropertyList properties_;
  std::string entryName_;
  EntryPoint entry_ = nullptr;
};

}  // namespace loader

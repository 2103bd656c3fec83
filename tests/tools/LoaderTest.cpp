// The module loader on real modules: the built plug-in loads and its entry
// point is the one the property list names; other files are refused with a
// reason; the module is unloaded exactly when its last owner goes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>

#include "host/HostInterface.h"
#include "tools/loader/PluginModule.h"
#include "tools/testhost/TestHost.h"

namespace {

using loader::LoadError;
using loader::PluginModule;

std::string BuildFile(const std::string& relative) {
  const char* root = std::getenv("VELMORA_BINARY_DIR");
  std::string path = std::string(root != nullptr ? root : ".") + "/" + relative;
  if (path[0] == '/') path = "Z:" + path;  // the build tree through Wine's drive Z:
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string PluginPath() { return BuildFile("plugin/Velmora.8bf"); }

// True while the module that holds `address` is loaded in this process.
bool Loaded(const void* address) {
  HMODULE module = nullptr;
  return GetModuleHandleExA(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             static_cast<const char*>(address), &module) != 0;
}

std::string LoadErrorText(const std::string& path) {
  try {
    PluginModule module(path);
  } catch (const LoadError& e) {
    return e.what();
  }
  return "";
}

TEST(Loader, LoadsTheBuiltPluginThroughItsPropertyList) {
  const PluginModule module(PluginPath());
  EXPECT_EQ(module.EntryPointName(), "PluginMain");
  ASSERT_NE(module.Entry(), nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(module.Entry()),
            reinterpret_cast<void*>(
                GetProcAddress(static_cast<HMODULE>(module.NativeHandle()), "PluginMain")));
  EXPECT_EQ(module.Properties().properties.size(), 10u);
  ASSERT_NE(module.Properties().Find(loader::kEntryPointKey), nullptr);
  EXPECT_EQ(module.Properties().Find(loader::kEntryPointKey == loader::kKeyEntryX86
                                         ? loader::kKeyEntryX64
                                         : loader::kKeyEntryX86),
            nullptr);
  ASSERT_GE(module.PropertyListBytes().size(), 10u);
  EXPECT_EQ(module.PropertyListBytes()[0], 1);
  EXPECT_EQ(module.PropertyListBytes()[1], 0);
}

TEST(Loader, EntryPointAnswersAHost) {
  const PluginModule module(PluginPath());
  testhost::HostOptions options;
  options.width = 4;
  options.height = 2;
  testhost::TestHost host(options);
  EXPECT_EQ(host.Call(module.Entry(), host::kSelectorParameters), 0);
}

TEST(Loader, RefusesAProgramWithoutPropertyList) {
  const std::string error = LoadErrorText(BuildFile("app/Velmora.exe"));
  EXPECT_NE(error.find("no plug-in property list"), std::string::npos) << error;
  EXPECT_NE(error.find("Velmora.exe"), std::string::npos) << error;
}

TEST(Loader, RefusesMissingAndNonModuleFiles) {
  const std::string missing = BuildFile("plugin/NoSuchPlugin.8bf");
  const std::string error = LoadErrorText(missing);
  EXPECT_NE(error.find("cannot load"), std::string::npos) << error;
  EXPECT_NE(error.find("NoSuchPlugin.8bf"), std::string::npos) << error;

  const std::string text = BuildFile("tools/not-a-module.8bf");
  std::ofstream(text, std::ios::binary) << "This is not a module.\n";
  EXPECT_NE(LoadErrorText(text).find("cannot load"), std::string::npos);
  DeleteFileA(text.c_str());
}

TEST(Loader, UnloadsWhenTheOwnerGoes) {
  const void* entry = nullptr;
  {
    const PluginModule module(PluginPath());
    entry = reinterpret_cast<const void*>(module.Entry());
    EXPECT_TRUE(Loaded(entry));
  }
  EXPECT_FALSE(Loaded(entry));
}

TEST(Loader, MoveHandsOverOwnershipOnce) {
  const void* entry = nullptr;
  {
    PluginModule first(PluginPath());
    entry = reinterpret_cast<const void*>(first.Entry());
    PluginModule second(std::move(first));
    EXPECT_EQ(first.NativeHandle(), nullptr);
    EXPECT_EQ(first.Entry(), nullptr);
    EXPECT_TRUE(Loaded(entry));
    {
      const PluginModule dead(std::move(first));  // moving an empty owner releases nothing
    }
    EXPECT_TRUE(Loaded(entry));

    PluginModule third(PluginPath());  // a second reference to the same module
    third = std::move(second);         // releases third's own reference
    PluginModule& alias = third;
    third = std::move(alias);  // self-move keeps the module
    EXPECT_TRUE(Loaded(entry));
    EXPECT_EQ(third.EntryPointName(), "PluginMain");
  }
  EXPECT_FALSE(Loaded(entry));
}

}  // namespace

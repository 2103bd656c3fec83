// The built plug-in as a host sees it: loaded by the system loader, found by
// its property list, called through the entry point the list names; and its
// export and import tables read from the file.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "host/HostInterface.h"
#include "support/BuildPaths.h"
#include "tools/testhost/TestHost.h"
#include "ui/ResourceIds.h"

namespace {

using Entry = void (*)(int16_t, void*, intptr_t*, int16_t*);

#if defined(__aarch64__)
const char* const kEntryKey = "wa64";
#elif defined(_WIN64)
const char* const kEntryKey = "8664";
#else
const char* const kEntryKey = "wx86";
#endif

std::string PluginPath() { return testsupport::BuildFile("plugin/Velmora.8bf"); }

class Module {
 public:
  Module() : module_(LoadLibraryA(PluginPath().c_str())) {}
  ~Module() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

struct Property {
  std::string vendor, key;
  int32_t id;
  std::vector<uint8_t> data;
};

// Four-character codes are stored as little-endian numbers: reverse them.
std::string Code(const uint8_t* p) { return {char(p[3]), char(p[2]), char(p[1]), char(p[0])}; }

int32_t Int32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

std::vector<Property> DecodePropertyList(const uint8_t* p, size_t size, int32_t& count) {
  std::vector<Property> list;
  EXPECT_GE(size, 10u);
  int16_t reserved;
  std::memcpy(&reserved, p, 2);
  EXPECT_EQ(reserved, 1);
  EXPECT_EQ(Int32(p + 2), 0);
  count = Int32(p + 6);
  size_t at = 10;
  while (at + 16 <= size) {
    Property property{Code(p + at), Code(p + at + 4), Int32(p + at + 8), {}};
    const int32_t length = Int32(p + at + 12);
    EXPECT_EQ(length % 4, 0) << property.key << ": the stated length includes the padding";
    at += 16;
    if (length < 0 || at + static_cast<size_t>(length) > size) {
      ADD_FAILURE() << "property " << property.key << " runs past the resource";
      break;
    }
    property.data.assign(p + at, p + at + length);
    at += static_cast<size_t>(length);
    list.push_back(property);
  }
  EXPECT_EQ(at, size) << "nothing after the last property";
  return list;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  return std::vector<uint8_t>(values.begin(), values.end());
}
std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(PluginModuleTest, PropertyListIsWhatHostsExpect) {
  Module module;
  ASSERT_NE(module.get(), nullptr);
  HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(16000), L"PIPL");
  ASSERT_NE(resource, nullptr);
  EXPECT_NE(FindResourceExA(module.get(), "PIPL", MAKEINTRESOURCEA(16000), 1033), nullptr);
  const auto* p = static_cast<const uint8_t*>(LockResource(LoadResource(module.get(), resource)));
  int32_t count = 0;
  const std::vector<Property> list =
      DecodePropertyList(p, SizeofResource(module.get(), resource), count);
  EXPECT_EQ(count, 10);
  ASSERT_EQ(list.size(), 10u);

  const std::string enable =
      "in (PSHOP_ImageMode,GrayScaleMode,Gray16Mode,Gray32Mode,RGBMode,RGB48Mode,RGB96Mode)";
  std::vector<uint8_t> enableData = Bytes(enable);
  enableData.resize(88, 0);
  std::vector<uint8_t> entryName = Bytes("PluginMain");
  entryName.resize(12, 0);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> expected = {
      {"kind", Bytes("MFB8")},
      {"name", Bytes(std::string("\x0AVelmora...\0", 12))},
      {"catg", Bytes(std::string("\x06Orlith\0", 8))},
      {"vers", Bytes({0x00, 0x00, 0x04, 0x00})},
      {kEntryKey, entryName},
      {"mode", Bytes({0x50, 0, 0, 0})},
      {"enbl", enableData},
      {"ms32", Bytes({0x80, 0x84, 0x1E, 0x00, 0x80, 0x84, 0x1E, 0x00})},
      {"flly", Bytes({0x80, 0, 0, 0})},
      {"fici", Bytes({4, 4, 6, 0, 4,  4, 14, 0, 4, 4, 14, 0, 4,  4,
                      6, 0, 4, 4, 14, 0, 4,  4, 6, 0, 4,  4, 14, 0})},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].first);
    EXPECT_EQ(list[i].vendor, "8BIM");
    EXPECT_EQ(list[i].key, expected[i].first);
    EXPECT_EQ(list[i].id, 0);
    EXPECT_EQ(list[i].data, expected[i].second);
  }
}

// A string of the module's table in one language, as the plug-in reads it:
// the block of sixteen that holds the id, each string a length and that
// many UTF-16 units.
std::wstring ModuleString(HMODULE module, unsigned id, WORD language) {
  const HRSRC block =
      FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW((id >> 4) + 1), language);
  if (block == nullptr) return std::wstring();
  const auto* units = static_cast<const wchar_t*>(LockResource(LoadResource(module, block)));
  const size_t total = SizeofResource(module, block) / sizeof(wchar_t);
  size_t at = 0;
  for (unsigned index = 0; index < (id & 15) && at < total; ++index) at += 1 + units[at];
  if (units == nullptr || at >= total || at + 1 + units[at] > total) return std::wstring();
  return std::wstring(units + at + 1, units[at]);
}

// The translations are UTF-8 sources: every build's resource compiler must
// read them as such, or a host shows "geÃ¶ffnet" for "geöffnet".
TEST(PluginModuleTest, TranslatedTextsAreTheTranslatorsWords) {
  Module module;
  ASSERT_NE(module.get(), nullptr);
  constexpr unsigned kWaitNoteText = IDS_WAIT_NOTE_TEXT;
  constexpr unsigned kWaitNoteShow = IDS_WAIT_NOTE_SHOW;
  EXPECT_EQ(ModuleString(module.get(), kWaitNoteText, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)),
            L"Ihr Bild ist in Velmora ge\u00f6ffnet. Es kommt hierher zur\u00fcck, sobald Sie es "
            L"in Velmora speichern und Velmora schlie\u00dfen.");
  EXPECT_EQ(ModuleString(module.get(), kWaitNoteShow, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)),
            L"Velmora \u3092\u8868\u793a");  // を表示
  EXPECT_EQ(ModuleString(module.get(), kWaitNoteText, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)),
            L"\u753b\u50cf\u306f Velmora \u3067\u958b\u304b\u308c\u3066\u3044\u307e\u3059"
            L"\u3002Velmora \u3067\u4fdd\u5b58\u3057\u3066 Velmora \u3092\u9589\u3058\u308b"
            L"\u3068\u3001\u3053\u3053\u306b\u623b\u308a\u307e\u3059\u3002");
  // The English table, written in Windows-1252, keeps its registered sign.
  EXPECT_EQ(ModuleString(module.get(), IDS_VERSION_REQUIRED,
                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
            L"This plug-in requires Adobe Photoshop\u00ae ^1 or later functionality.");
}

TEST(PluginModuleTest, EntryPointNamedByThePropertyListRunsSelectors) {
  Module module;
  ASSERT_NE(module.get(), nullptr);
  HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(16000), L"PIPL");
  ASSERT_NE(resource, nullptr);
  const auto* p = static_cast<const uint8_t*>(LockResource(LoadResource(module.get(), resource)));
  int32_t count = 0;
  std::string name;
  for (const Property& property :
       DecodePropertyList(p, SizeofResource(module.get(), resource), count)) {
    if (property.key == kEntryKey) name = reinterpret_cast<const char*>(property.data.data());
  }
  ASSERT_EQ(name, "PluginMain");
  auto entry =
      reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module.get(), name.c_str())));
  ASSERT_NE(entry, nullptr);

  testhost::HostOptions options;
  options.width = 4;
  options.height = 4;
  options.bigDocument = true;
  testhost::TestHost host(options);
  EXPECT_EQ(host.Call(entry, host::kSelectorParameters), 0);
  EXPECT_NE(host.DataSlot(), 0);
  EXPECT_EQ(host.Call(entry, host::kSelectorPrepare), 0);
  EXPECT_EQ(host.Record().bufferSpace, 0);
  EXPECT_EQ(host.BigDocument().PluginUsing32BitCoordinates, 1);
  EXPECT_EQ(host.Call(entry, host::kSelectorFinish), 0);
  EXPECT_EQ(host.Call(entry, 42), 0);
  EXPECT_TRUE(host.BuffersIntact());

  host.Record().imageMode = host::kModeLabColor;
  EXPECT_EQ(host.Call(entry, host::kSelectorPrepare), -30201);

  // A host that takes a text gets words from the module's string table in
  // place of the code, also when it has no memory for the plug-in's context.
  options.errorString = true;
  testhost::TestHost telling(options);
  telling.Record().imageMode = host::kModeLabColor;
  EXPECT_EQ(telling.Call(entry, host::kSelectorPrepare), -30904);
  EXPECT_NE(telling.ErrorText().find("grayscale"), std::string::npos) << telling.ErrorText();
  for (bool offered : {false, true}) {
    options.errorString = offered;
    options.refuseHandles = true;
    testhost::TestHost full(options);
    EXPECT_EQ(full.Call(entry, host::kSelectorPrepare), offered ? -30904 : -108);
    EXPECT_EQ(full.DataSlot(), 0);
    EXPECT_EQ(full.ErrorText().empty(), !offered);
    EXPECT_TRUE(full.BuffersIntact());
  }
}

// ---- the file's export and import tables ----------------------------------

struct PeFile {
  std::vector<uint8_t> bytes;
  struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset;
  };
  std::vector<Section> sections;
  uint32_t exportRva = 0, importRva = 0;

  explicit PeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    const uint32_t pe = U32(0x3C);
    const uint16_t sectionCount = U16(pe + 6);
    const uint16_t optionalSize = U16(pe + 20);
    const uint32_t optional = pe + 24;
    const bool plus = U16(optional) == 0x20B;
    const uint32_t directories = optional + (plus ? 112 : 96);
    exportRva = U32(directories);
    importRva = U32(directories + 8);
    const uint32_t table = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
      const uint32_t s = table + i * 40u;
      sections.push_back({U32(s + 12), U32(s + 8), U32(s + 20)});
    }
  }
  uint16_t U16(uint32_t at) const {
    return static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
  }
  uint32_t U32(uint32_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }
  uint32_t Offset(uint32_t rva) const {
    for (const Section& s : sections)
      if (rva >= s.virtualAddress && rva < s.virtualAddress + s.virtualSize)
        return rva - s.virtualAddress + s.rawOffset;
    throw std::out_of_range("rva outside every section");
  }
  std::string Text(uint32_t rva) const {
    return reinterpret_cast<const char*>(bytes.data() + Offset(rva));
  }
};

TEST(PluginModuleTest, ExportsPluginMainUndecoratedAndImportsOnlySystemLibraries) {
  const PeFile pe(PluginPath());
  ASSERT_GT(pe.bytes.size(), 1024u);
  ASSERT_NE(pe.exportRva, 0u);
  const uint32_t exports = pe.Offset(pe.exportRva);
  const uint32_t nameCount = pe.U32(exports + 24);
  const uint32_t names = pe.Offset(pe.U32(exports + 32));
  std::vector<std::string> exported;
  for (uint32_t i = 0; i < nameCount; ++i) exported.push_back(pe.Text(pe.U32(names + 4 * i)));
  EXPECT_EQ(exported, std::vector<std::string>{"PluginMain"});

  const std::set<std::string> system = {"kernel32.dll", "user32.dll",   "shell32.dll",
                                        "msvcrt.dll",   "advapi32.dll", "gdi32.dll"};
  std::vector<std::string> imported;
  for (uint32_t at = pe.Offset(pe.importRva);; at += 20) {
    const uint32_t nameRva = pe.U32(at + 12);
    if (nameRva == 0) break;
    std::string name = pe.Text(nameRva);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    imported.push_back(name);
  }
  EXPECT_FALSE(imported.empty());
  for (const std::string& name : imported) {
    EXPECT_TRUE(system.count(name) == 1 || name.rfind("api-ms-win-", 0) == 0)
        << name << " is not a system library";
  }
}

}  // namespace

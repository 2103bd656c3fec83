// The settings reader on arbitrary bytes, parsed from memory and loaded from
// a file, checked against a plain model of the format: the same entries in
// the same order, and the same answer to every lookup of every name found.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "base/Error.h"
#include "formats/IniReader.h"

namespace {

struct ModelEntry {
  bool section;
  std::string name;
  std::string value;
};

std::string TrimBlanks(const std::string& piece) {
  const size_t first = piece.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  const size_t last = piece.find_last_not_of(" \t");
  return piece.substr(first, last - first + 1);
}

// Lines end at CR LF; text after the last CR LF and after a zero byte does
// not count. Brackets make a section, otherwise "=" a key/value pair.
std::vector<ModelEntry> ModelParse(const uint8_t* data, size_t size) {
  std::vector<ModelEntry> entries;
  if (size == 0 || size > kIniMaxFileSize) return entries;
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  size_t at = 0;
  while (entries.size() < kIniMaxEntries) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    std::string line = text.substr(at, end - at);
    at = end + 2;
    const size_t open = line.find('[');
    const size_t close = line.find(']');
    const size_t equals = line.find('=');
    if (open != std::string::npos && close != std::string::npos) {
      line[open] = ' ';
      line[close] = ' ';
      entries.push_back({true, TrimBlanks(line), std::string()});
    } else if (equals != std::string::npos) {
      entries.push_back(
          {false, TrimBlanks(line.substr(0, equals)), TrimBlanks(line.substr(equals + 1))});
    }
  }
  return entries;
}

// The first entry named key after the first entry named section; a section
// header answers with no value; nothing found gives the default.
const ModelEntry* ModelLookup(const std::vector<ModelEntry>& entries, const std::string& section,
                              const std::string& key, bool& found) {
  found = false;
  bool inSection = false;
  for (const ModelEntry& entry : entries) {
    if (!inSection) {
      inSection = entry.name == section;
      continue;
    }
    if (entry.name == key) {
      found = true;
      return entry.section ? nullptr : &entry;
    }
  }
  return nullptr;
}

void CheckEntries(const IniReader& reader, const std::vector<ModelEntry>& model) {
  FUZZ_CHECK(reader.Count() == model.size());
  for (uint32_t i = 0; i < reader.Count(); ++i) {
    const IniEntry& entry = reader.Entry(i);
    const ModelEntry& expected = model[i];
    FUZZ_CHECK(entry.kind == (expected.section ? eIniSection : eIniKeyValue));
    FUZZ_CHECK(entry.nameOffset >= 0 && static_cast<uint32_t>(entry.nameOffset) < kIniTextSize);
    FUZZ_CHECK(expected.name == reader.TextAt(entry.nameOffset));
    if (expected.section) {
      FUZZ_CHECK(entry.valueOffset == -1);
    } else {
      FUZZ_CHECK(entry.valueOffset >= 0 &&
                 static_cast<uint32_t>(entry.valueOffset) < reader.Length());
      FUZZ_CHECK(expected.value == reader.TextAt(entry.valueOffset));
    }
  }
}

void CheckLookup(const IniReader& reader, const std::vector<ModelEntry>& model,
                 const std::string& section, const std::string& key) {
  static const char kDefault[] = "default";
  const char* answer = reader.Lookup(section.c_str(), key.c_str(), kDefault);
  bool found = false;
  const ModelEntry* expected = ModelLookup(model, section, key, found);
  if (!found) {
    FUZZ_CHECK(answer == kDefault);
  } else if (expected == nullptr) {
    FUZZ_CHECK(answer == nullptr);
  } else {
    // A value is a piece of the reader's own text, never the default.
    const char* text = reader.TextAt(0);
    FUZZ_CHECK(answer != nullptr && answer >= text && answer < text + kIniTextSize);
    FUZZ_CHECK(expected->value == answer);
  }
  // Without a default the same walk gives null where the default was.
  const char* bare = reader.Lookup(section.c_str(), key.c_str(), nullptr);
  FUZZ_CHECK(found ? bare == answer : bare == nullptr);
}

void CheckReader(const IniReader& reader, bool loaded, const std::vector<ModelEntry>& model,
                 const uint8_t* data, size_t size) {
  FUZZ_CHECK(loaded == !model.empty());
  CheckEntries(reader, model);
  if (model.empty()) {
    bool threw = false;
    try {
      reader.Lookup("General", "ApplicationPath", nullptr);
    } catch (EError) {
      threw = true;
    }
    FUZZ_CHECK(threw);
    return;
  }
  // The launcher's lookup, every pair of names the file holds, and a key
  // taken from the input's last bytes.
  std::vector<std::string> names = {"General", "ApplicationPath", ""};
  for (const ModelEntry& entry : model) names.push_back(entry.name);
  const size_t tail = size < 8 ? size : 8;
  std::string tailKey(reinterpret_cast<const char*>(data + size - tail), tail);
  names.push_back(tailKey.substr(0, tailKey.find('\0')));
  for (const std::string& section : names) {
    for (const std::string& key : names) CheckLookup(reader, model, section, key);
  }
}

fuzzsupport::ScratchFolder& Scratch() {
  static fuzzsupport::ScratchFolder folder("ini");
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<ModelEntry> model = ModelParse(data, size);

  IniReader parsed;
  const bool fromMemory =
      parsed.Parse(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size));
  CheckReader(parsed, fromMemory, model, data, size);

  // The same bytes as a settings file: Load must agree with Parse.
  const std::string path = Scratch().File("plugin.ini");
  FUZZ_CHECK(fuzzsupport::WriteWholeFile(path, data, size));
  IniReader loaded;
  const bool fromFile = loaded.Load(path.c_str());
  CheckReader(loaded, fromFile, model, data, size);
  return 0;
}

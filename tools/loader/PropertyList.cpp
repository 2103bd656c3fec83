#include "tools/loader/PropertyList.h"

#include <algorithm>
#include <cstring>

namespace loader {
namespace {

constexpr size_t kHeaderSize = 2 + 4 + 4;
constexpr size_t kPropertyHeaderSize = 4 + 4 + 4 + 4;
// The interface version this host understands: hosts refuse newer modules.
constexpr uint32_t kHighestVersion = 0x00040000;

uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int32_t ReadI32(const uint8_t* p) {
  const uint32_t u = ReadU32(p);
  int32_t v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}
int16_t ReadI16(const uint8_t* p) {
  const uint16_t u = static_cast<uint16_t>(p[0] | (p[1] << 8));
  int16_t v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

std::string Where(size_t index, size_t offset) {
  return "property " + std::to_string(index + 1) + " at byte " + std::to_string(offset);
}

}  // namespace

std::string FourCCText(uint32_t code) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<uint8_t>(code >> shift);
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 0xF];
    }
  }
  return text;
}

const Property* PropertyList::Find(uint32_t key, uint32_t vendor) const {
  for (const Property& p : properties) {
    if (p.key == key && p.vendor == vendor) return &p;
  }
  return nullptr;
}

PropertyList DecodePropertyList(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < kHeaderSize) {
    throw LoadError("property list too short: " + std::to_string(size) +
                    " bytes, the header needs " + std::to_string(kHeaderSize));
  }
  PropertyList list;
  list.reserved = ReadI16(bytes);
  list.version = ReadI32(bytes + 2);
  const int32_t count = ReadI32(bytes + 6);
  if (count < 0) throw LoadError("property list claims " + std::to_string(count) + " properties");
  // Every property takes at least its 16-byte header: a larger count cannot
  // fit, whatever the data lengths say.
  if (static_cast<size_t>(count) > (size - kHeaderSize) / kPropertyHeaderSize) {
    throw LoadError("property list claims " + std::to_string(count) +
                    " properties but has room for " +
                    std::to_string((size - kHeaderSize) / kPropertyHeaderSize) + " in " +
                    std::to_string(size) + " bytes");
  }
  list.properties.reserve(static_cast<size_t>(count));
  size_t offset = kHeaderSize;
  for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
    if (size - offset < kPropertyHeaderSize) {
      throw LoadError(Where(i, offset) + ": header runs past the end of the list (" +
                      std::to_string(size) + " bytes)");
    }
    const uint8_t* p = bytes + offset;
    Property property;
    property.vendor = ReadU32(p);
    property.key = ReadU32(p + 4);
    property.id = ReadI32(p + 8);
    const int32_t length = ReadI32(p + 12);
    offset += kPropertyHeaderSize;
    const std::string name =
        Where(i, offset - kPropertyHeaderSize) + " ('" + FourCCText(property.key) + "')";
    if (length < 0) throw LoadError(name + ": negative data length " + std::to_string(length));
    const auto dataLength = static_cast<size_t>(length);
    if (dataLength > size - offset) {
      throw LoadError(name + ": data length " + std::to_string(length) +
                      " runs past the end of the list (" + std::to_string(size - offset) +
                      " bytes left)");
    }
    property.data.assign(bytes + offset, bytes + offset + dataLength);
    offset += dataLength;
    // Hosts step over the data padded to a multiple of 4; the padding of the
    // last property may be missing.
    const size_t padding = (4 - dataLength % 4) % 4;
    if (i + 1 < static_cast<size_t>(count)) {
      if (padding > size - offset) {
        throw LoadError(name + ": padding after the data runs past the end of the list");
      }
      offset += padding;
    }
    list.properties.push_back(std::move(property));
  }
  return list;
}

std::string FilterEntryPointName(const PropertyList& list, uint32_t entryKey) {
  const Property* kind = list.Find(kKeyKind);
  if (kind == nullptr) throw LoadError("property list has no 'kind' property");
  if (kind->data.size() < 4) {
    throw LoadError("'kind' property holds " + std::to_string(kind->data.size()) + " bytes, not 4");
  }
  const uint32_t kindCode = ReadU32(kind->data.data());
  if (kindCode != kKindFilter) {
    throw LoadError("module kind is '" + FourCCText(kindCode) + "', not a filter ('8BFM')");
  }
  if (const Property* version = list.Find(kKeyVersion)) {
    if (version->data.size() < 4) throw LoadError("'vers' property is shorter than 4 bytes");
    const uint32_t v = ReadU32(version->data.data());
    if (v > kHighestVersion) {
      throw LoadError("module needs interface version " + std::to_string(v >> 16) + "." +
                      std::to_string(v & 0xFFFF) + "; this host offers 4.0");
    }
  }
  const Property* entry = list.Find(entryKey);
  if (entry == nullptr) {
    std::string why =
        "no entry point for this architecture: property '" + FourCCText(entryKey) + "' missing";
    for (const uint32_t other : {kKeyEntryX86, kKeyEntryX64, kKeyEntryArm64}) {
      if (other != entryKey && list.Find(other) != nullptr) {
        why += " (the module has '" + FourCCText(other) + "': built for another architecture)";
        break;
      }
    }
    throw LoadError(why);
  }
  const auto end = std::find(entry->data.begin(), entry->data.end(), uint8_t{0});
  if (end == entry->data.end()) {
    throw LoadError("entry-point name in '" + FourCCText(entryKey) + "' is not zero-terminated");
  }
  if (end == entry->data.begin()) {
    throw LoadError("entry-point name in '" + FourCCText(entryKey) + "' is empty");
  }
  return std::string(entry->data.begin(), end);
}

}  // namespace loader

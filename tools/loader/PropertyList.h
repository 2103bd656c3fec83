// Decoding of a filter module's plug-in property list ("PIPL" resource), as
// hosts read it before they call the module. Portable: the bytes come from
// the module's resource on Windows, or from a test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace loader {

// Four-character code as the interface's OSType: 'kind' is 0x6B696E64, stored
// little-endian in the resource, so its bytes there read "dnik".
constexpr uint32_t FourCC(const char (&code)[5]) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(code[3]));
}

constexpr uint32_t kVendorAdobe = FourCC("8BIM");
constexpr uint32_t kKeyKind = FourCC("kind");
constexpr uint32_t kKeyVersion = FourCC("vers");
constexpr uint32_t kKeyEntryX86 = FourCC("wx86");
constexpr uint32_t kKeyEntryX64 = FourCC("8664");
constexpr uint32_t kKeyEntryArm64 = FourCC("wa64");
constexpr uint32_t kKindFilter = FourCC("8BFM");

// The key under which a host of this build's architecture finds the entry
// point's name.
#if defined(__aarch64__) || defined(_M_ARM64)
constexpr uint32_t kEntryPointKey = kKeyEntryArm64;
#elif defined(__x86_64__) || defined(_M_X64)
constexpr uint32_t kEntryPointKey = kKeyEntryX64;
#else
constexpr uint32_t kEntryPointKey = kKeyEntryX86;
#endif

// "kind" for FourCC("kind"); bytes outside printable ASCII as \xNN.
std::string FourCCText(uint32_t code);

// Any failure to load or accept a plug-in module; what() says what and where.
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Property {
  uint32_t vendor = 0;
  uint32_t key = 0;
  int32_t id = 0;
  // The data exactly as long as the property's length field says (hosts
  // skip padding to the next multiple of 4 before the next property).
  std::vector<uint8_t> data;
};

struct PropertyList {
  int16_t reserved = 0;  // hosts write 1
  int32_t version = 0;   // list version, 0
  std::vector<Property> properties;

  // The first property with this vendor and key, or null.
  const Property* Find(uint32_t key, uint32_t vendor = kVendorAdobe) const;
};

// Decodes a property list of `size` bytes. Never reads outside [bytes,
// bytes + size). Throws LoadError naming the property and byte offset when
// the header or a property does not fit, a count or length is negative, or
// the padding before a following property runs past the end.
PropertyList DecodePropertyList(const uint8_t* bytes, size_t size);

// Checks what a host checks before calling a filter module: the kind is
// "8BFM", the interface version (when given) is at most 4.0, and the property
// `entryKey` holds a zero-terminated, non-empty entry-point name. Returns that
// name; throws LoadError with the reason otherwise.
std::string FilterEntryPointName(const PropertyList& list, uint32_t entryKey = kEntryPointKey);

}  // namespace loader

// Decoding a plug-in property list as a host does, and the checks a host
// makes before calling the module, on lists built byte by byte here.
#include "tools/loader/PropertyList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using loader::LoadError;

// A property list under construction, laid out as hosts read it:
// int16 1, int32 version, int32 count, then vendor, key, id, length, data.
struct ListBuilder {
  std::vector<uint8_t> bytes;
  ListBuilder& I16(int v) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
    return *this;
  }
  ListBuilder& I32(int64_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  // Four-character codes are stored as little-endian numbers: reversed.
  ListBuilder& Code(const char* c) {
    for (int i = 3; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(c[i]));
    return *this;
  }
  ListBuilder& Raw(const std::string& s) {
    bytes.insert(bytes.end(), s.begin(), s.end());
    return *this;
  }
  ListBuilder& Header(int count) { return I16(1).I32(0).I32(count); }
  // A property with its data padded to a multiple of 4.
  ListBuilder& Property(const char* key, const std::string& data, bool pad = true) {
    Code("8BIM").Code(key).I32(0).I32(static_cast<int64_t>(data.size())).Raw(data);
    if (pad) bytes.resize(bytes.size() + (4 - data.size() % 4) % 4, 0);
    return *this;
  }
};

std::string CodeBytes(const char* c) { return {c[3], c[2], c[1], c[0]}; }

ListBuilder FilterList(const char* entryKey, const std::string& entryData) {
  ListBuilder b;
  b.Header(3)
      .Property("kind", CodeBytes("8BFM"))
      .Property("vers", std::string("\0\0\4\0", 4))
      .Property(entryKey, entryData);
  return b;
}

std::string DecodeError(const std::vector<uint8_t>& bytes) {
  try {
    loader::DecodePropertyList(bytes.data(), bytes.size());
  } catch (const LoadError& e) {
    return e.what();
  }
  return "";
}

std::string EntryError(const ListBuilder& b, uint32_t key) {
  try {
    loader::FilterEntryPointName(loader::DecodePropertyList(b.bytes.data(), b.bytes.size()), key);
  } catch (const LoadError& e) {
    return e.what();
  }
  return "";
}

TEST(PropertyList, FourCharacterCodes) {
  EXPECT_EQ(loader::FourCC("kind"), 0x6B696E64u);
  EXPECT_EQ(loader::FourCC("8BIM"), 0x3842494Du);
  EXPECT_EQ(loader::FourCCText(loader::FourCC("8664")), "8664");
  EXPECT_EQ(loader::FourCCText(0x41000142u), "A\\x00\\x01B");
}

TEST(PropertyList, DecodesEveryField) {
  ListBuilder b;
  b.I16(1).I32(0).I32(2);
  b.Code("8BIM").Code("name").I32(7).I32(6).Raw(std::string("\x04Test\0\0\0", 8));
  b.Code("XYZW").Code("ms32").I32(0).I32(8).I32(2000000).I32(1000);
  const loader::PropertyList list = loader::DecodePropertyList(b.bytes.data(), b.bytes.size());
  EXPECT_EQ(list.reserved, 1);
  EXPECT_EQ(list.version, 0);
  ASSERT_EQ(list.properties.size(), 2u);
  EXPECT_EQ(list.properties[0].vendor, loader::FourCC("8BIM"));
  EXPECT_EQ(list.properties[0].key, loader::FourCC("name"));
  EXPECT_EQ(list.properties[0].id, 7);
  EXPECT_EQ(list.properties[0].data, (std::vector<uint8_t>{4, 'T', 'e', 's', 't', 0}));
  EXPECT_EQ(list.properties[1].vendor, loader::FourCC("XYZW"));
  EXPECT_EQ(list.properties[1].data.size(), 8u);
  // Find matches vendor and key.
  EXPECT_EQ(list.Find(loader::FourCC("name")), &list.properties[0]);
  EXPECT_EQ(list.Find(loader::FourCC("ms32")), nullptr);
  EXPECT_EQ(list.Find(loader::FourCC("ms32"), loader::FourCC("XYZW")), &list.properties[1]);
}

TEST(PropertyList, LastPropertyMayLackPadding) {
  ListBuilder b;
  b.Header(1).Property("name",
                       "\x02"
                       "ab",
                       false);
  EXPECT_EQ(loader::DecodePropertyList(b.bytes.data(), b.bytes.size()).properties[0].data.size(),
            3u);
}

TEST(PropertyList, RefusesShortHeaders) {
  EXPECT_NE(DecodeError({}), "");
  EXPECT_NE(DecodeError({1, 0, 0, 0, 0, 0, 0, 0, 0}), "");
  EXPECT_THROW(loader::DecodePropertyList(nullptr, 0), LoadError);
}

TEST(PropertyList, RefusesCountsThatCannotFit) {
  ListBuilder b;
  b.Header(2).Property("kind", "MFB8");
  EXPECT_NE(DecodeError(b.bytes).find("2 properties"), std::string::npos);
  ListBuilder negative;
  negative.Header(-1);
  EXPECT_NE(DecodeError(negative.bytes), "");
  ListBuilder huge;
  huge.Header(0x7FFFFFFF).Property("kind", "MFB8");
  EXPECT_NE(DecodeError(huge.bytes), "");
}

TEST(PropertyList, RefusesDataRunningPastTheEnd) {
  ListBuilder b;
  b.Header(1).Code("8BIM").Code("name").I32(0).I32(100).Raw("abcd");
  const std::string error = DecodeError(b.bytes);
  EXPECT_NE(error.find("property 1"), std::string::npos);
  EXPECT_NE(error.find("'name'"), std::string::npos);
  ListBuilder wraps;
  wraps.Header(1).Code("8BIM").Code("name").I32(0).I32(-4).Raw("abcd");
  EXPECT_NE(DecodeError(wraps.bytes).find("negative"), std::string::npos);
}

TEST(PropertyList, RefusesAPropertyHeaderCutShort) {
  ListBuilder b;
  b.Header(2).Property("kind", "MFB8").Code("8BIM").Code("name").I32(0).I32(0);
  b.bytes.resize(b.bytes.size() - 2);
  EXPECT_NE(DecodeError(b.bytes).find("property 2"), std::string::npos);
}

TEST(PropertyList, RefusesMissingPaddingBeforeAnotherProperty) {
  ListBuilder b;
  // The list ends right after the first property's 19 bytes of data.
  b.Header(2).Property("name", std::string(19, 'x'), false);
  EXPECT_NE(DecodeError(b.bytes).find("padding"), std::string::npos);
  // Without its padding the second property's header is one byte short.
  ListBuilder shifted;
  shifted.Header(2).Property("name", "abc", false).Code("8BIM").Code("kind").I32(0).I32(0);
  EXPECT_NE(DecodeError(shifted.bytes).find("property 2"), std::string::npos);
}

TEST(PropertyList, FilterEntryPointNameForEachArchitecture) {
  const ListBuilder x86 = FilterList("wx86", std::string("PluginMain\0\0", 12));
  const ListBuilder x64 = FilterList("8664", std::string("Entry\0\0\0", 8));
  auto name = [](const ListBuilder& b, uint32_t key) {
    return loader::FilterEntryPointName(loader::DecodePropertyList(b.bytes.data(), b.bytes.size()),
                                        key);
  };
  const ListBuilder arm64 = FilterList("wa64", std::string("ArmMain\0", 8));
  EXPECT_EQ(name(x86, loader::kKeyEntryX86), "PluginMain");
  EXPECT_EQ(name(x64, loader::kKeyEntryX64), "Entry");
  EXPECT_EQ(name(arm64, loader::kKeyEntryArm64), "ArmMain");
  EXPECT_NE(EntryError(x86, loader::kKeyEntryX64).find("'wx86': built for another architecture"),
            std::string::npos);
  // A native ARM64 host finds no entry point in an x64 build, and says whose it is.
  EXPECT_NE(EntryError(x64, loader::kKeyEntryArm64).find("'8664': built for another architecture"),
            std::string::npos);
  EXPECT_NE(EntryError(arm64, loader::kKeyEntryX64).find("'wa64'"), std::string::npos);
}

TEST(PropertyList, RefusesModulesOfAnotherKind) {
  ListBuilder b;
  b.Header(2).Property("kind", CodeBytes("8BAM")).Property("wx86", std::string("Main\0\0\0\0", 8));
  EXPECT_NE(EntryError(b, loader::kKeyEntryX86).find("'8BAM'"), std::string::npos);
  ListBuilder none;
  none.Header(1).Property("wx86", std::string("Main\0\0\0\0", 8));
  EXPECT_NE(EntryError(none, loader::kKeyEntryX86).find("'kind'"), std::string::npos);
  ListBuilder shortKind;
  shortKind.Header(1).Property("kind", "MF");
  EXPECT_NE(EntryError(shortKind, loader::kKeyEntryX86), "");
}

TEST(PropertyList, RefusesNewerInterfaceVersions) {
  ListBuilder b;
  b.Header(3)
      .Property("kind", CodeBytes("8BFM"))
      .Property("vers", std::string("\1\0\4\0", 4))  // 4.1
      .Property("wx86", std::string("Main\0\0\0\0", 8));
  EXPECT_NE(EntryError(b, loader::kKeyEntryX86).find("4.1"), std::string::npos);
}

TEST(PropertyList, RefusesEntryNamesThatAreEmptyOrUnterminated) {
  EXPECT_NE(EntryError(FilterList("wx86", "Main"), loader::kKeyEntryX86).find("zero-terminated"),
            std::string::npos);
  EXPECT_NE(
      EntryError(FilterList("wx86", std::string(4, '\0')), loader::kKeyEntryX86).find("empty"),
      std::string::npos);
}

}  // namespace

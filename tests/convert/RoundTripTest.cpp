// Host samples out to the exchange file and back, unchanged in between, as
// when the application saves the image without editing it; and the file-to-
// host mappings over every file value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>
#include <vector>

#include "ConvertTestSupport.h"
#include "convert/ConvertBuffer.h"

namespace {

using namespace convert_test;

// Host samples -> export converter -> file bytes -> import converter -> host.
std::vector<uint8_t> RoundTrip(const HostImage& image, const std::vector<uint8_t>& host) {
  auto exporter = MakeConverter(image, true);
  auto importer = MakeConverter(image, false);
  if (!exporter || !importer) return {};
  return ImportRow(*importer, ExportRow(*exporter, host));
}

template <typename T>
size_t CountSurvivors(const std::vector<T>& before, const std::vector<T>& after) {
  size_t same = 0;
  for (size_t k = 0; k < before.size() && k < after.size(); ++k) {
    same += std::memcmp(&before[k], &after[k], sizeof(T)) == 0;
  }
  return same;
}

void Report(const char* what, size_t survivors, size_t total) {
  std::cout << "[ round trip ] " << what << ": " << survivors << " of " << total
            << " host values unchanged\n";
}

TEST(RoundTrip, Every8BitValueComesBackUnchanged) {
  std::vector<uint8_t> values(256);
  for (uint32_t v = 0; v < 256; ++v) values[v] = static_cast<uint8_t>(v);
  // RGB takes the values as 85 pixels and a third; make it whole pixels.
  std::vector<uint8_t> rgb;
  for (uint8_t v : values) rgb.insert(rgb.end(), {v, static_cast<uint8_t>(255 - v), v});
  const std::vector<uint8_t> rgbBack = RoundTrip(kRGB8, rgb);
  EXPECT_EQ(rgbBack, rgb);
  const std::vector<uint8_t> grayBack = RoundTrip(kGray8, values);
  EXPECT_EQ(grayBack, values);
  Report("gray 8-bit", CountSurvivors(values, grayBack), values.size());
  Report("RGB 8-bit samples", CountSurvivors(rgb, rgbBack), rgb.size());
}

TEST(RoundTrip, Every16BitHostValueComesBackUnchanged) {
  std::vector<uint16_t> values(32769);
  for (uint32_t v = 0; v <= 32768; ++v) values[v] = static_cast<uint16_t>(v);
  std::vector<uint16_t> rgb;
  for (uint16_t v : values) rgb.insert(rgb.end(), {v, static_cast<uint16_t>(32768 - v), v});
  const std::vector<uint16_t> rgbBack = FromBytes<uint16_t>(RoundTrip(kRGB16, ToBytes(rgb)));
  const std::vector<uint16_t> grayBack = FromBytes<uint16_t>(RoundTrip(kGray16, ToBytes(values)));
  const size_t graySurvivors = CountSurvivors(values, grayBack);
  const size_t rgbSurvivors = CountSurvivors(rgb, rgbBack);
  EXPECT_EQ(graySurvivors, values.size());
  EXPECT_EQ(rgbSurvivors, rgb.size());
  Report("gray 16-bit", graySurvivors, values.size());
  Report("RGB 16-bit samples", rgbSurvivors, rgb.size());
}

TEST(RoundTrip, HostValuesAbove32768ComeBackAsFullScale) {
  std::vector<uint16_t> values;
  for (uint32_t v = 32769; v <= 65535; ++v) values.push_back(static_cast<uint16_t>(v));
  values.insert(values.end(), {65535, 65535});  // whole RGB pixels
  for (const HostImage& image : {kGray16, kRGB16}) {
    const std::vector<uint16_t> back = FromBytes<uint16_t>(RoundTrip(image, ToBytes(values)));
    ASSERT_EQ(back.size(), values.size()) << image.name;
    size_t full = 0;
    for (uint16_t v : back) full += v == 32768;
    EXPECT_EQ(full, values.size()) << image.name;
  }
}

TEST(RoundTrip, HostToFile16IsMonotonicRoundedAndHitsBothEnds) {
  std::vector<uint16_t> host(65536);
  for (uint32_t x = 0; x < 65536; ++x) host[x] = static_cast<uint16_t>(x);
  auto exporter = MakeConverter(kRGB16, true);
  ASSERT_TRUE(exporter);
  // 65536 samples are not whole RGB pixels: pad with two more.
  host.insert(host.end(), {0, 0});
  std::vector<uint32_t> file = FileValues(ExportRow(*exporter, ToBytes(host)));
  file.resize(65536);
  EXPECT_EQ(file[0], 0u);
  EXPECT_EQ(file[32768], 65535u);
  for (uint32_t x = 1; x < 65536; ++x) ASSERT_LE(file[x - 1], file[x]) << x;
  for (uint32_t x = 0; x <= 32768; ++x) {
    // The mended rounding, in 64-bit arithmetic.
    ASSERT_EQ(file[x], (uint64_t{x} * 65535 + 16384) / 32768) << x;
    // Nearest: |v - x * 65535 / 32768| <= 1/2, in integers.
    const int64_t twice = 2 * int64_t{file[x]} * 32768 - 2 * int64_t{x} * 65535;
    ASSERT_LE(std::llabs(twice), 32768) << x;
  }
  for (uint32_t x = 32769; x < 65536; ++x) ASSERT_EQ(file[x], 65535u) << x;
}

TEST(RoundTrip, EveryFileValueInto16BitHostIsMonotonicAndRoundedToNearest) {
  std::vector<uint32_t> file(65536);
  for (uint32_t v = 0; v < 65536; ++v) file[v] = v;
  // RGB: per channel; gray: each value in all three channels, averaged.
  std::vector<uint32_t> triples;
  for (uint32_t v : file) triples.insert(triples.end(), {v, v, v});
  file.insert(file.end(), {0, 0});
  auto rgb = MakeConverter(kRGB16, false);
  auto gray = MakeConverter(kGray16, false);
  ASSERT_TRUE(rgb && gray);
  std::vector<uint16_t> viaRgb = FromBytes<uint16_t>(ImportRow(*rgb, FileSamples(file)));
  viaRgb.resize(65536);
  const std::vector<uint16_t> viaGray = FromBytes<uint16_t>(ImportRow(*gray, FileSamples(triples)));
  ASSERT_EQ(viaGray.size(), 65536u);
  EXPECT_EQ(viaRgb, viaGray);
  EXPECT_EQ(viaRgb[0], 0);
  EXPECT_EQ(viaRgb[65535], 32768);
  for (uint32_t v = 0; v < 65536; ++v) {
    if (v > 0) {
      ASSERT_LE(viaRgb[v - 1], viaRgb[v]) << v;
    }
    // The mended rounding, in 64-bit arithmetic.
    ASSERT_EQ(viaRgb[v], (uint64_t{v} * 32768 + 32767) / 65535) << v;
    const int64_t twice = 2 * int64_t{viaRgb[v]} * 65535 - 2 * int64_t{v} * 32768;
    ASSERT_LE(std::llabs(twice), 65535) << v;
  }
}

TEST(RoundTrip, EveryFileValueInto8BitHostIsItsHighByte) {
  std::vector<uint32_t> file(65536);
  for (uint32_t v = 0; v < 65536; ++v) file[v] = v;
  file.insert(file.end(), {0, 0});
  auto rgb = MakeConverter(kRGB8, false);
  ASSERT_TRUE(rgb);
  const std::vector<uint8_t> host = ImportRow(*rgb, FileSamples(file));
  for (uint32_t v = 0; v < 65536; ++v) ASSERT_EQ(host[v], v >> 8) << v;
}

// Floats on both sides: the RGB path is an exact copy of any bit pattern.
TEST(RoundTrip, RGBFloatsSurviveWhateverTheirValue) {
  const std::vector<float> special = {std::numeric_limits<float>::quiet_NaN(),
                                      std::numeric_limits<float>::infinity(),
                                      -std::numeric_limits<float>::infinity(),
                                      -0.0f,
                                      -1.0f,
                                      1.0f,
                                      2.5f,
                                      std::numeric_limits<float>::denorm_min(),
                                      std::numeric_limits<float>::max()};
  std::vector<uint32_t> bits;
  for (float f : special) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    bits.push_back(b);
  }
  // Then a spread of patterns over the whole 32-bit space.
  for (uint64_t b = 0; b < (uint64_t{1} << 32); b += 65537 * 7) bits.push_back(uint32_t(b));
  while (bits.size() % 3 != 0) bits.push_back(0x7F800001u);
  const std::vector<uint32_t> back = FromBytes<uint32_t>(RoundTrip(kRGB32F, ToBytes(bits)));
  EXPECT_EQ(back, bits);
}

// Gray floats within 0..1 survive exactly; the sample walks the bit patterns
// of [0, 1] with a stride that is prime to every power of two.
TEST(RoundTrip, GrayFloatsWithinTheUnitRangeSurvive) {
  constexpr uint32_t kOne = 0x3F800000u;
  constexpr uint32_t kStride = 61;
  auto exporter = MakeConverter(kGray32F, true);
  auto importer = MakeConverter(kGray32F, false);
  ASSERT_TRUE(exporter && importer);
  std::vector<uint32_t> chunk;
  size_t total = 0, survivors = 0;
  auto flush = [&] {
    const std::vector<uint32_t> back =
        FromBytes<uint32_t>(ImportRow(*importer, ExportRow(*exporter, ToBytes(chunk))));
    survivors += CountSurvivors(chunk, back);
    total += chunk.size();
    chunk.clear();
  };
  for (uint64_t b = 0; b <= kOne; b += kStride) {
    chunk.push_back(static_cast<uint32_t>(b));
    if (chunk.size() == 100000) flush();
  }
  chunk.insert(chunk.end(), {kOne, 0x3F7FFFFFu, 0x00000001u, 0x3EAAAAABu, 0x3DCCCCCDu});
  flush();
  EXPECT_EQ(survivors, total);
  Report("gray float sample in 0..1", survivors, total);
}

TEST(RoundTrip, GrayFloatsOutsideTheUnitRangeComeBackUnchanged) {
  const std::vector<float> host = {1.5f,
                                   -0.5f,
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   1.0000001f,
                                   -std::numeric_limits<float>::denorm_min()};
  const std::vector<float> back = FromBytes<float>(RoundTrip(kGray32F, ToBytes(host)));
  EXPECT_EQ(back, host);
  const std::vector<float> nan = {std::numeric_limits<float>::quiet_NaN()};
  const std::vector<float> nanBack = FromBytes<float>(RoundTrip(kGray32F, ToBytes(nan)));
  ASSERT_EQ(nanBack.size(), 1u);
  EXPECT_TRUE(std::isnan(nanBack[0]));
}

}  // namespace

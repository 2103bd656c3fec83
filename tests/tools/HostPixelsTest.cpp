// Moving file samples into the host's image and back: exact 16-bit rounding,
// gray and RGB presentation, float clamping.
#include "tools/cmdhost/HostPixels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

namespace {

using cmdhost::HostFormat;
using imagefile::Image;

template <typename T>
T HostSample(const std::vector<uint8_t>& bytes, size_t index) {
  T v;
  std::memcpy(&v, bytes.data() + index * sizeof(T), sizeof(T));
  return v;
}

template <typename T>
std::vector<uint8_t> HostBytes(std::initializer_list<T> values) {
  std::vector<uint8_t> bytes(values.size() * sizeof(T));
  size_t i = 0;
  for (T v : values) std::memcpy(bytes.data() + sizeof(T) * i++, &v, sizeof(T));
  return bytes;
}

HostFormat Format(int depth, bool gray) {
  HostFormat f;
  f.depth = depth;
  f.gray = gray;
  return f;
}

TEST(HostPixels, SixteenBitScalingsAreTheRoundedFormulas) {
  for (uint32_t v = 0; v <= 65535; ++v) {
    ASSERT_EQ(cmdhost::FileToHost16(v, 65535), (v * 32768u + 32767u) / 65535u) << v;
  }
  for (uint32_t x = 0; x <= 32768; ++x) {
    ASSERT_EQ(cmdhost::Host16ToFile(x, 65535), (x * 65535u + 16384u) / 32768u) << x;
  }
  EXPECT_EQ(cmdhost::FileToHost16(65535, 65535), 32768);
  EXPECT_EQ(cmdhost::Host16ToFile(32768, 65535), 65535);
  EXPECT_EQ(cmdhost::Host16ToFile(40000, 65535), 65535);  // beyond the host range
  EXPECT_EQ(cmdhost::FileToHost16(255, 255), 32768);
  EXPECT_EQ(cmdhost::FileToHost16(1, 1), 32768);
  EXPECT_EQ(cmdhost::FileToHost16(0, 1), 0);
}

TEST(HostPixels, EveryHost16ValueSurvivesAFileRoundTrip) {
  for (uint32_t x = 0; x <= 32768; ++x) {
    ASSERT_EQ(cmdhost::FileToHost16(cmdhost::Host16ToFile(x, 65535), 65535), x) << x;
  }
}

TEST(HostPixels, EightBitHostFromSixteenBitFiles) {
  EXPECT_EQ(cmdhost::FileToHost8(65535, 65535), 255);
  EXPECT_EQ(cmdhost::FileToHost8(0, 65535), 0);
  for (uint32_t k = 0; k <= 255; ++k) ASSERT_EQ(cmdhost::FileToHost8(k * 257, 65535), k);
  EXPECT_EQ(cmdhost::FileToHost8(1, 1), 255);
  EXPECT_EQ(cmdhost::FileToHost8(500, 1000), 128);  // 127.5 rounds up
}

TEST(HostPixels, SixteenBitFileRoundTripThroughA16BitHostIsIdentical) {
  // A file made from host values (as the host writes it) reads into the host
  // and writes back byte for byte.
  Image file = imagefile::MakeImage(4097, 8, 1, 65535);
  for (size_t i = 0; i < file.SampleCount(); ++i) {
    file.samples[i] = cmdhost::Host16ToFile(static_cast<uint32_t>(i % 32769), 65535);
  }
  const HostFormat format = Format(16, true);
  const std::vector<uint8_t> host = cmdhost::ToHostSamples(file, format);
  const Image back = cmdhost::FromHostSamples(host, file.width, file.height, format);
  EXPECT_EQ(back.maxValue, 65535u);
  EXPECT_EQ(back.samples, file.samples);
}

TEST(HostPixels, RgbFileInRgbHostsOfEveryDepth) {
  Image file = imagefile::MakeImage(1, 1, 3, 65535);
  file.samples = {0, 32768, 65535};
  const auto h16 = cmdhost::ToHostSamples(file, Format(16, false));
  ASSERT_EQ(h16.size(), 6u);
  EXPECT_EQ(HostSample<uint16_t>(h16, 0), 0);
  EXPECT_EQ(HostSample<uint16_t>(h16, 1), 16384);
  EXPECT_EQ(HostSample<uint16_t>(h16, 2), 32768);
  const auto h8 = cmdhost::ToHostSamples(file, Format(8, false));
  EXPECT_EQ(h8, (std::vector<uint8_t>{0, 128, 255}));
  const auto h32 = cmdhost::ToHostSamples(file, Format(32, false));
  ASSERT_EQ(h32.size(), 12u);
  EXPECT_EQ(HostSample<float>(h32, 0), 0.0f);
  EXPECT_FLOAT_EQ(HostSample<float>(h32, 1), 32768.0f / 65535.0f);
  EXPECT_EQ(HostSample<float>(h32, 2), 1.0f);
}

TEST(HostPixels, RgbFileInGrayHostTakesLuma) {
  Image file = imagefile::MakeImage(3, 1, 3, 255);
  file.samples = {255, 0, 0, 0, 255, 0, 10, 20, 30};
  const auto gray = cmdhost::ToHostSamples(file, Format(8, true));
  // 0.299 * 255 = 76.2, 0.587 * 255 = 149.7, 0.299*10 + 0.587*20 + 0.114*30 = 18.15
  EXPECT_EQ(gray, (std::vector<uint8_t>{76, 150, 18}));
}

TEST(HostPixels, GrayFileInRgbHostRepeatsTheSample) {
  Image file = imagefile::MakeImage(2, 1, 1, 65535);
  file.samples = {65535, 2};
  const auto rgb = cmdhost::ToHostSamples(file, Format(16, false));
  ASSERT_EQ(rgb.size(), 12u);
  for (size_t c = 0; c < 3; ++c) {
    EXPECT_EQ(HostSample<uint16_t>(rgb, c), 32768);
    EXPECT_EQ(HostSample<uint16_t>(rgb, 3 + c), 1);
  }
}

TEST(HostPixels, FloatsGoingToIntegerHostsAreClampedAndRounded) {
  Image file = imagefile::MakeImage(5, 1, 1, 0);
  file.floats = {-0.5f, 0.5f, 2.0f, std::numeric_limits<float>::quiet_NaN(), 1.0f / 32768.0f};
  const auto h16 = cmdhost::ToHostSamples(file, Format(16, true));
  EXPECT_EQ(HostSample<uint16_t>(h16, 0), 0);
  EXPECT_EQ(HostSample<uint16_t>(h16, 1), 16384);
  EXPECT_EQ(HostSample<uint16_t>(h16, 2), 32768);
  EXPECT_EQ(HostSample<uint16_t>(h16, 3), 0);
  EXPECT_EQ(HostSample<uint16_t>(h16, 4), 1);
  const auto h8 = cmdhost::ToHostSamples(file, Format(8, true));
  EXPECT_EQ(h8, (std::vector<uint8_t>{0, 128, 255, 0, 0}));
}

TEST(HostPixels, FloatHostKeepsFloatsExactlyBothWays) {
  Image file = imagefile::MakeImage(2, 1, 3, 0);
  file.floats = {1.5f, -0.25f, 1e-30f, 0.1f, 7.0f, std::numeric_limits<float>::infinity()};
  const HostFormat format = Format(32, false);
  const auto host = cmdhost::ToHostSamples(file, format);
  const Image back = cmdhost::FromHostSamples(host, 2, 1, format);
  ASSERT_TRUE(back.IsFloat());
  EXPECT_EQ(std::memcmp(back.floats.data(), file.floats.data(), 24), 0);
}

TEST(HostPixels, HostImageBecomesAFileOfTheHostsDepth) {
  const Image g8 = cmdhost::FromHostSamples({0, 200}, 2, 1, Format(8, true));
  EXPECT_EQ(g8.channels, 1);
  EXPECT_EQ(g8.maxValue, 255u);
  EXPECT_EQ(g8.samples, (std::vector<uint16_t>{0, 200}));

  const Image rgb16 = cmdhost::FromHostSamples(
      HostBytes<uint16_t>({0, 1, 16384, 32767, 32768, 50000}), 2, 1, Format(16, false));
  EXPECT_EQ(rgb16.channels, 3);
  EXPECT_EQ(rgb16.maxValue, 65535u);
  EXPECT_EQ(rgb16.samples, (std::vector<uint16_t>{0, 2, 32768, 65533, 65535, 65535}));
}

TEST(HostPixels, HostImageOfTheWrongSizeIsRefused) {
  EXPECT_THROW(cmdhost::FromHostSamples({0, 1, 2}, 2, 1, Format(16, true)),
               imagefile::ImageFileError);
}

}  // namespace

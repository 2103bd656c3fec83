// Converter behaviour through IConvertBuffer: sample rules, the three
// per-pixel paths, chunking, clearing and every argument and state check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ConvertTestSupport.h"
#include "base/Error.h"
#include "convert/ConvertBuffer.h"

namespace {

using namespace convert_test;

using Export8 = CConvertBuffer<unsigned short, unsigned char, 0>;
using Import8 = CConvertBuffer<unsigned char, unsigned short, 1>;
using Export16 = CConvertBuffer<unsigned short, unsigned short, 0>;
using Import16 = CConvertBuffer<unsigned short, unsigned short, 1>;
using ExportFloat = CConvertBuffer<float, float, 0>;
using ImportFloat = CConvertBuffer<float, float, 1>;

template <typename C>
std::unique_ptr<C> Ready(int32_t outFormat, int32_t inFormat) {
  auto converter = std::make_unique<C>(outFormat, inFormat);
  EXPECT_TRUE(converter->Init());
  return converter;
}

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return bits;
}

const float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr uint32_t kSignallingNaNBits = 0x7F800001u;
constexpr uint32_t kNegativeNaNBits = 0xFFC12345u;

// --- Sample rules -----------------------------------------------------------

TEST(SampleRules, RGB8ExportWidensEachByteIntoBothHalves) {
  auto converter = Ready<Export8>(RGB16, RGB8);
  const std::vector<uint8_t> pixel = {0, 128, 255};
  EXPECT_EQ(ExportRow(*converter, pixel),
            (std::vector<uint8_t>{0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF}));
}

TEST(SampleRules, Host16ExportRoundsToNearestAndSaturatesAboveRange) {
  auto converter = Ready<Export16>(RGB16, RGB16);
  const std::vector<uint16_t> host = {0, 1, 2, 16384, 32767, 32768, 32769, 40000, 65535};
  const std::vector<uint32_t> file = FileValues(ExportRow(*converter, ToBytes(host)));
  EXPECT_EQ(file, (std::vector<uint32_t>{0, 2, 4, 32768, 65533, 65535, 65535, 65535, 65535}));
}

TEST(SampleRules, Gray16ExportOfHalfScaleGivesThreeBigEndianSamples) {
  auto converter = Ready<Export16>(RGB16, Gray16);
  const std::vector<uint16_t> host = {16384};
  EXPECT_EQ(ExportRow(*converter, ToBytes(host)),
            (std::vector<uint8_t>{0x80, 0x00, 0x80, 0x00, 0x80, 0x00}));
}

TEST(SampleRules, File16ImportRoundsToNearestHostLevel) {
  auto converter = Ready<Import16>(RGB16, RGB16);
  const std::vector<uint8_t> file = FileSamples({0xFFFF, 0x0001, 0x0002, 0xFFFE, 0x8000, 0x0000});
  EXPECT_EQ(FromBytes<uint16_t>(ImportRow(*converter, file)),
            (std::vector<uint16_t>{32768, 1, 1, 32767, 16384, 0}));
}

TEST(SampleRules, File16ImportInto8BitKeepsTheHighByte) {
  auto converter = Ready<Import8>(RGB8, RGB16);
  const std::vector<uint8_t> file = FileSamples({0x12FF, 0xFF00, 0x00FF});
  EXPECT_EQ(ImportRow(*converter, file), (std::vector<uint8_t>{0x12, 0xFF, 0x00}));
}

TEST(SampleRules, FloatsAreCopiedBitForBitInBothDirections) {
  const std::vector<uint32_t> bits = {
      Bits(1.5f),  Bits(0.25f), Bits(kNaN),         Bits(kInf),       Bits(-kInf),   Bits(-0.0f),
      Bits(-2.0f), 0x00000001u, kSignallingNaNBits, kNegativeNaNBits, Bits(3.0e38f), Bits(1.0f)};
  auto exporter = Ready<ExportFloat>(RGB32F, RGB32F);
  auto importer = Ready<ImportFloat>(RGB32F, RGB32F);
  EXPECT_EQ(FromBytes<uint32_t>(ExportRow(*exporter, ToBytes(bits))), bits);
  EXPECT_EQ(FromBytes<uint32_t>(ImportRow(*importer, ToBytes(bits))), bits);
}

// --- Broadcast and averaging -------------------------------------------------

TEST(GrayPaths, GrayHostsBroadcastEachSampleIntoThreeFileChannels) {
  auto gray8 = Ready<Export8>(RGB16, Gray8);
  EXPECT_EQ(FileValues(ExportRow(*gray8, {7, 255})),
            (std::vector<uint32_t>{7 * 257, 7 * 257, 7 * 257, 65535, 65535, 65535}));

  auto gray16 = Ready<Export16>(RGB16, Gray16);
  EXPECT_EQ(FileValues(ExportRow(*gray16, ToBytes(std::vector<uint16_t>{1, 40000}))),
            (std::vector<uint32_t>{2, 2, 2, 65535, 65535, 65535}));

  // Values outside 0..1, infinities and NaNs (signalling too) are not touched.
  const std::vector<uint32_t> host = {Bits(1.5f), Bits(-0.5f), Bits(kInf), kSignallingNaNBits,
                                      Bits(0.3f)};
  auto grayFloat = Ready<ExportFloat>(RGB32F, Gray32F);
  const std::vector<uint32_t> file = FromBytes<uint32_t>(ExportRow(*grayFloat, ToBytes(host)));
  ASSERT_EQ(file.size(), host.size() * 3);
  for (size_t p = 0; p < host.size(); ++p) {
    for (size_t c = 0; c < 3; ++c) EXPECT_EQ(file[p * 3 + c], host[p]) << p << "," << c;
  }
}

// Every 8-bit and 16-bit host value, and float bit patterns across the whole
// 32-bit space, through the RGB and the gray export, in runs long enough for
// the vector forms and their leftover samples: each file sample is the rule's
// value for its host sample, once per channel or three times for gray.
template <typename Rule>
void ExpectEveryValueExported(IConvertBuffer& converter, const std::vector<uint8_t>& values,
                              size_t hostSampleBytes, size_t fileSampleBytes, Rule rule) {
  const uint32_t copies = converter.GetOutChannels() / converter.GetInChannels();
  std::vector<uint8_t> host = values;  // whole pixels
  while (host.size() % converter.GetInPixelSize() != 0) host.push_back(0);
  const std::vector<uint8_t> file = ExportRow(converter, host);
  const size_t samples = host.size() / hostSampleBytes;
  ASSERT_EQ(file.size(), samples * copies * fileSampleBytes);
  size_t wrong = 0;
  for (size_t k = 0; k < samples; ++k) {
    const std::vector<uint8_t> expected = rule(&host[k * hostSampleBytes]);
    for (size_t c = 0; c < copies; ++c) {
      wrong += std::memcmp(&file[(k * copies + c) * fileSampleBytes], expected.data(),
                           fileSampleBytes) != 0;
    }
  }
  EXPECT_EQ(wrong, 0u);
}

TEST(SampleRules, EveryHostValueExportsAsItsRuleSaysOnceOrThreeTimes) {
  std::vector<uint8_t> bytes(256);
  for (uint32_t v = 0; v < 256; ++v) bytes[v] = static_cast<uint8_t>(v);
  auto widen = [](const uint8_t* x) { return std::vector<uint8_t>{*x, *x}; };
  ExpectEveryValueExported(*Ready<Export8>(RGB16, RGB8), bytes, 1, 2, widen);
  ExpectEveryValueExported(*Ready<Export8>(RGB16, Gray8), bytes, 1, 2, widen);

  std::vector<uint16_t> words(65536);
  for (uint32_t v = 0; v < 65536; ++v) words[v] = static_cast<uint16_t>(v);
  auto scale = [](const uint8_t* x) {
    uint16_t h;
    std::memcpy(&h, x, 2);
    const uint32_t v = h > 32768 ? 65535 : (h * 65535u + 16384u) / 32768u;
    return std::vector<uint8_t>{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  };
  ExpectEveryValueExported(*Ready<Export16>(RGB16, RGB16), ToBytes(words), 2, 2, scale);
  ExpectEveryValueExported(*Ready<Export16>(RGB16, Gray16), ToBytes(words), 2, 2, scale);

  std::vector<uint32_t> bits = {kSignallingNaNBits, kNegativeNaNBits, Bits(-0.0f)};
  for (uint64_t b = 0; b < (uint64_t{1} << 32); b += 65537 * 13) bits.push_back(uint32_t(b));
  auto same = [](const uint8_t* x) { return std::vector<uint8_t>(x, x + 4); };
  ExpectEveryValueExported(*Ready<ExportFloat>(RGB32F, RGB32F), ToBytes(bits), 4, 4, same);
  ExpectEveryValueExported(*Ready<ExportFloat>(RGB32F, Gray32F), ToBytes(bits), 4, 4, same);
}

TEST(GrayPaths, EightBitAverageOfHighBytesRoundsToNearest) {
  auto converter = Ready<Import8>(Gray8, RGB16);
  // Low bytes differ to show that only the high bytes count.
  const std::vector<uint8_t> file =
      FileSamples({0x0AFF, 0x0A00, 0x0B80, 0x0A10, 0x0BFF, 0x0B00, 0xFFFF, 0xFF00, 0xFE00});
  EXPECT_EQ(ImportRow(*converter, file), (std::vector<uint8_t>{10, 11, 255}));
}

// The averaging rule for integer samples as specified, step by step in
// single precision (volatile so that x87 builds round each step to float too):
// the sum, times the float nearest 1/3, plus one half, clamped, truncated.
uint32_t SinglePrecisionMean(uint32_t a, uint32_t b, uint32_t c, float limit) {
  volatile float sum = 0.0f;
  sum = sum + static_cast<float>(a);
  sum = sum + static_cast<float>(b);
  sum = sum + static_cast<float>(c);
  volatile float inverse = 1.0f / 3.0f;
  volatile float mean = sum * inverse;
  volatile float rounded = mean >= 0.0f ? mean + 0.5f : mean - 0.5f;
  const float clamped = rounded < 0.0f ? 0.0f : (rounded > limit ? limit : rounded);
  return static_cast<uint32_t>(clamped);
}

// Triples (k, k, k), (k, k, k+1) and (k, k+1, k+1) of host levels reach every
// sum up to 3 x maxHost. The result must be the single-precision rule's, and
// the nearest integer to s / 3, that is (s + 1) / 3 since s / 3 never ends in
// a half.
template <typename Importer, typename HostSample>
void ExpectEveryThreeChannelSumAveragesToNearest(uint32_t maxHost, uint32_t (*toFile)(uint32_t),
                                                 int32_t grayFormat) {
  auto converter = Ready<Importer>(grayFormat, RGB16);
  const float limit = static_cast<float>(std::numeric_limits<HostSample>::max());
  std::vector<uint32_t> file;
  std::vector<uint32_t> nearest;
  std::vector<uint32_t> rule;
  for (uint32_t k = 0; k <= maxHost; ++k) {
    for (uint32_t ones = 0; ones < (k < maxHost ? 3u : 1u); ++ones) {
      uint32_t levels[3];
      for (uint32_t c = 0; c < 3; ++c) levels[c] = c < 3 - ones ? k : k + 1;
      for (uint32_t level : levels) file.push_back(toFile(level));
      nearest.push_back((3 * k + ones + 1) / 3);
      rule.push_back(SinglePrecisionMean(levels[0], levels[1], levels[2], limit));
    }
  }
  const std::vector<HostSample> host =
      FromBytes<HostSample>(ImportRow(*converter, FileSamples(file)));
  ASSERT_EQ(host.size(), nearest.size());
  size_t offNearest = 0;
  size_t offRule = 0;
  for (size_t p = 0; p < host.size(); ++p) {
    offNearest += host[p] != nearest[p];
    offRule += host[p] != rule[p];
  }
  EXPECT_EQ(offNearest, 0u);
  EXPECT_EQ(offRule, 0u);
}

TEST(GrayPaths, EveryEightBitSumAveragesToTheNearestInteger) {
  ExpectEveryThreeChannelSumAveragesToNearest<Import8, uint8_t>(
      255, [](uint32_t high) { return high << 8 | 0x5A; }, Gray8);
}

TEST(GrayPaths, EverySixteenBitSumAveragesToTheNearestInteger) {
  // File values that the import maps to exactly k, taken from the export's
  // rounding: (k * 65535 + 16384) / 32768.
  ExpectEveryThreeChannelSumAveragesToNearest<Import16, uint16_t>(
      32768, [](uint32_t k) { return (k * 65535 + 16384) / 32768; }, Gray16);
}

TEST(GrayPaths, SixteenBitAverageUsesTheConvertedHostLevels) {
  auto converter = Ready<Import16>(Gray16, RGB16);
  // Converted: 32768, 32768, 32767 -> 32767.67 -> 32768; 1, 1, 2 -> 1.33 -> 1.
  const std::vector<uint8_t> file = FileSamples({0xFFFF, 0xFFFF, 0xFFFE, 1, 2, 3});
  EXPECT_EQ(FromBytes<uint16_t>(ImportRow(*converter, file)), (std::vector<uint16_t>{32768, 1}));
}

TEST(GrayPaths, FloatAverageKeepsHdrValuesNaNAndInfinities) {
  auto converter = Ready<ImportFloat>(Gray32F, RGB32F);
  const std::vector<float> file = {1.5f,    0.25f,   kNaN,     // NaN mean stays NaN
                                   1.5f,    1.5f,    1.5f,     // above 1 stays
                                   -1.0f,   -2.0f,   0.5f,     // negative stays
                                   kInf,    0.0f,    0.0f,     // infinite stays
                                   -kInf,   1.0f,    1.0f,     // -infinite stays
                                   kInf,    -kInf,   0.5f,     // inf - inf -> NaN
                                   3.0e38f, 3.0e38f, 3.0e38f,  // no overflow to infinity in the sum
                                   0.75f,   0.75f,   0.75f,  // equal channels come back as they are
                                   0.0f,    0.0f,    1.0f};
  const std::vector<float> host = FromBytes<float>(ImportRow(*converter, ToBytes(file)));
  ASSERT_EQ(host.size(), 9u);
  EXPECT_TRUE(std::isnan(host[0]));
  EXPECT_EQ(host[1], 1.5f);
  EXPECT_EQ(host[2], static_cast<float>(-2.5 / 3.0));
  EXPECT_EQ(host[3], kInf);
  EXPECT_EQ(host[4], -kInf);
  EXPECT_TRUE(std::isnan(host[5]));
  EXPECT_EQ(host[6], 3.0e38f);
  EXPECT_EQ(host[7], 0.75f);
  EXPECT_EQ(host[8], 1.0f / 3.0f);
}

TEST(GrayPaths, FloatAverageGivesAPixelTheSameNaNWhereverItSits) {
  auto converter = Ready<ImportFloat>(Gray32F, RGB32F);
  const uint32_t one = Bits(1.0f), quietA = 0x7FC00001u, negative = kNegativeNaNBits;
  // The first NaN channel, made quiet, whatever the other channels hold.
  const std::vector<std::pair<std::vector<uint32_t>, uint32_t>> pixels = {
      {{quietA, negative, one}, quietA},
      {{one, negative, quietA}, negative},
      {{one, kSignallingNaNBits, negative}, kSignallingNaNBits | 0x00400000u},
      {{negative, kSignallingNaNBits, quietA}, negative},
  };
  // Eight pixels a row: the vector runs take the first ones, the portable
  // path the rest, so each position is tried.
  constexpr size_t kRow = 8;
  for (const auto& [channels, expected] : pixels) {
    for (size_t at = 0; at < kRow; ++at) {
      std::vector<uint32_t> file(3 * kRow, Bits(0.5f));
      std::copy(channels.begin(), channels.end(), file.begin() + 3 * at);
      const std::vector<uint32_t> host = FromBytes<uint32_t>(ImportRow(*converter, ToBytes(file)));
      ASSERT_EQ(host.size(), kRow);
      EXPECT_EQ(host[at], expected) << std::hex << channels[0] << " at " << std::dec << at;
    }
  }
}

TEST(GrayPaths, FloatAverageIsTheFloatNearestTheExactMean) {
  auto converter = Ready<ImportFloat>(Gray32F, RGB32F);
  std::mt19937 random(20261207);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<float> file(3 * converter->GetMaxPixels());
  for (float& sample : file) sample = unit(random);
  const std::vector<float> host = FromBytes<float>(ImportRow(*converter, ToBytes(file)));
  ASSERT_EQ(host.size() * 3, file.size());
  for (size_t p = 0; p < host.size(); ++p) {
    // The three floats lie within 2^24 of each other's scale, so their sum is
    // exact in long double; the division error is far below half a float step.
    const long double exact =
        (static_cast<long double>(file[3 * p]) + file[3 * p + 1] + file[3 * p + 2]) / 3.0L;
    const float got = host[p];
    const long double error = std::fabs(static_cast<long double>(got) - exact);
    EXPECT_LE(error, std::fabs(static_cast<long double>(std::nextafter(got, 2.0f)) - exact)) << p;
    EXPECT_LE(error, std::fabs(static_cast<long double>(std::nextafter(got, -1.0f)) - exact)) << p;
  }
}

#ifdef __SSE2__
// The runs that have an SSE2 and an SSSE3 form: each form against the rule,
// on every byte (the 8-bit gray export), on every 16-bit value in every
// channel position and on every sum of three host levels. The tests above
// reach only the form this processor takes.
uint32_t Swapped(uint32_t v) { return (v & 0xFF) << 8 | v >> 8; }

std::vector<uint16_t> Padded(std::vector<uint16_t> values, size_t multiple) {
  while (values.size() % multiple != 0) values.push_back(values[values.size() % 7]);
  return values;
}

template <typename In, typename Out, typename Run>
void ExpectRun(const char* form, Run run, const std::vector<In>& in, size_t units,
               const std::vector<Out>& expected) {
  SCOPED_TRACE(form);
  std::vector<Out> out(expected.size());
  ASSERT_EQ(run(in.data(), out.data(), units), units);
  size_t wrong = 0;
  for (size_t k = 0; k < out.size(); ++k) wrong += out[k] != expected[k];
  EXPECT_EQ(wrong, 0u);
}

TEST(VectorForms, BothInstructionSetsFollowTheRulesForEveryValue) {
  using namespace convert_detail;
  std::vector<uint16_t> every(65536);
  for (uint32_t v = 0; v < 65536; ++v) every[v] = static_cast<uint16_t>(v);
  // Pixels of three file samples: every value in each channel, and file
  // values whose host levels (k, k, k), (k, k, k + 1), (k, k + 1, k + 1)
  // reach every sum of three levels.
  std::vector<uint16_t> pixels;
  for (uint32_t v = 0; v < 65536; ++v) {
    for (uint32_t w : {v, (v * 40503u + 1u) & 0xFFFFu, (v * 7u + 12345u) & 0xFFFFu}) {
      pixels.push_back(static_cast<uint16_t>(Swapped(w)));
    }
  }
  auto file = [](uint32_t k) { return k == 32768 ? 65535u : 2 * k; };  // host level k
  for (uint32_t k = 0; k <= 32768; ++k) {
    for (uint32_t ones = 0; ones < (k < 32768 ? 3u : 1u); ++ones) {
      for (uint32_t c = 0; c < 3; ++c) {
        pixels.push_back(static_cast<uint16_t>(Swapped(file(c < 3 - ones ? k : k + 1))));
      }
    }
  }
  pixels = Padded(pixels, 24);
  const size_t pixelCount = pixels.size() / 3;

  std::vector<uint16_t> toFile, toFileThrice, toHost;
  for (uint32_t v : every) {
    const uint32_t scaled = v > 32768 ? 65535 : (v * 65535u + 16384u) / 32768u;
    toFile.push_back(static_cast<uint16_t>(Swapped(scaled)));
    for (int c = 0; c < 3; ++c) toFileThrice.push_back(static_cast<uint16_t>(Swapped(scaled)));
    toHost.push_back(static_cast<uint16_t>((Swapped(v) + 1) / 2));
  }
  std::vector<uint16_t> mean16;
  std::vector<uint8_t> mean8;
  for (size_t p = 0; p < pixelCount; ++p) {
    uint32_t levels = 1, highs = 1;
    for (size_t c = 0; c < 3; ++c) {
      levels += (Swapped(pixels[3 * p + c]) + 1) / 2;
      highs += Swapped(pixels[3 * p + c]) >> 8;
    }
    mean16.push_back(static_cast<uint16_t>(levels / 3));
    mean8.push_back(static_cast<uint8_t>(highs / 3));
  }

  std::vector<uint8_t> bytes(65536);
  std::vector<uint16_t> widenedThrice;
  for (uint32_t k = 0; k < bytes.size(); ++k) {
    bytes[k] = static_cast<uint8_t>(k * 7 + k / 256);
    for (int c = 0; c < 3; ++c) widenedThrice.push_back(static_cast<uint16_t>(bytes[k] * 257u));
  }

  using Export8Runs = VectorRuns<unsigned short, unsigned char, 0>;
  using Export16Runs = VectorRuns<unsigned short, unsigned short, 0>;
  using Import16Runs = VectorRuns<unsigned short, unsigned short, 1>;
  using Import8Runs = VectorRuns<unsigned char, unsigned short, 1>;
  ExpectRun("SSE2 8-bit gray export", Export8Runs::BroadcastSse2, bytes, 65536, widenedThrice);
  ExpectRun("SSE2 16-bit export", Export16Runs::PerChannelSse2, every, 65536, toFile);
  ExpectRun("SSE2 16-bit gray export", Export16Runs::BroadcastSse2, every, 65536, toFileThrice);
  ExpectRun("SSE2 16-bit import", Import16Runs::PerChannelSse2, every, 65536, toHost);
  ExpectRun("SSE2 16-bit gray import", Import16Runs::AverageSse2, pixels, pixelCount, mean16);
  ExpectRun("SSE2 8-bit gray import", Import8Runs::AverageSse2, pixels, pixelCount, mean8);
#ifdef VELMORA_SSSE3_RUNS
  if (!HasSsse3()) GTEST_SKIP() << "no SSSE3 here: only the SSE2 forms were checked";
  ExpectRun("SSSE3 8-bit gray export", Export8Runs::BroadcastSsse3, bytes, 65536, widenedThrice);
  ExpectRun("SSSE3 16-bit export", Export16Runs::PerChannelSsse3, every, 65536, toFile);
  ExpectRun("SSSE3 16-bit gray export", Export16Runs::BroadcastSsse3, every, 65536, toFileThrice);
  ExpectRun("SSSE3 16-bit import", Import16Runs::PerChannelSsse3, every, 65536, toHost);
  ExpectRun("SSSE3 16-bit gray import", Import16Runs::AverageSsse3, pixels, pixelCount, mean16);
  ExpectRun("SSSE3 8-bit gray import", Import8Runs::AverageSsse3, pixels, pixelCount, mean8);
#endif
}
#endif  // __SSE2__

// --- Chunks ------------------------------------------------------------------

TEST(Chunks, RowOf2500PixelsGoesAsChunksOf1000And1000And500) {
  auto converter = Ready<Export8>(RGB16, RGB8);
  std::vector<uint8_t> row(2500 * 3);
  for (size_t k = 0; k < row.size(); ++k) row[k] = static_cast<uint8_t>(k * 7 + k / 256);
  std::vector<uint32_t> chunks;
  const std::vector<uint32_t> file = FileValues(ExportRow(*converter, row, &chunks));
  EXPECT_EQ(chunks, (std::vector<uint32_t>{1000, 1000, 500}));
  ASSERT_EQ(file.size(), row.size());
  for (size_t k = 0; k < row.size(); ++k) ASSERT_EQ(file[k], row[k] * 257u) << k;
}

// Converts a full chunk of one byte pattern, then overwrites the whole input
// buffer with another and converts 10 pixels: only those 10 may change.
void ExpectShortChunkLeavesTheRestOfTheOutput(IConvertBuffer& converter, const char* what) {
  SCOPED_TRACE(what);
  const uint32_t inBytes = converter.GetInBufferSize();
  const uint32_t outBytes = converter.GetOutBufferSize();
  auto* in = static_cast<uint8_t*>(converter.GetInBuffer());
  const auto* out = static_cast<const uint8_t*>(converter.GetOutBuffer());

  for (uint32_t k = 0; k < inBytes; ++k) in[k] = static_cast<uint8_t>(k * 13 + 1);
  ASSERT_TRUE(converter.Convert(1000));
  const std::vector<uint8_t> full(out, out + outBytes);
  for (uint32_t k = 0; k < inBytes; ++k) in[k] = static_cast<uint8_t>(k * 29 + 7);
  ASSERT_TRUE(converter.Convert(1000));
  const std::vector<uint8_t> second(out, out + outBytes);
  ASSERT_NE(full, second);

  for (uint32_t k = 0; k < inBytes; ++k) in[k] = static_cast<uint8_t>(k * 13 + 1);
  ASSERT_TRUE(converter.Convert(1000));
  for (uint32_t k = 0; k < inBytes; ++k) in[k] = static_cast<uint8_t>(k * 29 + 7);
  ASSERT_TRUE(converter.Convert(10));
  const uint32_t head = 10 * converter.GetOutPixelSize();
  for (uint32_t k = 0; k < outBytes; ++k) {
    ASSERT_EQ(out[k], k < head ? second[k] : full[k]) << k;
  }
}

TEST(Chunks, ShortChunkAfterLongOneLeavesTheRestOfTheOutput) {
  ExpectShortChunkLeavesTheRestOfTheOutput(*Ready<Export16>(RGB16, Gray16), "broadcast");
  ExpectShortChunkLeavesTheRestOfTheOutput(*Ready<Import16>(RGB16, RGB16), "per-channel");
  ExpectShortChunkLeavesTheRestOfTheOutput(*Ready<ImportFloat>(RGB32F, RGB32F), "float copy");
  ExpectShortChunkLeavesTheRestOfTheOutput(*Ready<Import8>(Gray8, RGB16), "averaging");
  ExpectShortChunkLeavesTheRestOfTheOutput(*Ready<ImportFloat>(Gray32F, RGB32F), "float averaging");
}

TEST(Chunks, ShortInputAfterLongOneLeavesTheRestOfTheInput) {
  auto converter = Ready<Export16>(RGB16, Gray16);
  std::vector<uint16_t> first(1000);
  for (uint16_t k = 0; k < 1000; ++k) first[k] = static_cast<uint16_t>(k * 30);
  ExportRow(*converter, ToBytes(first));
  const std::vector<uint16_t> second(10, 32768);
  ASSERT_TRUE(converter->SetInput(second.data(), 20, 10));
  ASSERT_TRUE(converter->Convert(10));

  const auto* in = static_cast<const uint16_t*>(converter->GetInBuffer());
  std::vector<uint8_t> outBytes(converter->GetOutBufferSize());
  std::memcpy(outBytes.data(), converter->GetOutBuffer(), outBytes.size());
  const std::vector<uint32_t> out = FileValues(outBytes);
  for (uint32_t p = 0; p < 1000; ++p) {
    const uint32_t host = p < 10 ? 32768u : p * 30u;
    ASSERT_EQ(in[p], host) << p;
    for (uint32_t c = 0; c < 3; ++c) {
      ASSERT_EQ(out[p * 3 + c], (host * 65535 + 16384) / 32768) << p;
    }
  }
}

// Straight from one outside range into another, as the passes convert
// between the host's buffers and the file's blocks: the bytes the buffers
// give, wherever the ranges start; nothing written when they are short.
TEST(Chunks, ConvertingBetweenOutsideRangesGivesWhatTheBuffersGive) {
  for (const HostImage& image : {kRGB8, kRGB16, kRGB32F, kGray8, kGray16, kGray32F}) {
    for (const bool exporting : {true, false}) {
      SCOPED_TRACE(std::string(image.name) + (exporting ? " export" : " import"));
      const std::unique_ptr<IConvertBuffer> converter = MakeConverter(image, exporting);
      ASSERT_NE(converter, nullptr);
      const uint32_t pixels = 999;
      const uint32_t inBytes = pixels * converter->GetInPixelSize();
      const uint32_t outBytes = pixels * converter->GetOutPixelSize();
      std::vector<uint8_t> input(inBytes + 1);
      for (size_t k = 0; k < input.size(); ++k) input[k] = static_cast<uint8_t>(k * 37 + k / 251);
      std::memcpy(converter->GetInBuffer(), input.data(), inBytes);
      ASSERT_TRUE(converter->Convert(pixels));
      const auto* buffered = static_cast<const uint8_t*>(converter->GetOutBuffer());
      const std::vector<uint8_t> expected(buffered, buffered + outBytes);

      std::vector<uint8_t> output(outBytes + 1, 0xEE);
      for (const size_t offset : {size_t{0}, size_t{1}}) {
        std::vector<uint8_t> shifted(input.size());
        std::memcpy(shifted.data() + offset, input.data(), inBytes);
        std::fill(output.begin(), output.end(), 0xEE);
        ASSERT_TRUE(converter->ConvertBetween(shifted.data() + offset, inBytes,
                                              output.data() + offset, outBytes, pixels));
        EXPECT_EQ(std::vector<uint8_t>(output.begin() + offset, output.begin() + offset + outBytes),
                  expected)
            << "offset " << offset;
      }
      std::fill(output.begin(), output.end(), 0xEE);
      EXPECT_FALSE(
          converter->ConvertBetween(input.data(), inBytes - 1, output.data(), outBytes, pixels));
      EXPECT_FALSE(
          converter->ConvertBetween(input.data(), inBytes, output.data(), outBytes - 1, pixels));
      EXPECT_EQ(output, std::vector<uint8_t>(output.size(), 0xEE));
      EXPECT_EERROR(converter->ConvertBetween(nullptr, inBytes, output.data(), outBytes, 1));
      EXPECT_EERROR(converter->ConvertBetween(input.data(), inBytes, nullptr, outBytes, 1));
      EXPECT_EERROR(converter->ConvertBetween(input.data(), inBytes, output.data(), outBytes, 0));
      EXPECT_EERROR(
          converter->ConvertBetween(input.data(), inBytes, output.data(), outBytes, 1001));
    }
  }
}

// --- Blending by the host's selection -----------------------------------------

// Every 8-bit original, processed sample and coverage; every 16-bit original
// against processed samples over the whole range: the nearest host value to
// o + (p - o) x m / 255, which is never a tie.
TEST(Blend, IntegerSamplesTakeTheNearestHostValue) {
  for (uint32_t m = 0; m < 256; ++m)
    for (uint32_t o = 0; o < 256; ++o)
      for (uint32_t p = 0; p < 256; ++p) {
        const uint32_t x = o * (255 - m) + p * m;
        ASSERT_EQ(convert_detail::BlendSample(static_cast<uint8_t>(p), static_cast<uint8_t>(o),
                                              static_cast<uint8_t>(m)),
                  (2 * x + 255) / 510)
            << o << " " << p << " " << m;
      }
  // The same through the run, as the compiler vectorises it, and its
  // remainder.
  std::vector<uint8_t> processed(65536 + 15), original(processed.size()), weights(processed.size());
  std::vector<uint8_t> out(processed.size());
  for (size_t k = 0; k < processed.size(); ++k) {
    processed[k] = static_cast<uint8_t>(k);
    original[k] = static_cast<uint8_t>(k >> 8);
  }
  for (uint32_t m = 0; m < 256; ++m) {
    std::fill(weights.begin(), weights.end(), static_cast<uint8_t>(m));
    convert_detail::BlendRun(processed.data(), original.data(), weights.data(), out.data(),
                             out.size());
    for (size_t k = 0; k < out.size(); ++k) {
      const uint32_t x = original[k] * (255 - m) + processed[k] * m;
      ASSERT_EQ(out[k], (2 * x + 255) / 510) << k << " " << m;
    }
  }
  // 16-bit through the run (its vector form and its remainder): every
  // original against processed samples spread over the whole 16-bit range,
  // beyond the host's 32768 too, where nothing may wrap.
  std::vector<uint16_t> original16(65536 + 7), processed16(original16.size());
  std::vector<uint16_t> out16(original16.size());
  weights.resize(original16.size());
  for (const bool hostRange : {false, true}) {
    for (size_t k = 0; k < original16.size(); ++k) {
      original16[k] = static_cast<uint16_t>(k);
      processed16[k] = static_cast<uint16_t>(hostRange ? k * 3 % 32769 : k * 40503);
    }
    for (uint32_t m = 0; m < 256; ++m) {
      std::fill(weights.begin(), weights.end(), static_cast<uint8_t>(m));
      convert_detail::BlendRun(processed16.data(), original16.data(), weights.data(), out16.data(),
                               out16.size());
      for (size_t k = 0; k < out16.size(); ++k) {
        const uint32_t x = original16[k] * (255 - m) + processed16[k] * m;
        if (out16[k] == (2 * x + 255) / 510) continue;  // asserting each one takes seconds
        FAIL() << out16[k] << " from " << original16[k] << " " << processed16[k] << " " << m;
      }
    }
  }
}

// Through a converter, for every host format, from aligned and misaligned
// buffers: coverage 0 gives the original and 255 the converted samples bit
// for bit, NaNs and infinities too; runs wholly outside or inside the
// selection equal the original and ConvertBetween.
TEST(Blend, ConvertingBlendedKeepsTheOriginalOutsideTheSelection) {
  for (const HostImage& image : {kRGB8, kRGB16, kRGB32F, kGray8, kGray16, kGray32F}) {
    SCOPED_TRACE(image.name);
    const std::unique_ptr<IConvertBuffer> converter = MakeConverter(image, false);
    ASSERT_NE(converter, nullptr);
    const uint32_t pixels = 999;
    const uint32_t channels = converter->GetOutChannels();
    const uint32_t inBytes = pixels * converter->GetInPixelSize();
    const uint32_t outBytes = pixels * converter->GetOutPixelSize();
    std::vector<uint8_t> input(inBytes + 1);
    for (size_t k = 0; k < input.size(); ++k) input[k] = static_cast<uint8_t>(k * 37 + k / 251);
    std::vector<uint8_t> original(outBytes + 1);
    for (size_t k = 0; k < original.size(); ++k) original[k] = static_cast<uint8_t>(k * 11 + 3);
    if (image.depth == 16) {
      for (size_t k = 0; k + 1 < original.size(); k += 2) original[k + 1] &= 0x7F;  // 0..32767
    }
    if (image.depth == 32) {  // ordinary values, then NaNs and infinities on either side
      for (size_t k = 0; k + 4 <= input.size(); k += 4) {
        const float v = static_cast<float>(k % 4000) / 3989.0f;
        std::memcpy(input.data() + k, &v, 4);
      }
      for (size_t k = 0; k + 4 <= original.size(); k += 4) {
        const float v = static_cast<float>(k * 7 % 4000) / 3967.0f - 0.25f;
        std::memcpy(original.data() + k, &v, 4);
      }
      const uint32_t specials[] = {kSignallingNaNBits, Bits(kInf), kNegativeNaNBits,
                                   Bits(-kInf),        Bits(kNaN), kSignallingNaNBits};
      std::memcpy(original.data(), specials, sizeof specials);
      std::memcpy(input.data(), specials, sizeof specials);
    }
    // The first pixels, which hold them, wholly outside or inside.
    std::vector<uint8_t> coverage(pixels);
    for (uint32_t p = 0; p < pixels; ++p) {
      coverage[p] = static_cast<uint8_t>(p < 6 ? (p % 2 == 0 ? 0 : 255) : p % 3 == 0 ? 0 : p);
    }
    std::vector<uint8_t> converted(outBytes);
    ASSERT_TRUE(
        converter->ConvertBetween(input.data(), inBytes, converted.data(), outBytes, pixels));

    std::vector<uint8_t> blended;
    for (const size_t offset : {size_t{0}, size_t{1}}) {
      SCOPED_TRACE(offset);
      std::vector<uint8_t> in(inBytes + 1), before(outBytes + 1), out(outBytes + 1, 0xEE);
      std::memcpy(in.data() + offset, input.data(), inBytes);
      std::memcpy(before.data() + offset, original.data(), outBytes);
      ASSERT_TRUE(converter->ConvertBlended(in.data() + offset, inBytes, before.data() + offset,
                                            outBytes, coverage.data(), out.data() + offset,
                                            outBytes, pixels));
      const size_t sampleSize = converter->GetOutPixelSize() / channels;
      for (uint32_t p = 0; p < pixels; ++p)
        for (uint32_t c = 0; c < channels; ++c) {
          const size_t at = (p * channels + c) * sampleSize;
          const uint8_t m = coverage[p];
          const uint8_t* got = out.data() + offset + at;
          if (m == 0 || m == 255) {
            const uint8_t* want = (m == 0 ? original.data() : converted.data()) + at;
            ASSERT_EQ(std::memcmp(got, want, sampleSize), 0) << p << "," << c;
          } else if (image.depth == 32) {
            float o, q, r;
            std::memcpy(&o, original.data() + at, 4);
            std::memcpy(&q, converted.data() + at, 4);
            std::memcpy(&r, got, 4);
            const double exact = o + (static_cast<double>(q) - o) * m / 255.0;
            ASSERT_NEAR(r, exact, 1e-6 * std::max(1.0, std::fabs(exact))) << p << "," << c;
          } else {
            uint32_t o = 0, q = 0, r = 0;
            std::memcpy(&o, original.data() + at, sampleSize);
            std::memcpy(&q, converted.data() + at, sampleSize);
            std::memcpy(&r, got, sampleSize);
            ASSERT_EQ(r, (2 * (o * (255u - m) + q * m) + 255) / 510) << p << "," << c;
          }
        }
      EXPECT_EQ(out[offset == 0 ? outBytes : 0], 0xEE);
      if (offset == 0) blended.assign(out.begin(), out.begin() + outBytes);
    }
    // A host that hands out one buffer as original and output.
    std::vector<uint8_t> shared(original.begin(), original.begin() + outBytes);
    ASSERT_TRUE(converter->ConvertBlended(input.data(), inBytes, shared.data(), outBytes,
                                          coverage.data(), shared.data(), outBytes, pixels));
    EXPECT_EQ(shared, blended);

    std::vector<uint8_t> out(outBytes, 0xEE);
    const std::vector<uint8_t> none(pixels, 0), full(pixels, 255);
    ASSERT_TRUE(converter->ConvertBlended(input.data(), inBytes, original.data(), outBytes,
                                          none.data(), out.data(), outBytes, pixels));
    EXPECT_EQ(out, std::vector<uint8_t>(original.begin(), original.begin() + outBytes));
    ASSERT_TRUE(converter->ConvertBlended(input.data(), inBytes, original.data(), outBytes,
                                          full.data(), out.data(), outBytes, pixels));
    EXPECT_EQ(out, converted);

    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_FALSE(converter->ConvertBlended(input.data(), inBytes, original.data(), outBytes - 1,
                                           coverage.data(), out.data(), outBytes, pixels));
    EXPECT_FALSE(converter->ConvertBlended(input.data(), inBytes - 1, original.data(), outBytes,
                                           coverage.data(), out.data(), outBytes, pixels));
    EXPECT_EQ(out, std::vector<uint8_t>(outBytes, 0xEE));
    EXPECT_EERROR(converter->ConvertBlended(input.data(), inBytes, original.data(), outBytes,
                                            nullptr, out.data(), outBytes, pixels));
    EXPECT_FALSE(MakeConverter(image, true)
                     ->ConvertBlended(input.data(), inBytes, original.data(), outBytes,
                                      coverage.data(), out.data(), outBytes, 1));
  }
}

// --- Checks that throw and shortfalls that return false ----------------------

TEST(Checks, SetInputRejectsNullEmptyAndBadCountsAndUnreadyConverters) {
  auto converter = Ready<Export8>(RGB16, RGB8);
  std::vector<uint8_t> data(3 * 1001, 9);
  const uint32_t size = static_cast<uint32_t>(data.size());
  EXPECT_EERROR(converter->SetInput(nullptr, size, 1));
  EXPECT_EERROR(converter->SetInput(data.data(), 0, 1));
  EXPECT_EERROR(converter->SetInput(data.data(), size, 0));
  EXPECT_EERROR(converter->SetInput(data.data(), size, 1001));
  EXPECT_TRUE(converter->SetInput(data.data(), size, 1000));

  Export8 unready(RGB16, RGB8);
  EXPECT_EERROR(unready.SetInput(data.data(), size, 1));
  converter->Clear();
  EXPECT_EERROR(converter->SetInput(data.data(), size, 1));
}

TEST(Checks, SetInputWithDataOneByteShortReturnsFalseAndCopiesNothing) {
  auto converter = Ready<Export16>(RGB16, RGB16);
  const std::vector<uint16_t> before(3 * 4, 1234);
  ASSERT_TRUE(converter->SetInput(before.data(), 24, 4));
  const std::vector<uint16_t> data(3 * 4, 4321);
  EXPECT_FALSE(converter->SetInput(data.data(), 23, 4));
  const auto* in = static_cast<const uint16_t*>(converter->GetInBuffer());
  for (size_t k = 0; k < before.size(); ++k) EXPECT_EQ(in[k], 1234) << k;
  EXPECT_TRUE(converter->SetInput(data.data(), 24, 4));
  EXPECT_EQ(in[11], 4321);
}

TEST(Checks, ConvertRejectsBadCountsAndUnreadyConverters) {
  auto converter = Ready<ImportFloat>(Gray32F, RGB32F);
  EXPECT_EERROR(converter->Convert(0));
  EXPECT_EERROR(converter->Convert(1001));
  EXPECT_TRUE(converter->Convert(1000));
  EXPECT_TRUE(converter->Convert(1));
  ImportFloat unready(Gray32F, RGB32F);
  EXPECT_EERROR(unready.Convert(1));
  converter->Clear();
  EXPECT_EERROR(converter->Convert(1));
}

TEST(Checks, GetOutputRejectsNullOutPointersBadCountsAndUnreadyConverters) {
  auto converter = Ready<Import8>(RGB8, RGB16);
  const void* data = nullptr;
  uint32_t size = 77;
  EXPECT_EERROR(converter->GetOutput(nullptr, &size, 1));
  EXPECT_EERROR(converter->GetOutput(&data, nullptr, 1));
  EXPECT_EERROR(converter->GetOutput(&data, &size, 0));
  EXPECT_EERROR(converter->GetOutput(&data, &size, 1001));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(size, 77u);
  ASSERT_TRUE(converter->GetOutput(&data, &size, 1000));
  EXPECT_EQ(data, converter->GetOutBuffer());
  EXPECT_EQ(size, 3000u);
  Import8 unready(RGB8, RGB16);
  EXPECT_EERROR(unready.GetOutput(&data, &size, 1));
}

TEST(Checks, CountsAndChannelsNeedASuccessfulInit) {
  Import16 converter(Gray16, RGB16);
  EXPECT_FALSE(converter.IsReady());
  EXPECT_EERROR(converter.GetMaxPixels());
  EXPECT_EERROR(converter.GetInChannels());
  EXPECT_EERROR(converter.GetOutChannels());
  ASSERT_TRUE(converter.Init());
  EXPECT_EQ(converter.GetMaxPixels(), 1000u);
  EXPECT_EQ(converter.GetInChannels(), 3u);
  EXPECT_EQ(converter.GetOutChannels(), 1u);
  converter.Clear();
  EXPECT_EERROR(converter.GetMaxPixels());
  EXPECT_EERROR(converter.GetInChannels());
  EXPECT_EERROR(converter.GetOutChannels());
}

TEST(Checks, FormatZeroThrowsInInitAndUnknownFormatsFailIt) {
  Export8 zeroIn(RGB16, None);
  EXPECT_EERROR(zeroIn.Init());
  Import8 zeroOut(None, RGB16);
  EXPECT_EERROR(zeroOut.Init());
  EXPECT_FALSE(zeroOut.IsReady());

  Export8 seven(RGB16, 7);
  EXPECT_FALSE(seven.Init());
  EXPECT_FALSE(seven.IsReady());
  EXPECT_EERROR(seven.GetMaxPixels());
  EXPECT_EERROR(seven.Convert(1));
  Import8 negative(-1, RGB16);
  EXPECT_FALSE(negative.Init());
  EXPECT_EQ(negative.GetInBufferSize(), 0u);
}

TEST(Checks, HeadersNeedASizeAndSamplesFillNeedsABuffer) {
  ExportFloat converter(RGB32F, Gray32F);
  EXPECT_EERROR(converter.GetInHeader(nullptr));
  EXPECT_EERROR(converter.GetOutHeader(nullptr));
  EXPECT_EERROR(FillSamples<float>(nullptr, 3, 0.0f));
  EXPECT_EERROR(FillSamples<float>(nullptr, 0, 0.0f));
  float untouched = 5.0f;
  FillSamples(&untouched, 0, 0.0f);
  EXPECT_EQ(untouched, 5.0f);
}

TEST(Checks, ChannelCountOfFormatZeroThrowsAndOfUnknownCodesIsZero) {
  EXPECT_EERROR(GetChannelCount(None));
  EXPECT_EQ(GetChannelCount(7), 0u);
  EXPECT_EQ(GetChannelCount(-3), 0u);
  for (int32_t f = RGB8; f <= RGB32F; ++f) EXPECT_EQ(GetChannelCount(f), 3u);
  for (int32_t f = Gray8; f <= Gray32F; ++f) EXPECT_EQ(GetChannelCount(f), 1u);
}

// --- Life cycle and headers ----------------------------------------------------

TEST(LifeCycle, ClearZeroesSizesAndBothBuffersAndKeepsTheFormats) {
  auto converter = Ready<Export16>(RGB16, Gray16);
  const std::vector<uint16_t> host(1000, 12345);
  ExportRow(*converter, ToBytes(host));
  converter->Clear();
  EXPECT_FALSE(converter->IsReady());
  EXPECT_EQ(converter->GetInBufferSize(), 0u);
  EXPECT_EQ(converter->GetOutBufferSize(), 0u);
  EXPECT_EQ(converter->GetInPixelSize(), 0u);
  EXPECT_EQ(converter->GetOutPixelSize(), 0u);
  const auto* in = static_cast<const uint16_t*>(converter->GetInBuffer());
  const auto* out = static_cast<const uint16_t*>(converter->GetOutBuffer());
  for (uint32_t k = 0; k < kBufferSamples; ++k) {
    ASSERT_EQ(in[k], 0) << k;
    ASSERT_EQ(out[k], 0) << k;
  }
  const ImageSize size{2, 3};
  EXPECT_EQ(converter->GetInHeader(&size).maxValue, 65535);
  ASSERT_TRUE(converter->Init());
  EXPECT_EQ(converter->GetInChannels(), 1u);
  EXPECT_EQ(converter->GetOutChannels(), 3u);
}

TEST(LifeCycle, InitStartsAgainFromAClearedState) {
  auto converter = Ready<Import8>(Gray8, RGB16);
  const std::vector<uint8_t> file = FileSamples({0x4000, 0x4000, 0x4000});
  ImportRow(*converter, file);
  ASSERT_EQ(static_cast<const uint8_t*>(converter->GetOutBuffer())[0], 0x40);
  ASSERT_TRUE(converter->Init());
  EXPECT_EQ(static_cast<const uint8_t*>(converter->GetOutBuffer())[0], 0);
  EXPECT_EQ(static_cast<const uint16_t*>(converter->GetInBuffer())[0], 0);
  EXPECT_EQ(converter->GetMaxPixels(), 1000u);
}

TEST(LifeCycle, HeadersFollowTheFormatCodesAndTheSizeOrder) {
  const ImageSize size{480, 640};
  Export8 gray8(RGB16, Gray8);
  const ExchangeHeader out = gray8.GetOutHeader(&size);
  EXPECT_EQ(out.magic, "P6");
  EXPECT_EQ(out.width, 640);
  EXPECT_EQ(out.height, 480);
  EXPECT_EQ(out.maxValue, 65535);
  const ExchangeHeader in = gray8.GetInHeader(&size);
  EXPECT_EQ(in.magic, "P6");
  EXPECT_EQ(in.maxValue, 255);

  ImportFloat unknown(Gray32F, 9);
  const ExchangeHeader nine = unknown.GetInHeader(&size);
  EXPECT_EQ(nine.magic, "");
  EXPECT_EQ(nine.maxValue, 0);
  EXPECT_EQ(nine.width, 640);
  EXPECT_EQ(nine.height, 480);
  const ExchangeHeader gray = unknown.GetOutHeader(&size);
  EXPECT_EQ(gray.magic, "PF");
  EXPECT_EQ(gray.maxValue, -1);
}

}  // namespace

// The header reader and the whole import pass on arbitrary processed files,
// against a test host holding a small image of any supported format, with
// or without a selection. The first three bytes choose the host image; the
// rest is the processed file.
//
// A plain model of the header and of the chunk reads predicts the result
// code and exactly which chunks reach the host; every stored pixel must be
// the conversion of its file pixel and every other byte of the host image
// must be untouched.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "base/Error.h"
#include "exchange/ImportPass.h"
#include "support/TestContext.h"
#include "tools/testhost/TestHost.h"

namespace {

using testhost::HostOptions;
using testhost::TestHost;

constexpr size_t kConfigBytes = 3;
constexpr uint32_t kChunkPixels = 1000;
constexpr size_t kTokenWindow = 33;

// Widths around the chunk length as well as tiny ones.
constexpr int32_t kWidths[16] = {1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 9, 999, 1000, 1001, 2001};

struct Layout {
  HostOptions host;
  int32_t channels;  // host channels the pass converts (3 RGB, 1 gray)
  bool floats;       // float map ("PF") rather than 16-bit pixmap ("P6")
};

Layout DecodeLayout(const uint8_t* config) {
  Layout layout;
  HostOptions& o = layout.host;
  const int kind = config[0] % 6;
  o.depth = kind % 3 == 0 ? 8 : kind % 3 == 1 ? 16 : 32;
  o.gray = kind >= 3;
  o.width = kWidths[config[1] % 16];
  o.height = 1 + (config[2] & 3);
  o.bigDocument = (config[2] & 4) != 0;
  static const int32_t kPaddings[4] = {0, 1, 3, 16};
  o.outRowPadding = kPaddings[(config[2] >> 3) & 3];
  layout.channels = o.gray ? 1 : 3;
  // A layer with transparency: one more plane than the mode's channels,
  // which the pass must leave alone.
  const bool transparency = (config[2] & 32) != 0;
  o.planes = static_cast<int16_t>(layout.channels + (transparency ? 1 : 0));
  o.layerPlanes = static_cast<int16_t>(layout.channels);
  layout.floats = o.depth == 32;
  // A selection of whole pixels in and out (the blend of an edge has tests
  // of its own), with padded mask rows or not.
  if ((config[2] & 64) != 0) {
    for (int32_t y = 0; y < o.height; ++y)
      for (int32_t x = 0; x < o.width; ++x) o.mask.push_back((x * 5 + y * 3) % 7 < 3 ? 0 : 255);
  }
  o.maskRowPadding = (config[2] & 128) != 0 ? 7 : 0;
  return layout;
}

// One header token as the reader takes it: byte by byte within a window of
// 33, ended by a line feed or a space; a byte past the end of the file
// leaves its zero. False when the window passes without a separator.
bool ModelToken(const uint8_t* file, size_t size, size_t& position, std::string& token) {
  char window[kTokenWindow] = {};
  for (size_t i = 0; i < kTokenWindow; ++i) {
    if (position >= size) continue;
    const char c = static_cast<char>(file[position++]);
    if (c == '\n' || c == ' ') {
      token = window;  // up to the first zero byte
      return true;
    }
    window[i] = c;
  }
  return false;
}

// atoi's reading (white space, sign, digits), saturated to 32 bits.
int64_t ModelInteger(const std::string& token) {
  size_t i = 0;
  while (i < token.size() && (token[i] == ' ' || (token[i] >= '\t' && token[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  int64_t value = 0;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    value = value * 10 + (token[i] - '0');
    if (value > (int64_t{1} << 32)) value = int64_t{1} << 32;
  }
  value = negative ? -value : value;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return value;
}

struct Prediction {
  int16_t result;
  size_t samplesAt;  // file offset of the first sample
  size_t chunks;     // chunks that reach the host
  size_t pixels;     // pixels they hold: the image's first, row by row
};

Prediction Predict(const Layout& layout, const uint8_t* file, size_t size) {
  Prediction p{kParamErr, 0, 0, 0};
  size_t position = 0;
  std::string tokens[4];
  for (std::string& token : tokens) {
    if (!ModelToken(file, size, position, token)) return p;
  }
  const int64_t width = ModelInteger(tokens[1]) < 0 ? 0 : ModelInteger(tokens[1]);
  const int64_t height = ModelInteger(tokens[2]) < 0 ? 0 : ModelInteger(tokens[2]);
  const bool matches = tokens[0] == (layout.floats ? "PF" : "P6") && width == layout.host.width &&
                       height == layout.host.height &&
                       ModelInteger(tokens[3]) == (layout.floats ? -1 : 65535);
  p.result = kReadErr;
  if (!matches) return p;
  p.samplesAt = position;
  const size_t pixelBytes = layout.floats ? 12 : 6;
  // A file short of any sample reaches the host not at all.
  const uint64_t needed = static_cast<uint64_t>(layout.host.width) *
                          static_cast<uint64_t>(layout.host.height) * pixelBytes;
  if (size - position < needed) return p;
  for (int32_t row = 0; row < layout.host.height; ++row) {
    for (int32_t left = 0; left < layout.host.width; left += kChunkPixels) {
      const int32_t right = left + static_cast<int32_t>(kChunkPixels) < layout.host.width
                                ? left + static_cast<int32_t>(kChunkPixels)
                                : layout.host.width;
      const size_t bytes = static_cast<size_t>(right - left) * pixelBytes;
      if (size - position < bytes) return p;
      position += bytes;
      ++p.chunks;
      p.pixels += static_cast<size_t>(right - left);
    }
  }
  p.result = kNoErr;
  return p;
}

uint32_t FileSample16(const uint8_t* pixel, int channel) {
  return static_cast<uint32_t>(pixel[2 * channel]) << 8 | pixel[2 * channel + 1];
}

float FileSampleFloat(const uint8_t* pixel, int channel) {
  float value;
  std::memcpy(&value, pixel + 4 * channel, 4);
  return value;
}

bool NearFloat(float actual, float expected) {
  if (std::isnan(expected)) return std::isnan(actual);
  if (std::isinf(expected)) return actual == expected;
  return std::fabs(actual - expected) <= 1e-6f * std::max(1.0f, std::fabs(expected));
}

const uint8_t* HostPixel(const Layout& layout, const TestHost& host, int32_t x, int32_t y) {
  const size_t index =
      static_cast<size_t>(y) * static_cast<size_t>(layout.host.width) + static_cast<size_t>(x);
  return host.Image().data() + index * static_cast<size_t>(layout.host.planes) * host.SampleSize();
}

// The host samples one stored pixel must hold, checked against its file
// pixel by the conversion rules, with the tolerance each rule allows.
void CheckPixel(const Layout& layout, const TestHost& host, int32_t x, int32_t y,
                const uint8_t* pixel) {
  const int channels = layout.channels;
  switch (layout.host.depth) {
    case 8:
      if (channels == 3) {
        for (int c = 0; c < 3; ++c) FUZZ_CHECK(host.Sample(x, y, c) == FileSample16(pixel, c) >> 8);
      } else {
        // The nearest integer to the mean of the three high bytes.
        const uint32_t sum = (FileSample16(pixel, 0) >> 8) + (FileSample16(pixel, 1) >> 8) +
                             (FileSample16(pixel, 2) >> 8);
        FUZZ_CHECK(host.Sample(x, y, 0) == (sum + 1) / 3);
      }
      break;
    case 16: {
      // 0..65535 scaled to 0..32768, the way rounded or truncated.
      double exact = 0.0;
      for (int c = 0; c < 3; ++c) exact += FileSample16(pixel, c) * 32768.0 / 65535.0;
      if (channels == 3) {
        for (int c = 0; c < 3; ++c) {
          const double value = host.Sample(x, y, c);
          FUZZ_CHECK(value >= 0.0 && value <= 32768.0);
          FUZZ_CHECK(std::fabs(value - FileSample16(pixel, c) * 32768.0 / 65535.0) <= 1.0);
        }
      } else {
        const double value = host.Sample(x, y, 0);
        FUZZ_CHECK(value >= 0.0 && value <= 32768.0);
        FUZZ_CHECK(std::fabs(value - exact / 3.0) <= 1.5);
      }
      break;
    }
    default:
      if (channels == 3) {
        // Copied bit for bit, NaNs and infinities included.
        FUZZ_CHECK(std::memcmp(HostPixel(layout, host, x, y), pixel, 12) == 0);
      } else {
        // The mean, unclamped, summed in single or in double precision.
        const float a = FileSampleFloat(pixel, 0);
        const float b = FileSampleFloat(pixel, 1);
        const float c = FileSampleFloat(pixel, 2);
        const float single = static_cast<float>(static_cast<float>(a + b) + c) * (1.0f / 3.0f);
        const float wide =
            static_cast<float>((static_cast<double>(a) + static_cast<double>(b) + c) / 3.0);
        const float value = static_cast<float>(host.Sample(x, y, 0));
        FUZZ_CHECK(NearFloat(value, single) || NearFloat(value, wide));
      }
      break;
  }
}

// Host image bytes that cannot be NaN patterns twice in a row, so that an
// unchanged image compares equal byte for byte.
void FillHost(TestHost& host) {
  std::vector<uint8_t>& image = host.Image();
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 131 + 7);
}

fuzzsupport::ScratchFolder& Scratch() {
  static fuzzsupport::ScratchFolder folder("import");
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kConfigBytes) return 0;
  const Layout layout = DecodeLayout(data);
  const uint8_t* file = data + kConfigBytes;
  const size_t fileSize = size - kConfigBytes;

  // One processed file, rewritten for every input.
  const std::string path =
      Scratch().File(layout.floats ? "Velmora_Processed.pfm" : "Velmora_Processed.ppm");
  FUZZ_CHECK(fuzzsupport::WriteWholeFile(path, file, fileSize));

  TestHost host(layout.host);
  if (layout.host.bigDocument) host.BigDocument().PluginUsing32BitCoordinates = 1;
  FillHost(host);
  const std::vector<uint8_t> original = host.Image();

  int16_t result;
  {
    testsupport::BoundContext context(&host.Record());
    context.SetImportPath(path);
    FUZZ_CHECK(OpenImportFile(context.get()) == kNoErr);
    result = ImportProcessedImage(context.get());
    host.CommitPending();
    FUZZ_CHECK(context->converter == nullptr);
    FUZZ_CHECK(CloseImportFile(context.get()) == kNoErr);
    FUZZ_CHECK(context->importFile.descriptor == -1);
  }

  const Prediction expected = Predict(layout, file, fileSize);
  FUZZ_CHECK(result == expected.result);
  FUZZ_CHECK(host.Requests().size() == expected.chunks);
  FUZZ_CHECK(host.LastError().empty());
  FUZZ_CHECK(host.BuffersIntact());

  // Pixels of the stored chunks, in file order; everything else untouched.
  const size_t pixelBytes = layout.floats ? 12 : 6;
  const size_t sampleSize = host.SampleSize();
  const size_t planes = static_cast<size_t>(layout.host.planes);
  std::vector<uint8_t> checked = original;
  for (size_t index = 0; index < expected.pixels; ++index) {
    const int32_t x = static_cast<int32_t>(index % static_cast<size_t>(layout.host.width));
    const int32_t y = static_cast<int32_t>(index / static_cast<size_t>(layout.host.width));
    const size_t at = index * planes * sampleSize;
    // Outside the selection the original stays, bit for bit.
    if (!layout.host.mask.empty() && layout.host.mask[index] == 0) continue;
    CheckPixel(layout, host, x, y, file + expected.samplesAt + index * pixelBytes);
    // The converted planes are checked above; take them over so that the
    // comparison below covers every other byte.
    std::memcpy(checked.data() + at, host.Image().data() + at,
                static_cast<size_t>(layout.channels) * sampleSize);
  }
  FUZZ_CHECK(checked == host.Image());
  return 0;
}

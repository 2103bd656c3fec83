// Helpers that drive converters the way the export and import passes do, and
// a plug-in context with a host record for the factories.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "convert/ConverterFactory.h"
#include "convert/IConvertBuffer.h"
#include "host/HostInterface.h"
#include "host/PluginContext.h"

namespace convert_test {

// Host image descriptions as the host hands them over, one per host format.
struct HostImage {
  const char* name;
  int16_t imageMode;
  int32_t depth;
  int16_t planes;
};
constexpr HostImage kRGB8{"RGB 8-bit", host::kModeRGBColor, 8, 3};
constexpr HostImage kRGB16{"RGB 16-bit", host::kModeRGB48, 16, 3};
constexpr HostImage kRGB32F{"RGB float", host::kModeRGB96, 32, 3};
constexpr HostImage kGray8{"gray 8-bit", host::kModeGrayScale, 8, 1};
constexpr HostImage kGray16{"gray 16-bit", host::kModeGray16, 16, 1};
constexpr HostImage kGray32F{"gray float", host::kModeGray32, 32, 1};

// A context built the way the entry point builds one, in zero-filled memory,
// with a host record of its own. Releases any converter it still holds.
class TestContext {
 public:
  TestContext() {
    std::memset(storage_, 0, sizeof storage_);
    context_ = reinterpret_cast<PluginContext*>(storage_);
    InitContext(context_);
    context_->filterRecord = &record;
  }
  explicit TestContext(const HostImage& image) : TestContext() { Describe(image); }
  ~TestContext() { context_->converter.reset(); }
  TestContext(const TestContext&) = delete;
  TestContext& operator=(const TestContext&) = delete;

  void Describe(const HostImage& image) {
    record.imageMode = image.imageMode;
    record.depth = image.depth;
    record.planes = image.planes;
  }
  PluginContext* get() { return context_; }
  PluginContext* operator->() { return context_; }

  host::FilterRecord record{};

 private:
  alignas(PluginContext) unsigned char storage_[sizeof(PluginContext)];
  PluginContext* context_;
};

// The export (or import) converter the factory picks for a host image,
// initialised and owned by the caller.
inline std::unique_ptr<IConvertBuffer> MakeConverter(const HostImage& image, bool exporting) {
  TestContext context(image);
  const bool made =
      exporting ? CreateExportConverter(context.get()) : CreateImportConverter(context.get());
  EXPECT_TRUE(made) << image.name;
  if (!made) return nullptr;
  std::unique_ptr<IConvertBuffer> converter = std::move(context->converter);
  EXPECT_TRUE(converter->Init()) << image.name;
  return converter;
}

template <typename T>
std::vector<uint8_t> ToBytes(const std::vector<T>& values) {
  std::vector<uint8_t> bytes(values.size() * sizeof(T));
  if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

template <typename T>
std::vector<T> FromBytes(const std::vector<uint8_t>& bytes) {
  std::vector<T> values(bytes.size() / sizeof(T));
  if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * sizeof(T));
  return values;
}

// Big-endian file samples as the exchange file stores them.
inline std::vector<uint8_t> FileSamples(const std::vector<uint32_t>& values) {
  std::vector<uint8_t> bytes;
  for (uint32_t v : values) {
    bytes.push_back(static_cast<uint8_t>(v >> 8));
    bytes.push_back(static_cast<uint8_t>(v));
  }
  return bytes;
}
inline std::vector<uint32_t> FileValues(const std::vector<uint8_t>& bytes) {
  std::vector<uint32_t> values;
  for (size_t k = 0; k + 1 < bytes.size(); k += 2) values.push_back(bytes[k] << 8 | bytes[k + 1]);
  return values;
}

// Feeds a whole row of input pixels through SetInput, Convert and GetOutput
// in chunks of GetMaxPixels, as the export pass does; records chunk lengths.
inline std::vector<uint8_t> ExportRow(IConvertBuffer& converter, const std::vector<uint8_t>& input,
                                      std::vector<uint32_t>* chunks = nullptr) {
  const uint32_t inPixel = converter.GetInPixelSize();
  const uint32_t total = static_cast<uint32_t>(input.size() / inPixel);
  const uint32_t chunk = converter.GetMaxPixels();
  std::vector<uint8_t> output;
  for (uint32_t first = 0; first < total; first += chunk) {
    const uint32_t pixels = std::min(chunk, total - first);
    if (chunks != nullptr) chunks->push_back(pixels);
    const uint8_t* data = input.data() + size_t{first} * inPixel;
    EXPECT_TRUE(converter.SetInput(data, pixels * inPixel, pixels));
    EXPECT_TRUE(converter.Convert(pixels));
    const void* out = nullptr;
    uint32_t size = 0;
    EXPECT_TRUE(converter.GetOutput(&out, &size, pixels));
    EXPECT_EQ(size, pixels * converter.GetOutPixelSize());
    const auto* bytes = static_cast<const uint8_t*>(out);
    output.insert(output.end(), bytes, bytes + size);
  }
  return output;
}

// Reads file bytes straight into the input buffer, converts and copies the
// output buffer out, chunk by chunk, as the import pass does.
inline std::vector<uint8_t> ImportRow(IConvertBuffer& converter,
                                      const std::vector<uint8_t>& input) {
  const uint32_t inPixel = converter.GetInPixelSize();
  const uint32_t outPixel = converter.GetOutPixelSize();
  const uint32_t total = static_cast<uint32_t>(input.size() / inPixel);
  const uint32_t chunk = converter.GetMaxPixels();
  std::vector<uint8_t> output;
  for (uint32_t first = 0; first < total; first += chunk) {
    const uint32_t pixels = std::min(chunk, total - first);
    EXPECT_LE(pixels * inPixel, converter.GetInBufferSize());
    std::memcpy(converter.GetInBuffer(), input.data() + size_t{first} * inPixel, pixels * inPixel);
    EXPECT_TRUE(converter.Convert(pixels));
    EXPECT_LE(pixels * outPixel, converter.GetOutBufferSize());
    const auto* bytes = static_cast<const uint8_t*>(converter.GetOutBuffer());
    output.insert(output.end(), bytes, bytes + size_t{pixels} * outPixel);
  }
  return output;
}

// Every EError carries -1715.
#define EXPECT_EERROR(statement)                                 \
  do {                                                           \
    bool thrown_ = false;                                        \
    try {                                                        \
      statement;                                                 \
    } catch (EError error_) {                                    \
      thrown_ = true;                                            \
      EXPECT_EQ(error_, -1715);                                  \
    }                                                            \
    EXPECT_TRUE(thrown_) << "expected EError from: " #statement; \
  } while (false)

}  // namespace convert_test

// Converter selection and ownership: which converter each host image gets,
// its sizes, and that the context never holds more than one.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ConvertTestSupport.h"
#include "base/Error.h"
#include "convert/ConvertBuffer.h"
#include "convert/ConverterFactory.h"

namespace {

using namespace convert_test;

struct Expected {
  HostImage image;
  bool exporting;
  uint32_t inPixelSize, outPixelSize, inBufferSize, outBufferSize;
  uint32_t inChannels, outChannels;
  const char* fileMagic;
  int32_t fileMaxValue;
  int32_t hostMaxValue;
};

// Every converter the factories create, with the sizes Init must give it.
const Expected kTable[] = {
    {kRGB8, true, 3, 6, 3000, 6000, 3, 3, "P6", 65535, 255},
    {kGray8, true, 1, 6, 1000, 6000, 1, 3, "P6", 65535, 255},
    {kRGB16, true, 6, 6, 6000, 6000, 3, 3, "P6", 65535, 65535},
    {kGray16, true, 2, 6, 2000, 6000, 1, 3, "P6", 65535, 65535},
    {kRGB32F, true, 12, 12, 12000, 12000, 3, 3, "PF", -1, -1},
    {kGray32F, true, 4, 12, 4000, 12000, 1, 3, "PF", -1, -1},
    {kRGB8, false, 6, 3, 6000, 3000, 3, 3, "P6", 65535, 255},
    {kGray8, false, 6, 1, 6000, 1000, 3, 1, "P6", 65535, 255},
    {kRGB16, false, 6, 6, 6000, 6000, 3, 3, "P6", 65535, 65535},
    {kGray16, false, 6, 2, 6000, 2000, 3, 1, "P6", 65535, 65535},
    {kRGB32F, false, 12, 12, 12000, 12000, 3, 3, "PF", -1, -1},
    {kGray32F, false, 12, 4, 12000, 4000, 3, 1, "PF", -1, -1},
};

template <typename C>
bool Is(const IConvertBuffer* converter) {
  return dynamic_cast<const C*>(converter) != nullptr;
}

bool HasExpectedType(const Expected& row, const IConvertBuffer* converter) {
  const bool eight = row.image.depth == 8, sixteen = row.image.depth == 16;
  if (row.exporting) {
    if (eight) return Is<CConvertBuffer<unsigned short, unsigned char, 0>>(converter);
    if (sixteen) return Is<CConvertBuffer<unsigned short, unsigned short, 0>>(converter);
    return Is<CConvertBuffer<float, float, 0>>(converter);
  }
  if (eight) return Is<CConvertBuffer<unsigned char, unsigned short, 1>>(converter);
  if (sixteen) return Is<CConvertBuffer<unsigned short, unsigned short, 1>>(converter);
  return Is<CConvertBuffer<float, float, 1>>(converter);
}

TEST(ConverterFactory, EveryHostImageGetsItsConverterWithTheSizesOfTheTable) {
  for (const Expected& row : kTable) {
    SCOPED_TRACE(std::string(row.image.name) + (row.exporting ? " export" : " import"));
    TestContext context(row.image);
    const bool made =
        row.exporting ? CreateExportConverter(context.get()) : CreateImportConverter(context.get());
    ASSERT_TRUE(made);
    IConvertBuffer* converter = context->converter.get();
    ASSERT_NE(converter, nullptr);
    EXPECT_TRUE(HasExpectedType(row, converter));

    // Created cleared: nothing usable until Init.
    EXPECT_EQ(converter->GetInBufferSize(), 0u);
    EXPECT_EQ(converter->GetOutPixelSize(), 0u);
    EXPECT_EERROR(converter->GetMaxPixels());

    ASSERT_TRUE(converter->Init());
    EXPECT_EQ(converter->GetMaxPixels(), 1000u);
    EXPECT_EQ(converter->GetInChannels(), row.inChannels);
    EXPECT_EQ(converter->GetOutChannels(), row.outChannels);
    EXPECT_EQ(converter->GetInPixelSize(), row.inPixelSize);
    EXPECT_EQ(converter->GetOutPixelSize(), row.outPixelSize);
    EXPECT_EQ(converter->GetInBufferSize(), row.inBufferSize);
    EXPECT_EQ(converter->GetOutBufferSize(), row.outBufferSize);

    const ImageSize size{20, 30};
    const ExchangeHeader file =
        row.exporting ? converter->GetOutHeader(&size) : converter->GetInHeader(&size);
    const ExchangeHeader hostSide =
        row.exporting ? converter->GetInHeader(&size) : converter->GetOutHeader(&size);
    EXPECT_EQ(file.magic, row.fileMagic);
    EXPECT_EQ(file.maxValue, row.fileMaxValue);
    EXPECT_EQ(file.width, 30);
    EXPECT_EQ(file.height, 20);
    EXPECT_EQ(hostSide.maxValue, row.hostMaxValue);
  }
}

TEST(ConverterFactory, UnsupportedImagesGetNoConverter) {
  const HostImage unsupported[] = {
      {"RGB with 2 planes", host::kModeRGBColor, 8, 2},
      {"RGB 48 with 2 planes", host::kModeRGB48, 16, 2},
      {"RGB with depth 1", host::kModeRGBColor, 1, 3},
      {"gray with depth 12", host::kModeGrayScale, 12, 1},
      {"gray with no planes", host::kModeGray16, 16, 0},
      {"CMYK", host::kModeCMYKColor, 8, 4},
      {"CMYK with depth 0", host::kModeCMYKColor, 0, 4},
      {"RGB with depth 0 and 2 planes", host::kModeRGBColor, 0, 2},
      {"indexed with depth 0", host::kModeIndexedColor, 0, 1},
      {"Lab", host::kModeLabColor, 16, 3},
      {"indexed", host::kModeIndexedColor, 8, 1},
  };
  for (const HostImage& image : unsupported) {
    SCOPED_TRACE(image.name);
    TestContext context(image);
    EXPECT_EQ(GetHostPixelFormat(&context.record), None);
    EXPECT_FALSE(CreateExportConverter(context.get()));
    EXPECT_EQ(context->converter, nullptr);
    EXPECT_FALSE(CreateImportConverter(context.get()));
    EXPECT_EQ(context->converter, nullptr);
  }
}

TEST(ConverterFactory, ADepthOfZeroIsTheDepthTheModeImplies) {
  const struct {
    HostImage image;
    EPixelFormat format;
  } cases[] = {
      {{"RGB", host::kModeRGBColor, 0, 3}, RGB8},
      {{"gray", host::kModeGrayScale, 0, 1}, Gray8},
      {{"RGB48", host::kModeRGB48, 0, 3}, RGB16},
      {{"gray 16", host::kModeGray16, 0, 1}, Gray16},
      {{"RGB96", host::kModeRGB96, 0, 3}, RGB32F},
      {{"gray 32", host::kModeGray32, 0, 1}, Gray32F},
      // A depth the host did fill in keeps deciding, whatever the mode says.
      {{"RGB at 16", host::kModeRGBColor, 16, 3}, RGB16},
      {{"gray 16 at 8", host::kModeGray16, 8, 1}, Gray8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image.name);
    TestContext context(c.image);
    EXPECT_EQ(GetHostPixelFormat(&context.record), c.format);
  }
}

TEST(ConverterFactory, FactoriesAndReleaseNeedAContextWithAHostRecord) {
  EXPECT_EERROR(CreateExportConverter(nullptr));
  EXPECT_EERROR(CreateImportConverter(nullptr));
  EXPECT_EERROR(ReleaseConverter(nullptr));
  TestContext context(kRGB8);
  context->filterRecord = nullptr;
  EXPECT_EERROR(CreateExportConverter(context.get()));
  EXPECT_EERROR(CreateImportConverter(context.get()));
  EXPECT_EERROR(ReleaseConverter(context.get()));
  EXPECT_EERROR(GetHostPixelFormat(nullptr));
}

// A converter that notes its destruction and whether the context still held
// anything at that moment.
class Witness : public CConvertBuffer<float, float, 0> {
 public:
  struct Log {
    int destroyed = 0;
    bool contextHeldOne = false;
  };
  Witness(Log* log, PluginContext* context)
      : CConvertBuffer(RGB32F, RGB32F), log_(log), context_(context) {}
  ~Witness() override {
    ++log_->destroyed;
    log_->contextHeldOne = context_->converter != nullptr;
  }

 private:
  Log* log_;
  PluginContext* context_;
};

TEST(ConverterFactory, AFactoryCallDeletesTheHeldConverterBeforeMakingTheNext) {
  for (bool exporting : {true, false}) {
    for (const HostImage& image : {kGray16, HostImage{"RGB with 2 planes", 3, 8, 2}}) {
      SCOPED_TRACE(std::string(image.name) + (exporting ? " export" : " import"));
      TestContext context(image);
      Witness::Log log;
      context->converter = std::make_unique<Witness>(&log, context.get());
      const bool made =
          exporting ? CreateExportConverter(context.get()) : CreateImportConverter(context.get());
      EXPECT_EQ(log.destroyed, 1);
      // Nothing new was in the context when the old one went away.
      EXPECT_FALSE(log.contextHeldOne);
      EXPECT_EQ(made, image.planes == 1);
      EXPECT_EQ(context->converter != nullptr, made);
    }
  }
}

TEST(ConverterFactory, ReleaseDeletesTheHeldConverterOnceAndToleratesNone) {
  TestContext context(kRGB8);
  Witness::Log log;
  context->converter = std::make_unique<Witness>(&log, context.get());
  ReleaseConverter(context.get());
  EXPECT_EQ(log.destroyed, 1);
  EXPECT_EQ(context->converter, nullptr);
  ReleaseConverter(context.get());
  EXPECT_EQ(log.destroyed, 1);
  EXPECT_EQ(context->converter, nullptr);
}

}  // namespace

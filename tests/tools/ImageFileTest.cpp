// The command-line host's image files: exact bytes written, every kind read
// back unchanged, and malformed files refused with a reason.
#include "tools/cmdhost/ImageFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>

namespace {

using imagefile::Image;
using imagefile::ImageFileError;

std::string Write(const Image& image) {
  std::ostringstream out;
  imagefile::WriteImage(out, image);
  return out.str();
}

Image Read(const std::string& bytes) {
  std::istringstream in(bytes);
  return imagefile::ReadImage(in, "test.img");
}

// The text of the error reading `bytes` gives; empty when it reads.
std::string ReadError(const std::string& bytes) {
  try {
    Read(bytes);
  } catch (const ImageFileError& e) {
    return e.what();
  }
  return "";
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

std::string FloatLE(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return Bytes(
      {int(bits & 0xFF), int((bits >> 8) & 0xFF), int((bits >> 16) & 0xFF), int(bits >> 24)});
}
std::string FloatBE(float f) {
  const std::string le = FloatLE(f);
  return std::string(le.rbegin(), le.rend());
}

Image Patterned(int32_t width, int32_t height, int channels, uint32_t maxValue) {
  Image image = imagefile::MakeImage(width, height, channels, maxValue);
  for (size_t i = 0; i < image.SampleCount(); ++i) {
    if (image.IsFloat()) {
      image.floats[i] = static_cast<float>(i) * 0.37f - 1.5f;
    } else {
      image.samples[i] = static_cast<uint16_t>((i * 7919u) % (maxValue + 1u));
    }
  }
  return image;
}

TEST(ImageFileWrite, SixteenBitPixmapIsBigEndianWithMaximum65535) {
  Image image = imagefile::MakeImage(2, 1, 3, 65535);
  image.samples = {0x0102, 0xA0B0, 65535, 0, 1, 256};
  EXPECT_EQ(Write(image),
            "P6\n2 1\n65535\n" + Bytes({1, 2, 0xA0, 0xB0, 0xFF, 0xFF, 0, 0, 0, 1, 1, 0}));
}

TEST(ImageFileWrite, EightBitGraymapHasOneBytePerSample) {
  Image image = imagefile::MakeImage(3, 1, 1, 255);
  image.samples = {0, 128, 255};
  EXPECT_EQ(Write(image), "P5\n3 1\n255\n" + Bytes({0, 128, 255}));
}

TEST(ImageFileWrite, FloatMapIsLittleEndianBottomRowFirst) {
  Image image = imagefile::MakeImage(1, 2, 1, 0);
  image.floats = {0.25f, 2.0f};  // top, bottom
  EXPECT_EQ(Write(image), "Pf\n1 2\n-1.0\n" + FloatLE(2.0f) + FloatLE(0.25f));
}

TEST(ImageFileWrite, RefusesSamplesAboveTheMaximum) {
  Image image = imagefile::MakeImage(1, 1, 1, 100);
  image.samples = {101};
  std::ostringstream out;
  EXPECT_THROW(imagefile::WriteImage(out, image), ImageFileError);
}

TEST(ImageFileRead, EveryKindReadsBackWhatWasWritten) {
  struct Kind {
    int channels;
    uint32_t maxValue;
  };
  for (const Kind kind : {Kind{3, 65535}, Kind{3, 255}, Kind{1, 65535}, Kind{1, 255}, Kind{3, 1023},
                          Kind{1, 1}, Kind{3, 0}, Kind{1, 0}}) {
    SCOPED_TRACE("channels " + std::to_string(kind.channels) + ", maximum " +
                 std::to_string(kind.maxValue));
    const Image original = Patterned(7, 5, kind.channels, kind.maxValue);
    const Image back = Read(Write(original));
    EXPECT_EQ(back.width, 7);
    EXPECT_EQ(back.height, 5);
    EXPECT_EQ(back.channels, kind.channels);
    EXPECT_EQ(back.maxValue, kind.maxValue);
    EXPECT_EQ(back.samples, original.samples);
    ASSERT_EQ(back.floats.size(), original.floats.size());
    if (!back.floats.empty()) {
      EXPECT_EQ(std::memcmp(back.floats.data(), original.floats.data(), back.floats.size() * 4), 0);
    }
  }
}

TEST(ImageFileRead, FloatMapRowsComeTopFirstAndSpecialValuesSurvive) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Image image = Read("PF\n1 2\n-1.0\n" + FloatLE(1.0f) + FloatLE(nan) + FloatLE(-0.0f) +
                           FloatLE(3.0f) + FloatLE(4.0f) + FloatLE(1e-40f));
  ASSERT_EQ(image.floats.size(), 6u);
  // The file's first row is the image's bottom row.
  EXPECT_EQ(image.floats[0], 3.0f);
  EXPECT_EQ(image.floats[1], 4.0f);
  EXPECT_EQ(image.floats[2], 1e-40f);
  EXPECT_EQ(image.floats[3], 1.0f);
  EXPECT_TRUE(std::isnan(image.floats[4]));
  EXPECT_TRUE(std::signbit(image.floats[5]));
}

TEST(ImageFileRead, PositiveScaleMeansBigEndianSamples) {
  const Image image = Read("Pf\n2 1\n1.0\n" + FloatBE(0.5f) + FloatBE(-7.25f));
  ASSERT_EQ(image.floats.size(), 2u);
  EXPECT_EQ(image.floats[0], 0.5f);
  EXPECT_EQ(image.floats[1], -7.25f);
}

TEST(ImageFileRead, ScaleMagnitudeDoesNotChangeSamples) {
  const Image image = Read("Pf\n1 1\n-4.5\n" + FloatLE(0.75f));
  EXPECT_EQ(image.floats[0], 0.75f);
}

TEST(ImageFileRead, HeaderMayCarryCommentsAndAnyWhitespace) {
  const Image image =
      Read("P5 # a comment\n#another\n 2\t\r\n1 # more\n  300\n" + Bytes({1, 44, 0, 7}));
  EXPECT_EQ(image.width, 2);
  EXPECT_EQ(image.height, 1);
  EXPECT_EQ(image.maxValue, 300u);
  EXPECT_EQ(image.samples, (std::vector<uint16_t>{300, 7}));
}

TEST(ImageFileRead, OnlyOneWhitespaceByteEndsTheHeader) {
  // The second line break is the first sample byte.
  const Image image = Read("P5\n1 1\n255\n\n");
  EXPECT_EQ(image.samples, (std::vector<uint16_t>{'\n'}));
}

TEST(ImageFileRead, BytesAfterTheImageAreIgnored) {
  const Image image = Read("P5\n1 1\n255\n" + Bytes({9}) + "P5\n1 1\n255\nx");
  EXPECT_EQ(image.samples, (std::vector<uint16_t>{9}));
}

TEST(ImageFileRead, RefusesUnknownOrMissingMagic) {
  EXPECT_NE(ReadError(""), "");
  EXPECT_NE(ReadError("P"), "");
  EXPECT_NE(ReadError("P3\n1 1\n255\n0 0 0\n").find("not a binary pixmap"), std::string::npos);
  EXPECT_NE(ReadError("P7\nWIDTH 1\n"), "");
  EXPECT_NE(ReadError("GIF89a"), "");
  EXPECT_NE(ReadError("P61 1 255\n" + Bytes({0, 0, 0})), "");
}

TEST(ImageFileRead, ErrorsNameTheFile) { EXPECT_EQ(ReadError("xx").rfind("test.img: ", 0), 0u); }

TEST(ImageFileRead, RefusesBadSizes) {
  EXPECT_NE(ReadError("P5\n0 1\n255\n" + Bytes({0})).find("width"), std::string::npos);
  EXPECT_NE(ReadError("P5\n1 0\n255\n" + Bytes({0})).find("height"), std::string::npos);
  EXPECT_NE(ReadError("P5\n-1 1\n255\n" + Bytes({0})), "");
  EXPECT_NE(ReadError("P5\n1x 1\n255\n" + Bytes({0})), "");
  EXPECT_NE(ReadError("P5\n2000001 1\n255\n"), "");
  EXPECT_NE(ReadError("P5\n99999999999999999999 1\n255\n"), "");
}

TEST(ImageFileRead, RefusesHugeClaimsBeforeAllocating) {
  // 2,000,000 x 2,000,000 RGB samples would need terabytes.
  EXPECT_NE(ReadError("P6\n2000000 2000000\n65535\n" + Bytes({0, 0})), "");
  // Within the sample limit but far more than the stream holds.
  EXPECT_NE(ReadError("P5\n30000 30000\n65535\n" + Bytes({0, 0})).find("truncated"),
            std::string::npos);
}

TEST(ImageFileRead, RefusesBadMaximumValues) {
  EXPECT_NE(ReadError("P5\n1 1\n0\n" + Bytes({0})).find("maximum value"), std::string::npos);
  EXPECT_NE(ReadError("P5\n1 1\n65536\n" + Bytes({0, 0})).find("maximum value"), std::string::npos);
}

TEST(ImageFileRead, RefusesSamplesAboveTheMaximum) {
  EXPECT_NE(ReadError("P5\n2 1\n1000\n" + Bytes({0, 1, 3, 0xE9})).find("above the maximum"),
            std::string::npos);
  EXPECT_NE(ReadError("P6\n1 1\n200\n" + Bytes({0, 201, 0})).find("(0, 0)"), std::string::npos);
}

TEST(ImageFileRead, RefusesTruncatedPixels) {
  EXPECT_NE(ReadError("P6\n2 1\n65535\n" + std::string(11, '\0')).find("truncated"),
            std::string::npos);
  EXPECT_NE(ReadError("PF\n1 1\n-1\n" + std::string(11, '\0')).find("truncated"),
            std::string::npos);
  EXPECT_NE(ReadError("P5\n1 1\n255"), "");  // no byte after the header at all
}

TEST(ImageFileRead, RefusesBadScales) {
  EXPECT_NE(ReadError("PF\n1 1\n0.0\n" + std::string(12, '\0')).find("scale"), std::string::npos);
  EXPECT_NE(ReadError("PF\n1 1\nabc\n" + std::string(12, '\0')).find("scale"), std::string::npos);
  EXPECT_NE(ReadError("PF\n1 1\n-1.0x\n" + std::string(12, '\0')), "");
  EXPECT_NE(ReadError("PF\n1 1\nnan\n" + std::string(12, '\0')), "");
  EXPECT_NE(ReadError("PF\n1 1\n-1e999\n" + std::string(12, '\0')), "");
}

TEST(ImageFileRead, RefusesOverlongHeaderTokens) {
  EXPECT_NE(ReadError("P5\n" + std::string(100, '1') + " 1\n255\n"), "");
}

TEST(ImageFileDisk, WritesAndReadsAFile) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("velmora_imagefile_test_" + std::to_string(sizeof(void*)) + ".ppm"))
                               .string();
  const Image original = Patterned(4, 3, 3, 65535);
  imagefile::WriteImageFile(path, original);
  const Image back = imagefile::ReadImageFile(path);
  std::remove(path.c_str());
  EXPECT_EQ(back.samples, original.samples);
}

TEST(ImageFileDisk, MissingFileIsAnErrorNamingThePath) {
  try {
    imagefile::ReadImageFile("no-such-folder/no-such-image.ppm");
    FAIL() << "read a missing file";
  } catch (const ImageFileError& e) {
    EXPECT_NE(std::string(e.what()).find("no-such-image.ppm"), std::string::npos);
  }
}

TEST(ImageFileDescribe, NamesKindSizeAndRange) {
  EXPECT_EQ(imagefile::Describe(imagefile::MakeImage(6, 4, 3, 65535)), "P6 6 x 4, maximum 65535");
  EXPECT_EQ(imagefile::Describe(imagefile::MakeImage(6, 4, 1, 0)), "Pf 6 x 4, float");
}

}  // namespace

#include "tools/cmdhost/ImageFile.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <istream>
#include <limits>
#include <locale>
#include <ostream>
#include <sstream>

namespace imagefile {
namespace {

// Longest header token we accept: a size, a maximum value or a scale.
constexpr size_t kMaxToken = 64;

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class HeaderReader {
 public:
  HeaderReader(std::istream& in, const std::string& name) : in_(in), name_(name) {}

  [[noreturn]] void Fail(const std::string& why) const { throw ImageFileError(name_ + ": " + why); }

  // Next whitespace-separated token; '#' starts a comment up to the end of
  // the line, as the pixmap header allows between fields.
  std::string Token(const char* what) {
    int c = in_.get();
    while (c != EOF && (IsSpace(c) || c == '#')) {
      if (c == '#') {
        while (c != EOF && c != '\n' && c != '\r') c = in_.get();
      }
      c = in_.get();
    }
    if (c == EOF) Fail(std::string("header ends before the ") + what);
    std::string token;
    while (c != EOF && !IsSpace(c) && c != '#') {
      if (token.size() == kMaxToken) Fail(std::string("the ") + what + " is too long");
      token += static_cast<char>(c);
      c = in_.get();
    }
    // The single whitespace character that ends the last field also ends
    // the header; a '#' here is part of the next field's comment.
    if (c == '#') in_.unget();
    if (c == EOF) Fail(std::string("header ends right after the ") + what);
    return token;
  }

  uint32_t Number(const char* what, uint32_t low, uint32_t high) {
    const std::string token = Token(what);
    uint64_t value = 0;
    for (char ch : token) {
      if (ch < '0' || ch > '9')
        Fail(std::string("the ") + what + " '" + token + "' is not a number");
      value = value * 10 + static_cast<uint64_t>(ch - '0');
      if (value > high) break;
    }
    if (value < low || value > high) {
      Fail(std::string("the ") + what + " " + token + " is outside " + std::to_string(low) + ".." +
           std::to_string(high));
    }
    return static_cast<uint32_t>(value);
  }

  double Real(const char* what) {
    const std::string token = Token(what);
    std::istringstream text(token);
    text.imbue(std::locale::classic());
    double value = 0;
    text >> value;
    if (text.fail() || !text.eof())
      Fail(std::string("the ") + what + " '" + token + "' is not a number");
    return value;
  }

 private:
  std::istream& in_;
  const std::string& name_;
};

// Bytes left in the stream, or max when the stream cannot tell.
uint64_t BytesLeft(std::istream& in) {
  const std::istream::pos_type here = in.tellg();
  if (here == std::istream::pos_type(-1)) return std::numeric_limits<uint64_t>::max();
  in.seekg(0, std::ios::end);
  const std::istream::pos_type end = in.tellg();
  in.seekg(here);
  if (end == std::istream::pos_type(-1) || end < here) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(end - here);
}

// Refuses a file that holds fewer than bytes pixel bytes, before anything
// is allocated for them.
void RequireRasterBytes(std::istream& in, const HeaderReader& header, uint64_t bytes) {
  const uint64_t left = BytesLeft(in);
  if (left < bytes) {
    header.Fail("file is truncated: the pixels need " + std::to_string(bytes) +
                " bytes, the file has " + std::to_string(left));
  }
}

// Reads the pixels a row at a time, handing each row's bytes to take(row,
// bytes): an image is then held once, not also as the file's bytes, which
// lets a 32-bit host hold the largest float images.
template <typename TakeRow>
void ReadRaster(std::istream& in, const HeaderReader& header, size_t rows, size_t rowBytes,
                TakeRow take) {
  const uint64_t bytes = uint64_t{rows} * rowBytes;
  std::vector<uint8_t> row(rowBytes);
  for (size_t r = 0; r < rows; ++r) {
    in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(rowBytes));
    if (static_cast<uint64_t>(in.gcount()) != rowBytes) {
      header.Fail("file is truncated: the pixels need " + std::to_string(bytes) + " bytes, found " +
                  std::to_string(uint64_t{r} * rowBytes + in.gcount()));
    }
    take(r, row.data());
  }
}

uint32_t LoadU32(const uint8_t* p, bool littleEndian) {
  return littleEndian ? (static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24))
                      : (static_cast<uint32_t>(p[3]) | (static_cast<uint32_t>(p[2]) << 8) |
                         (static_cast<uint32_t>(p[1]) << 16) | (static_cast<uint32_t>(p[0]) << 24));
}

void CheckShape(const Image& image, const std::string& name) {
  if (image.width < 1 || image.height < 1 || image.width > kMaxSide || image.height > kMaxSide) {
    throw ImageFileError(name + ": image size " + std::to_string(image.width) + " x " +
                         std::to_string(image.height) + " is outside 1.." +
                         std::to_string(kMaxSide));
  }
  const uint64_t samples = static_cast<uint64_t>(image.width) *
                           static_cast<uint64_t>(image.height) *
                           static_cast<uint64_t>(image.channels);
  if (samples > kMaxSamples) {
    throw ImageFileError(name + ": image of " + std::to_string(image.width) + " x " +
                         std::to_string(image.height) + " pixels is too large");
  }
}

}  // namespace

Image MakeImage(int32_t width, int32_t height, int channels, uint32_t maxValue) {
  if (channels != 1 && channels != 3) throw ImageFileError("images have 1 or 3 channels");
  if (maxValue > 65535) throw ImageFileError("maximum value above 65535");
  Image image;
  image.width = width;
  image.height = height;
  image.channels = channels;
  image.maxValue = maxValue;
  CheckShape(image, "image");
  if (image.IsFloat()) {
    image.floats.assign(image.SampleCount(), 0.0f);
  } else {
    image.samples.assign(image.SampleCount(), 0);
  }
  return image;
}

Image ReadImage(std::istream& in, const std::string& name) {
  HeaderReader header(in, name);
  char magic[2] = {0, 0};
  in.read(magic, 2);
  if (in.gcount() != 2) header.Fail("empty or not an image file");
  Image image;
  bool isFloat = false;
  if (magic[0] == 'P' && magic[1] == '6') {
    image.channels = 3;
  } else if (magic[0] == 'P' && magic[1] == '5') {
    image.channels = 1;
  } else if (magic[0] == 'P' && magic[1] == 'F') {
    image.channels = 3;
    isFloat = true;
  } else if (magic[0] == 'P' && magic[1] == 'f') {
    image.channels = 1;
    isFloat = true;
  } else {
    header.Fail("not a binary pixmap, graymap or float map (P6, P5, PF or Pf)");
  }
  const int next = in.peek();
  if (!IsSpace(next) && next != '#') header.Fail("no space after the magic number");
  image.width = static_cast<int32_t>(header.Number("width", 1, kMaxSide));
  image.height = static_cast<int32_t>(header.Number("height", 1, kMaxSide));
  CheckShape(image, name);
  const size_t count = image.SampleCount();

  if (isFloat) {
    const double scale = header.Real("scale");
    if (!std::isfinite(scale) || scale == 0.0) header.Fail("the scale must be a non-zero number");
    const bool littleEndian = scale < 0;
    RequireRasterBytes(in, header, uint64_t{count} * 4);
    image.floats.resize(count);
    const size_t rowSamples =
        static_cast<size_t>(image.width) * static_cast<size_t>(image.channels);
    const size_t rows = static_cast<size_t>(image.height);
    // The file holds the bottom row first.
    ReadRaster(in, header, rows, rowSamples * 4, [&](size_t fileRow, const uint8_t* source) {
      float* target = image.floats.data() + (rows - 1 - fileRow) * rowSamples;
      for (size_t i = 0; i < rowSamples; ++i) {
        const uint32_t bits = LoadU32(source + i * 4, littleEndian);
        std::memcpy(&target[i], &bits, 4);
      }
    });
    return image;
  }

  image.maxValue = header.Number("maximum value", 1, 65535);
  const size_t sampleBytes = image.maxValue > 255 ? 2 : 1;
  RequireRasterBytes(in, header, uint64_t{count} * sampleBytes);
  image.samples.resize(count);
  const size_t rowSamples = static_cast<size_t>(image.width) * static_cast<size_t>(image.channels);
  ReadRaster(in, header, static_cast<size_t>(image.height), rowSamples * sampleBytes,
             [&](size_t row, const uint8_t* raster) {
               for (size_t k = 0; k < rowSamples; ++k) {
                 const uint16_t v =
                     sampleBytes == 2
                         ? static_cast<uint16_t>((raster[2 * k] << 8) | raster[2 * k + 1])
                         : raster[k];
                 const size_t i = row * rowSamples + k;
                 if (v > image.maxValue) {
                   const size_t pixel = i / static_cast<size_t>(image.channels);
                   header.Fail("sample " + std::to_string(v) + " at pixel (" +
                               std::to_string(pixel % static_cast<size_t>(image.width)) + ", " +
                               std::to_string(pixel / static_cast<size_t>(image.width)) +
                               ") is above the maximum value " + std::to_string(image.maxValue));
                 }
                 image.samples[i] = v;
               }
             });
  return image;
}

Image ReadImageFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ImageFileError(path + ": cannot open for reading: " + std::strerror(errno));
  return ReadImage(in, path);
}

void WriteImage(std::ostream& out, const Image& image) {
  if (image.channels != 1 && image.channels != 3)
    throw ImageFileError("images have 1 or 3 channels");
  CheckShape(image, "image");
  const size_t count = image.SampleCount();
  const size_t rowSamples = static_cast<size_t>(image.width) * static_cast<size_t>(image.channels);
  const size_t rows = static_cast<size_t>(image.height);
  // A row at a time, for the same reason as the reading.
  std::vector<uint8_t> raster;
  auto writeRow = [&out, &raster] {
    out.write(reinterpret_cast<const char*>(raster.data()),
              static_cast<std::streamsize>(raster.size()));
  };
  if (image.IsFloat()) {
    if (image.floats.size() != count)
      throw ImageFileError("float map holds the wrong number of samples");
    const std::string head = std::string(image.channels == 3 ? "PF" : "Pf") + "\n" +
                             std::to_string(image.width) + " " + std::to_string(image.height) +
                             "\n-1.0\n";
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    raster.resize(rowSamples * 4);
    for (size_t fileRow = 0; fileRow < rows; ++fileRow) {
      const float* source = image.floats.data() + (rows - 1 - fileRow) * rowSamples;
      for (size_t i = 0; i < rowSamples; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &source[i], 4);
        raster[4 * i] = static_cast<uint8_t>(bits);
        raster[4 * i + 1] = static_cast<uint8_t>(bits >> 8);
        raster[4 * i + 2] = static_cast<uint8_t>(bits >> 16);
        raster[4 * i + 3] = static_cast<uint8_t>(bits >> 24);
      }
      writeRow();
    }
  } else {
    if (image.maxValue > 65535) throw ImageFileError("maximum value above 65535");
    if (image.samples.size() != count)
      throw ImageFileError("image holds the wrong number of samples");
    for (const uint16_t v : image.samples) {
      if (v > image.maxValue) throw ImageFileError("sample above the maximum value");
    }
    const std::string head = std::string(image.channels == 3 ? "P6" : "P5") + "\n" +
                             std::to_string(image.width) + " " + std::to_string(image.height) +
                             "\n" + std::to_string(image.maxValue) + "\n";
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    const bool wide = image.maxValue > 255;
    raster.resize(rowSamples * (wide ? 2 : 1));
    for (size_t row = 0; row < rows; ++row) {
      const uint16_t* source = image.samples.data() + row * rowSamples;
      for (size_t k = 0; k < rowSamples; ++k) {
        const uint16_t v = source[k];
        if (wide) {
          raster[2 * k] = static_cast<uint8_t>(v >> 8);
          raster[2 * k + 1] = static_cast<uint8_t>(v);
        } else {
          raster[k] = static_cast<uint8_t>(v);
        }
      }
      writeRow();
    }
  }
  if (!out) throw ImageFileError("writing the image failed");
}

void WriteImageFile(const std::string& path, const Image& image) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw ImageFileError(path + ": cannot open for writing: " + std::strerror(errno));
  try {
    WriteImage(out, image);
    out.close();
    if (!out) throw ImageFileError("closing the file failed");
  } catch (const ImageFileError& e) {
    throw ImageFileError(path + ": " + e.what());
  }
}

std::string Describe(const Image& image) {
  const std::string magic =
      image.IsFloat() ? (image.channels == 3 ? "PF" : "Pf") : (image.channels == 3 ? "P6" : "P5");
  return magic + " " + std::to_string(image.width) + " x " + std::to_string(image.height) +
         (image.IsFloat() ? std::string(", float") : ", maximum " + std::to_string(image.maxValue));
}

}  // namespace imagefile

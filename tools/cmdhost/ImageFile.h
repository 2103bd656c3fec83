// Reading and writing the image files the command-line host works on:
// binary portable pixmaps and graymaps ("P6", "P5"; 8-bit samples for a
// maximum value up to 255, 16-bit big-endian samples above) and float maps
// ("PF" three channels, "Pf" one channel; 32-bit floats stored bottom row
// first, a negative scale meaning little-endian samples). Portable.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

namespace imagefile {

// Largest width and height accepted, as filter hosts allow (2,000,000 pixels
// a side), and the largest sample count, so that a header claiming a huge
// image is refused before anything is allocated.
constexpr int32_t kMaxSide = 2000000;
constexpr uint64_t kMaxSamples = uint64_t{1} << 31;

class ImageFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int channels = 0;       // 1 (gray) or 3 (RGB)
  uint32_t maxValue = 0;  // 1 to 65535 for integer samples; 0 for a float map
  // Integer images: samples interleaved by channel, top row first.
  std::vector<uint16_t> samples;
  // Float maps: samples interleaved by channel, top row first (the file's
  // bottom-up row order is undone on reading and redone on writing).
  std::vector<float> floats;

  bool IsFloat() const { return maxValue == 0; }
  size_t SampleCount() const {
    return static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(channels);
  }
};

// Makes an integer image (all samples 0) or, for maxValue 0, a float map.
Image MakeImage(int32_t width, int32_t height, int channels, uint32_t maxValue);

// Reads one image. `name` only appears in error texts. Throws ImageFileError
// for an unknown magic number, a malformed or out-of-range header field
// (sizes 0 or above kMaxSide, a maximum value outside 1..65535, a scale of 0
// or not a number), a sample above the maximum value, or too few bytes of
// pixels. Bytes after the image are ignored, as for concatenated images.
Image ReadImage(std::istream& in, const std::string& name);
Image ReadImageFile(const std::string& path);

// Writes "P6"/"P5" for integer images (one byte per sample up to maximum 255,
// two big-endian bytes above) and "PF"/"Pf" with scale -1 (little-endian)
// for float maps. Throws ImageFileError for an inconsistent image or a
// failed write.
void WriteImage(std::ostream& out, const Image& image);
void WriteImageFile(const std::string& path, const Image& image);

// "P6 640 x 480, maximum 65535" / "PF 640 x 480, float".
std::string Describe(const Image& image);

}  // namespace imagefile

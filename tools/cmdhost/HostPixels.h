// Moving an image file's samples into a filter host's image and back: the
// host holds interleaved samples in its own type and range (8-bit 0..255,
// 16-bit 0..32768, 32-bit float), in native byte order, rows unpadded.
// Portable.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/cmdhost/ImageFile.h"

namespace cmdhost {

struct HostFormat {
  int depth = 16;     // 8, 16 or 32
  bool gray = false;  // one plane instead of three
  int Planes() const { return gray ? 1 : 3; }
  size_t SampleSize() const { return static_cast<size_t>(depth / 8); }
};

// File sample v of maximum m to the host's 16-bit range, rounded to nearest:
// (v * 32768 + m / 2) / m; for m = 65535 that is (v * 32768 + 32767) / 65535.
uint16_t FileToHost16(uint32_t v, uint32_t maxValue);
// Host 16-bit sample to a file sample of maximum m, rounded to nearest:
// (x * m + 16384) / 32768; values above 32768 count as 32768. With m = 65535,
// FileToHost16(Host16ToFile(x)) == x for every x in 0..32768, so an image
// written from a host reads back into the host unchanged.
uint16_t Host16ToFile(uint32_t x, uint32_t maxValue);
// File sample to the host's 8-bit range, rounded: (v * 255 + m / 2) / m.
uint8_t FileToHost8(uint32_t v, uint32_t maxValue);

// The image's samples as a host of `format` holds them. RGB files become
// gray through the luma weights 0.299, 0.587, 0.114; gray files become RGB
// by repeating the sample. Float samples going to an integer host are
// clamped to 0..1 (NaN as 0) and rounded; integer samples going to a float
// host become v / m.
std::vector<uint8_t> ToHostSamples(const imagefile::Image& image, const HostFormat& format);

// The host's image as a file image: 8-bit hosts give maximum 255, 16-bit
// hosts maximum 65535, float hosts a float map; gray hosts one channel.
// Throws imagefile::ImageFileError when `samples` has the wrong size.
imagefile::Image FromHostSamples(const std::vector<uint8_t>& samples, int32_t width, int32_t height,
                                 const HostFormat& format);

}  // namespace cmdhost

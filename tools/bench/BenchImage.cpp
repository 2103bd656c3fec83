// VelmoraBenchImage.exe: writes an RGB or gray input image for the transfer
// benchmark, row by row so that its size is not limited by memory.
//
// Usage: VelmoraBenchImage WIDTH HEIGHT 8|16|32 OUTPUT [rgb|gray]
//   8   P6 (gray: P5) with maximum 255
//   16  P6 (P5) with maximum 65535, only values a 16-bit host holds exactly
//       (0..32768 scaled up), so the unchanged round trip gives the file back
//       byte for byte
//   32  PF (Pf), little-endian floats from 0 to 1
// The samples are a hash of position and channel: no runs or constant rows
// that would make any step cheaper than with a photograph.
//
//       VelmoraBenchImage WIDTH HEIGHT mask OUTPUT feathered|ramp
// writes a selection for the command-line host's --mask, an 8-bit P5:
//   feathered  an ellipse over the middle of the image (semi-axes 0.4 of
//              each side) with an edge feathered over 20 pixels, as a user
//              selects part of a photograph
//   ramp       coverage (x + y) mod 256 everywhere: no run of pixels lies
//              wholly inside or outside, the most blending there can be
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/cmdhost/HostPixels.h"

namespace {

uint32_t Hash(uint32_t x, uint32_t y, uint32_t c) {
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ c * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

// One row of a selection of the given kind.
void MaskRow(const std::string& kind, uint32_t w, uint32_t h, uint32_t y, uint8_t* out) {
  const double a = 0.4 * w, b = 0.4 * h, cx = 0.5 * w, cy = 0.5 * h;
  for (uint32_t x = 0; x < w; ++x) {
    if (kind == "ramp") {
      out[x] = static_cast<uint8_t>((x + y) % 256);
      continue;
    }
    const double dx = (x + 0.5 - cx) / a, dy = (y + 0.5 - cy) / b;
    // Pixels from the edge, inside positive; the feather runs 10 either side.
    const double inside = (1.0 - std::sqrt(dx * dx + dy * dy)) * std::min(a, b);
    const double m = (inside + 10.0) / 20.0 * 255.0;
    out[x] = static_cast<uint8_t>(m <= 0 ? 0 : m >= 255 ? 255 : std::lround(m));
  }
}

int WriteMask(uint32_t w, uint32_t h, const std::string& kind, const char* path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "wb"));
  if (!file) {
    std::fprintf(stderr, "VelmoraBenchImage: cannot create %s\n", path);
    return 3;
  }
  std::fprintf(file.get(), "P5\n%u %u\n255\n", w, h);
  std::vector<uint8_t> row(w);
  for (uint32_t y = 0; y < h; ++y) {
    MaskRow(kind, w, h, y, row.data());
    if (std::fwrite(row.data(), 1, row.size(), file.get()) != row.size()) {
      std::fprintf(stderr, "VelmoraBenchImage: writing %s failed\n", path);
      return 3;
    }
  }
  if (std::fclose(file.release()) != 0) {
    std::fprintf(stderr, "VelmoraBenchImage: writing %s failed\n", path);
    return 3;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[3]) == "mask") {
    const long width = std::strtol(argv[1], nullptr, 10);
    const long height = std::strtol(argv[2], nullptr, 10);
    const std::string kind = argv[5];
    if (width < 1 || height < 1 || width > 1000000 || height > 1000000 ||
        (kind != "feathered" && kind != "ramp")) {
      std::fprintf(stderr, "VelmoraBenchImage: bad size or selection\n");
      return 2;
    }
    return WriteMask(static_cast<uint32_t>(width), static_cast<uint32_t>(height), kind, argv[4]);
  }
  const std::string mode = argc == 6 ? argv[5] : "rgb";
  if ((argc != 5 && argc != 6) || (mode != "rgb" && mode != "gray")) {
    std::fprintf(stderr,
                 "Usage: VelmoraBenchImage WIDTH HEIGHT 8|16|32 OUTPUT [rgb|gray]\n"
                 "       VelmoraBenchImage WIDTH HEIGHT mask OUTPUT feathered|ramp\n");
    return 2;
  }
  const long width = std::strtol(argv[1], nullptr, 10);
  const long height = std::strtol(argv[2], nullptr, 10);
  const std::string depth = argv[3];
  const bool gray = mode == "gray";
  const uint32_t channels = gray ? 1 : 3;
  if (width < 1 || height < 1 || width > 1000000 || height > 1000000 ||
      (depth != "8" && depth != "16" && depth != "32")) {
    std::fprintf(stderr, "VelmoraBenchImage: bad size or depth\n");
    return 2;
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(argv[4], "wb"));
  if (!file) {
    std::fprintf(stderr, "VelmoraBenchImage: cannot create %s\n", argv[4]);
    return 3;
  }
  const auto w = static_cast<uint32_t>(width);
  const auto h = static_cast<uint32_t>(height);
  if (depth == "32") {
    std::fprintf(file.get(), "%s\n%u %u\n-1.0\n", gray ? "Pf" : "PF", w, h);
  } else {
    std::fprintf(file.get(), "%s\n%u %u\n%s\n", gray ? "P5" : "P6", w, h,
                 depth == "8" ? "255" : "65535");
  }
  const size_t sampleBytes = depth == "8" ? 1 : depth == "16" ? 2 : 4;
  std::vector<uint8_t> row(static_cast<size_t>(w) * channels * sampleBytes);
  for (uint32_t y = 0; y < h; ++y) {
    uint8_t* out = row.data();
    for (uint32_t x = 0; x < w; ++x) {
      for (uint32_t c = 0; c < channels; ++c) {
        const uint32_t v = Hash(x, y, c);
        if (sampleBytes == 1) {
          *out++ = static_cast<uint8_t>(v);
        } else if (sampleBytes == 2) {
          const uint16_t s = cmdhost::Host16ToFile(v % 32769u, 65535);
          *out++ = static_cast<uint8_t>(s >> 8);  // big-endian
          *out++ = static_cast<uint8_t>(s);
        } else {
          const float f = static_cast<float>(v & 0xFFFFFFu) / 16777215.0f;
          std::memcpy(out, &f, 4);  // x86 is little-endian, as the scale says
          out += 4;
        }
      }
    }
    if (std::fwrite(row.data(), 1, row.size(), file.get()) != row.size()) {
      std::fprintf(stderr, "VelmoraBenchImage: writing %s failed\n", argv[4]);
      return 3;
    }
  }
  if (std::fclose(file.release()) != 0) {
    std::fprintf(stderr, "VelmoraBenchImage: writing %s failed\n", argv[4]);
    return 3;
  }
  return 0;
}

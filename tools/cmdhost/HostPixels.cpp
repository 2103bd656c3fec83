#include "tools/cmdhost/HostPixels.h"

#include <cmath>
#include <cstring>

namespace cmdhost {
namespace {

constexpr uint32_t kHost16Max = 32768;

double GrayOf(double r, double g, double b) { return 0.299 * r + 0.587 * g + 0.114 * b; }

// Float sample to an integer host range, clamped and rounded.
uint32_t FloatToHost(float f, uint32_t range) {
  if (!(f > 0.0f)) return 0;  // also NaN
  if (f >= 1.0f) return range;
  return static_cast<uint32_t>(std::lround(static_cast<double>(f) * range));
}

template <typename T>
void Store(uint8_t* target, size_t index, T value) {
  std::memcpy(target + index * sizeof(T), &value, sizeof(T));
}

template <typename T>
T Load(const uint8_t* source, size_t index) {
  T value;
  std::memcpy(&value, source + index * sizeof(T), sizeof(T));
  return value;
}

// One output sample per host plane and pixel, from a function giving the
// file value of (pixel, plane) as a double in the file's own range, or the
// file's integer sample for the table path.
template <typename HostSample, typename Convert>
void Fill(std::vector<uint8_t>& out, const imagefile::Image& image, const HostFormat& format,
          Convert convert) {
  const size_t pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
  const size_t planes = static_cast<size_t>(format.Planes());
  for (size_t p = 0; p < pixels; ++p) {
    for (size_t c = 0; c < planes; ++c) {
      Store<HostSample>(out.data(), p * planes + c, convert(p, c));
    }
  }
}

}  // namespace

uint16_t FileToHost16(uint32_t v, uint32_t maxValue) {
  return static_cast<uint16_t>((uint64_t{v} * kHost16Max + maxValue / 2) / maxValue);
}

uint16_t Host16ToFile(uint32_t x, uint32_t maxValue) {
  if (x > kHost16Max) x = kHost16Max;
  return static_cast<uint16_t>((uint64_t{x} * maxValue + kHost16Max / 2) / kHost16Max);
}

uint8_t FileToHost8(uint32_t v, uint32_t maxValue) {
  return static_cast<uint8_t>((uint64_t{v} * 255 + maxValue / 2) / maxValue);
}

std::vector<uint8_t> ToHostSamples(const imagefile::Image& image, const HostFormat& format) {
  const size_t pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
  std::vector<uint8_t> out(pixels * static_cast<size_t>(format.Planes()) * format.SampleSize());
  const size_t channels = static_cast<size_t>(image.channels);
  const bool mix = channels == 3 && format.gray;

  if (image.IsFloat()) {
    const std::vector<float>& f = image.floats;
    auto sample = [&](size_t p, size_t c) -> float {
      if (mix) return static_cast<float>(GrayOf(f[p * 3], f[p * 3 + 1], f[p * 3 + 2]));
      return f[p * channels + (channels == 1 ? 0 : c)];
    };
    if (format.depth == 32) {
      Fill<float>(out, image, format, sample);
    } else if (format.depth == 16) {
      Fill<uint16_t>(out, image, format, [&](size_t p, size_t c) {
        return static_cast<uint16_t>(FloatToHost(sample(p, c), kHost16Max));
      });
    } else {
      Fill<uint8_t>(out, image, format, [&](size_t p, size_t c) {
        return static_cast<uint8_t>(FloatToHost(sample(p, c), 255));
      });
    }
    return out;
  }

  const std::vector<uint16_t>& s = image.samples;
  const uint32_t maxValue = image.maxValue;
  // A gray value from RGB stays in the file's range, rounded.
  auto fileSample = [&](size_t p, size_t c) -> uint32_t {
    if (mix) {
      return static_cast<uint32_t>(std::lround(GrayOf(s[p * 3], s[p * 3 + 1], s[p * 3 + 2])));
    }
    return s[p * channels + (channels == 1 ? 0 : c)];
  };
  if (format.depth == 32) {
    const double scale = 1.0 / maxValue;
    Fill<float>(out, image, format,
                [&](size_t p, size_t c) { return static_cast<float>(fileSample(p, c) * scale); });
  } else if (format.depth == 16) {
    std::vector<uint16_t> table(maxValue + 1);
    for (uint32_t v = 0; v <= maxValue; ++v) table[v] = FileToHost16(v, maxValue);
    Fill<uint16_t>(out, image, format, [&](size_t p, size_t c) { return table[fileSample(p, c)]; });
  } else {
    std::vector<uint8_t> table(maxValue + 1);
    for (uint32_t v = 0; v <= maxValue; ++v) table[v] = FileToHost8(v, maxValue);
    Fill<uint8_t>(out, image, format, [&](size_t p, size_t c) { return table[fileSample(p, c)]; });
  }
  return out;
}

imagefile::Image FromHostSamples(const std::vector<uint8_t>& samples, int32_t width, int32_t height,
                                 const HostFormat& format) {
  const uint32_t maxValue = format.depth == 32 ? 0 : format.depth == 16 ? 65535 : 255;
  imagefile::Image image = imagefile::MakeImage(width, height, format.Planes(), maxValue);
  const size_t count = image.SampleCount();
  if (samples.size() != count * format.SampleSize()) {
    throw imagefile::ImageFileError("host image holds " + std::to_string(samples.size()) +
                                    " bytes, expected " +
                                    std::to_string(count * format.SampleSize()));
  }
  const uint8_t* source = samples.data();
  if (format.depth == 32) {
    std::memcpy(image.floats.data(), source, count * 4);
  } else if (format.depth == 16) {
    for (size_t i = 0; i < count; ++i)
      image.samples[i] = Host16ToFile(Load<uint16_t>(source, i), 65535);
  } else {
    for (size_t i = 0; i < count; ++i) image.samples[i] = source[i];
  }
  return image;
}

}  // namespace cmdhost

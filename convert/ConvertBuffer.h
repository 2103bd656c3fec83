// The one implementation of IConvertBuffer: a class template over the output
// sample type, the input sample type and the direction (0: host samples in,
// exchange-file samples out; 1: file samples in, host samples out).
//
// Host samples are native-endian: 8-bit 0..255, 16-bit 0..32768, float.
// File samples are 16-bit big-endian 0..65535 or native little-endian floats.
// Bytes are never swapped when data is copied in or out; the sample rules
// below do all decoding and encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "base/Error.h"
#include "convert/IConvertBuffer.h"
#include "convert/MaskBlend.h"
#include "convert/PixelFormat.h"
#include "convert/VectorRuns.h"

// Capacity of each embedded buffer, in samples, and the cap on pixels per call.
constexpr uint32_t kBufferSamples = 3000;
constexpr uint32_t kMaxPixels = 1000;

// Fills count samples with value. Throws EError for a null buffer; a count of
// 0 does nothing.
template <typename T>
void FillSamples(T* buffer, uint32_t count, T value) {
  Require(buffer != nullptr);
  for (uint32_t k = 0; k < count; ++k) buffer[k] = value;
}

namespace convert_detail {

inline bool IsKnownFormat(int32_t format) { return format >= RGB8 && format <= Gray32F; }
inline bool IsOneChannel(int32_t format) { return format >= Gray8 && format <= Gray32F; }

// low when low > x, else high when high < x, else x: a NaN passes through.
template <typename T>
T Clamp(T x, T low, T high) {
  // Both comparisons are made unconditionally so that loops around this stay
  // free of branches and can be vectorised.
  const bool below = low > x;
  const bool above = high < x;
  return below ? low : (above ? high : x);
}

// Big-endian 16-bit samples. Written as arithmetic on the stored value, not
// byte by byte, so that the compiler can vectorise the loops around them.
inline uint32_t LoadBigEndian(const uint16_t* sample) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return *sample;
#else
  const uint32_t stored = *sample;
  return ((stored & 0xFFu) << 8) | (stored >> 8);
#endif
}
inline void StoreBigEndian(uint16_t* sample, uint32_t value) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  *sample = static_cast<uint16_t>(value);
#else
  *sample = static_cast<uint16_t>(((value & 0xFFu) << 8) | ((value >> 8) & 0xFFu));
#endif
}

// Floats travel as their bit patterns: on i686 a float that passes through
// the x87 stack turns a signalling NaN quiet, and the copy must be exact.
inline uint32_t LoadBits(const float* sample) {
  uint32_t bits;
  std::memcpy(&bits, sample, 4);
  return bits;
}
inline void StoreBits(float* sample, uint32_t bits) { std::memcpy(sample, &bits, 4); }
inline float BitsToFloat(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

// One rule per instantiation. Apply reads one stored input sample and gives
// the converted sample as a number (a float as its bits); Put stores such a
// number in the output buffer's representation.
template <typename Out, typename In, int Direction>
struct SampleRule;

// Host 8-bit to file: the byte in both halves, so 0 gives 0 and 255 65535.
template <>
struct SampleRule<unsigned short, unsigned char, 0> {
  static uint32_t Apply(const unsigned char* x) { return *x * 257u; }
  static void Put(unsigned short* out, uint32_t v) { StoreBigEndian(out, v); }
};

// File to host 8-bit: the high byte, which undoes the widening exactly.
template <>
struct SampleRule<unsigned char, unsigned short, 1> {
  static uint32_t Apply(const unsigned short* x) { return LoadBigEndian(x) >> 8; }
  static void Put(unsigned char* out, uint32_t v) { *out = static_cast<unsigned char>(v); }
};

// Host 16-bit (0..32768) to file (0..65535): (x * 65535 + 16384) / 32768,
// rounded to nearest, and 65535 for any x above 32768. Since x * 65535 is
// 2x * 32768 - x, the quotient is 2x + floor((16384 - x) / 32768): 2x up to
// x = 16384 and 2x - 1 above. Capping x at 32768 gives 65535 for larger x.
// This form keeps the loop free of multiplies and branches; the tests check
// it against the formula for every 16-bit value.
template <>
struct SampleRule<unsigned short, unsigned short, 0> {
  static uint32_t Apply(const unsigned short* x) {
    const uint32_t h = *x < 32768u ? *x : 32768u;
    return 2u * h - (h > 16384u ? 1u : 0u);
  }
  static void Put(unsigned short* out, uint32_t v) { StoreBigEndian(out, v); }
};

// File 16-bit to host (0..32768): (v * 32768 + 32767) / 65535. Writing v as
// 2k or 2k + 1 shows this is exactly (v + 1) / 2 for every v up to 65535,
// which is cheaper than the division and is checked against the formula for
// every file value by the tests.
template <>
struct SampleRule<unsigned short, unsigned short, 1> {
  static uint32_t Apply(const unsigned short* x) { return (LoadBigEndian(x) + 1u) >> 1; }
  static void Put(unsigned short* out, uint32_t v) { *out = static_cast<unsigned short>(v); }
};

// Floats are copied unchanged in both directions.
template <int Direction>
struct SampleRule<float, float, Direction> {
  static uint32_t Apply(const float* x) { return LoadBits(x); }
  static void Put(float* out, uint32_t bits) { StoreBits(out, bits); }
};

// Averaging of integer samples in single precision: each partial sum and the
// product with the reciprocal are rounded to float, then the mean is rounded
// half away from zero and clamped to the output's range.
template <typename Out, typename In, int Direction>
inline void AverageInto(Out* out, const In* in, uint32_t channels, float inverse) {
  using Rule = SampleRule<Out, In, Direction>;
  // Converted samples are at most 65535 and there are at most three, so every
  // partial sum is an integer below 2^24 and each single-precision addition
  // is exact: summing in integers and converting once gives the same float.
  uint32_t total = 0;
  for (uint32_t c = 0; c < channels; ++c) total += Rule::Apply(in + c);
  const float sum = static_cast<float>(total);
  const float mean = static_cast<float>(sum * inverse);
  // A NaN compares false and takes the -0.5 branch, as negative means do.
  const float half = mean >= 0.0f ? 0.5f : -0.5f;
  const float rounded = static_cast<float>(mean + half);
  const float limit = static_cast<float>(std::numeric_limits<Out>::max());
  Rule::Put(out, static_cast<uint32_t>(Clamp(rounded, 0.0f, limit)));
}

// Averaging of float samples: the mean is taken in double precision and
// rounded to float once, so equal channels give back exactly their value;
// single-precision summing would alter about a third of all values. Like the
// RGB float path, the mean is not clamped: gray HDR values below 0 and above 1
// survive, and NaNs and infinities pass as the arithmetic gives them.
template <int Direction>
inline void FloatAverageInto(float* out, const float* in, uint32_t channels) {
  double sum = 0.0;
  for (uint32_t c = 0; c < channels; ++c) {
    // Assigned step by step so that each result is rounded to double even
    // where intermediate values are kept wider (x87).
    const double sample = BitsToFloat(LoadBits(in + c));
    sum = sum + sample;
  }
  const double meanInDouble = sum / static_cast<double>(channels);
  const float mean = static_cast<float>(meanInDouble);
  uint32_t bits;
  std::memcpy(&bits, &mean, 4);
  // Which NaN the sum of two NaNs keeps depends on the operand order that the
  // compiler happens to choose. The first NaN channel decides instead, made
  // quiet as the arithmetic makes it, so that a pixel gives the same NaN here
  // and in the vector runs, wherever it sits in a row.
  for (uint32_t c = 0; c < channels; ++c) {
    const uint32_t sampleBits = LoadBits(in + c);
    if ((sampleBits & 0x7FFFFFFFu) > 0x7F800000u) {
      bits = sampleBits | kQuietNaNBit;
      break;
    }
  }
  StoreBits(out, bits);
}

}  // namespace convert_detail

template <typename Out, typename In, int Direction>
class CConvertBuffer : public IConvertBuffer {
  static_assert(Direction == 0 || Direction == 1, "direction is 0 (export) or 1 (import)");

 public:
  // Stores the two format codes (output first) and clears; Init is separate.
  CConvertBuffer(int32_t outputFormat, int32_t inputFormat)
      : inFormat(static_cast<EPixelFormat>(inputFormat)),
        outFormat(static_cast<EPixelFormat>(outputFormat)) {
    ClearState();
  }
  ~CConvertBuffer() override { ClearState(); }

  CConvertBuffer(const CConvertBuffer&) = delete;
  CConvertBuffer& operator=(const CConvertBuffer&) = delete;

  bool Init() override {
    ClearState();
    inChannels = GetChannelCount(inFormat);
    outChannels = GetChannelCount(outFormat);
    if (inChannels == 0 || outChannels == 0) return false;
    inChannelsInverse = static_cast<float>(1.0f / static_cast<float>(inChannels));
    const uint32_t widest = inChannels > outChannels ? inChannels : outChannels;
    maxPixels = kBufferSamples / widest < kMaxPixels ? kBufferSamples / widest : kMaxPixels;
    if (maxPixels == 0) return false;
    inPixelSize = inChannels * static_cast<uint32_t>(sizeof(In));
    outPixelSize = outChannels * static_cast<uint32_t>(sizeof(Out));
    inBufferSize = maxPixels * inPixelSize;
    outBufferSize = maxPixels * outPixelSize;
    inSampleCount = maxPixels * inChannels;
    outSampleCount = maxPixels * outChannels;
    return true;
  }

  void Clear() override { ClearState(); }

  // Every count, size and the reciprocal are set: what Init leaves on success.
  bool IsReady() const {
    return inChannels != 0 && outChannels != 0 && maxPixels != 0 && inPixelSize != 0 &&
           outPixelSize != 0 && inBufferSize != 0 && outBufferSize != 0 && inSampleCount != 0 &&
           outSampleCount != 0 && inChannelsInverse > 0.0f;
  }

  uint32_t GetMaxPixels() const override {
    Require(IsReady());
    return maxPixels;
  }
  uint32_t GetInChannels() const override {
    Require(IsReady());
    return inChannels;
  }
  uint32_t GetOutChannels() const override {
    Require(IsReady());
    return outChannels;
  }

  bool SetInput(const void* data, uint32_t size, uint32_t pixels) override {
    Require(data != nullptr);
    Require(size != 0);
    Require(pixels != 0 && pixels <= maxPixels);
    Require(IsReady());
    const uint32_t bytes = pixels * inPixelSize;
    if (bytes > inBufferSize || bytes > size) return false;
    std::memcpy(inBuffer, data, bytes);
    return true;
  }

  bool Convert(uint32_t pixels) override {
    Require(pixels != 0 && pixels <= maxPixels);
    Require(IsReady());
    return ConvertRun(inBuffer, outBuffer, pixels);
  }

  bool ConvertBetween(const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                      uint32_t pixels) override {
    Require(input != nullptr);
    Require(output != nullptr);
    Require(pixels != 0 && pixels <= maxPixels);
    Require(IsReady());
    const uint32_t inBytes = pixels * inPixelSize;
    const uint32_t outBytes = pixels * outPixelSize;
    if (inBytes > inputSize || outBytes > outputSize) return false;
    // The runs read and write whole samples: bytes that do not start on a
    // sample's alignment (a host may hand out any address) go through the
    // embedded buffers instead.
    if (!IsAligned<In>(input) || !IsAligned<Out>(output)) {
      std::memcpy(inBuffer, input, inBytes);
      if (!ConvertRun(inBuffer, outBuffer, pixels)) return false;
      std::memcpy(output, outBuffer, outBytes);
      return true;
    }
    return ConvertRun(static_cast<const In*>(input), static_cast<Out*>(output), pixels);
  }

  bool ConvertBlended(const void* input, uint32_t inputSize, const void* original,
                      uint32_t originalSize, const uint8_t* coverage, void* output,
                      uint32_t outputSize, uint32_t pixels) override {
    Require(input != nullptr);
    Require(original != nullptr);
    Require(coverage != nullptr);
    Require(output != nullptr);
    Require(pixels != 0 && pixels <= maxPixels);
    Require(IsReady());
    if constexpr (Direction == 0) {
      return false;  // export converters have no host samples to blend
    } else {
      using convert_detail::ECoverage;
      const uint32_t inBytes = pixels * inPixelSize;
      const uint32_t outBytes = pixels * outPixelSize;
      if (inBytes > inputSize || outBytes > originalSize || outBytes > outputSize) return false;
      if (!convert_detail::IsKnownFormat(inFormat) || !convert_detail::IsKnownFormat(outFormat)) {
        return false;
      }
      // Most runs of a selection lie wholly inside or wholly outside it.
      switch (convert_detail::ClassifyCoverage(coverage, pixels)) {
        case ECoverage::kFull:
          return CConvertBuffer::ConvertBetween(input, inputSize, output, outputSize, pixels);
        case ECoverage::kNone:
          std::memmove(output, original, outBytes);
          return true;
        case ECoverage::kPartial:
          break;
      }
      // Converted into the output buffer; the input goes through the input
      // buffer when it does not start on a sample's alignment.
      if (IsAligned<In>(input)) {
        if (!ConvertRun(static_cast<const In*>(input), outBuffer, pixels)) return false;
      } else {
        std::memcpy(inBuffer, input, inBytes);
        if (!ConvertRun(inBuffer, outBuffer, pixels)) return false;
      }
      const size_t samples = static_cast<size_t>(pixels) * outChannels;
      const uint8_t* weights = coverage;
      if (outChannels == 3) {
        convert_detail::SpreadCoverage3(coverage, weightBuffer, pixels);
        weights = weightBuffer;
      } else if (outChannels != 1) {
        for (size_t k = 0; k < samples; ++k) weightBuffer[k] = coverage[k / outChannels];
        weights = weightBuffer;
      }
      if (IsAligned<Out>(original) && IsAligned<Out>(output)) {
        convert_detail::BlendRun(outBuffer, static_cast<const Out*>(original), weights,
                                 static_cast<Out*>(output), samples);
        return true;
      }
      // Host buffers off their samples' alignment: the original goes through
      // the input buffer, free again now (file samples are never narrower
      // than host samples), and the result through the output buffer.
      static_assert(sizeof(In) >= sizeof(Out) && alignof(In) >= alignof(Out));
      Out* staged = reinterpret_cast<Out*>(inBuffer);
      std::memcpy(staged, original, outBytes);
      convert_detail::BlendRun(outBuffer, staged, weights, outBuffer, samples);
      std::memcpy(output, outBuffer, outBytes);
      return true;
    }
  }

  bool GetOutput(const void** data, uint32_t* size, uint32_t pixels) override {
    Require(data != nullptr);
    Require(size != nullptr);
    Require(pixels != 0 && pixels <= maxPixels);
    Require(IsReady());
    const uint32_t bytes = pixels * outPixelSize;
    if (bytes > outBufferSize) return false;
    *data = outBuffer;
    *size = bytes;
    return true;
  }

  ExchangeHeader GetInHeader(const ImageSize* size) const override {
    Require(size != nullptr);
    return MakeExchangeHeader(inFormat, *size);
  }
  ExchangeHeader GetOutHeader(const ImageSize* size) const override {
    Require(size != nullptr);
    return MakeExchangeHeader(outFormat, *size);
  }

  const void* GetInBuffer() const override { return inBuffer; }
  void* GetInBuffer() override { return inBuffer; }
  uint32_t GetInBufferSize() const override { return inBufferSize; }
  uint32_t GetInPixelSize() const override { return inPixelSize; }
  const void* GetOutBuffer() const override { return outBuffer; }
  void* GetOutBuffer() override { return outBuffer; }
  uint32_t GetOutBufferSize() const override { return outBufferSize; }
  uint32_t GetOutPixelSize() const override { return outPixelSize; }

 private:
  using Rule = convert_detail::SampleRule<Out, In, Direction>;

  // Not virtual, so that construction and destruction clear this class's
  // state without a virtual call.
  void ClearState() {
    inChannelsInverse = 0.0f;
    inChannels = outChannels = maxPixels = 0;
    inPixelSize = outPixelSize = inBufferSize = outBufferSize = 0;
    inSampleCount = outSampleCount = 0;
    FillSamples(inBuffer, kBufferSamples, In{});
    FillSamples(outBuffer, kBufferSamples, Out{});
    FillSamples(weightBuffer, kBufferSamples, uint8_t{0});
  }

  template <typename T>
  static bool IsAligned(const void* p) {
    return reinterpret_cast<uintptr_t>(p) % alignof(T) == 0;
  }

  // The pixels of in converted into out by the path the two formats choose;
  // false, converting nothing, for unknown formats.
  bool ConvertRun(const In* in, Out* out, uint32_t pixels) {
    if (!convert_detail::IsKnownFormat(inFormat)) return false;
    if (convert_detail::IsOneChannel(inFormat)) {
      Broadcast(in, out, pixels);
      return true;
    }
    if (!convert_detail::IsKnownFormat(outFormat)) return false;
    if (convert_detail::IsOneChannel(outFormat)) {
      Average(in, out, pixels);
    } else {
      PerChannel(in, out, pixels);
    }
    return true;
  }

  // Every sample index a path touches must lie below the usable sample count.
  // The indices grow with the pixel, so checking the last pixel's once per
  // call is the same as checking each access, and keeps the loops lean.
  void RequireIndices(uint32_t lastRead, uint32_t lastWrite) const {
    Require(lastRead < inSampleCount);
    Require(lastWrite < outSampleCount);
  }

  // One input sample per pixel, converted once, into every output channel.
  void Broadcast(const In* in, Out* out, uint32_t pixels) {
    RequireIndices((pixels - 1) * inChannels, pixels * outChannels - 1);
    if (inChannels == 1 && outChannels == 3) {
      BroadcastRun<1, 3>(in, out, pixels);
    } else {
      BroadcastRun<0, 0>(in, out, pixels);
    }
  }

  // Channel c of each input pixel into channel c of the output pixel. With
  // equal channel counts the pixels are contiguous runs in both buffers, so
  // the chunk is converted as one flat run in the same order.
  void PerChannel(const In* in, Out* out, uint32_t pixels) {
    Require(inChannels == outChannels);
    const uint32_t samples = pixels * inChannels;
    RequireIndices(samples - 1, samples - 1);
    if constexpr (std::is_same_v<Out, In> && std::is_floating_point_v<Out>) {
      std::memcpy(out, in, samples * sizeof(Out));
    } else {
      const size_t first =
          convert_detail::VectorRuns<Out, In, Direction>::PerChannel(in, out, samples);
      for (size_t k = first; k < samples; ++k) Rule::Put(out + k, Rule::Apply(in + k));
    }
  }

  // The mean of each input pixel's converted channels into one output sample.
  void Average(const In* in, Out* out, uint32_t pixels) {
    RequireIndices(pixels * inChannels - 1, (pixels - 1) * outChannels);
    if (inChannels == 3 && outChannels == 1) {
      AverageRun<3, 1>(in, out, pixels);
    } else {
      AverageRun<0, 0>(in, out, pixels);
    }
  }

  // The loops take the channel counts as constants where they are the usual
  // ones (0: read the fields), so the compiler can unroll and vectorise them;
  // size_t indices keep the addresses affine for the vectoriser. With one
  // channel and three, the vector forms take the run and the loops the
  // pixels left over.
  template <uint32_t InChannels, uint32_t OutChannels>
  void BroadcastRun(const In* in, Out* out, uint32_t pixels) {
    const size_t ic = InChannels != 0 ? InChannels : inChannels;
    const size_t oc = OutChannels != 0 ? OutChannels : outChannels;
    size_t first = 0;
    if constexpr (InChannels == 1 && OutChannels == 3) {
      first = convert_detail::VectorRuns<Out, In, Direction>::Broadcast(in, out, pixels);
    }
    for (size_t p = first; p < pixels; ++p) {
      const uint32_t v = Rule::Apply(in + p * ic);
      for (size_t c = 0; c < oc; ++c) Rule::Put(out + p * oc + c, v);
    }
  }

  template <uint32_t InChannels, uint32_t OutChannels>
  void AverageRun(const In* in, Out* out, uint32_t pixels) {
    const size_t ic = InChannels != 0 ? InChannels : inChannels;
    const size_t oc = OutChannels != 0 ? OutChannels : outChannels;
    const float inverse = inChannelsInverse;
    size_t first = 0;
    if constexpr (InChannels == 3 && OutChannels == 1) {
      first = convert_detail::VectorRuns<Out, In, Direction>::Average(in, out, pixels);
    }
    for (size_t p = first; p < pixels; ++p) {
      if constexpr (std::is_floating_point_v<Out>) {
        convert_detail::FloatAverageInto<Direction>(out + p * oc, in + p * ic, ic);
      } else if constexpr (InChannels == 3) {
        // The single-precision rule above, in integers. Three converted
        // samples sum exactly to some s from 0 to 3 x 65535, and for every
        // such s the rule yields the nearest integer to s / 3, which is
        // (s + 1) / 3 since s / 3 never ends in a half: float(1/3) exceeds
        // 1/3 by less than 2^-25, too little to move s / 3 across a rounding
        // boundary at these magnitudes. The tests compare this with the rule
        // for every sum. It avoids float conversions, which on i686 (x87)
        // cost several times the rest of the loop.
        const In* pixel = in + p * 3;
        const uint32_t total = Rule::Apply(pixel) + Rule::Apply(pixel + 1) + Rule::Apply(pixel + 2);
        Rule::Put(out + p * oc, (total + 1) / 3);
      } else {
        convert_detail::AverageInto<Out, In, Direction>(out + p * oc, in + p * ic, ic, inverse);
      }
    }
  }

  uint32_t inChannels;
  uint32_t outChannels;
  uint32_t maxPixels;
  uint32_t inPixelSize;
  uint32_t outPixelSize;
  uint32_t inBufferSize;
  uint32_t outBufferSize;
  uint32_t inSampleCount;
  uint32_t outSampleCount;
  float inChannelsInverse;
  EPixelFormat inFormat;
  EPixelFormat outFormat;
  In inBuffer[kBufferSamples];
  Out outBuffer[kBufferSamples];
  // A pixel's coverage once per host sample, for the blend of a selection.
  uint8_t weightBuffer[kBufferSamples];
};

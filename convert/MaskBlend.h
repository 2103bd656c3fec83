// Blending of processed host samples with the original ones by the host's
// selection: one coverage byte per pixel at every depth, 0 outside the
// selection, 255 fully inside, values between on a feathered or anti-aliased
// edge. Each sample becomes original + (processed - original) x m / 255,
// rounded to the nearest host value; coverage 0 gives the original sample
// and 255 the processed one, bit for bit.
//
// The runs work on flat arrays of samples with one weight per sample, so
// that the compiler vectorises them (8-bit samples in 16-bit lanes, 16-bit
// samples in 32-bit lanes, floats four at a time); a pixel's coverage is
// spread over its channels first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace convert_detail {

// What a run of coverage bytes asks for as a whole.
enum class ECoverage { kNone, kFull, kPartial };

// kNone when every byte is 0, kFull when every byte is 255, else kPartial
// (also for a count of 0: nothing to shortcut).
inline ECoverage ClassifyCoverage(const uint8_t* coverage, size_t count) {
  if (count == 0) return ECoverage::kPartial;
  // Reduced with and/or over the whole run, free of branches, so that the
  // loop vectorises; selections are mostly whole runs of 0 or 255.
  uint32_t all = 0xFF;
  uint32_t any = 0;
  for (size_t k = 0; k < count; ++k) {
    all &= coverage[k];
    any |= coverage[k];
  }
  if (any == 0) return ECoverage::kNone;
  if (all == 0xFF) return ECoverage::kFull;
  return ECoverage::kPartial;
}

// weights[p x 3 + c] = coverage[p] for c = 0, 1, 2.
inline void SpreadCoverage3(const uint8_t* coverage, uint8_t* weights, size_t pixels) {
  for (size_t p = 0; p < pixels; ++p) {
    const uint8_t m = coverage[p];
    weights[p * 3] = m;
    weights[p * 3 + 1] = m;
    weights[p * 3 + 2] = m;
  }
}

// One sample. 8-bit: o x (255 - m) + p x m is o x 255 + (p - o) x m, at
// most 255 x 255, and never lies halfway between two multiples of 255 (255
// is odd), so adding 128 and dividing by 255 rounds to nearest; the division
// is (t + t / 256) / 256 with t = x + 128, exact for every x up to 255 x 255
// (the tests check all of them), and every step fits 16 bits.
inline uint8_t BlendSample(uint8_t processed, uint8_t original, uint8_t m) {
  const uint16_t t = static_cast<uint16_t>(original * (255 - m) + processed * m + 128);
  return static_cast<uint8_t>((t + (t >> 8)) >> 8);
}

// 16-bit host samples run from 0 to 32768: the weighted sum stays below
// 2^24, again never halfway, so (x + 127) / 255 rounds to nearest.
inline uint16_t BlendSample(uint16_t processed, uint16_t original, uint8_t m) {
  const uint32_t x = uint32_t{original} * (255u - m) + uint32_t{processed} * m + 127u;
  return static_cast<uint16_t>(x / 255u);
}

// Floats: the weight m / 255 correctly rounded, one multiply and one add.
// Coverage 0 and 255 select the bits of the samples themselves, so that
// infinities and NaNs outside the blend come back exactly as they were; the
// selection is made on the bits, with masks, because the compiler leaves a
// choice between floats as a branch, which keeps the loop from vectorising.
inline float BlendSample(float processed, float original, uint8_t m) {
  const float weight = static_cast<float>(static_cast<int32_t>(m)) / 255.0f;
  const float blended = original + (processed - original) * weight;
  uint32_t originalBits, processedBits, blendedBits;
  std::memcpy(&originalBits, &original, 4);
  std::memcpy(&processedBits, &processed, 4);
  std::memcpy(&blendedBits, &blended, 4);
  const uint32_t outside = 0u - static_cast<uint32_t>(m == 0);
  const uint32_t inside = 0u - static_cast<uint32_t>(m == 255);
  const uint32_t bits =
      (originalBits & outside) | (processedBits & inside) | (blendedBits & ~(outside | inside));
  float result;
  std::memcpy(&result, &bits, 4);
  return result;
}

// out[k] = BlendSample(processed[k], original[k], weights[k]) for count
// samples. out may be processed or original itself, but must not overlap
// either otherwise.
template <typename T>
void BlendRun(const T* processed, const T* original, const uint8_t* weights, T* out, size_t count) {
  for (size_t k = 0; k < count; ++k) out[k] = BlendSample(processed[k], original[k], weights[k]);
}

}  // namespace convert_detail

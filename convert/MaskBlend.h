// Blending of processed host samples with the original ones by the host's
// selection: one coverage byte per pixel at every depth, 0 outside the
// selection, 255 fully inside, values between on a feathered or anti-aliased
// edge. Each sample becomes original + (processed - original) x m / 255,
// rounded to the nearest host value; coverage 0 gives the original sample
// and 255 the processed one, bit for bit.
//
// The runs work on flat arrays of samples with one weight per sample, so
// that the compiler vectorises them (8-bit samples in 16-bit lanes, floats
// four at a time); 16-bit samples and the spreading of a pixel's coverage
// over its channels, which compilers vectorise poorly, have SSE2 forms of
// their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "convert/VectorRuns.h"

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

// weights[p x 3 + c] = coverage[p] for c = 0, 1, 2. Compilers leave this
// loop scalar, three single-byte stores a pixel, which cost more than the
// blend itself; the vector form triples sixteen pixels at a time in 16-bit
// lanes and packs them back to bytes.
inline void SpreadCoverage3(const uint8_t* coverage, uint8_t* weights, size_t pixels) {
  size_t p = 0;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  for (; p + 16 <= pixels; p += 16) {
    const __m128i c = Load(coverage + p);
    __m128i a0, a1, a2, b0, b1, b2;
    ThreeTimes16(_mm_unpacklo_epi8(c, zero), a0, a1, a2);
    ThreeTimes16(_mm_unpackhi_epi8(c, zero), b0, b1, b2);
    Store(weights + p * 3, _mm_packus_epi16(a0, a1));
    Store(weights + p * 3 + 16, _mm_packus_epi16(a2, b0));
    Store(weights + p * 3 + 32, _mm_packus_epi16(b1, b2));
  }
#endif
  for (; p < pixels; ++p) {
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

// 16-bit samples eight at a time. Compilers widen them to 32 bits and divide
// by 255 with a 64-bit product, which took most of an import that blends
// every pixel. Here the samples, less 32768 so that any 16-bit value fits a
// signed lane, and their weights are interleaved, so that one multiply-add
// gives o' x (255 - m) + p' x m; adding 32768 x 255 + 127 back gives the
// scalar form's sum x. The quotient q1 = (x + x / 256) / 256 is x / 255 or
// one less for every sum that 16-bit samples give (up to 65535 x 255 + 127;
// all of them were checked), and one compare of the remainder mends it. Bit
// for bit the scalar form's results, also for samples above the host's 32768.
inline void BlendRun(const uint16_t* processed, const uint16_t* original, const uint8_t* weights,
                     uint16_t* out, size_t count) {
  size_t k = 0;
#ifdef __SSE2__
  const __m128i flip = _mm_set1_epi16(static_cast<int16_t>(0x8000));
  const __m128i full = _mm_set1_epi16(255);
  const __m128i zero = _mm_setzero_si128();
  const __m128i back = _mm_set1_epi32(32768 * 255 + 127);
  const __m128i half = _mm_set1_epi32(32768);
  const __m128i most = _mm_set1_epi32(254);
  const auto divide = [&](__m128i sum) {
    const __m128i x = _mm_add_epi32(sum, back);
    const __m128i q = _mm_srli_epi32(_mm_add_epi32(x, _mm_srli_epi32(x, 8)), 8);
    const __m128i r = _mm_sub_epi32(x, _mm_sub_epi32(_mm_slli_epi32(q, 8), q));
    // The compare gives -1 where the remainder is 255 or more; less 32768 so
    // that the quotient packs into a signed lane.
    return _mm_sub_epi32(_mm_sub_epi32(q, _mm_cmpgt_epi32(r, most)), half);
  };
  const size_t vectorEnd = count - count % 8;
  for (; k < vectorEnd; k += 8) {
    const __m128i p = _mm_xor_si128(Load(processed + k), flip);
    const __m128i o = _mm_xor_si128(Load(original + k), flip);
    const __m128i m =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(weights + k)), zero);
    const __m128i rest = _mm_sub_epi16(full, m);
    const __m128i low =
        divide(_mm_madd_epi16(_mm_unpacklo_epi16(o, p), _mm_unpacklo_epi16(rest, m)));
    const __m128i high =
        divide(_mm_madd_epi16(_mm_unpackhi_epi16(o, p), _mm_unpackhi_epi16(rest, m)));
    Store(out + k, _mm_xor_si128(_mm_packs_epi32(low, high), flip));
  }
#endif
  for (; k < count; ++k) out[k] = BlendSample(processed[k], original[k], weights[k]);
}

}  // namespace convert_detail

// SSE2 forms of the converters' runs: channel by channel, one host channel
// broadcast into three file channels on export, three file channels averaged
// into one host channel on import. Compilers leave the gray loops scalar (the
// channels interleave in threes), which costs many times a copy of the bytes,
// and widen the 16-bit samples of the others to 32 bits.
//
// Each function converts the first samples or pixels of a run, several at a
// time, and returns how many it converted: a multiple of its step, 0 where
// there is no vector form (no SSE2, floats copied channel by channel, or an
// instantiation whose gray run is never used).
// The caller converts the rest with the portable loop. The results are the
// portable loop's, bit for bit; the converter tests compare them for every
// value or sum a run can meet.
//
// The runs that swap the bytes of 16-bit file samples or spread or gather
// three channels have SSSE3 forms (ShuffleRuns.h), taken where the processor
// has SSSE3; their SSE2 forms are named ...Sse2 and their SSSE3 forms
// ...Ssse3, so that both can be compared.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "convert/ShuffleRuns.h"

namespace convert_detail {

// The bit that makes a float NaN quiet.
constexpr uint32_t kQuietNaNBit = 0x00400000u;

template <typename Out, typename In, int Direction>
struct VectorRuns {
  static size_t PerChannel(const In*, Out*, size_t) { return 0; }
  static size_t Broadcast(const In*, Out*, size_t) { return 0; }
  static size_t Average(const In*, Out*, size_t) { return 0; }
};

#ifdef __SSE2__

inline __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// Eight 16-bit samples a0..a7, each three times: 24 samples in three
// registers.
inline void ThreeTimes16(__m128i a, __m128i& first, __m128i& second, __m128i& third) {
  const __m128i low = _mm_unpacklo_epi64(a, a);   // a0..a3 twice
  const __m128i high = _mm_unpackhi_epi64(a, a);  // a4..a7 twice
  // a0 a0 a0 a1 | a1 a1 a2 a2
  first = _mm_shufflehi_epi16(_mm_shufflelo_epi16(low, _MM_SHUFFLE(1, 0, 0, 0)),
                              _MM_SHUFFLE(2, 2, 1, 1));
  // a2 a3 a3 a3 | a4 a4 a4 a5
  second =
      _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, _MM_SHUFFLE(3, 3, 3, 2)), _MM_SHUFFLE(1, 0, 0, 0));
  // a5 a5 a6 a6 | a6 a7 a7 a7
  third = _mm_shufflehi_epi16(_mm_shufflelo_epi16(high, _MM_SHUFFLE(2, 2, 1, 1)),
                              _MM_SHUFFLE(3, 3, 3, 2));
}

// The same stored: 24 samples from out on.
inline void StoreThreeTimes16(uint16_t* out, __m128i a) {
  __m128i first, second, third;
  ThreeTimes16(a, first, second, third);
  Store(out, first);
  Store(out + 8, second);
  Store(out + 16, third);
}

// 24 interleaved 16-bit samples (eight pixels of three channels) into one
// register per channel, with unpacks only (SSE2 has no byte shuffle).
inline void LoadThreeChannels16(const uint16_t* in, __m128i& c0, __m128i& c1, __m128i& c2) {
  const __m128i t00 = Load(in);
  const __m128i t01 = Load(in + 8);
  const __m128i t02 = Load(in + 16);
  const __m128i t10 = _mm_unpacklo_epi16(t00, _mm_unpackhi_epi64(t01, t01));
  const __m128i t11 = _mm_unpacklo_epi16(_mm_unpackhi_epi64(t00, t00), t02);
  const __m128i t12 = _mm_unpacklo_epi16(t01, _mm_unpackhi_epi64(t02, t02));
  const __m128i t20 = _mm_unpacklo_epi16(t10, _mm_unpackhi_epi64(t11, t11));
  const __m128i t21 = _mm_unpacklo_epi16(_mm_unpackhi_epi64(t10, t10), t12);
  const __m128i t22 = _mm_unpacklo_epi16(t11, _mm_unpackhi_epi64(t12, t12));
  c0 = _mm_unpacklo_epi16(t20, _mm_unpackhi_epi64(t21, t21));
  c1 = _mm_unpacklo_epi16(_mm_unpackhi_epi64(t20, t20), t22);
  c2 = _mm_unpacklo_epi16(t21, _mm_unpackhi_epi64(t22, t22));
}

// Big-endian to native and back: the two bytes of each 16-bit lane swapped.
inline __m128i SwapBytes16(__m128i v) {
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

// Host 8-bit to file: x * 257 is the byte in both halves, the same two bytes
// in either byte order. 16 samples a step.
template <>
struct VectorRuns<unsigned short, unsigned char, 0> {
  static size_t PerChannel(const unsigned char* in, unsigned short* out, size_t samples) {
    size_t k = 0;
    for (; k + 16 <= samples; k += 16) {
      const __m128i x = Load(in + k);
      Store(out + k, _mm_unpacklo_epi8(x, x));
      Store(out + k + 8, _mm_unpackhi_epi8(x, x));
    }
    return k;
  }
  static size_t Broadcast(const unsigned char* in, unsigned short* out, size_t pixels) {
#ifdef VELMORA_SSSE3_RUNS
    if (HasSsse3()) return BroadcastSsse3(in, out, pixels);
#endif
    return BroadcastSse2(in, out, pixels);
  }
  static size_t BroadcastSse2(const unsigned char* in, unsigned short* out, size_t pixels) {
    size_t p = 0;
    for (; p + 16 <= pixels; p += 16) {
      const __m128i x = Load(in + p);
      StoreThreeTimes16(out + 3 * p, _mm_unpacklo_epi8(x, x));
      StoreThreeTimes16(out + 3 * p + 24, _mm_unpackhi_epi8(x, x));
    }
    return p;
  }
#ifdef VELMORA_SSSE3_RUNS
  // One shuffle per 16 bytes written instead of three.
  VELMORA_SSSE3 static size_t BroadcastSsse3(const unsigned char* in, unsigned short* out,
                                             size_t pixels) {
    size_t p = 0;
    for (; p + 16 <= pixels; p += 16) ssse3::StoreThreeTimesWidened(out + 3 * p, Load(in + p));
    return p;
  }
#endif
  static size_t Average(const unsigned char*, unsigned short*, size_t) { return 0; }
};

// File to host 8-bit: the high byte of the big-endian sample, which is the
// low byte of the little-endian lane.
inline __m128i HighBytes(__m128i v) { return _mm_and_si128(v, _mm_set1_epi16(0x00FF)); }

// The mean of three high bytes: their sum s is at most 765, and for such
// sums the nearest integer to s / 3, (s + 1) / 3, is (s + 1) * 21846 >> 16:
// the factor exceeds 65536 / 3 by 2 / 3, an error of (s + 1) / 98304 < 1/3.
// 16 samples a step per channel, eight pixels a step for the mean.
template <>
struct VectorRuns<unsigned char, unsigned short, 1> {
  static size_t PerChannel(const unsigned short* in, unsigned char* out, size_t samples) {
    size_t k = 0;
    for (; k + 16 <= samples; k += 16) {
      Store(out + k, _mm_packus_epi16(HighBytes(Load(in + k)), HighBytes(Load(in + k + 8))));
    }
    return k;
  }
  static size_t Broadcast(const unsigned short*, unsigned char*, size_t) { return 0; }
  static size_t Average(const unsigned short* in, unsigned char* out, size_t pixels) {
#ifdef VELMORA_SSSE3_RUNS
    if (HasSsse3()) return AverageSsse3(in, out, pixels);
#endif
    return AverageSse2(in, out, pixels);
  }

  static size_t AverageSse2(const unsigned short* in, unsigned char* out, size_t pixels) {
    size_t p = 0;
    for (; p + 8 <= pixels; p += 8) {
      __m128i c0, c1, c2;
      LoadThreeChannels16(in + 3 * p, c0, c1, c2);
      StoreMean8(out + p, HighBytes(c0), HighBytes(c1), HighBytes(c2));
    }
    return p;
  }
#ifdef VELMORA_SSSE3_RUNS
  VELMORA_SSSE3 static size_t AverageSsse3(const unsigned short* in, unsigned char* out,
                                           size_t pixels) {
    size_t p = 0;
    for (; p + 8 <= pixels; p += 8) {
      __m128i c0, c1, c2;
      ssse3::LoadThreeChannelsHigh(in + 3 * p, c0, c1, c2);
      StoreMean8(out + p, c0, c1, c2);
    }
    return p;
  }
#endif

 private:
  // Eight means of three high bytes each, as bytes.
  static void StoreMean8(unsigned char* out, __m128i h0, __m128i h1, __m128i h2) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(h0, h1), h2);
    const __m128i mean =
        _mm_mulhi_epu16(_mm_add_epi16(sum, _mm_set1_epi16(1)), _mm_set1_epi16(21846));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(mean, mean));
  }
};

// Host 16-bit to file, native order: h = min(x, 32768), then 2h, less 1
// above 16384, which is min(h - 16384 saturating at 0, 1) (a signed minimum:
// both are below 32768); in 16-bit lanes 2 x 32768 - 1 wraps to 65535 as it
// should. No shifts: the processor has few units for them, and the byte swap
// that follows needs two.
inline __m128i ScaleHostToFile16(__m128i x) {
  const __m128i h = _mm_sub_epi16(x, _mm_subs_epu16(x, _mm_set1_epi16(static_cast<short>(32768))));
  const __m128i less = _mm_min_epi16(_mm_subs_epu16(h, _mm_set1_epi16(16384)), _mm_set1_epi16(1));
  return _mm_sub_epi16(_mm_add_epi16(h, h), less);
}

// Eight samples a step.
template <>
struct VectorRuns<unsigned short, unsigned short, 0> {
  static size_t PerChannel(const unsigned short* in, unsigned short* out, size_t samples) {
#ifdef VELMORA_SSSE3_RUNS
    if (HasSsse3()) return PerChannelSsse3(in, out, samples);
#endif
    return PerChannelSse2(in, out, samples);
  }
  static size_t Broadcast(const unsigned short* in, unsigned short* out, size_t pixels) {
#ifdef VELMORA_SSSE3_RUNS
    if (HasSsse3()) return BroadcastSsse3(in, out, pixels);
#endif
    return BroadcastSse2(in, out, pixels);
  }
  static size_t Average(const unsigned short*, unsigned short*, size_t) { return 0; }

  static size_t PerChannelSse2(const unsigned short* in, unsigned short* out, size_t samples) {
    size_t k = 0;
    for (; k + 8 <= samples; k += 8) Store(out + k, SwapBytes16(ScaleHostToFile16(Load(in + k))));
    return k;
  }
  static size_t BroadcastSse2(const unsigned short* in, unsigned short* out, size_t pixels) {
    size_t p = 0;
    for (; p + 8 <= pixels; p += 8) {
      StoreThreeTimes16(out + 3 * p, SwapBytes16(ScaleHostToFile16(Load(in + p))));
    }
    return p;
  }
#ifdef VELMORA_SSSE3_RUNS
  VELMORA_SSSE3 static size_t PerChannelSsse3(const unsigned short* in, unsigned short* out,
                                              size_t samples) {
    const __m128i swap = ssse3::SwapMask();
    size_t k = 0;
    for (; k + 8 <= samples; k += 8) {
      Store(out + k, _mm_shuffle_epi8(ScaleHostToFile16(Load(in + k)), swap));
    }
    return k;
  }
  VELMORA_SSSE3 static size_t BroadcastSsse3(const unsigned short* in, unsigned short* out,
                                             size_t pixels) {
    size_t p = 0;
    for (; p + 8 <= pixels; p += 8) {
      ssse3::StoreThreeTimesSwapped(out + 3 * p, ScaleHostToFile16(Load(in + p)));
    }
    return p;
  }
#endif
};

// File to host 16-bit: (v + 1) / 2 of the native value, at most 32768, which
// the rounding average of the unsigned lanes with 0 computes without
// overflow.
inline __m128i HalveRounded16(__m128i native) { return _mm_avg_epu16(native, _mm_setzero_si128()); }
inline __m128i ScaleFileToHost16(__m128i v) { return HalveRounded16(SwapBytes16(v)); }

// The mean: with three host levels t of at most 32768 and their sum s, the
// rule's result is the nearest integer to s / 3, (s + 1) / 3 (see the
// portable path), which overflows 16-bit lanes. Split each level into
// t = 3q + r with q = t * 21846 >> 16: the factor exceeds 2^16 / 3 by 2/3,
// an error of t / 98304, below 1/3 but for t = 32768, where q comes out one
// more than t / 3 and r is -1; otherwise r is 0 to 2. Then
// (s + 1) / 3 = Q + R / 3 with Q the sum of the q and R = s + 1 - 3Q from -2
// to 7, computed exactly in wrapping 16-bit lanes since it is small; R / 3
// rounded down is (R + 3) * 21846 >> 16, less 1, as in the 8-bit mean.
// No shifts, which the processor has few units for.
inline __m128i MeanOfHostLevels16(__m128i t0, __m128i t1, __m128i t2) {
  const __m128i third = _mm_set1_epi16(21846);
  const __m128i sumQ =
      _mm_add_epi16(_mm_add_epi16(_mm_mulhi_epu16(t0, third), _mm_mulhi_epu16(t1, third)),
                    _mm_mulhi_epu16(t2, third));
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(t0, t1), t2);
  const __m128i r3 = _mm_sub_epi16(_mm_add_epi16(sum, _mm_set1_epi16(4)),
                                   _mm_add_epi16(_mm_add_epi16(sumQ, sumQ), sumQ));
  return _mm_add_epi16(_mm_sub_epi16(sumQ, _mm_set1_epi16(1)), _mm_mulhi_epu16(r3, third));
}

// Eight samples, or pixels, a step.
template <>
struct VectorRuns<unsigned short, unsigned short, 1> {
  static size_t PerChannel(const unsigned short* in, unsigned short* out, size_t samples) {
#ifdef VELMORA_SSSE3_RUNS
    if (HasSsse3()) return PerChannelSsse3(in, out, samples);
#endif
    return PerChannelSse2(in, out, samples);
  }
  static size_t Broadcast(const unsigned short*, unsigned short*, size_t) { return 0; }
  static size_t Average(const unsigned short* in, unsigned short* out, size_t pixels) {
#ifdef VELMORA_SSSE3_RUNS
    if (HasSsse3()) return AverageSsse3(in, out, pixels);
#endif
    return AverageSse2(in, out, pixels);
  }

  static size_t PerChannelSse2(const unsigned short* in, unsigned short* out, size_t samples) {
    size_t k = 0;
    for (; k + 8 <= samples; k += 8) Store(out + k, ScaleFileToHost16(Load(in + k)));
    return k;
  }
  static size_t AverageSse2(const unsigned short* in, unsigned short* out, size_t pixels) {
    size_t p = 0;
    for (; p + 8 <= pixels; p += 8) {
      __m128i c0, c1, c2;
      LoadThreeChannels16(in + 3 * p, c0, c1, c2);
      Store(out + p, MeanOfHostLevels16(ScaleFileToHost16(c0), ScaleFileToHost16(c1),
                                        ScaleFileToHost16(c2)));
    }
    return p;
  }
#ifdef VELMORA_SSSE3_RUNS
  VELMORA_SSSE3 static size_t PerChannelSsse3(const unsigned short* in, unsigned short* out,
                                              size_t samples) {
    const __m128i swap = ssse3::SwapMask();
    size_t k = 0;
    for (; k + 8 <= samples; k += 8) {
      Store(out + k, HalveRounded16(_mm_shuffle_epi8(Load(in + k), swap)));
    }
    return k;
  }
  VELMORA_SSSE3 static size_t AverageSsse3(const unsigned short* in, unsigned short* out,
                                           size_t pixels) {
    size_t p = 0;
    for (; p + 8 <= pixels; p += 8) {
      __m128i c0, c1, c2;
      ssse3::LoadThreeChannelsSwapped(in + 3 * p, c0, c1, c2);
      Store(out + p,
            MeanOfHostLevels16(HalveRounded16(c0), HalveRounded16(c1), HalveRounded16(c2)));
    }
    return p;
  }
#endif
};

// Floats: copied channel by channel with memcpy by the caller; broadcast as
// bit patterns (integer shuffles, so a signalling NaN stays as it is), four
// pixels a step; averaged as the portable path does,
// in double precision in the same order, 0.0 + c0 + c1 + c2 (the leading
// zero turns a sum of negative zeros positive there too), divided by 3 and
// rounded to float once.
template <int Direction>
struct VectorRuns<float, float, Direction> {
  static size_t PerChannel(const float*, float*, size_t) { return 0; }
  static size_t Broadcast(const float* in, float* out, size_t pixels) {
    size_t p = 0;
    for (; p + 4 <= pixels; p += 4) {
      const __m128i x = Load(in + p);
      Store(out + 3 * p, _mm_shuffle_epi32(x, _MM_SHUFFLE(1, 0, 0, 0)));
      Store(out + 3 * p + 4, _mm_shuffle_epi32(x, _MM_SHUFFLE(2, 2, 1, 1)));
      Store(out + 3 * p + 8, _mm_shuffle_epi32(x, _MM_SHUFFLE(3, 3, 3, 2)));
    }
    return p;
  }
  static size_t Average(const float* in, float* out, size_t pixels) {
    const __m128d zero = _mm_setzero_pd();
    const __m128d three = _mm_set1_pd(3.0);
    auto mean = [&](__m128 c0, __m128 c1, __m128 c2) {
      const __m128d sum = _mm_add_pd(
          _mm_add_pd(_mm_add_pd(zero, _mm_cvtps_pd(c0)), _mm_cvtps_pd(c1)), _mm_cvtps_pd(c2));
      return _mm_cvtpd_ps(_mm_div_pd(sum, three));
    };
    // As the portable path: the first NaN channel, made quiet, is the mean,
    // whichever NaN the additions kept.
    const __m128 quietBit = _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(kQuietNaNBit)));
    auto firstNaN = [&](__m128 channel, __m128 otherwise) {
      const __m128 isNaN = _mm_cmpunord_ps(channel, channel);
      return _mm_or_ps(_mm_and_ps(isNaN, _mm_or_ps(channel, quietBit)),
                       _mm_andnot_ps(isNaN, otherwise));
    };
    size_t p = 0;
    for (; p + 4 <= pixels; p += 4) {
      // Samples s0..s11 in a, b, c; channel k of pixel j is s(3j + k).
      const __m128 a = _mm_loadu_ps(in + 3 * p);
      const __m128 b = _mm_loadu_ps(in + 3 * p + 4);
      const __m128 c = _mm_loadu_ps(in + 3 * p + 8);
      const __m128 b2c1 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 1, 0, 2));      // s6 . s9 .
      const __m128 c0 = _mm_shuffle_ps(a, b2c1, _MM_SHUFFLE(2, 0, 3, 0));     // s0 s3 s6 s9
      const __m128 a1b0 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 0, 1));      // s1 . s4 .
      const __m128 b3c2 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 2, 0, 3));      // s7 . s10 .
      const __m128 c1 = _mm_shuffle_ps(a1b0, b3c2, _MM_SHUFFLE(2, 0, 2, 0));  // s1 s4 s7 s10
      const __m128 a2b1 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 1, 0, 2));      // s2 . s5 .
      const __m128 c2 = _mm_shuffle_ps(a2b1, c, _MM_SHUFFLE(3, 0, 2, 0));     // s2 s5 s8 s11
      const __m128 low = mean(c0, c1, c2);
      const __m128 high = mean(_mm_movehl_ps(c0, c0), _mm_movehl_ps(c1, c1), _mm_movehl_ps(c2, c2));
      const __m128 means = _mm_movelh_ps(low, high);
      _mm_storeu_ps(out + p, firstNaN(c0, firstNaN(c1, firstNaN(c2, means))));
    }
    return p;
  }
};

#endif  // __SSE2__

}  // namespace convert_detail

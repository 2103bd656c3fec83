// SSSE3 forms of the runs that move 16-bit file samples, chosen at run time
// where the processor has SSSE3 (every x86 processor since about 2008; the
// SSE2 forms stay for the others). Its byte shuffle swaps the two bytes of
// every big-endian sample and, in the same instruction, gathers the samples
// of one channel out of three interleaved ones or spreads one host sample
// into three file channels: work that SSE2 does with a dozen unpacks and
// shifts per eight pixels, on the processor's few shuffle and shift units.
//
// Each function converts the first samples or pixels of a run and returns
// how many, as the SSE2 forms in VectorRuns.h do, with results identical to
// theirs bit for bit. Compiled for SSSE3 function by function, so the rest
// of the program keeps to SSE2; called only when HasSsse3() holds.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#define VELMORA_SSSE3_RUNS 1
#include <cpuid.h>
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace convert_detail {

#ifdef VELMORA_SSSE3_RUNS

// Asked once: cpuid is slow, and under a hypervisor slower still.
inline bool HasSsse3() {
  static const bool has = [] {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_SSSE3) != 0;
  }();
  return has;
}

#define VELMORA_SSSE3 __attribute__((target("ssse3")))

namespace ssse3 {

inline __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// A byte index of -128 gives a zero byte.
constexpr char Z = -128;

// Both bytes of every 16-bit lane swapped.
VELMORA_SSSE3 inline __m128i SwapMask() {
  return _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
}

// Eight pixels of three 16-bit big-endian samples (24 samples from in on)
// into one register per channel, in native byte order.
VELMORA_SSSE3 inline void LoadThreeChannelsSwapped(const uint16_t* in, __m128i& c0, __m128i& c1,
                                                   __m128i& c2) {
  const __m128i a = Load(in);       // samples 0..7
  const __m128i b = Load(in + 8);   // samples 8..15
  const __m128i c = Load(in + 16);  // samples 16..23
  // Channel 0 is samples 0 3 6 | 9 12 15 | 18 21, and so on.
  c0 = _mm_or_si128(
      _mm_or_si128(
          _mm_shuffle_epi8(a, _mm_setr_epi8(1, 0, 7, 6, 13, 12, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z)),
          _mm_shuffle_epi8(b, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, 3, 2, 9, 8, 15, 14, Z, Z, Z, Z))),
      _mm_shuffle_epi8(c, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 5, 4, 11, 10)));
  c1 = _mm_or_si128(
      _mm_or_si128(
          _mm_shuffle_epi8(a, _mm_setr_epi8(3, 2, 9, 8, 15, 14, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z)),
          _mm_shuffle_epi8(b, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, 5, 4, 11, 10, Z, Z, Z, Z, Z, Z))),
      _mm_shuffle_epi8(c, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 1, 0, 7, 6, 13, 12)));
  c2 = _mm_or_si128(
      _mm_or_si128(
          _mm_shuffle_epi8(a, _mm_setr_epi8(5, 4, 11, 10, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z)),
          _mm_shuffle_epi8(b, _mm_setr_epi8(Z, Z, Z, Z, 1, 0, 7, 6, 13, 12, Z, Z, Z, Z, Z, Z))),
      _mm_shuffle_epi8(c, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 3, 2, 9, 8, 15, 14)));
}

// The same, keeping of each sample only its high byte (the first in the
// file), zero-extended to 16 bits.
VELMORA_SSSE3 inline void LoadThreeChannelsHigh(const uint16_t* in, __m128i& c0, __m128i& c1,
                                                __m128i& c2) {
  const __m128i a = Load(in);
  const __m128i b = Load(in + 8);
  const __m128i c = Load(in + 16);
  c0 = _mm_or_si128(
      _mm_or_si128(
          _mm_shuffle_epi8(a, _mm_setr_epi8(0, Z, 6, Z, 12, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z)),
          _mm_shuffle_epi8(b, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, 2, Z, 8, Z, 14, Z, Z, Z, Z, Z))),
      _mm_shuffle_epi8(c, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 4, Z, 10, Z)));
  c1 = _mm_or_si128(
      _mm_or_si128(
          _mm_shuffle_epi8(a, _mm_setr_epi8(2, Z, 8, Z, 14, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z)),
          _mm_shuffle_epi8(b, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, 4, Z, 10, Z, Z, Z, Z, Z, Z, Z))),
      _mm_shuffle_epi8(c, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 0, Z, 6, Z, 12, Z)));
  c2 = _mm_or_si128(
      _mm_or_si128(
          _mm_shuffle_epi8(a, _mm_setr_epi8(4, Z, 10, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, Z)),
          _mm_shuffle_epi8(b, _mm_setr_epi8(Z, Z, Z, Z, 0, Z, 6, Z, 12, Z, Z, Z, Z, Z, Z, Z))),
      _mm_shuffle_epi8(c, _mm_setr_epi8(Z, Z, Z, Z, Z, Z, Z, Z, Z, Z, 2, Z, 8, Z, 14, Z)));
}

// Eight native 16-bit samples a0..a7, each three times and byte-swapped:
// 24 big-endian samples from out on.
VELMORA_SSSE3 inline void StoreThreeTimesSwapped(uint16_t* out, __m128i a) {
  // a0 a0 a0 a1 | a1 a1 a2 a2, a2 a3 a3 a3 | a4 a4 a4 a5, a5 a5 a6 a6 | a6 a7 a7 a7
  Store(out, _mm_shuffle_epi8(a, _mm_setr_epi8(1, 0, 1, 0, 1, 0, 3, 2, 3, 2, 3, 2, 5, 4, 5, 4)));
  Store(out + 8,
        _mm_shuffle_epi8(a, _mm_setr_epi8(5, 4, 7, 6, 7, 6, 7, 6, 9, 8, 9, 8, 9, 8, 11, 10)));
  Store(out + 16, _mm_shuffle_epi8(a, _mm_setr_epi8(11, 10, 11, 10, 13, 12, 13, 12, 13, 12, 15, 14,
                                                    15, 14, 15, 14)));
}

// Sixteen 8-bit host samples x0..x15, each as a 16-bit sample with the byte
// in both halves (x * 257, the same in either byte order), three times: 48
// samples from out on.
VELMORA_SSSE3 inline void StoreThreeTimesWidened(uint16_t* out, __m128i x) {
  Store(out, _mm_shuffle_epi8(x, _mm_setr_epi8(0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2)));
  Store(out + 8,
        _mm_shuffle_epi8(x, _mm_setr_epi8(2, 2, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 5, 5)));
  Store(out + 16,
        _mm_shuffle_epi8(x, _mm_setr_epi8(5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7)));
  Store(out + 24,
        _mm_shuffle_epi8(x, _mm_setr_epi8(8, 8, 8, 8, 8, 8, 9, 9, 9, 9, 9, 9, 10, 10, 10, 10)));
  Store(out + 32, _mm_shuffle_epi8(x, _mm_setr_epi8(10, 10, 11, 11, 11, 11, 11, 11, 12, 12, 12, 12,
                                                    12, 12, 13, 13)));
  Store(out + 40, _mm_shuffle_epi8(x, _mm_setr_epi8(13, 13, 13, 13, 14, 14, 14, 14, 14, 14, 15, 15,
                                                    15, 15, 15, 15)));
}

}  // namespace ssse3

#endif  // VELMORA_SSSE3_RUNS

}  // namespace convert_detail

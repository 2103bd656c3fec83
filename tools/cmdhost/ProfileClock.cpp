#include "tools/cmdhost/ProfileClock.h"

#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define VELMORA_HAS_TSC 1
#else
#define VELMORA_HAS_TSC 0
#endif

namespace cmdhost {

namespace {

using Steady = std::chrono::steady_clock;

struct Calibration {
  bool active = false;
  uint64_t ticks0 = 0;  // counter at the calibration's start
  int64_t steady0 = 0;  // steady_clock at the same moment, in nanoseconds
  double nsPerTick = 0.0;
};

Calibration gCalibration;

int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
      .count();
}

#if VELMORA_HAS_TSC
// An invariant counter runs at the same rate in every power state and on
// every core, so differences of its values measure time.
bool HasInvariantCounter() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0x80000000u, &eax, &ebx, &ecx, &edx) == 0 || eax < 0x80000007u) return false;
  if (__get_cpuid(0x80000007u, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (edx & (1u << 8)) != 0;
}

// The counter and steady_clock read as close together as the two reads
// allow: the pair whose steady_clock read took least, of a few.
void ReadBoth(uint64_t& ticks, int64_t& steady) {
  uint64_t bestSpan = ~0ull;
  for (int i = 0; i < 5; ++i) {
    const uint64_t before = __rdtsc();
    const int64_t s = SteadyNanoseconds();
    const uint64_t after = __rdtsc();
    if (after - before < bestSpan) {
      bestSpan = after - before;
      ticks = before + (after - before) / 2;
      steady = s;
    }
  }
}
#endif

}  // namespace

ProfileClock::time_point ProfileClock::now() noexcept {
#if VELMORA_HAS_TSC
  if (gCalibration.active) {
    const auto elapsed = static_cast<double>(__rdtsc() - gCalibration.ticks0);
    return time_point(
        duration(gCalibration.steady0 + static_cast<int64_t>(elapsed * gCalibration.nsPerTick)));
  }
#endif
  return time_point(duration(SteadyNanoseconds()));
}

bool ProfileClock::Calibrate(std::chrono::milliseconds span) {
  gCalibration.active = false;
#if VELMORA_HAS_TSC
  if (!HasInvariantCounter()) return false;
  uint64_t ticks0 = 0, ticks1 = 0;
  int64_t steady0 = 0, steady1 = 0;
  ReadBoth(ticks0, steady0);
  std::this_thread::sleep_for(span);
  ReadBoth(ticks1, steady1);
  if (ticks1 <= ticks0 || steady1 <= steady0) return false;
  gCalibration.ticks0 = ticks0;
  gCalibration.steady0 = steady0;
  gCalibration.nsPerTick =
      static_cast<double>(steady1 - steady0) / static_cast<double>(ticks1 - ticks0);
  gCalibration.active = true;
  return true;
#else
  (void)span;
  return false;
#endif
}

bool ProfileClock::UsesCounter() noexcept { return gCalibration.active; }

}  // namespace cmdhost

// The profile's clock: read three times a transfer request, so it must cost
// little next to a request. Under Wine std::chrono::steady_clock goes through
// clock_gettime and QueryPerformanceCounter, about 30 ns a read, which over
// the 150 000 callbacks of a 24-megapixel round trip is as much as the
// plug-in's whole conversion work. Where the processor's time-stamp counter
// runs at a constant rate this clock reads it instead (a few nanoseconds),
// scaled by a rate measured against steady_clock when the clock is
// calibrated; elsewhere, and before calibration, it reads steady_clock.
// Portable.
#pragma once

#include <chrono>
#include <cstdint>

namespace cmdhost {

struct ProfileClock {
  using rep = int64_t;
  using period = std::nano;
  using duration = std::chrono::nanoseconds;
  using time_point = std::chrono::time_point<ProfileClock>;
  static constexpr bool is_steady = true;

  static time_point now() noexcept;

  // Measures the counter's rate against steady_clock over about the given
  // time, after which now() reads the counter on the same time scale and
  // epoch as steady_clock. True when the counter is in use; false when this
  // processor has none that runs at a constant rate (now() stays on
  // steady_clock).
  static bool Calibrate(std::chrono::milliseconds span = std::chrono::milliseconds(20));
  // True once Calibrate put the counter in use.
  static bool UsesCounter() noexcept;
};

}  // namespace cmdhost

// Host images for tests: the options of a plain RGB or gray image and a fill
// with distinct values in the host's range (floats within 0.0 to 1.0, the
// range a gray float import keeps).
#pragma once

#include "tools/testhost/TestHost.h"

namespace testsupport {

inline testhost::HostOptions ImageOptions(int32_t width, int32_t height, int32_t depth, bool gray) {
  testhost::HostOptions o;
  o.width = width;
  o.height = height;
  o.depth = depth;
  o.gray = gray;
  o.planes = gray ? 1 : 3;
  return o;
}

inline void FillPattern(testhost::TestHost& host, const testhost::HostOptions& o) {
  for (int32_t y = 0; y < o.height; ++y)
    for (int32_t x = 0; x < o.width; ++x)
      for (int p = 0; p < o.planes; ++p) {
        const int n = (y * 257 + x * 31 + p * 11) % 4099;
        host.SetSample(x, y, p,
                       o.depth == 8    ? n % 256
                       : o.depth == 16 ? (n * 8) % 32769
                                       : n / 4098.0);
      }
}

}  // namespace testsupport

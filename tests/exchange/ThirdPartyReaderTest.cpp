// The exported pixmap read back by netpbm, a reader that is not ours.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "exchange/ExportPass.h"
#include "support/TestContext.h"
#include "tools/testhost/TestHost.h"

namespace {

TEST(ThirdPartyReaderTest, NetpbmReadsTheSampleValuesWeWrote) {
  testhost::HostOptions o;
  o.width = 37;
  o.height = 5;
  o.depth = 16;
  testhost::TestHost host(o);
  for (int32_t y = 0; y < o.height; ++y)
    for (int32_t x = 0; x < o.width; ++x)
      for (int p = 0; p < 3; ++p) host.SetSample(x, y, p, (x * 887 + y * 5003 + p * 17) % 32769);

  testsupport::TempFolder folder;
  const std::string path = folder.File("Velmora.ppm");
  {
    testsupport::BoundContext context(&host.Record());
    context.SetExportPath(path);
    ASSERT_EQ(OpenExportFile(context.get()), 0);
    ASSERT_EQ(ExportHostImage(context.get()), 0);
    ASSERT_EQ(CloseExportFile(context.get()), 0);
  }

  FILE* pipe = popen(("pnmtoplainpnm '" + path + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  ASSERT_EQ(pclose(pipe), 0) << text;

  std::istringstream plain(text);
  std::string magic;
  int width = 0, height = 0, maxValue = 0;
  plain >> magic >> width >> height >> maxValue;
  ASSERT_EQ(magic, "P3");
  ASSERT_EQ(width, o.width);
  ASSERT_EQ(height, o.height);
  ASSERT_EQ(maxValue, 65535);
  for (int32_t y = 0; y < o.height; ++y)
    for (int32_t x = 0; x < o.width; ++x)
      for (int p = 0; p < 3; ++p) {
        long value = -1;
        plain >> value;
        const auto h = static_cast<long>(host.Sample(x, y, p));
        ASSERT_EQ(value, (h * 65535 + 16384) / 32768) << x << "," << y << "," << p;
      }
}

}  // namespace

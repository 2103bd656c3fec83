// The export pass through a host that behaves like real hosts: the exact
// file bytes, the shape of every request, and how failures end the pass.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/BlockWriter.h"
#include "exchange/ExportPass.h"
#include "support/TestContext.h"
#include "tools/testhost/TestHost.h"

namespace {

using testhost::HostOptions;
using testhost::TestHost;
using testsupport::BoundContext;
using testsupport::Bytes;
using testsupport::ReadBytes;
using testsupport::TempFolder;

// Distinct values in the host's range for every sample.
void FillPattern(TestHost& host, const HostOptions& o) {
  for (int32_t y = 0; y < o.height; ++y)
    for (int32_t x = 0; x < o.width; ++x)
      for (int p = 0; p < o.planes; ++p) {
        const int n = (y * 131 + x * 17 + p * 7) % 1000;
        double value = o.depth == 8 ? n % 256 : o.depth == 16 ? (n * 33) % 32769 : n / 997.0 - 0.1;
        host.SetSample(x, y, p, value);
      }
}

void AppendBigEndian16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v & 0xFF));
}

// The file a host image must give, computed here from the format's rules.
std::vector<uint8_t> ExpectedFile(const TestHost& host, const HostOptions& o) {
  std::string header = (o.depth == 32 ? "PF\n" : "P6\n") + std::to_string(o.width) + "\n" +
                       std::to_string(o.height) + "\n" + (o.depth == 32 ? "-1\n" : "65535\n");
  std::vector<uint8_t> out = Bytes(header);
  for (int32_t y = 0; y < o.height; ++y)
    for (int32_t x = 0; x < o.width; ++x)
      for (int c = 0; c < 3; ++c) {
        const double s = host.Sample(x, y, o.gray ? 0 : c);
        if (o.depth == 8) {
          AppendBigEndian16(out, static_cast<uint32_t>(s) * 257u);
        } else if (o.depth == 16) {
          const auto h = static_cast<uint32_t>(s);
          AppendBigEndian16(out, h > 32768 ? 65535 : (h * 65535u + 16384u) / 32768u);
        } else {
          const auto f = static_cast<float>(s);
          uint8_t b[4];
          std::memcpy(b, &f, 4);
          out.insert(out.end(), b, b + 4);
        }
      }
  return out;
}

class ExportPassTest : public ::testing::Test {
 protected:
  // Runs OpenExportFile, ExportHostImage and CloseExportFile.
  int16_t Export(TestHost& host, std::vector<uint8_t>* file = nullptr) {
    BoundContext context(&host.Record());
    context.SetExportPath(folder_.File("Velmora.ppm"));
    EXPECT_EQ(OpenExportFile(context.get()), 0);
    const int16_t result = ExportHostImage(context.get());
    EXPECT_EQ(context->converter, nullptr) << "converter released";
    EXPECT_EQ(CloseExportFile(context.get()), 0);
    EXPECT_EQ(context->exportFile.descriptor, -1);
    EXPECT_TRUE(host.BuffersIntact());
    if (file != nullptr) *file = ReadBytes(folder_.File("Velmora.ppm"));
    return result;
  }

  TempFolder folder_;
};

TEST_F(ExportPassTest, WorkedExampleRgb16IsThe49ByteFile) {
  HostOptions o;
  o.width = 3;
  o.height = 2;
  TestHost host(o);
  const uint16_t values[2][3][3] = {{{0, 1, 2}, {16384, 32767, 32768}, {100, 200, 300}},
                                    {{5, 6, 7}, {8, 9, 10}, {32000, 31000, 30000}}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 3; ++c) host.SetSample(x, y, c, values[y][x][c]);
  std::vector<uint8_t> file;
  ASSERT_EQ(Export(host, &file), 0);
  ASSERT_EQ(file.size(), 49u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 13), "P6\n3\n2\n65535\n");
  // 0, 1, 2 -> 0, 2, 4; 16384 -> 32768; 32767 -> 65533; 32768 -> 65535.
  const std::vector<uint8_t> firstPixels = {0x00, 0x00, 0x00, 0x02, 0x00, 0x04,
                                            0x80, 0x00, 0xFF, 0xFD, 0xFF, 0xFF};
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 13, file.begin() + 25), firstPixels);
  EXPECT_EQ(file, ExpectedFile(host, o));
}

TEST_F(ExportPassTest, EverySupportedHostFormatGivesTheExactFile) {
  for (int depth : {8, 16, 32}) {
    for (bool gray : {false, true}) {
      SCOPED_TRACE(testing::Message() << depth << (gray ? " gray" : " rgb"));
      HostOptions o;
      o.width = 3;
      o.height = 2;
      o.depth = depth;
      o.gray = gray;
      o.planes = gray ? 1 : 3;
      TestHost host(o);
      FillPattern(host, o);
      std::vector<uint8_t> file;
      ASSERT_EQ(Export(host, &file), 0);
      EXPECT_EQ(file.size(), depth == 32 ? 82u : 49u);
      EXPECT_EQ(file, ExpectedFile(host, o));
      for (const auto& q : host.Requests()) {
        EXPECT_EQ(q.loPlane, 0);
        EXPECT_EQ(q.hiPlane, gray ? 0 : 2);
      }
    }
  }
}

TEST_F(ExportPassTest, RowsAreRequestedInChunksOfAtMost1000Pixels) {
  for (int32_t width : {1, 999, 1000, 1001, 2000, 2500}) {
    SCOPED_TRACE(width);
    HostOptions o;
    o.width = width;
    o.height = 2;
    o.depth = 8;
    TestHost host(o);
    FillPattern(host, o);
    std::vector<uint8_t> file;
    ASSERT_EQ(Export(host, &file), 0);
    EXPECT_EQ(file, ExpectedFile(host, o));
    const int32_t chunks = (width + 999) / 1000;
    ASSERT_EQ(host.Requests().size(), static_cast<size_t>(2 * chunks));
    for (int32_t row = 0; row < 2; ++row)
      for (int32_t c = 0; c < chunks; ++c) {
        const auto& q = host.Requests()[static_cast<size_t>(row * chunks + c)];
        EXPECT_EQ(q.top, row);
        EXPECT_EQ(q.bottom, row + 1);
        EXPECT_EQ(q.left, c * 1000);
        EXPECT_EQ(q.right, std::min(width, (c + 1) * 1000));
        EXPECT_FALSE(q.used32BitCoordinates);
      }
  }
}

TEST_F(ExportPassTest, OnePixelImageIsOneRequest) {
  HostOptions o;
  TestHost host(o);
  ASSERT_EQ(Export(host), 0);
  ASSERT_EQ(host.Requests().size(), 1u);
  const auto& q = host.Requests()[0];
  EXPECT_EQ(q.top, 0);
  EXPECT_EQ(q.left, 0);
  EXPECT_EQ(q.bottom, 1);
  EXPECT_EQ(q.right, 1);
}

TEST_F(ExportPassTest, LayerWithTransparencyExportsTheColourPlanes) {
  HostOptions o;
  o.width = 4;
  o.height = 3;
  o.planes = 4;
  o.layerPlanes = 3;
  TestHost host(o);
  FillPattern(host, o);
  std::vector<uint8_t> file;
  ASSERT_EQ(Export(host, &file), 0);
  for (const auto& q : host.Requests()) {
    EXPECT_EQ(q.loPlane, 0);
    EXPECT_EQ(q.hiPlane, 2);
  }
  // Samples of planes 0 to 2 only.
  ASSERT_EQ(file.size(), 13u + 4 * 3 * 3 * 2);
  const auto h = static_cast<uint32_t>(host.Sample(1, 2, 2));
  const size_t at = 13 + ((2 * 4 + 1) * 3 + 2) * 2;
  EXPECT_EQ(file[at] * 256u + file[at + 1], (h * 65535u + 16384u) / 32768u);
}

TEST_F(ExportPassTest, PlanesMatchingNeitherCountFailBeforeTheHeader) {
  HostOptions o;
  o.planes = 4;
  o.layerPlanes = 5;
  TestHost host(o);
  std::vector<uint8_t> file;
  EXPECT_EQ(Export(host, &file), -50);
  EXPECT_TRUE(file.empty());
  EXPECT_TRUE(host.Requests().empty());
}

TEST_F(ExportPassTest, UnsupportedImageFailsWithAnEmptyFile) {
  HostOptions o;
  o.depth = 16;
  TestHost host(o);
  host.Record().planes = 2;  // RGB with two planes: not tried as gray
  std::vector<uint8_t> file;
  EXPECT_EQ(Export(host, &file), -50);
  EXPECT_TRUE(file.empty());
}

TEST_F(ExportPassTest, WideImageUses32BitCoordinates) {
  HostOptions o;
  o.width = 40000;
  o.height = 1;
  o.depth = 8;
  o.gray = true;
  o.planes = 1;
  o.bigDocument = true;
  TestHost host(o);
  host.BigDocument().PluginUsing32BitCoordinates = 1;
  FillPattern(host, o);
  std::vector<uint8_t> file;
  ASSERT_EQ(Export(host, &file), 0);
  EXPECT_EQ(file, ExpectedFile(host, o));
  ASSERT_EQ(host.Requests().size(), 40u);
  EXPECT_TRUE(host.Requests().back().used32BitCoordinates);
  EXPECT_EQ(host.Requests().back().left, 39000);
  EXPECT_EQ(host.Requests().back().right, 40000);
  EXPECT_EQ(host.BigDocument().outRect32.right, 40000);
}

TEST_F(ExportPassTest, PaddedRowBytesAreServedAndIgnored) {
  HostOptions o;
  o.width = 1500;
  o.height = 3;
  o.inRowPadding = 13;
  o.outRowPadding = 7;
  TestHost host(o);
  FillPattern(host, o);
  std::vector<uint8_t> file;
  ASSERT_EQ(Export(host, &file), 0);
  EXPECT_EQ(file, ExpectedFile(host, o));
}

TEST_F(ExportPassTest, CancelStopsAfterTheCurrentChunkWithItWritten) {
  HostOptions o;
  o.width = 2500;
  o.height = 2;
  o.depth = 8;
  o.cancelAfterAborts = 4;  // the first chunk of row 1
  TestHost host(o);
  FillPattern(host, o);
  std::vector<uint8_t> file;
  EXPECT_EQ(Export(host, &file), -128);
  EXPECT_EQ(host.Requests().size(), 4u);
  const std::vector<uint8_t> all = ExpectedFile(host, o);
  const size_t header = 16;  // "P6\n2500\n2\n65535\n"
  ASSERT_EQ(file.size(), header + (2500 + 1000) * 6);
  EXPECT_TRUE(std::equal(file.begin(), file.end(), all.begin()));
}

TEST_F(ExportPassTest, HostErrorIsPassedOnAfterTheChunksBeforeIt) {
  HostOptions o;
  o.width = 2500;
  o.height = 2;
  o.depth = 32;
  o.failAdvanceOnCall = 5;
  o.failAdvanceCode = -4321;
  TestHost host(o);
  FillPattern(host, o);
  std::vector<uint8_t> file;
  EXPECT_EQ(Export(host, &file), -4321);
  const size_t header = 13;  // "PF\n2500\n2\n-1\n"
  EXPECT_EQ(file.size(), header + 4 * 1000 * 12 - 500 * 12);
}

TEST_F(ExportPassTest, MissingAdvanceStateFailsAfterTheHeader) {
  HostOptions o;
  o.advanceState = false;
  TestHost host(o);
  std::vector<uint8_t> file;
  EXPECT_EQ(Export(host, &file), -50);
  EXPECT_EQ(std::string(file.begin(), file.end()), "P6\n1\n1\n65535\n");
}

TEST_F(ExportPassTest, NullInDataAfterAdvanceIsAnArgumentError) {
  HostOptions o;
  TestHost host(o);
  BoundContext context(&host.Record());
  context.SetExportPath(folder_.File("x.ppm"));
  ASSERT_EQ(OpenExportFile(context.get()), 0);
  const void* data = &o;
  BlockWriter writer(context->exportFile, 16, 16);
  EXPECT_THROW(ConvertExportChunk(context.get(), writer, nullptr, 3, 1), EError);
  EXPECT_THROW(ConvertExportChunk(context.get(), writer, data, 3, 0), EError);
  EXPECT_THROW(FetchInputChunk(context.get(), nullptr, &data, nullptr), EError);
}

TEST_F(ExportPassTest, OpenFailsInAMissingFolderAndReopenTruncates) {
  HostOptions o;
  TestHost host(o);
  BoundContext context(&host.Record());
  context.SetExportPath(folder_.File("missing/sub/x.ppm"));
  EXPECT_EQ(OpenExportFile(context.get()), -23);
  EXPECT_EQ(context->exportFile.descriptor, -1);

  testsupport::WriteBytes(folder_.File("x.ppm"), Bytes("old contents that are long"));
  context.SetExportPath(folder_.File("x.ppm"));
  ASSERT_EQ(OpenExportFile(context.get()), 0);
  ASSERT_EQ(OpenExportFile(context.get()), 0);  // closes the open one first
  ASSERT_EQ(CloseExportFile(context.get()), 0);
  EXPECT_TRUE(ReadBytes(folder_.File("x.ppm")).empty());
  EXPECT_EQ(CloseExportFile(context.get()), 0);  // not open: still fine
}

}  // namespace

// The import pass: processed files checked before a single sample reaches
// the host, chunks stored where they belong, failures stopping at the right
// chunk, and exact round trips for every host format.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/Error.h"
#include "exchange/ExchangeImageFile.h"
#include "exchange/ExportPass.h"
#include "exchange/ImportPass.h"
#include "support/ImagePattern.h"
#include "support/TestContext.h"
#include "tools/testhost/TestHost.h"

namespace {

using testhost::HostOptions;
using testhost::TestHost;
using testsupport::BoundContext;
using testsupport::Bytes;
using testsupport::FillPattern;
using testsupport::ReadBytes;
using testsupport::TempFolder;
using testsupport::WriteBytes;

std::string Header(const char* magic, int32_t w, int32_t h, const char* max) {
  return std::string(magic) + "\n" + std::to_string(w) + "\n" + std::to_string(h) + "\n" + max +
         "\n";
}

// A 16-bit file whose every sample is value (big-endian).
std::vector<uint8_t> Pixmap16(int32_t w, int32_t h, uint16_t value, const std::string& header) {
  std::vector<uint8_t> file = Bytes(header);
  for (int32_t i = 0; i < w * h * 3; ++i) {
    file.push_back(static_cast<uint8_t>(value >> 8));
    file.push_back(static_cast<uint8_t>(value));
  }
  return file;
}

class ImportPassTest : public ::testing::Test {
 protected:
  int16_t Import(TestHost& host, const std::vector<uint8_t>& file) {
    WriteBytes(folder_.File("Velmora_Processed.ppm"), file);
    BoundContext context(&host.Record());
    context.SetImportPath(folder_.File("Velmora_Processed.ppm"));
    EXPECT_EQ(OpenImportFile(context.get()), 0);
    const int16_t result = ImportProcessedImage(context.get());
    host.CommitPending();  // as the host does when Start returns
    EXPECT_EQ(context->converter, nullptr);
    EXPECT_EQ(CloseImportFile(context.get()), 0);
    EXPECT_EQ(context->importFile.descriptor, -1);
    EXPECT_TRUE(host.BuffersIntact());
    return result;
  }

  std::vector<uint8_t> Export(TestHost& host) {
    BoundContext context(&host.Record());
    context.SetExportPath(folder_.File("Velmora.ppm"));
    EXPECT_EQ(OpenExportFile(context.get()), 0);
    EXPECT_EQ(ExportHostImage(context.get()), 0);
    EXPECT_EQ(CloseExportFile(context.get()), 0);
    return ReadBytes(folder_.File("Velmora.ppm"));
  }

  TempFolder folder_;
};

TEST_F(ImportPassTest, UnchangedRoundTripReturnsEveryFormatUnchanged) {
  for (int depth : {8, 16, 32}) {
    for (bool gray : {false, true}) {
      SCOPED_TRACE(testing::Message() << depth << (gray ? " gray" : " rgb"));
      const HostOptions o = testsupport::ImageOptions(2100, 3, depth, gray);
      TestHost host(o);
      FillPattern(host, o);
      const std::vector<uint8_t> original = host.Image();
      const std::vector<uint8_t> file = Export(host);
      ASSERT_EQ(Import(host, file), 0);
      EXPECT_TRUE(host.Image() == original);
      EXPECT_EQ(host.Requests().size(), 2u * 3u * 3u);  // both passes
    }
  }
  // Samples over several blocks, with chunks running across their ends.
  const HostOptions o = testsupport::ImageOptions(2100, 100, 32, false);
  TestHost host(o);
  FillPattern(host, o);
  const std::vector<uint8_t> original = host.Image();
  const std::vector<uint8_t> file = Export(host);
  ASSERT_GT(file.size(), 2 * kSampleBlockBytes);
  ASSERT_EQ(Import(host, file), 0);
  EXPECT_TRUE(host.Image() == original);
}

TEST_F(ImportPassTest, EveryHost16BitValueSurvivesTheRoundTrip) {
  const HostOptions o = testsupport::ImageOptions(32769, 1, 16, true);
  HostOptions big = o;
  big.bigDocument = true;
  TestHost host(big);
  host.BigDocument().PluginUsing32BitCoordinates = 1;
  for (int32_t x = 0; x < o.width; ++x) host.SetSample(x, 0, 0, x);
  const std::vector<uint8_t> original = host.Image();
  ASSERT_EQ(Import(host, Export(host)), 0);
  EXPECT_TRUE(host.Image() == original);
}

TEST_F(ImportPassTest, GrayHostGetsTheRoundedMeanOfThreeChannels) {
  const HostOptions o = testsupport::ImageOptions(2, 1, 8, true);
  TestHost host(o);
  std::vector<uint8_t> file = Bytes(Header("P6", 2, 1, "65535"));
  for (uint8_t v : {10, 10, 11, 10, 11, 11}) {
    file.push_back(v);
    file.push_back(0x80);
  }
  ASSERT_EQ(Import(host, file), 0);
  EXPECT_EQ(host.Sample(0, 0, 0), 10);
  EXPECT_EQ(host.Sample(1, 0, 0), 11);
}

TEST_F(ImportPassTest, InvertedFileGivesTheInvertedImage) {
  const HostOptions o = testsupport::ImageOptions(3, 2, 16, false);
  TestHost host(o);
  const std::vector<uint8_t> file = Pixmap16(3, 2, 0, Header("P6", 3, 2, "65535"));
  FillPattern(host, o);
  ASSERT_EQ(Import(host, file), 0);
  for (int p = 0; p < 3; ++p) EXPECT_EQ(host.Sample(2, 1, p), 0);
  ASSERT_EQ(Import(host, Pixmap16(3, 2, 65535, Header("P6", 3, 2, "65535"))), 0);
  for (int p = 0; p < 3; ++p) EXPECT_EQ(host.Sample(0, 0, p), 32768);
}

TEST_F(ImportPassTest, AcceptedHeaderForms) {
  const HostOptions o = testsupport::ImageOptions(3, 2, 16, false);
  {
    TestHost host(o);
    EXPECT_EQ(Import(host, Pixmap16(3, 2, 1000, "P6 3 2 65535\n")), 0);
    EXPECT_EQ(host.Sample(0, 0, 0), (1000 * 32768 + 32767) / 65535);
  }
  {
    TestHost host(o);  // bytes after the last row are never read
    std::vector<uint8_t> file = Pixmap16(3, 2, 1000, Header("P6", 3, 2, "65535"));
    file.insert(file.end(), 100, 0xAB);
    EXPECT_EQ(Import(host, file), 0);
  }
  const HostOptions f = testsupport::ImageOptions(1, 1, 32, false);
  for (const char* max : {"-1", "-1.0", "-1.000000"}) {
    TestHost host(f);
    std::vector<uint8_t> file = Bytes(Header("PF", 1, 1, max));
    const float values[3] = {0.25f, -1.0f, 7.5f};
    const auto* b = reinterpret_cast<const uint8_t*>(values);
    file.insert(file.end(), b, b + 12);
    ASSERT_EQ(Import(host, file), 0) << max;
    EXPECT_EQ(host.Sample(0, 0, 1), -1.0);
    EXPECT_EQ(host.Sample(0, 0, 2), 7.5);
  }
}

TEST_F(ImportPassTest, MismatchedFilesLeaveTheHostUntouched) {
  const HostOptions o = testsupport::ImageOptions(3, 2, 16, false);
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    int16_t expected;
  };
  std::vector<uint8_t> crlf = Bytes("P6\r\n3\r\n2\r\n65535\r\n");
  const std::vector<Case> cases = {
      {"CR LF lines", Pixmap16(3, 2, 1, "P6\r\n3\r\n2\r\n65535\r\n"), -19},
      {"max 255", Pixmap16(3, 2, 1, Header("P6", 3, 2, "255")), -19},
      {"other width", Pixmap16(4, 2, 1, Header("P6", 4, 2, "65535")), -19},
      {"other height", Pixmap16(3, 1, 1, Header("P6", 3, 1, "65535")), -19},
      {"other kind", Pixmap16(3, 2, 1, Header("PF", 3, 2, "-1")), -19},
      {"negative width", Pixmap16(3, 2, 1, Header("P6", -3, 2, "65535")), -19},
      {"huge size", Pixmap16(3, 2, 1, Header("P6", 2147483000, 2147483000, "65535")), -19},
      {"overflowing digits", Pixmap16(3, 2, 1, Header("P6", 3, 2, "99999999999999999999")), -19},
      {"33-character token", Pixmap16(3, 2, 1, std::string(33, '6') + "\n3\n2\n65535\n"), -50},
      {"header cut short", Bytes("P6\n3\n2"), -50},
      {"empty file", {}, -50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host(o);
    FillPattern(host, o);
    const std::vector<uint8_t> original = host.Image();
    EXPECT_EQ(Import(host, c.file), c.expected);
    EXPECT_TRUE(host.Image() == original);
    EXPECT_TRUE(host.Requests().empty());
  }
}

TEST_F(ImportPassTest, FloatMapWithPositiveScaleIsRefused) {
  const HostOptions o = testsupport::ImageOptions(1, 1, 32, true);
  TestHost host(o);
  std::vector<uint8_t> file = Bytes(Header("PF", 1, 1, "1.0"));
  file.resize(file.size() + 12, 0);
  EXPECT_EQ(Import(host, file), -19);
}

TEST_F(ImportPassTest, TokenOf32CharactersStillFits) {
  const HostOptions o = testsupport::ImageOptions(3, 2, 16, false);
  TestHost host(o);
  // Leading zeros make a 32-character width token that still reads as 3.
  const std::string header = "P6\n" + std::string(31, '0') + "3\n2\n65535\n";
  EXPECT_EQ(Import(host, Pixmap16(3, 2, 0, header)), 0);
}

TEST_F(ImportPassTest, FileShortOfItsSamplesLeavesTheHostUntouched) {
  const HostOptions o = testsupport::ImageOptions(2500, 2, 8, false);
  const std::string header = Header("P6", 2500, 2, "65535");
  const std::vector<uint8_t> whole = Pixmap16(2500, 2, 0x4000, header);
  for (size_t cut : {size_t{1}, whole.size() - header.size()}) {  // one byte short, header only
    SCOPED_TRACE(cut);
    TestHost host(o);
    FillPattern(host, o);
    const std::vector<uint8_t> original = host.Image();
    EXPECT_EQ(Import(host, std::vector<uint8_t>(whole.begin(), whole.end() - cut)), -19);
    EXPECT_TRUE(host.Requests().empty());
    EXPECT_TRUE(host.Image() == original);
  }
}

TEST_F(ImportPassTest, CancelStopsAfterTheCurrentChunkIsStored) {
  HostOptions o = testsupport::ImageOptions(1500, 3, 16, true);
  o.cancelAfterAborts = 3;
  TestHost host(o);
  EXPECT_EQ(Import(host, Pixmap16(1500, 3, 65535, Header("P6", 1500, 3, "65535"))), -128);
  EXPECT_EQ(host.Requests().size(), 3u);
  EXPECT_EQ(host.Sample(999, 1, 0), 32768);  // third chunk: row 1, columns 0-999
  EXPECT_EQ(host.Sample(1000, 1, 0), 0);
  EXPECT_EQ(host.Sample(0, 2, 0), 0);
}

TEST_F(ImportPassTest, HostErrorEndsThePassWithItsCode) {
  HostOptions o = testsupport::ImageOptions(10, 4, 8, false);
  o.failAdvanceOnCall = 2;
  o.failAdvanceCode = -9999;
  TestHost host(o);
  EXPECT_EQ(Import(host, Pixmap16(10, 4, 0xFF00, Header("P6", 10, 4, "65535"))), -9999);
  EXPECT_EQ(host.Sample(9, 0, 2), 255);
  EXPECT_EQ(host.Sample(0, 1, 0), 0);
}

TEST_F(ImportPassTest, OutRowBytesTooSmallStoresNothingAndFails) {
  // A host whose output rows are narrower than the chunk it was asked for.
  const HostOptions o = testsupport::ImageOptions(4, 1, 8, false);
  TestHost host(o);
  host.Record().advanceState = []() -> host::OSErr { return 0; };
  std::vector<uint8_t> out(64, 0x11);
  host.Record().outData = out.data();
  host.Record().outRowBytes = 11;  // the chunk needs 12
  EXPECT_EQ(Import(host, Pixmap16(4, 1, 0, Header("P6", 4, 1, "65535"))), -50);
  EXPECT_EQ(out[0], 0x11);
}

// With a selection the import blends with the image as it is, so the
// request needs the host's image and its mask: one served without either
// is the host's fault, and stores nothing; a host that gives no mask at all
// has the whole request selected.
TEST_F(ImportPassTest, ASelectionNeedsTheImageAndTheMaskRowsTheHostOwes) {
  enum class Served { kNoImage, kShortImageRows, kShortMaskRows, kNoMask };
  for (Served served :
       {Served::kNoImage, Served::kShortImageRows, Served::kShortMaskRows, Served::kNoMask}) {
    SCOPED_TRACE(static_cast<int>(served));
    HostOptions o = testsupport::ImageOptions(4, 2, 8, false);
    o.mask.assign(8, 128);
    o.observer = [served](testhost::HostEvent event, const TestHost& host) {
      host::FilterRecord& r = const_cast<TestHost&>(host).Record();
      if (event != testhost::HostEvent::kRequestDone || r.outData == nullptr) return;
      if (served == Served::kNoImage) r.inData = nullptr;
      if (served == Served::kShortImageRows) r.inRowBytes = 11;  // the row needs 12
      if (served == Served::kShortMaskRows) r.maskRowBytes = 3;  // and 4 mask bytes
      if (served == Served::kNoMask) r.maskData = nullptr;
    };
    TestHost host(o);
    WriteBytes(folder_.File("Velmora_Processed.ppm"),
               Pixmap16(4, 2, 0xFF00, Header("P6", 4, 2, "65535")));
    BoundContext context(&host.Record());
    context.SetImportPath(folder_.File("Velmora_Processed.ppm"));
    ASSERT_EQ(OpenImportFile(context.get()), 0);
    if (served == Served::kNoMask) {
      EXPECT_EQ(ImportProcessedImage(context.get()), 0);
    } else {
      EXPECT_THROW(ImportProcessedImage(context.get()), EHostFault);
    }
    host.CommitPending();
    EXPECT_EQ(context->converter, nullptr);
    EXPECT_EQ(CloseImportFile(context.get()), 0);
    EXPECT_EQ(host.Sample(3, 1, 2), served == Served::kNoMask ? 255 : 0);
  }
}

// With nothing saved the host gets its own image back, one request after
// another: shown as progress, and stopped by a cancel before the last.
TEST_F(ImportPassTest, TheHostsOwnImageGoesBackWithProgressAndStopsOnACancel) {
  for (int cancelAt : {0, 2, 4}) {
    SCOPED_TRACE(cancelAt);
    HostOptions o = testsupport::ImageOptions(1000, 4, 8, false);  // a whole row a request
    o.cancelAfterAborts = cancelAt;
    TestHost host(o);
    BoundContext context(&host.Record());
    const int16_t result = ReturnHostImage(context.get());
    host.CommitPending();
    // Asked after every request but the last, whose success nothing undoes.
    EXPECT_EQ(result, cancelAt == 2 ? -128 : 0);
    const size_t served = cancelAt == 2 ? 2u : 4u;
    EXPECT_EQ(host.Requests().size(), served);
    ASSERT_EQ(host.Progress().size(), served);
    EXPECT_EQ(host.Progress().back(), std::make_pair(static_cast<int32_t>(served), 4));
  }
}

TEST_F(ImportPassTest, MissingProcessedFileCannotBeOpened) {
  const HostOptions o = testsupport::ImageOptions(1, 1, 8, false);
  TestHost host(o);
  BoundContext context(&host.Record());
  context.SetImportPath(folder_.File("Velmora_Processed.ppm"));
  EXPECT_EQ(OpenImportFile(context.get()), -23);
  EXPECT_EQ(context->importFile.descriptor, -1);
}

}  // namespace

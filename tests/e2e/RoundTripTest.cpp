// The whole round trip through the real plug-in DLL and the stand-in
// application: every pixel format, and every way a run can fail, each with
// its result code, the files it leaves and what happens to the host image.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <shlobj.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host/PluginContext.h"
#include "support/ImagePattern.h"
#include "support/PluginLibrary.h"
#include "support/SettingsFile.h"
#include "tools/testhost/TestHost.h"

namespace {

using testhost::HostOptions;
using testhost::TestHost;
using testsupport::BuildFile;
using testsupport::FillPattern;
using testsupport::PluginEntry;
using testsupport::PluginLibrary;
using testsupport::SettingsFile;
using testsupport::SettingsFor;

std::string WorkFolder() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string folder = temp;
  if (folder.back() != '\\') folder += '\\';
  return folder + "velmorafilter\\";
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class StandinMode {
 public:
  explicit StandinMode(const char* mode) { SetEnvironmentVariableA("VELMORA_STANDIN_MODE", mode); }
  ~StandinMode() { SetEnvironmentVariableA("VELMORA_STANDIN_MODE", nullptr); }
  StandinMode(const StandinMode&) = delete;
  StandinMode& operator=(const StandinMode&) = delete;
};

// What the stand-in's inversion gives back to the host, by the host's rules.
double Inverted(double x, int32_t depth) {
  if (depth == 8) return 255 - x;
  if (depth == 16) {
    const auto h = static_cast<uint32_t>(x);
    const uint32_t v = (h * 65535u + 16384u) / 32768u;
    return ((65535u - v) * 32768u + 32767u) / 65535u;
  }
  // Through memory: on i686 the x87 unit would otherwise keep excess precision.
  volatile float inverted = 1.0f - static_cast<float>(x);
  return inverted;
}

// The context the plug-in keeps in the host's data slot.
const PluginContext* ContextOf(const TestHost& host) {
  if (host.DataSlot() == 0) return nullptr;
  // Host handles and fallback handles both start with the data pointer.
  return *reinterpret_cast<PluginContext**>(host.DataSlot());
}

// Turns the plug-in's exported file into a read-only view of itself, so
// that its next write fails as on a full disk. The plug-in and this program
// share the C runtime's descriptors.
void RefuseFurtherWrites(const TestHost& host) {
  const PluginContext* context = ContextOf(host);
  ASSERT_NE(context, nullptr);
  const int readOnly = _open((WorkFolder() + "Velmora.ppm").c_str(), _O_RDONLY | _O_BINARY);
  ASSERT_NE(readOnly, -1);
  EXPECT_EQ(_dup2(readOnly, context->exportFile.descriptor), 0);
  _close(readOnly);
}

#if defined(__i386__)
// Hosts built with other compilers call with the stack aligned to 4 bytes
// only. This calls the plug-in with the stack 4 bytes off the 16-byte
// boundary that code from this compiler assumes; the plug-in must realign it
// before its SSE code keeps anything there.
PluginEntry gMisalignedTarget = nullptr;

struct EntryCall {
  PluginEntry entry;
  int32_t selector;
  void* block;
  intptr_t* data;
  int16_t* result;
};

void MisalignedEntry(int16_t selector, void* block, intptr_t* data, int16_t* result) {
  EntryCall call{gMisalignedTarget, selector, block, data, result};
  asm volatile(
      "movl %%esp, %%esi\n\t"
      "andl $-16, %%esp\n\t"
      "subl $12, %%esp\n\t"  // with the four arguments: 4 bytes off at the call
      "pushl 16(%%edi)\n\t"
      "pushl 12(%%edi)\n\t"
      "pushl 8(%%edi)\n\t"
      "pushl 4(%%edi)\n\t"
      "call *(%%edi)\n\t"
      "movl %%esi, %%esp\n\t"
      :
      : "D"(&call)
      : "eax", "ecx", "edx", "esi", "memory", "cc");
}
#endif

class RoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(plugin_.entry(), nullptr);
    settings_ = std::make_unique<SettingsFile>(SettingsFor(BuildFile("app")));
  }

  // Prepare, Start and Finish as a host applies a filter, through the
  // plug-in's entry point or another way to call it; Start's result.
  int16_t Apply(TestHost& host, PluginEntry entry = nullptr) {
    if (entry == nullptr) entry = plugin_.entry();
    EXPECT_EQ(host.Call(entry, host::kSelectorPrepare), 0);
    const int16_t result = host.Call(entry, host::kSelectorStart);
    EXPECT_EQ(host.Call(entry, host::kSelectorFinish), 0);
    EXPECT_TRUE(host.BuffersIntact());
    const PluginContext* context = ContextOf(host);
    EXPECT_NE(context, nullptr);
    if (context != nullptr) {
      EXPECT_EQ(context->exportFile.descriptor, -1);
      EXPECT_EQ(context->importFile.descriptor, -1);
      EXPECT_EQ(context->converter, nullptr);
    }
    return result;
  }

  PluginLibrary plugin_;
  std::unique_ptr<SettingsFile> settings_;
};

TEST_F(RoundTripTest, UnchangedRoundTripReturnsEveryFormatUnchanged) {
  StandinMode copy("copy");
  for (int depth : {8, 16, 32}) {
    for (bool gray : {false, true}) {
      SCOPED_TRACE(testing::Message() << depth << (gray ? " gray" : " rgb"));
      const HostOptions o = testsupport::ImageOptions(1100, 3, depth, gray);
      TestHost host(o);
      FillPattern(host, o);
      const std::vector<uint8_t> original = host.Image();
      ASSERT_EQ(Apply(host), 0);
      EXPECT_TRUE(host.Image() == original);
      EXPECT_TRUE(
          Exists(WorkFolder() + (depth == 32 ? "Velmora_Processed.pfm" : "Velmora_Processed.ppm")));
    }
  }
  // Gray HDR values outside 0..1 come back as they were.
  const HostOptions o = testsupport::ImageOptions(1100, 3, 32, true);
  TestHost host(o);
  for (int32_t y = 0; y < o.height; ++y)
    for (int32_t x = 0; x < o.width; ++x) {
      host.SetSample(x, y, 0, -0.5 + 2.25 * (x + y * o.width) / (o.width * o.height - 1.0));
    }
  const std::vector<uint8_t> original = host.Image();
  ASSERT_EQ(Apply(host), 0);
  EXPECT_TRUE(host.Image() == original);
}

TEST_F(RoundTripTest, InvertingApplicationGivesTheInvertedImage) {
  StandinMode invert("invert");
  std::vector<std::pair<const char*, PluginEntry>> entries = {{"aligned stack", plugin_.entry()}};
#if defined(__i386__)
  gMisalignedTarget = plugin_.entry();
  entries.push_back({"stack aligned to 4 bytes only", MisalignedEntry});
#endif
  for (const auto& [how, entry] : entries) {
    for (int depth : {8, 16, 32}) {
      for (bool gray : {false, true}) {
        SCOPED_TRACE(testing::Message() << depth << (gray ? " gray, " : " rgb, ") << how);
        const HostOptions o = testsupport::ImageOptions(1001, 2, depth, gray);
        TestHost host(o);
        FillPattern(host, o);
        TestHost original(o);
        original.Image() = host.Image();
        ASSERT_EQ(Apply(host, entry), 0);
        for (int32_t y = 0; y < o.height; ++y)
          for (int32_t x = 0; x < o.width; ++x)
            for (int p = 0; p < o.planes; ++p)
              ASSERT_EQ(host.Sample(x, y, p), Inverted(original.Sample(x, y, p), depth))
                  << x << "," << y << "," << p;
      }
    }
  }
}

TEST_F(RoundTripTest, GrayImagesGetTheAverageOfThreeChannels) {
  // The stand-in leaves channel 0, halves channel 1 and clears channel 2.
  StandinMode mix("mix");
  for (int depth : {8, 16, 32}) {
    SCOPED_TRACE(depth);
    const HostOptions o = testsupport::ImageOptions(300, 2, depth, true);
    TestHost host(o);
    FillPattern(host, o);
    TestHost original(o);
    original.Image() = host.Image();
    ASSERT_EQ(Apply(host), 0);
    for (int32_t y = 0; y < o.height; ++y)
      for (int32_t x = 0; x < o.width; ++x) {
        const double s = original.Sample(x, y, 0);
        double expected;
        if (depth == 8) {
          const auto v = static_cast<uint32_t>(s) * 257u;
          expected = std::floor(((v >> 8) + ((v / 2) >> 8)) / 3.0 + 0.5);
        } else if (depth == 16) {
          const uint32_t v = (static_cast<uint32_t>(s) * 65535u + 16384u) / 32768u;
          const auto back = [](uint32_t w) { return (w * 32768u + 32767u) / 65535u; };
          expected = std::floor((back(v) + back(v / 2) + back(0)) / 3.0 + 0.5);
        } else {
          const auto f = static_cast<float>(s);
          const float half = f / 2;  // as the application computes it
          volatile float mean = static_cast<float>((static_cast<double>(f) + half + 0.0) / 3.0);
          expected = mean;
        }
        ASSERT_EQ(host.Sample(x, y, 0), expected) << x << "," << y;
      }
  }
}

TEST_F(RoundTripTest, PrepareRefusesAnUnsupportedImageAndWritesNothing) {
  HostOptions o = testsupport::ImageOptions(4, 4, 16, false);
  o.bigDocument = true;
  TestHost host(o);
  host.Record().planes = 2;
  EXPECT_EQ(host.Call(plugin_.entry(), host::kSelectorPrepare), -30201);
  EXPECT_EQ(host.Record().bufferSpace, 1234);
  EXPECT_EQ(host.BigDocument().PluginUsing32BitCoordinates, 0);
}

TEST_F(RoundTripTest, ContinueAndFinishClearTheRectanglesInTheHostsForm) {
  for (bool big : {false, true}) {
    HostOptions o = testsupport::ImageOptions(8, 8, 8, false);
    o.bigDocument = big;
    TestHost host(o);
    host.Call(plugin_.entry(), host::kSelectorPrepare);
    for (int16_t selector : {host::kSelectorContinue, host::kSelectorFinish}) {
      host.Record().inRect = host.Record().outRect = host.Record().maskRect = {1, 2, 3, 4};
      host.BigDocument().inRect32 = host.BigDocument().outRect32 =
          host.BigDocument().maskRect32 = {1, 2, 3, 4};
      EXPECT_EQ(host.Call(plugin_.entry(), selector), 0);
      if (big) {
        for (const host::VRect& r : {host.BigDocument().inRect32, host.BigDocument().outRect32,
                                     host.BigDocument().maskRect32})
          EXPECT_TRUE(r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0);
        EXPECT_EQ(host.Record().inRect.right, 4);  // the 16-bit form is not the host's
      } else {
        for (const host::Rect& r :
             {host.Record().inRect, host.Record().outRect, host.Record().maskRect})
          EXPECT_TRUE(r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0);
      }
    }
  }
}

// ---- failures, produced for real ------------------------------------------

// Copied: the application's unchanged copy was imported (every request made).
enum class Image { Untouched, Copied, Inverted, Chunks };

struct FaultCase {
  std::string name;
  const char* mode;                        // what the stand-in does
  std::function<void(HostOptions&)> host;  // how the host misbehaves
  std::optional<std::string> settings;     // null: no settings file
  int16_t expected;
  Image image;
  int storedChunks = 0;    // for Image::Chunks
  bool jobWritten = true;  // Data.lif left in the folder
  bool applicationStarted = true;
};

// 2500 x 3 RGB 16-bit: three chunks per row, nine requests per pass.
constexpr int kRequestsPerPass = 9;

std::vector<FaultCase> FaultCases() {
  const std::string app = SettingsFor(BuildFile("app"));
  const std::string emptyFolder = SettingsFor("C:\\windows\\temp\\no-application-here");
  auto failAt = [](int call) {
    return [call](HostOptions& o) {
      o.failAdvanceOnCall = call;
      o.failAdvanceCode = -5000 - call;
    };
  };
  auto cancelAt = [](int abort) {
    return [abort](HostOptions& o) { o.cancelAfterAborts = abort; };
  };
  auto none = [](HostOptions&) {};
  // The exported file takes no more writes when the last request arrives:
  // its only block cannot be written, which fails the last chunk.
  auto fullDisk = [](HostOptions& o) {
    o.observer = [](testhost::HostEvent event, const TestHost& host) {
      if (event == testhost::HostEvent::kRequestArrived &&
          host.Requests().size() == kRequestsPerPass - 1) {
        RefuseFurtherWrites(host);
      }
    };
  };
  const int n = kRequestsPerPass;
  std::vector<FaultCase> cases = {
      {"no settings file", "invert", none, std::nullopt, -30901, Image::Untouched, 0, true, false},
      {"settings without the key", "invert", none, std::string("[General]\r\nOther=x\r\n"), -30901,
       Image::Untouched, 0, true, false},
      {"folder without the application", "invert", none, emptyFolder, -30901, Image::Untouched, 0,
       true, false},
      {"application writes nothing", "none", none, app, 0, Image::Untouched},
      {"application crashes", "crash", none, app, 0, Image::Untouched},
      {"application copies, then exits non-zero", "exit:3", none, app, 0, Image::Copied},
      {"wrong header", "badheader", none, app, -19, Image::Untouched},
      {"file of the other kind", "otherkind", none, app, -19, Image::Untouched},
      {"header claiming a huge image", "huge", none, app, -19, Image::Untouched},
      {"file one byte short", "shortinverted", none, app, -19, Image::Untouched},
      {"header without samples", "headeronly", none, app, -19, Image::Untouched},
      {"bytes after the last row", "longinverted", none, app, 0, Image::Inverted},
      {"export: the file takes no more writes", "invert", fullDisk, app, -20, Image::Untouched, 0,
       false, false},
      {"padded row bytes", "invert",
       [](HostOptions& o) {
         o.inRowPadding = 13;
         o.outRowPadding = 7;
       },
       app, 0, Image::Inverted},
      {"no handle procedures", "invert", [](HostOptions& o) { o.handleProcs = false; }, app, 0,
       Image::Inverted},
      {"32-bit coordinates", "invert", [](HostOptions& o) { o.bigDocument = true; }, app, 0,
       Image::Inverted},
  };
  const int exportPoints[] = {1, (n + 1) / 2, n};
  for (int k : exportPoints) {
    cases.push_back({"export: advanceState fails at request " + std::to_string(k), "invert",
                     failAt(k), app, static_cast<int16_t>(-5000 - k), Image::Untouched, 0, false,
                     false});
    cases.push_back({"export: cancel after chunk " + std::to_string(k), "invert", cancelAt(k), app,
                     -128, Image::Untouched, 0, false, false});
  }
  for (int k : exportPoints) {
    cases.push_back({"import: advanceState fails at request " + std::to_string(k), "invert",
                     failAt(n + k), app, static_cast<int16_t>(-5000 - n - k), Image::Chunks,
                     k - 1});
    cases.push_back({"import: cancel after chunk " + std::to_string(k), "invert", cancelAt(n + k),
                     app, -128, Image::Chunks, k});
  }
  return cases;
}

TEST_F(RoundTripTest, EveryFailureGivesItsCodeAndLeavesTheHostAsItShould) {
  std::ostringstream table;
  table << "| case | expected | result | host image | files closed, converter released |\n"
        << "|---|---|---|---|---|\n";
  for (const FaultCase& c : FaultCases()) {
    SCOPED_TRACE(c.name);
    SettingsFile settings(c.settings);
    StandinMode mode(c.mode);
    HostOptions o = testsupport::ImageOptions(2500, 3, 16, false);
    c.host(o);
    TestHost host(o);
    FillPattern(host, o);
    TestHost original(o);
    original.Image() = host.Image();

    const int16_t result = Apply(host);
    EXPECT_EQ(result, c.expected);

    // Which chunks came back inverted, in request order.
    int inverted = 0, untouched = 0;
    std::vector<bool> chunkInverted;
    for (int32_t y = 0; y < o.height; ++y)
      for (int32_t chunk = 0; chunk < 3; ++chunk) {
        bool allInverted = true, allOriginal = true;
        for (int32_t x = chunk * 1000; x < std::min(2500, (chunk + 1) * 1000); ++x)
          for (int p = 0; p < 3; ++p) {
            const double now = host.Sample(x, y, p), was = original.Sample(x, y, p);
            allInverted = allInverted && now == Inverted(was, 16);
            allOriginal = allOriginal && now == was;
          }
        chunkInverted.push_back(allInverted);
        inverted += allInverted ? 1 : 0;
        untouched += allOriginal ? 1 : 0;
      }
    const int total = kRequestsPerPass;
    switch (c.image) {
      case Image::Untouched:
        EXPECT_EQ(untouched, total);
        break;
      case Image::Copied:
        EXPECT_EQ(untouched, total);
        EXPECT_EQ(host.Requests().size(), 2u * total);
        break;
      case Image::Inverted:
        EXPECT_EQ(inverted, total);
        break;
      case Image::Chunks:
        for (int i = 0; i < total; ++i)
          EXPECT_EQ(chunkInverted[static_cast<size_t>(i)], i < c.storedChunks) << i;
        break;
    }
    EXPECT_TRUE(Exists(WorkFolder() + "Velmora.ppm"));
    EXPECT_EQ(Exists(WorkFolder() + "Data.lif"), c.jobWritten);
    EXPECT_EQ(Exists(WorkFolder() + "standin.log"), c.applicationStarted);

    const PluginContext* context = ContextOf(host);
    const bool released = context != nullptr && context->exportFile.descriptor == -1 &&
                          context->importFile.descriptor == -1 && context->converter == nullptr;
    table << "| " << c.name << " | " << c.expected << " | " << result << " | "
          << (c.image == Image::Untouched  ? "untouched"
              : c.image == Image::Copied   ? "unchanged copy imported"
              : c.image == Image::Inverted ? "all rows stored"
                                           : std::to_string(inverted) + " of 9 chunks stored")
          << " | " << (released ? "yes" : "NO") << " |\n";
  }
  std::printf("%s", table.str().c_str());
}

}  // namespace

// The stand-in Velmora.exe run directly on jobs written here: every mode the
// launcher and round-trip tests rely on, and its refusal of malformed jobs.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/StandinProbe.h"
#include "tests/launch/LaunchTestSupport.h"

namespace {

using namespace launchtest;

constexpr DWORD kAccessViolation = 0xC0000005;

class StandinTest : public ::testing::Test {
 protected:
  StandinTest() : scratch_("standin test"), work_(scratch_.Subfolder("work folder")) {}

  // Runs the stand-in on the job with the mode given through the environment.
  RunResult Run(const std::string& jobPath, const char* mode = nullptr) {
    ScopedEnvironment environment("VELMORA_STANDIN_MODE", mode);
    ScopedEnvironment log("VELMORA_STANDIN_LOG", nullptr);
    return RunProgram("\"" + StandinPath() + "\" \"" + jobPath + "\"",
                      scratch_.Path() + "\\stderr.txt");
  }

  ScratchFolder scratch_;
  std::string work_;
};

TEST_F(StandinTest, CopyLeavesTheSameBytesForBothKinds) {
  for (bool floatMap : {false, true}) {
    SCOPED_TRACE(floatMap ? "float map" : "pixmap");
    const PreparedJob job = PrepareJob(work_, floatMap);
    for (const char* mode : {static_cast<const char*>(nullptr), "copy"}) {
      DeleteFileA(job.processedPath.c_str());
      const RunResult run = Run(job.jobPath, mode);
      ASSERT_TRUE(run.ended);
      EXPECT_EQ(run.exitCode, 0u) << run.errorOutput;
      EXPECT_EQ(ReadBytes(job.processedPath), job.exportedBytes);
    }
  }
}

TEST_F(StandinTest, InvertMirrorsEverySample) {
  const PreparedJob pixmap = PrepareJob(work_, false);
  ASSERT_EQ(Run(pixmap.jobPath, "invert").exitCode, 0u);
  const std::string header = "P6\n3\n2\n65535\n";
  const std::string written = ReadBytes(pixmap.processedPath).value_or("");
  ASSERT_EQ(written.size(), pixmap.exportedBytes.size());
  EXPECT_EQ(written.substr(0, header.size()), header);
  const std::vector<uint16_t> in = PixmapSamples(pixmap.exportedBytes, header.size());
  const std::vector<uint16_t> out = PixmapSamples(written, header.size());
  ASSERT_EQ(in.size(), 18u);
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(out[i], 65535 - in[i]) << i;

  ScratchFolder other("standin float");
  const PreparedJob floats = PrepareJob(other.Path(), true);
  ASSERT_EQ(Run(floats.jobPath, "invert").exitCode, 0u);
  const std::string floatHeader = "PF\n3\n2\n-1\n";
  const std::string floatWritten = ReadBytes(floats.processedPath).value_or("");
  ASSERT_EQ(floatWritten.size(), floats.exportedBytes.size());
  EXPECT_EQ(floatWritten.substr(0, floatHeader.size()), floatHeader);
  const std::vector<float> fin = FloatMapSamples(floats.exportedBytes, floatHeader.size());
  const std::vector<float> fout = FloatMapSamples(floatWritten, floatHeader.size());
  ASSERT_EQ(fin.size(), 18u);
  for (size_t i = 0; i < fin.size(); ++i) EXPECT_FLOAT_EQ(fout[i], 1.0f - fin[i]) << i;
}

TEST_F(StandinTest, BrokenResultsHaveTheAdvertisedShape) {
  const PreparedJob job = PrepareJob(work_, false);
  const std::string header = "P6\n3\n2\n65535\n";
  const std::string samples = job.exportedBytes.substr(header.size());
  struct Case {
    const char* mode;
    std::string expected;
  };
  const Case cases[] = {
      {"badheader", "P6\n3\n2\n255\n" + samples},
      {"short", job.exportedBytes.substr(0, job.exportedBytes.size() - 1)},
      {"long", job.exportedBytes + std::string(16, '\xab')},
      {"huge", "P6\n2147483000\n2147483000\n65535\n" + samples},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    DeleteFileA(job.processedPath.c_str());
    const RunResult run = Run(job.jobPath, c.mode);
    EXPECT_EQ(run.exitCode, 0u) << run.errorOutput;
    EXPECT_EQ(ReadBytes(job.processedPath), c.expected);
  }

  DeleteFileA(job.processedPath.c_str());
  EXPECT_EQ(Run(job.jobPath, "none").exitCode, 0u);
  EXPECT_FALSE(FileExists(job.processedPath));
}

TEST_F(StandinTest, MixAndInvertedCutsChangeSamplesAsAdvertised) {
  const PreparedJob job = PrepareJob(work_, false);
  const std::string header = "P6\n3\n2\n65535\n";
  const std::vector<uint16_t> in = PixmapSamples(job.exportedBytes, header.size());

  ASSERT_EQ(Run(job.jobPath, "mix").exitCode, 0u);
  const std::string mixed = ReadBytes(job.processedPath).value_or("");
  ASSERT_EQ(mixed.size(), job.exportedBytes.size());
  EXPECT_EQ(mixed.substr(0, header.size()), header);
  const std::vector<uint16_t> out = PixmapSamples(mixed, header.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const uint16_t expected = i % 3 == 0 ? in[i] : i % 3 == 1 ? in[i] / 2 : 0;
    EXPECT_EQ(out[i], expected) << i;
  }

  ASSERT_EQ(Run(job.jobPath, "invert").exitCode, 0u);
  const std::string inverted = ReadBytes(job.processedPath).value_or("");
  ASSERT_EQ(Run(job.jobPath, "shortinverted").exitCode, 0u);
  EXPECT_EQ(ReadBytes(job.processedPath), inverted.substr(0, inverted.size() - 1));
  ASSERT_EQ(Run(job.jobPath, "longinverted").exitCode, 0u);
  EXPECT_EQ(ReadBytes(job.processedPath), inverted + std::string(16, '\xab'));
}

TEST_F(StandinTest, OtherKindSwapsPixmapAndFloatMapAtTheRightSize) {
  const PreparedJob pixmap = PrepareJob(work_, false);
  ASSERT_EQ(Run(pixmap.jobPath, "otherkind").exitCode, 0u);
  const std::string fromPixmap = ReadBytes(pixmap.processedPath).value_or("");
  const std::string floatHeader = "PF\n3\n2\n-1\n";
  EXPECT_EQ(fromPixmap.substr(0, floatHeader.size()), floatHeader);
  EXPECT_EQ(fromPixmap.size(), floatHeader.size() + 3 * 2 * 3 * 4);
  const std::vector<float> values = FloatMapSamples(fromPixmap, floatHeader.size());
  ASSERT_EQ(values.size(), 18u);
  EXPECT_FLOAT_EQ(values[0], 0.0f);
  EXPECT_FLOAT_EQ(values[6], 1.0f);

  ScratchFolder other("standin float");
  const PreparedJob floats = PrepareJob(other.Path(), true);
  ASSERT_EQ(Run(floats.jobPath, "otherkind").exitCode, 0u);
  const std::string fromFloats = ReadBytes(floats.processedPath).value_or("");
  const std::string pixmapHeader = "P6\n3\n2\n65535\n";
  EXPECT_EQ(fromFloats.substr(0, pixmapHeader.size()), pixmapHeader);
  EXPECT_EQ(fromFloats.size(), pixmapHeader.size() + 3 * 2 * 3 * 2);
  const std::vector<uint16_t> samples = PixmapSamples(fromFloats, pixmapHeader.size());
  ASSERT_EQ(samples.size(), 18u);
  EXPECT_EQ(samples[0], 0);
  EXPECT_EQ(samples[4], 65535);
}

TEST_F(StandinTest, SleepExitAndCrashEndAsAsked) {
  const PreparedJob job = PrepareJob(work_, false);
  const DWORD start = GetTickCount();
  const RunResult slept = Run(job.jobPath, "sleep:1200");
  EXPECT_GE(GetTickCount() - start, 1200u);
  EXPECT_EQ(slept.exitCode, 0u);
  EXPECT_EQ(ReadBytes(job.processedPath), job.exportedBytes);

  DeleteFileA(job.processedPath.c_str());
  const RunResult exited = Run(job.jobPath, "exit:7");
  EXPECT_EQ(exited.exitCode, 7u);
  EXPECT_EQ(ReadBytes(job.processedPath), job.exportedBytes);

  DeleteFileA(job.processedPath.c_str());
  const RunResult crashed = Run(job.jobPath, "crash");
  ASSERT_TRUE(crashed.ended) << "a crash must not leave a debugger waiting";
  EXPECT_EQ(crashed.exitCode, kAccessViolation);
  EXPECT_FALSE(FileExists(job.processedPath));
}

TEST_F(StandinTest, ProbeTellsWindowsThatAnswerFromWindowsThatDoNot) {
  // One window on a thread that serves its messages until it is told to
  // quit; one on this thread, which serves none while the stand-in runs.
  std::promise<HWND> servedWindow;
  WPARAM quitCode = 0;
  std::thread server([&] {
    HWND window = CreateWindowExA(0, "STATIC", "served", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                  nullptr, nullptr, nullptr, nullptr);
    servedWindow.set_value(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    quitCode = message.wParam;
    DestroyWindow(window);
  });
  const HWND served = servedWindow.get_future().get();
  const HWND blocked = CreateWindowExA(0, "STATIC", "blocked", WS_OVERLAPPEDWINDOW | WS_DISABLED, 0,
                                       0, 100, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(served, nullptr);
  ASSERT_NE(blocked, nullptr);

  const PreparedJob job = PrepareJob(work_, false);
  const RunResult run = Run(job.jobPath, testsupport::ProbeMode({served, blocked}).c_str());
  DestroyWindow(blocked);
  server.join();  // ends only on the probe's quit message
  EXPECT_EQ(quitCode, testsupport::kProbeQuitCode);
  EXPECT_EQ(run.exitCode, 0u) << run.errorOutput;
  EXPECT_EQ(ReadBytes(job.processedPath), job.exportedBytes);
  const std::vector<testsupport::ProbeRecord> seen =
      testsupport::ProbeRecords(ReadBytes(work_ + "\\standin.log").value_or(""));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].window, testsupport::WindowNumber(served));
  EXPECT_TRUE(seen[0].answered);
  EXPECT_TRUE(seen[0].enabled);
  EXPECT_LT(seen[0].microseconds, 2000000u);
  EXPECT_EQ(seen[1].window, testsupport::WindowNumber(blocked));
  EXPECT_FALSE(seen[1].answered);
  EXPECT_FALSE(seen[1].enabled);
  EXPECT_GE(seen[1].microseconds, 1900000u);

  for (const char* mode : {"probe:", "probe:12,", "probe:x"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(Run(job.jobPath, mode).exitCode, 6u);
  }
}

TEST_F(StandinTest, ControlFileWinsOverTheEnvironment) {
  const PreparedJob job = PrepareJob(work_, false);
  ASSERT_TRUE(WriteBytes(work_ + "\\standin.ctl", "none\r\n"));
  EXPECT_EQ(Run(job.jobPath, "exit:9").exitCode, 0u);
  EXPECT_FALSE(FileExists(job.processedPath));

  ASSERT_TRUE(WriteBytes(work_ + "\\standin.ctl", "nonsense\n"));
  const RunResult refused = Run(job.jobPath);
  EXPECT_EQ(refused.exitCode, 6u);
  EXPECT_NE(refused.errorOutput.find("unknown mode"), std::string::npos);
  EXPECT_FALSE(FileExists(job.processedPath));
}

TEST_F(StandinTest, RecordsItsCommandLineAndArgumentCount) {
  const PreparedJob job = PrepareJob(work_, false);
  const std::string commandLine = "\"" + StandinPath() + "\" \"" + job.jobPath + "\"";
  ASSERT_EQ(Run(job.jobPath).exitCode, 0u);
  const std::vector<std::string> expected = {"argc=2", "cmdline=" + commandLine,
                                             "arg1=" + job.jobPath};
  EXPECT_EQ(LogLines(work_ + "\\standin.log"), expected);

  // Unquoted, the path with spaces arrives in pieces and the job is refused;
  // the log goes where the environment says, as the pieces name no folder.
  const std::string splitLog = scratch_.Path() + "\\split.log";
  ScopedEnvironment log("VELMORA_STANDIN_LOG", splitLog.c_str());
  const RunResult split =
      RunProgram("\"" + StandinPath() + "\" " + job.jobPath, scratch_.Path() + "\\stderr.txt");
  EXPECT_EQ(split.exitCode, 2u);
  const std::vector<std::string> lines = LogLines(splitLog);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_NE(lines[0], "argc=2");
  EXPECT_EQ(lines[1], "cmdline=\"" + StandinPath() + "\" " + job.jobPath);
}

TEST_F(StandinTest, MalformedJobsAreRefusedWithAMessageAndNothingWritten) {
  const PreparedJob job = PrepareJob(work_, false);
  const std::string good = JobText(work_, "Velmora.ppm", "Velmora_Processed.ppm");
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  };
  std::string lfOnly = good;
  for (size_t at; (at = lfOnly.find("\r\n")) != std::string::npos;) lfOnly.erase(at, 1);
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"LF line ends", lfOnly},
      {"last line without CR LF", good.substr(0, good.size() - 2)},
      {"twelve lines", replaced("<SourcePath>NA</SourcePath>\r\n", "")},
      {"fourteen lines", good + "\r\n"},
      {"indented line", replaced("<General>\r\n", "  <General>\r\n")},
      {"other declaration", replaced("version=\"1.0\"", "version=\"1.0\" encoding=\"UTF-8\"")},
      {"renamed element", replaced("<ImageCount>1</ImageCount>", "<Count>1</Count>")},
      {"elements swapped", replaced("<SourcePath>NA</SourcePath>\r\n<ImageList>",
                                    "<ImageList>\r\n<SourcePath>NA</SourcePath>")},
      {"export folder differs", replaced("<ExportPath>" + work_, "<ExportPath>" + work_ + "x")},
      {"folder with trailing backslash",
       replaced(work_ + "</ImportPath>", work_ + "\\</ImportPath>")},
      {"image kinds differ", replaced("Velmora_Processed.ppm", "Velmora_Processed.pfm")},
      {"bare ampersand", replaced("<SourcePath>NA<", "<SourcePath>N&A<")},
      {"unknown entity", replaced("<SourcePath>NA<", "<SourcePath>N&nbsp;A<")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteBytes(job.jobPath, c.text));
    const RunResult run = Run(job.jobPath);
    EXPECT_EQ(run.exitCode, 3u);
    EXPECT_NE(run.errorOutput.find("job"), std::string::npos) << run.errorOutput;
    EXPECT_FALSE(FileExists(job.processedPath));
  }

  const RunResult missing = Run(work_ + "\\Missing.lif");
  EXPECT_EQ(missing.exitCode, 3u);
  EXPECT_FALSE(missing.errorOutput.empty());

  // Without an argument the log would go to the current folder.
  const std::string log = scratch_.Path() + "\\no argument.log";
  ScopedEnvironment logEnvironment("VELMORA_STANDIN_LOG", log.c_str());
  const RunResult noArgument = RunProgram("\"" + StandinPath() + "\"", scratch_.Path() + "\\e.txt");
  EXPECT_EQ(LogLines(log)[0], "argc=1");
  EXPECT_EQ(noArgument.exitCode, 2u);
  EXPECT_NE(noArgument.errorOutput.find("usage"), std::string::npos);
}

TEST_F(StandinTest, MalformedExportedImagesAreRefused) {
  const PreparedJob job = PrepareJob(work_, false);
  const std::string samples = job.exportedBytes.substr(std::string("P6\n3\n2\n65535\n").size());
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"maximum 255", "P6\n3\n2\n255\n" + samples},
      {"CR LF header", "P6\r\n3\r\n2\r\n65535\r\n" + samples},
      {"one line header", "P6 3 2 65535\n" + samples},
      {"float magic in a ppm", "PF\n3\n2\n-1\n" + samples + samples},
      {"one byte short", job.exportedBytes.substr(0, job.exportedBytes.size() - 1)},
      {"one byte long", job.exportedBytes + "x"},
      {"zero width", "P6\n0\n2\n65535\n"},
      {"huge size", "P6\n2147483000\n2147483000\n65535\n" + samples},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteBytes(job.exportedPath, c.bytes));
    const RunResult run = Run(job.jobPath);
    EXPECT_EQ(run.exitCode, 4u);
    EXPECT_NE(run.errorOutput.find("malformed"), std::string::npos) << run.errorOutput;
    EXPECT_FALSE(FileExists(job.processedPath));
  }
  DeleteFileA(job.exportedPath.c_str());
  EXPECT_EQ(Run(job.jobPath).exitCode, 4u);
}

}  // namespace

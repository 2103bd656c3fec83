// VelmoraHost.exe as a user runs it: exit status and messages for bad
// arguments and unreadable files, and real round trips through the built
// plug-in and the stand-in application.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/BuildPaths.h"
#include "support/SettingsFile.h"
#include "support/SystemError.h"
#include "tools/cmdhost/ImageFile.h"

namespace {

using testsupport::BuildFile;
using testsupport::SettingsFile;
using testsupport::StandinSettings;

std::string SourceFile(const std::string& relative) {
  const char* root = std::getenv("VELMORA_SOURCE_DIR");
  return testsupport::ToWindowsPath(std::string(root != nullptr ? root : ".") + "/" + relative);
}

// A scratch file in the temporary folder, named for this use alone.
std::string ScratchFile(const std::string& name) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + testsupport::UniqueName("cmdhost_" + name);
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

struct HostRun {
  DWORD exitCode = 9999;           // 9999: the host did not run; `output` says why
  std::string output;              // standard output and standard error together
  std::vector<std::string> boxes;  // "caption: text" of each box it showed
};

// A visible message box of the process, not the note shown while the
// application runs (which has no message text); null when there is none.
struct BoxSearch {
  DWORD process;
  HWND found;
};
BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<BoxSearch*>(parameter);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (process != search->process || !IsWindowVisible(window) ||
      std::string(className) != "#32770" || GetDlgItem(window, 0xFFFF) == nullptr) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

// Waits up to two minutes for the process to end, meanwhile pressing OK in
// every message box it shows, as its user would, and keeping its words.
bool WaitClosingBoxes(const PROCESS_INFORMATION& process, std::vector<std::string>& boxes) {
  for (int waited = 0; waited < 120000; waited += 50) {
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) return true;
    BoxSearch search{process.dwProcessId, nullptr};
    EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) continue;
    char caption[256] = {}, text[1024] = {};
    GetWindowTextA(search.found, caption, sizeof caption);
    GetDlgItemTextA(search.found, 0xFFFF, text, sizeof text);
    boxes.push_back(std::string(caption) + ": " + text);
    PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 200 && IsWindow(search.found) && IsWindowVisible(search.found); ++i)
      Sleep(10);
  }
  return false;
}

// Under Wine the first program of a session that looks for its windows
// starts the desktop process, which is handed that program's standard output
// and error and keeps them until it ends. The plug-in's wait does that in a
// windowless host, so the test starts the desktop itself first. That is not
// enough on its own: the desktop process may still end during the test (Wine
// closes a desktop whose last other user has just left, and one whose X
// display has gone), and the next host run whose plug-in waits starts a new
// one, which then keeps that run's output file open. So each run writes a
// file of its own, shared for deleting: a file kept open by the desktop
// stops no later run (it once made every later run fail to create the
// same-named file, a sharing violation, and report the made-up exit code).
void StartDesktopFirst() {
  static const HWND desktop = GetDesktopWindow();
  (void)desktop;
}

// Runs VelmoraHost.exe with `arguments`, its output in a file of this run's
// own, to its end. When the host cannot run, its exit code stays 9999 and
// the output says which step failed and the system's reason.
HostRun RunHost(const std::string& arguments, const char* standinMode = "copy") {
  StartDesktopFirst();
  const std::string outputPath = ScratchFile("output.txt");
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HostRun run;
  {
    Handle output(CreateFileA(outputPath.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (output.get() == INVALID_HANDLE_VALUE) {
      run.output =
          testsupport::LastErrorText("RunHost: cannot create the output file " + outputPath);
      return run;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    SetEnvironmentVariableA("VELMORA_STANDIN_MODE", standinMode);
    std::string commandLine = "\"" + BuildFile("tools/VelmoraHost.exe") + "\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    const std::string notStarted =
        started ? "" : testsupport::LastErrorText("RunHost: cannot start " + commandLine);
    SetEnvironmentVariableA("VELMORA_STANDIN_MODE", nullptr);
    if (!started) {
      run.output = notStarted;
      DeleteFileA(outputPath.c_str());
      return run;
    }
    Handle processHandle(process.hProcess);
    Handle threadHandle(process.hThread);
    if (!WaitClosingBoxes(process, run.boxes)) {
      TerminateProcess(process.hProcess, 9998);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
  }
  // Everything the host wrote is in the file once it has ended, whoever else
  // still holds a handle to it.
  run.output = testsupport::ReadTextFile(outputPath).value_or("");
  DeleteFileA(outputPath.c_str());
  return run;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string Plugin() { return Quoted(BuildFile("plugin/Velmora.8bf")); }
std::string Sample() { return SourceFile("samples/sample.ppm"); }

TEST(CommandLineHost, HelpShowsUsage) {
  const HostRun run = RunHost("--help");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(run.output.find("Usage: VelmoraHost"), std::string::npos) << run.output;
}

TEST(CommandLineHost, BadArgumentsExitWithStatus2) {
  HostRun run = RunHost("--depth 12 a b c");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.output.find("--depth must be 8, 16 or 32"), std::string::npos) << run.output;
  run = RunHost("only-one-file");
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.output.find("--help"), std::string::npos) << run.output;
}

TEST(CommandLineHost, UnloadableModuleExitsWithStatus3) {
  const HostRun run =
      RunHost(Quoted(BuildFile("app/Velmora.exe")) + " " + Quoted(Sample()) + " out.ppm");
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_NE(run.output.find("no plug-in property list"), std::string::npos) << run.output;
}

TEST(CommandLineHost, UnreadableImageExitsWithStatus3) {
  const std::string bad = ScratchFile("bad.ppm");
  std::ofstream(bad, std::ios::binary) << "P6\n2 2\n65535\nshort";
  HostRun run = RunHost(Plugin() + " " + Quoted(bad) + " " + Quoted(ScratchFile("out.ppm")));
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_NE(run.output.find("truncated"), std::string::npos) << run.output;
  DeleteFileA(bad.c_str());
  run = RunHost(Plugin() + " " + Quoted(ScratchFile("missing.ppm")) + " out.ppm");
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_NE(run.output.find("missing.ppm"), std::string::npos) << run.output;
}

TEST(CommandLineHost, CopyingApplicationGivesTheSampleBack) {
  SettingsFile settings(StandinSettings());
  const std::string out = ScratchFile("copy.ppm");
  const HostRun run = RunHost(Plugin() + " " + Quoted(Sample()) + " " + Quoted(out), "copy");
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  for (const char* line :
       {"Prepare   result      0", "Start     result      0", "Continue  result      0",
        "Finish    result      0", "transfer requests: 64"}) {
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
  }
  // The sample holds only values a 16-bit host can represent: byte for byte.
  const imagefile::Image input = imagefile::ReadImageFile(Sample());
  const imagefile::Image result = imagefile::ReadImageFile(out);
  EXPECT_EQ(result.maxValue, 65535u);
  EXPECT_EQ(result.samples, input.samples);
  DeleteFileA(out.c_str());
}

TEST(CommandLineHost, InvertingApplicationInvertsEveryFormat) {
  SettingsFile settings(StandinSettings());
  const imagefile::Image input = imagefile::ReadImageFile(Sample());
  for (const char* depth : {"8", "16", "32"}) {
    for (const char* mode : {"rgb", "gray"}) {
      SCOPED_TRACE(std::string(mode) + " " + depth);
      const std::string out = ScratchFile("inverted");
      const HostRun run = RunHost(std::string("--big --mode ") + mode + " --depth " + depth + " " +
                                      Plugin() + " " + Quoted(Sample()) + " " + Quoted(out),
                                  "invert");
      ASSERT_EQ(run.exitCode, 0u) << run.output;
      const imagefile::Image result = imagefile::ReadImageFile(out);
      DeleteFileA(out.c_str());
      EXPECT_EQ(result.channels, std::string(mode) == "rgb" ? 3 : 1);
      ASSERT_EQ(result.width, input.width);
      ASSERT_EQ(result.height, input.height);
      // Red runs from 0 at the left edge to full at the right: inverted, the
      // top-left pixel is full and the top-right one is dark.
      const size_t last =
          static_cast<size_t>(input.width - 1) * static_cast<size_t>(result.channels);
      if (result.IsFloat()) {
        EXPECT_GT(result.floats[0], result.floats[last]);
        if (result.channels == 3) {
          EXPECT_NEAR(result.floats[0], 1.0f, 1e-6f);
          EXPECT_NEAR(result.floats[last], 0.0f, 1e-6f);
        }
      } else {
        EXPECT_GT(result.samples[0], result.samples[last]);
        if (result.channels == 3) {
          EXPECT_EQ(result.samples[0], result.maxValue);
          EXPECT_EQ(result.samples[last], 0u);
        }
      }
    }
  }
}

// The left half of the sample selected, the right half not, for an inverting
// application; a mask of another size or kind is refused before any run.
TEST(CommandLineHost, AMaskKeepsTheImageOutsideTheSelection) {
  SettingsFile settings(StandinSettings());
  const imagefile::Image input = imagefile::ReadImageFile(Sample());
  imagefile::Image mask = imagefile::MakeImage(input.width, input.height, 1, 255);
  for (int32_t y = 0; y < input.height; ++y)
    for (int32_t x = 0; x < input.width / 2; ++x)
      mask.samples[static_cast<size_t>(y) * input.width + x] = 255;
  const std::string maskFile = ScratchFile("mask.pgm");
  imagefile::WriteImageFile(maskFile, mask);
  const std::string out = ScratchFile("masked.ppm");
  HostRun run = RunHost(Plugin() + " " + Quoted(Sample()) + " " + Quoted(out), "invert");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  const imagefile::Image inverted = imagefile::ReadImageFile(out);
  run = RunHost(
      "--mask " + Quoted(maskFile) + " " + Plugin() + " " + Quoted(Sample()) + " " + Quoted(out),
      "invert");
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_NE(run.output.find("selection: " + maskFile), std::string::npos) << run.output;
  const imagefile::Image result = imagefile::ReadImageFile(out);
  DeleteFileA(out.c_str());
  ASSERT_EQ(result.samples.size(), input.samples.size());
  ASSERT_EQ(inverted.samples.size(), input.samples.size());
  for (size_t k = 0; k < input.samples.size(); ++k) {
    const bool inside =
        static_cast<int32_t>(k / 3 % static_cast<size_t>(input.width)) < input.width / 2;
    ASSERT_EQ(result.samples[k], inside ? inverted.samples[k] : input.samples[k]) << k;
  }

  imagefile::WriteImageFile(maskFile, imagefile::MakeImage(input.width + 1, input.height, 1, 255));
  run = RunHost("--mask " + Quoted(maskFile) + " " + Plugin() + " " + Quoted(Sample()) + " " +
                Quoted(out));
  EXPECT_EQ(run.exitCode, 2u) << run.output;
  EXPECT_NE(run.output.find("the mask is " + std::to_string(input.width + 1)), std::string::npos)
      << run.output;
  imagefile::WriteImageFile(maskFile, imagefile::MakeImage(input.width, input.height, 1, 65535));
  run = RunHost("--mask " + Quoted(maskFile) + " " + Plugin() + " " + Quoted(Sample()) + " " +
                Quoted(out));
  EXPECT_EQ(run.exitCode, 2u) << run.output;
  EXPECT_NE(run.output.find("8-bit PGM"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists(out));
  DeleteFileA(maskFile.c_str());
}

TEST(CommandLineHost, FailingStartStopsAndWritesNothing) {
  SettingsFile settings(std::nullopt);  // the application cannot be found
  const std::string out = ScratchFile("never.ppm");
  DeleteFileA(out.c_str());
  const HostRun run =
      RunHost("--no-handle-procs " + Plugin() + " " + Quoted(Sample()) + " " + Quoted(out));
  EXPECT_EQ(run.exitCode, 1u) << run.output;
  // The host shows the plug-in's words, which name the missing file.
  EXPECT_NE(run.output.find("Start     result -30904"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("message:  "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(testsupport::SettingsPath()), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Continue"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("none written"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists(out));
  EXPECT_TRUE(run.boxes.empty());

  // In a host of another signature the plug-in says the same in a box of its
  // own, and tells the host that the user knows.
  const HostRun other =
      RunHost("--host-sig PSP9 " + Plugin() + " " + Quoted(Sample()) + " " + Quoted(out));
  EXPECT_EQ(other.exitCode, 1u) << other.output;
  EXPECT_NE(other.output.find("signature 'PSP9'"), std::string::npos) << other.output;
  EXPECT_NE(other.output.find("Start     result      1  reported to the user by the plug-in"),
            std::string::npos)
      << other.output;
  EXPECT_EQ(other.output.find("message:  "), std::string::npos) << other.output;
  ASSERT_EQ(other.boxes.size(), 1u) << other.output;
  EXPECT_NE(other.boxes[0].find(testsupport::SettingsPath()), std::string::npos) << other.boxes[0];
  EXPECT_FALSE(Exists(out));
}

TEST(CommandLineHost, SilentPlayRunsNothingAndSaysWhy) {
  SettingsFile settings(StandinSettings());
  const std::string out = ScratchFile("silent.ppm");
  DeleteFileA(out.c_str());
  for (const char* signature : {"8BIM", "PSP9"}) {
    SCOPED_TRACE(signature);
    const HostRun run = RunHost(std::string("--play silent --host-sig ") + signature + " " +
                                Plugin() + " " + Quoted(Sample()) + " " + Quoted(out));
    EXPECT_EQ(run.exitCode, 1u) << run.output;
    EXPECT_NE(run.output.find("played silently"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Start     result -30904"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Filter menu"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("transfer requests: 0"), std::string::npos) << run.output;
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(Exists(out));
  }
  // Played from the menu or as an action step, it runs.
  for (const char* play : {"menu", "action"}) {
    SCOPED_TRACE(play);
    const HostRun run = RunHost(std::string("--play ") + play + " " + Plugin() + " " +
                                Quoted(Sample()) + " " + Quoted(out));
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_TRUE(Exists(out));
    DeleteFileA(out.c_str());
  }
}

}  // namespace

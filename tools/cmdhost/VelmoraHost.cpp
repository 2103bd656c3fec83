// VelmoraHost.exe: applies a filter plug-in to an image file from the
// command line, calling it exactly as an image editor would.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "host/HostInterface.h"
#include "tools/cmdhost/HostCommand.h"
#include "tools/cmdhost/HostPixels.h"
#include "tools/cmdhost/ImageFile.h"
#include "tools/cmdhost/MenuWindow.h"
#include "tools/cmdhost/ProfileClock.h"
#include "tools/cmdhost/TransferProfile.h"
#include "tools/loader/PluginModule.h"
#include "tools/testhost/TestHost.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitSelectorFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIo = 3;
// Hosts without 32-bit coordinates describe the image in 16-bit fields.
constexpr int32_t kLargestSide16 = 32767;
// errReportString: the plug-in left its words in errorString.
constexpr int16_t kErrReportString = -30904;

// The profile's clock, which without --profile is steady_clock.
using Clock = cmdhost::ProfileClock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The process's memory as the system reports it. Under Wine the working set
// is the resident memory and the private bytes (PagefileUsage) the resident
// anonymous memory, without mapped files and code.
struct MemoryUse {
  int64_t workingSet = 0;
  int64_t privateBytes = 0;
  int64_t peakWorkingSet = 0;
};

MemoryUse CurrentMemory() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  MemoryUse use;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
    use.workingSet = static_cast<int64_t>(counters.WorkingSetSize);
    use.privateBytes = static_cast<int64_t>(counters.PagefileUsage);
    use.peakWorkingSet = static_cast<int64_t>(counters.PeakWorkingSetSize);
  }
  return use;
}

// The most memory the process used while the plug-in ran, beyond what it
// used just before Prepare (the host's image loaded, the input file's samples
// released) and beyond what the host allocated for itself since (its request
// log grows with the image). The lifetime peak cannot show this: reading the
// input file peaks higher than the run. A sample costs some 20 microseconds
// under Wine, so the host samples every few hundred callbacks and after each
// selector; the plug-in's chunk buffers live through a whole pass, allocations
// that come and go between two callbacks are not seen.
class MemoryWatch {
 public:
  static constexpr int kEventsPerSample = 256;

  void Baseline(const testhost::TestHost& host) {
    baseline_ = CurrentMemory();
    baselineOwn_ = static_cast<int64_t>(host.OwnBytes());
  }
  bool Due() { return ++events_ % kEventsPerSample == 0; }
  void Sample(const testhost::TestHost& host) {
    const MemoryUse now = CurrentMemory();
    const int64_t own = static_cast<int64_t>(host.OwnBytes()) - baselineOwn_;
    hostGrowth_ = std::max(hostGrowth_, own);
    workingSet_ = std::max(workingSet_, now.workingSet - baseline_.workingSet - own);
    privateBytes_ = std::max(privateBytes_, now.privateBytes - baseline_.privateBytes - own);
    ++samples_;
  }
  const MemoryUse& BaselineUse() const { return baseline_; }
  int64_t WorkingSet() const { return workingSet_; }
  int64_t PrivateBytes() const { return privateBytes_; }
  int64_t HostGrowth() const { return hostGrowth_; }
  int Samples() const { return samples_; }

 private:
  MemoryUse baseline_;
  int64_t baselineOwn_ = 0;
  int64_t workingSet_ = INT64_MIN;
  int64_t privateBytes_ = INT64_MIN;
  int64_t hostGrowth_ = 0;
  int events_ = 0;
  int samples_ = 0;
};

double Megabytes(int64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }
double Kilobytes(int64_t bytes) { return static_cast<double>(bytes) / 1024.0; }

// What one observed callback costs the run, timed on a profile of its own
// before the run: a clock read and the bookkeeping. Under Wine a clock read
// is about a tenth of a microsecond, and there are three callbacks a chunk.
double CallbackCost(const testhost::TestHost& host) {
  constexpr int kRounds = 20000;
  cmdhost::TransferProfile shadow;
  const Clock::time_point begin = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    shadow.OnEvent(testhost::HostEvent::kAbortAsked, host, Clock::now());
  }
  return Seconds(Clock::now() - begin) / kRounds;
}

void PrintProfile(const cmdhost::StartProfile& p, const MemoryWatch& memory, const MemoryUse& after,
                  int64_t callbacks, double callbackCost, int64_t inputBytes, int64_t imageBytes) {
  const double clockSeconds = static_cast<double>(callbacks) * callbackCost;
  if (p.complete) {
    std::printf(
        "profile:  export %.3f s (host serving %.3f s, %zu requests), import %.3f s "
        "(host serving %.3f s, %zu requests)\n",
        Seconds(p.exportPass.total), Seconds(p.exportPass.host), p.exportPass.requests,
        Seconds(p.importPass.total), Seconds(p.importPass.host), p.importPass.requests);
    std::printf(
        "          export: Start's entry to the cancel check after the last chunk "
        "written; import: first import request to Start's return\n");
    std::printf(
        "          not counted, %.3f s: closing the export, the job description, the "
        "application's start and run, opening the processed file and its first chunk\n",
        Seconds(p.wait));
    std::printf(
        "          host serving: inside advanceState, the host copying pixels; memory "
        "samples (%.3f s) taken out\n",
        Seconds(p.measuring));
    std::printf("          the times include the profile's own clock reads: %" PRId64
                " callbacks at about %.3f us (%s), %.3f s in all, not taken out\n",
                callbacks, callbackCost * 1e6,
                Clock::UsesCounter() ? "time-stamp counter" : "steady_clock", clockSeconds);
    std::printf(
        "whole:    %.3f s = Start %.3f s less the pause %.3f s (export's last request to the "
        "import's first) less the host serving %.3f s; of it %.3f s before the first request "
        "and %.3f s after the last\n",
        Seconds(p.whole), Seconds(p.start), Seconds(p.pause),
        Seconds(p.exportPass.host + p.importPass.host), Seconds(p.beforeFirstRequest),
        Seconds(p.afterLastRequest));
  } else {
    std::printf("profile:  %zu transfer pass%s seen, not an export and an import: no times\n",
                p.passes, p.passes == 1 ? "" : "es");
  }
  std::printf(
      "memory:   plug-in beyond the host's own: working set %+.0f KB, private %+.0f KB "
      "at most (%d samples)\n",
      Kilobytes(memory.WorkingSet()), Kilobytes(memory.PrivateBytes()), memory.Samples());
  std::printf(
      "          baseline just before Prepare: working set %.1f MB, private %.1f MB, "
      "holding the host image (%.1f MB; the input file's %.1f MB of samples released); the "
      "host's own growth since (request log, buffers: up to %.0f KB) taken out\n",
      Megabytes(memory.BaselineUse().workingSet), Megabytes(memory.BaselineUse().privateBytes),
      Megabytes(imageBytes), Megabytes(inputBytes), Kilobytes(memory.HostGrowth()));
  std::printf("          process peak working set: %.1f MB before Prepare, %.1f MB after Finish\n",
              Megabytes(memory.BaselineUse().peakWorkingSet), Megabytes(after.peakWorkingSet));
  // One line for scripts: times in seconds, memory in bytes.
  std::printf("profile-data: complete=%d passes=%zu", p.complete ? 1 : 0, p.passes);
  std::printf(" export_s=%.6f export_host_s=%.6f export_requests=%zu", Seconds(p.exportPass.total),
              Seconds(p.exportPass.host), p.exportPass.requests);
  std::printf(" import_s=%.6f import_host_s=%.6f import_requests=%zu", Seconds(p.importPass.total),
              Seconds(p.importPass.host), p.importPass.requests);
  std::printf(" wait_s=%.6f measuring_s=%.6f", Seconds(p.wait), Seconds(p.measuring));
  std::printf(" start_s=%.6f", Seconds(p.start));
  std::printf(" whole_s=%.6f pause_s=%.6f before_first_s=%.6f after_last_s=%.6f", Seconds(p.whole),
              Seconds(p.pause), Seconds(p.beforeFirstRequest), Seconds(p.afterLastRequest));
  std::printf(" callbacks=%" PRId64 " clock_s=%.6f", callbacks, clockSeconds);
  std::printf(" mem_ws_bytes=%" PRId64 " mem_private_bytes=%" PRId64 " mem_samples=%d",
              memory.WorkingSet(), memory.PrivateBytes(), memory.Samples());
  std::printf(" host_growth_bytes=%" PRId64 " input_bytes=%" PRId64 " image_bytes=%" PRId64,
              memory.HostGrowth(), inputBytes, imageBytes);
  std::printf(" baseline_ws_bytes=%" PRId64 " baseline_private_bytes=%" PRId64,
              memory.BaselineUse().workingSet, memory.BaselineUse().privateBytes);
  std::printf(" peak_ws_before_bytes=%" PRId64 " peak_ws_after_bytes=%" PRId64 "\n",
              memory.BaselineUse().peakWorkingSet, after.peakWorkingSet);
}

// What the host's result codes mean, under their published names.
const char* ResultName(int16_t code) {
  switch (code) {
    case 0:
      return "noErr";
    case -19:
      return "readErr";
    case -20:
      return "writErr";
    case -23:
      return "openErr";
    case -50:
      return "paramErr";
    case -108:
      return "memFullErr";
    case -128:
      return "userCanceledErr";
    case -1715:
      return "errMissingParameter";
    case -30201:
      return "exportBadMode";
    case -30901:
      return "errPlugInPropertyUndefined";
    case -30904:
      return "errReportString";
    default:
      return code > 0 ? "reported to the user by the plug-in" : "host or plug-in error";
  }
}

// The descriptor parameters' playInfo for a play choice; -1 for none.
int16_t PlayInfo(cmdhost::PlayChoice play) {
  switch (play) {
    case cmdhost::PlayChoice::kMenu:
      return host::kPlayDisplayDialog;
    case cmdhost::PlayChoice::kAction:
      return host::kPlayDialogIfNecessary;
    case cmdhost::PlayChoice::kSilent:
      return host::kPlaySilent;
    case cmdhost::PlayChoice::kNoActions:
      break;
  }
  return -1;
}

const char* PlayName(cmdhost::PlayChoice play) {
  switch (play) {
    case cmdhost::PlayChoice::kMenu:
      return "played from the menu";
    case cmdhost::PlayChoice::kAction:
      return "played as an action step without dialog";
    case cmdhost::PlayChoice::kSilent:
      return "played silently";
    case cmdhost::PlayChoice::kNoActions:
      break;
  }
  return "no actions";
}

const char* ModeName(const cmdhost::HostFormat& format) {
  if (format.gray)
    return format.depth == 8 ? "Grayscale" : format.depth == 16 ? "Gray16" : "Gray32";
  return format.depth == 8 ? "RGBColor" : format.depth == 16 ? "RGB48" : "RGB96";
}

bool RequestsCleared(testhost::TestHost& host) {
  host::FilterRecord& r = host.Record();
  auto empty16 = [](const host::Rect& q) { return q.top >= q.bottom || q.left >= q.right; };
  auto empty32 = [](const host::VRect& q) { return q.top >= q.bottom || q.left >= q.right; };
  if (r.bigDocumentData != nullptr && r.bigDocumentData->PluginUsing32BitCoordinates != 0) {
    const host::BigDocumentStruct& big = *r.bigDocumentData;
    return empty32(big.inRect32) && empty32(big.outRect32) && empty32(big.maskRect32);
  }
  const host::Rect in = r.inRect, out = r.outRect, mask = r.maskRect;
  return empty16(in) && empty16(out) && empty16(mask);
}

// A property holding a Pascal string (a length byte, then the characters),
// such as the filter's name and category; empty when there is none.
std::string PascalProperty(const loader::PropertyList& properties, uint32_t key) {
  const loader::Property* property = properties.Find(key);
  if (property == nullptr || property->data.empty()) return std::string();
  const size_t length = std::min<size_t>(property->data[0], property->data.size() - 1);
  return std::string(property->data.begin() + 1, property->data.begin() + 1 + length);
}

int RunAbout(const loader::PluginModule& plugin) {
  testhost::TestHost host(testhost::HostOptions{});
  const auto window = reinterpret_cast<intptr_t>(GetConsoleWindow());
  const int16_t result = host.CallAbout(plugin.Entry(), window);
  std::printf("About     result %6d  %s\n", result, ResultName(result));
  return result == 0 ? kExitOk : kExitSelectorFailed;
}

int RunFilter(const cmdhost::HostCommand& command, const loader::PluginModule& plugin) {
  // Calibrated once, before anything is timed: the clock then reads the
  // processor's counter, a few nanoseconds instead of some 30 under Wine.
  if (command.profile) Clock::Calibrate();
  const Clock::time_point begin = Clock::now();
  imagefile::Image input = imagefile::ReadImageFile(command.input);
  const cmdhost::HostFormat format = cmdhost::ChooseFormat(command, input);
  std::printf("input:    %s (%s)\n", command.input.c_str(), imagefile::Describe(input).c_str());
  if (!command.bigDocument && (input.width > kLargestSide16 || input.height > kLargestSide16)) {
    std::fprintf(stderr,
                 "VelmoraHost: the image is %d x %d pixels; without --big the host describes at "
                 "most %d pixels a side\n",
                 input.width, input.height, kLargestSide16);
    return kExitUsage;
  }

  testhost::HostOptions options;
  options.width = input.width;
  options.height = input.height;
  options.planes = static_cast<int16_t>(format.Planes());
  options.depth = format.depth;
  options.gray = format.gray;
  options.bigDocument = command.bigDocument;
  options.handleProcs = command.handleProcs;
  options.progressProc = command.progress;
  options.errorString = true;
  const std::string& sig = command.hostSig;
  options.hostSig = host::MakeOSType(sig[0], sig[1], sig[2], sig[3]);
  options.playInfo = PlayInfo(command.play);
  if (!command.mask.empty()) {
    try {
      options.mask = cmdhost::SelectionFromImage(imagefile::ReadImageFile(command.mask),
                                                 input.width, input.height);
    } catch (const cmdhost::UsageError& e) {
      std::fprintf(stderr, "VelmoraHost: %s: %s\n", command.mask.c_str(), e.what());
      return kExitUsage;
    }
  }
  cmdhost::TransferProfile profile;
  MemoryWatch memory;
  bool inStart = false;
  int64_t callbacks = 0;
  if (command.profile) {
    options.observer = [&](testhost::HostEvent event, const testhost::TestHost& observed) {
      if (!inStart) return;
      ++callbacks;
      const Clock::time_point at = Clock::now();
      profile.OnEvent(event, observed, at);
      if (memory.Due()) {
        const Clock::time_point sampling = Clock::now();
        memory.Sample(observed);
        profile.Measuring(Clock::now() - sampling);
      }
    };
  }
  std::unique_ptr<cmdhost::MenuWindow> window;
  if (command.window) {
    const loader::PropertyList& properties = plugin.Properties();
    const std::string name = PascalProperty(properties, loader::FourCC("name"));
    window = std::make_unique<cmdhost::MenuWindow>(
        "VelmoraHost - " + command.input, PascalProperty(properties, loader::FourCC("catg")),
        name.empty() ? std::string("(no name)") : name, input);
    options.platformWindow = reinterpret_cast<intptr_t>(window->Handle());
  }
  testhost::TestHost host(options);
  // The host keeps its own copy of the selection.
  std::vector<uint8_t>().swap(options.mask);
  host.Image() = cmdhost::ToHostSamples(input, format);
  // The host keeps its own image only, as an image editor does: a 32-bit
  // host could not hold the file's samples beside a large image.
  const int64_t inputBytes = static_cast<int64_t>(input.samples.size() * sizeof(uint16_t) +
                                                  input.floats.size() * sizeof(float));
  std::vector<uint16_t>().swap(input.samples);
  std::vector<float>().swap(input.floats);
  std::printf(
      "host:     %s, %d-bit, %d plane%s, %s coordinates, %s handle procedures, %s progress, "
      "signature '%s', %s\n",
      ModeName(format), format.depth, format.Planes(), format.Planes() == 1 ? "" : "s",
      command.bigDocument ? "32-bit" : "16-bit", command.handleProcs ? "with" : "no",
      command.progress ? "with" : "no", sig.c_str(), PlayName(command.play));
  if (!command.mask.empty()) std::printf("selection: %s\n", command.mask.c_str());
  const Clock::time_point loaded = Clock::now();

  struct Step {
    const char* name;
    int16_t selector;
  };
  const Step steps[] = {{"Prepare", host::kSelectorPrepare},
                        {"Start", host::kSelectorStart},
                        {"Continue", host::kSelectorContinue},
                        {"Finish", host::kSelectorFinish}};
  if (window != nullptr) {
    std::printf("window:   the filter is under Filter > %s\n",
                PascalProperty(plugin.Properties(), loader::FourCC("catg")).c_str());
    std::fflush(stdout);
    if (!window->WaitForChoice()) {
      std::printf("window:   closed; nothing applied, nothing written\n");
      return kExitSelectorFailed;
    }
  }
  bool ok = true;
  const double callbackCost = command.profile ? CallbackCost(host) : 0.0;
  if (command.profile) memory.Baseline(host);
  for (const Step& step : steps) {
    const bool start = step.selector == host::kSelectorStart;
    const Clock::time_point t0 = Clock::now();
    if (command.profile && start) {
      profile.StartEntered(t0);
      inStart = true;
    }
    const int16_t result = host.Call(plugin.Entry(), step.selector);
    const Clock::time_point t1 = Clock::now();
    if (command.profile) {
      if (start) {
        inStart = false;
        profile.StartReturned(t1);
      }
      memory.Sample(host);
    }
    const double seconds = Seconds(t1 - t0);
    std::printf("%-9s result %6d  %-28s %9.3f s\n", step.name, result, ResultName(result), seconds);
    // What an image editor shows in its error message.
    if (result == kErrReportString) std::printf("message:  %s\n", host.ErrorText().c_str());
    if (result != 0) {
      std::printf("stopped:  %s failed; no later selector called\n", step.name);
      ok = false;
      break;
    }
  }
  const Clock::time_point filtered = Clock::now();
  std::printf("transfer requests: %zu (advanceState calls: %d)\n", host.Requests().size(),
              host.AdvanceCalls());
  if (!host.LastError().empty()) {
    std::printf("host refused a request: %s\n", host.LastError().c_str());
  }
  if (!host.BuffersIntact()) {
    std::printf("error:    the plug-in wrote outside the buffers the host gave it\n");
    ok = false;
  }
  if (ok && !RequestsCleared(host)) {
    std::printf("warning:  the plug-in still requests image data after Finish\n");
  }
  if (command.profile) {
    PrintProfile(profile.Result(), memory, CurrentMemory(), callbacks, callbackCost, inputBytes,
                 static_cast<int64_t>(host.Image().size()));
  }

  Clock::time_point written = filtered;
  if (ok) {
    const imagefile::Image result =
        cmdhost::FromHostSamples(host.Image(), input.width, input.height, format);
    imagefile::WriteImageFile(command.output, result);
    written = Clock::now();
    std::printf("output:   %s (%s)\n", command.output.c_str(), imagefile::Describe(result).c_str());
  } else {
    std::printf("output:   none written\n");
  }
  std::printf("time:     read %.3f s, plug-in %.3f s, write %.3f s, total %.3f s\n",
              Seconds(loaded - begin), Seconds(filtered - loaded), Seconds(written - filtered),
              Seconds(written - begin));
  return ok ? kExitOk : kExitSelectorFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  cmdhost::HostCommand command;
  try {
    command = cmdhost::ParseCommandLine(args);
  } catch (const cmdhost::UsageError& e) {
    std::fprintf(stderr, "VelmoraHost: %s\nRun 'VelmoraHost --help' for usage.\n", e.what());
    return kExitUsage;
  }
  if (command.help) {
    std::fputs(cmdhost::UsageText().c_str(), stdout);
    return kExitOk;
  }
  try {
    const loader::PluginModule plugin(command.plugin);
    std::printf("plug-in:  %s (entry point '%s' under '%s')\n", command.plugin.c_str(),
                plugin.EntryPointName().c_str(),
                loader::FourCCText(loader::kEntryPointKey).c_str());
    std::fflush(stdout);
    return command.about ? RunAbout(plugin) : RunFilter(command, plugin);
  } catch (const loader::LoadError& e) {
    std::fprintf(stderr, "VelmoraHost: %s\n", e.what());
  } catch (const imagefile::ImageFileError& e) {
    std::fprintf(stderr, "VelmoraHost: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "VelmoraHost: out of memory for this image\n");
  }
  return kExitIo;
}

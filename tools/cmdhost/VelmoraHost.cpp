// VelmoraHost.exe: applies a filter plug-in to an image file from the
// command line, calling it exactly as an image editor would.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "host/HostInterface.h"
#include "tools/cmdhost/HostCommand.h"
#include "tools/cmdhost/HostPixels.h"
#include "tools/cmdhost/ImageFile.h"
#include "tools/loader/PluginModule.h"
#include "tools/testhost/TestHost.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitSelectorFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIo = 3;
// Hosts without 32-bit coordinates describe the image in 16-bit fields.
constexpr int32_t kLargestSide16 = 32767;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

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
    default:
      return code > 0 ? "reported to the user by the plug-in" : "host or plug-in error";
  }
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

int RunAbout(const loader::PluginModule& plugin) {
  testhost::TestHost host(testhost::HostOptions{});
  const auto window = reinterpret_cast<intptr_t>(GetConsoleWindow());
  const int16_t result = host.CallAbout(plugin.Entry(), window);
  std::printf("About     result %6d  %s\n", result, ResultName(result));
  return result == 0 ? kExitOk : kExitSelectorFailed;
}

int RunFilter(const cmdhost::HostCommand& command, const loader::PluginModule& plugin) {
  const Clock::time_point begin = Clock::now();
  const imagefile::Image input = imagefile::ReadImageFile(command.input);
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
  testhost::TestHost host(options);
  host.Image() = cmdhost::ToHostSamples(input, format);
  std::printf("host:     %s, %d-bit, %d plane%s, %s coordinates, %s handle procedures\n",
              ModeName(format), format.depth, format.Planes(), format.Planes() == 1 ? "" : "s",
              command.bigDocument ? "32-bit" : "16-bit", command.handleProcs ? "with" : "no");
  const Clock::time_point loaded = Clock::now();

  struct Step {
    const char* name;
    int16_t selector;
  };
  const Step steps[] = {{"Prepare", host::kSelectorPrepare},
                        {"Start", host::kSelectorStart},
                        {"Continue", host::kSelectorContinue},
                        {"Finish", host::kSelectorFinish}};
  bool ok = true;
  for (const Step& step : steps) {
    const Clock::time_point t0 = Clock::now();
    const int16_t result = host.Call(plugin.Entry(), step.selector);
    const double seconds = Seconds(Clock::now() - t0);
    std::printf("%-9s result %6d  %-28s %9.3f s\n", step.name, result, ResultName(result), seconds);
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

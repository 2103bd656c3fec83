#include "tools/cmdhost/HostCommand.h"

namespace cmdhost {

std::string UsageText() {
  return R"(Usage: VelmoraHost [options] PLUGIN.8bf INPUT OUTPUT
       VelmoraHost --about PLUGIN.8bf

Hosts a Photoshop-compatible filter plug-in as an image editor does: loads
PLUGIN.8bf, finds its entry point through its property list, presents the
image INPUT to it, calls Prepare, Start, Continue and Finish (stopping at the
first failing selector) and writes the filtered image to OUTPUT.

Image files: binary PPM (P6) and PGM (P5), 8-bit or 16-bit (maximum value up
to 65535), and float maps (PF, Pf). OUTPUT is written in the host's depth:
8 bits as maximum 255, 16 bits as maximum 65535, 32 bits as a float map;
RGB as P6 or PF, gray as P5 or Pf. Nothing is written when a selector fails.

Options:
  --mode rgb|gray     image mode shown to the plug-in (default: gray for P5
                      and Pf, RGB otherwise; RGB files become gray through
                      luma weights, gray files RGB by repetition)
  --depth 8|16|32     bits per sample in the host (default: 32 for float
                      maps, 16 for maximum values above 255, 8 otherwise);
                      16-bit host samples run from 0 to 32768
  --big               offer 32-bit coordinates (needed above 32767 pixels
                      a side)
  --no-handle-procs   offer no handle procedures
  --no-progress       offer no progress procedure
  --play menu|action|silent
                      how the host plays the filter: from the menu, as an
                      action step with its dialog off (as in a batch), or
                      silently from a script, which allows no window
                      (default: a host without actions, as from the menu)
  --host-sig XXXX     the host's four-character signature (default 8BIM,
                      Photoshop's, which shows the plug-in's words itself;
                      under any other the plug-in shows them in a box)
  --mask FILE.pgm     a selection, as an image editor has one: an 8-bit PGM
                      (P5, maximum 255) of the image's size, one byte a
                      pixel, 0 outside the selection, 255 inside, values
                      between on a feathered edge
  --profile           also print the plug-in's export and import times
                      (without the application's run), the host's share of
                      them, what the user waits for (Start less the
                      application's run and the host's share) and the
                      plug-in's memory beyond the host's own
  --window            show a host window with the image and a Filter menu
                      listing the plug-in under its category and name, as
                      an image editor does, and filter when it is chosen
                      there; the window is the host's window for the
                      plug-in's note and boxes
  --about             call About, with the console window as the host
                      window, instead of filtering
  -h, --help          show this text

Prints the result of each selector, the number of transfer requests the
plug-in made and the time taken.
Exit status: 0 success; 1 a selector failed; 2 bad arguments; 3 the plug-in
could not be loaded or an image could not be read or written.
)";
}

HostCommand ParseCommandLine(const std::vector<std::string>& args) {
  HostCommand command;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      command.help = true;
      return command;
    }
  }
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool hasValue = false;
    const size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
      hasValue = true;
    }
    auto takeValue = [&]() {
      if (hasValue) return value;
      if (i + 1 >= args.size()) throw UsageError("option " + arg + " needs a value");
      return args[++i];
    };
    auto noValue = [&]() {
      if (hasValue) throw UsageError("option " + arg + " takes no value");
    };
    if (arg == "--mode") {
      const std::string mode = takeValue();
      if (mode == "rgb") {
        command.mode = ModeChoice::kRgb;
      } else if (mode == "gray") {
        command.mode = ModeChoice::kGray;
      } else {
        throw UsageError("--mode must be rgb or gray, not '" + mode + "'");
      }
    } else if (arg == "--depth") {
      const std::string depth = takeValue();
      if (depth == "8" || depth == "16" || depth == "32") {
        command.depth = std::stoi(depth);
      } else {
        throw UsageError("--depth must be 8, 16 or 32, not '" + depth + "'");
      }
    } else if (arg == "--play") {
      const std::string play = takeValue();
      if (play == "menu") {
        command.play = PlayChoice::kMenu;
      } else if (play == "action") {
        command.play = PlayChoice::kAction;
      } else if (play == "silent") {
        command.play = PlayChoice::kSilent;
      } else {
        throw UsageError("--play must be menu, action or silent, not '" + play + "'");
      }
    } else if (arg == "--host-sig") {
      const std::string signature = takeValue();
      bool printable = signature.size() == 4;
      for (char c : signature) printable = printable && c >= 0x20 && c < 0x7F;
      if (!printable) {
        throw UsageError("--host-sig must be four printable characters, not '" + signature + "'");
      }
      command.hostSig = signature;
    } else if (arg == "--mask") {
      command.mask = takeValue();
      if (command.mask.empty()) throw UsageError("--mask needs a file");
    } else if (arg == "--big") {
      noValue();
      command.bigDocument = true;
    } else if (arg == "--no-handle-procs") {
      noValue();
      command.handleProcs = false;
    } else if (arg == "--no-progress") {
      noValue();
      command.progress = false;
    } else if (arg == "--profile") {
      noValue();
      command.profile = true;
    } else if (arg == "--window") {
      noValue();
      command.window = true;
    } else if (arg == "--about") {
      noValue();
      command.about = true;
    } else if (arg == "--") {
      files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option " + arg);
    } else {
      files.push_back(arg);
    }
  }
  if (command.about) {
    if (files.size() != 1) throw UsageError("--about takes the plug-in only");
    command.plugin = files[0];
    return command;
  }
  if (files.size() != 3) {
    throw UsageError("expected PLUGIN.8bf INPUT OUTPUT, got " + std::to_string(files.size()) +
                     (files.size() == 1 ? " file" : " files"));
  }
  command.plugin = files[0];
  command.input = files[1];
  command.output = files[2];
  return command;
}

std::vector<uint8_t> SelectionFromImage(const imagefile::Image& mask, int32_t width,
                                        int32_t height) {
  if (mask.IsFloat() || mask.channels != 1 || mask.maxValue != 255) {
    throw UsageError("the mask must be an 8-bit PGM (P5, maximum 255), not " +
                     imagefile::Describe(mask));
  }
  if (mask.width != width || mask.height != height) {
    throw UsageError("the mask is " + std::to_string(mask.width) + " x " +
                     std::to_string(mask.height) + " pixels, the image " + std::to_string(width) +
                     " x " + std::to_string(height));
  }
  return std::vector<uint8_t>(mask.samples.begin(), mask.samples.end());
}

HostFormat ChooseFormat(const HostCommand& command, const imagefile::Image& image) {
  HostFormat format;
  switch (command.mode) {
    case ModeChoice::kRgb:
      format.gray = false;
      break;
    case ModeChoice::kGray:
      format.gray = true;
      break;
    case ModeChoice::kFromInput:
      format.gray = image.channels == 1;
      break;
  }
  if (command.depth != 0) {
    format.depth = command.depth;
  } else {
    format.depth = image.IsFloat() ? 32 : image.maxValue > 255 ? 16 : 8;
  }
  return format;
}

}  // namespace cmdhost

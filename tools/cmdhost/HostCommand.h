// The command line of the command-line host: what to load, what to read and
// write, and how to present the image to the plug-in. Portable.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/cmdhost/HostPixels.h"
#include "tools/cmdhost/ImageFile.h"

namespace cmdhost {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class ModeChoice { kFromInput, kRgb, kGray };

// How the host plays the filter: without descriptor parameters (a host
// without actions), from the menu, as an action step without its dialog, or
// silently from a script.
enum class PlayChoice { kNoActions, kMenu, kAction, kSilent };

struct HostCommand {
  bool help = false;
  bool about = false;  // call About instead of filtering
  std::string plugin;
  std::string input;
  std::string output;
  ModeChoice mode = ModeChoice::kFromInput;
  int depth = 0;  // 8, 16 or 32; 0: from the input file
  bool bigDocument = false;
  bool handleProcs = true;
  bool progress = true;  // offer a progress procedure
  bool profile = false;  // time the passes and sample the process's memory
  PlayChoice play = PlayChoice::kNoActions;
  std::string hostSig = "8BIM";  // the host's signature, four characters
  std::string mask;              // an 8-bit PGM of the image's size: the selection; none when empty
  bool window = false;  // show a window, and filter when the filter is chosen from its menu
};

// Parses the arguments after the program name. Options may come anywhere;
// "--mode rgb" and "--mode=rgb" are the same. Throws UsageError naming the
// offending argument for an unknown option, a bad or missing value, or the
// wrong number of files (three for filtering, one for --about). --help wins
// over everything else.
HostCommand ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

// The host format to present `image` in: the requested mode and depth, or
// where not requested, gray for one-channel files, RGB otherwise, 32 bits
// for float maps, 16 for maximum values above 255, 8 otherwise.
HostFormat ChooseFormat(const HostCommand& command, const imagefile::Image& image);

// The selection a mask image gives, one byte a pixel, for an image of width x
// height. Throws UsageError unless the mask is an 8-bit gray image (maximum
// 255) of that size.
std::vector<uint8_t> SelectionFromImage(const imagefile::Image& mask, int32_t width,
                                        int32_t height);

}  // namespace cmdhost

// Velmora.exe for tests: a small console program that plays the stand-alone
// application's part. It takes the job description's path as its only
// argument, checks the job description line by line, reads the exported image
// named there and leaves the processed image where the job says, changed or
// broken as the test asks.
//
// What it does is chosen by the first line of "standin.ctl" in the folder of
// the job description or, when that file is missing, by the environment
// variable VELMORA_STANDIN_MODE; the default is copy:
//   copy         processed image = exported image
//   invert       16-bit samples become 65535 - v, float samples 1.0f - v
//   mix          channels made unequal: red kept, green halved, blue 0
//   none         write nothing
//   quit:<code>  write nothing and end with that exit status, in decimal or
//                as 0x... (0xFFFFFFFF for a program's "return -1;")
//   badheader    the maximum value line says 255
//   otherkind    a float map for a pixmap and a pixmap for a float map, of
//                the right size
//   short        the copy without its last byte
//   long         the copy followed by extra bytes
//   shortinverted, longinverted
//                the inverted image one byte short or with extra bytes
//   huge         a header claiming 2147483000 x 2147483000 pixels
//   sleep:<ms>   wait that long, then copy
//   until:<path> wait until the file <path> exists (for at most 10 minutes),
//                then copy: a test ends the application's run when it wants
//   exit:<code>  copy, then end with that exit code
//   crash        end through a real access violation, writing nothing
//   crashaftersaving
//                write the inverted image, then crash as above
//   probe:<window>,<window>,...
//                for each window (a handle in decimal) send the message
//                WM_APP + 1 with a time-out of 2 seconds and append to the
//                log "probe=<window> answered=<0|1> result=<the window's
//                answer> enabled=<0|1> microseconds=<time to the answer>";
//                then post WM_QUIT with exit code 23 to the first window, and
//                copy
//   note:<window>
//                open a window of its own, wait up to 5 seconds for a visible
//                window owned by <window> (a handle in decimal) and append
//                "note=<handle> visible=<0|1> enabled=<0|1> active=<0|1>
//                frame=<left>,<top>,<right>,<bottom> owner=<window>
//                front=<0|1>" and the lines "note-title=", "note-text=" and
//                "note-button=" with its caption, its first static text and
//                its button's text in UTF-8; active tells whether it was the
//                foreground window when found, front whether pressing its
//                button (after making it the foreground window) brought this
//                program's window to the front within 2 seconds; "note=0"
//                when none appeared; then copy
//   ownednote:<window>
//                as note:, with its own window owned by a hidden window, as
//                several application frameworks make their main windows
//
// Every run first appends "argc=<n>", "cmdline=<command line>" and, when
// present, "arg1=<first argument>" (one per line, LF ended) to "standin.log"
// in the folder of the job description, or to the file that the environment
// variable VELMORA_STANDIN_LOG names. When the variable VELMORA_STANDIN_HANDLE
// holds "<handle value> <file path>" (a handle the starting process made
// inheritable), the log also gets "handle=inherited" when that value names
// the very same file in this process, else "handle=not inherited".
//
// Element text of the job description is decoded as XML ("&amp;" and the
// other predefined entities); a bare "<" or "&" makes the job malformed.
//
// Exit codes: 0 done, 2 wrong argument count, 3 malformed job description,
// 4 missing or malformed exported image, 5 processed image not written,
// 6 unknown mode; exit:<code> gives its own.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitBadJob = 3;
constexpr int kExitBadImage = 4;
constexpr int kExitWriteFailed = 5;
constexpr int kExitBadMode = 6;

// Reports a failure on stderr and gives the exit code to end with.
int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "Velmora stand-in: %s\n", message.c_str());
  return code;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  return (last == '\\' || last == '/') ? folder + name : folder + "\\" + name;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

std::string EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// Whether the handle value of "<value> <path>" names, in this process, the
// file at path: the same volume and file index, so that a handle of this
// process that merely has the same value does not count.
bool HoldsFileOf(const std::string& probe) {
  const size_t space = probe.find(' ');
  if (space == std::string::npos) return false;
  const auto value =
      static_cast<uintptr_t>(std::strtoull(probe.substr(0, space).c_str(), nullptr, 10));
  const HANDLE held = reinterpret_cast<HANDLE>(value);
  BY_HANDLE_FILE_INFORMATION heldInfo, ownInfo;
  if (!GetFileInformationByHandle(held, &heldInfo)) return false;
  const HANDLE own = CreateFileA(probe.substr(space + 1).c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (own == INVALID_HANDLE_VALUE) return false;
  const bool same = GetFileInformationByHandle(own, &ownInfo) &&
                    heldInfo.dwVolumeSerialNumber == ownInfo.dwVolumeSerialNumber &&
                    heldInfo.nFileIndexHigh == ownInfo.nFileIndexHigh &&
                    heldInfo.nFileIndexLow == ownInfo.nFileIndexLow;
  CloseHandle(own);
  return same;
}

void AppendLog(const std::string& path, int argc, const char* argument) {
  std::ofstream log(path, std::ios::binary | std::ios::app);
  if (!log) return;
  log << "argc=" << argc << "\n"
      << "cmdline=" << GetCommandLineA() << "\n";
  if (argument != nullptr) log << "arg1=" << argument << "\n";
  const std::string probe = EnvironmentValue("VELMORA_STANDIN_HANDLE");
  if (!probe.empty())
    log << "handle=" << (HoldsFileOf(probe) ? "inherited" : "not inherited") << "\n";
}

// ---------------------------------------------------------------- mode ----

enum class Mode {
  kCopy,
  kInvert,
  kMix,
  kNone,
  kBadHeader,
  kOtherKind,
  kShort,
  kHeaderOnly,
  kLong,
  kShortInverted,
  kLongInverted,
  kHuge,
  kSleep,
  kUntil,
  kExit,
  kQuit,
  kCrash,
  kCrashAfterSaving,
  kProbe,
  kNote
};

struct Behaviour {
  Mode mode = Mode::kCopy;
  long number = 0;  // milliseconds for sleep, the exit code for exit, 1 for a hidden owner
  std::vector<HWND> windows;  // for probe
  std::string path;           // for until
};

bool ParseNumber(const std::string& text, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  out = std::strtol(text.c_str(), &end, 10);
  return *end == '\0';
}

std::optional<Behaviour> ParseMode(std::string text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  Behaviour b;
  struct Plain {
    const char* name;
    Mode mode;
  };
  static const Plain kPlain[] = {{"", Mode::kCopy},
                                 {"copy", Mode::kCopy},
                                 {"invert", Mode::kInvert},
                                 {"mix", Mode::kMix},
                                 {"none", Mode::kNone},
                                 {"badheader", Mode::kBadHeader},
                                 {"otherkind", Mode::kOtherKind},
                                 {"short", Mode::kShort},
                                 {"headeronly", Mode::kHeaderOnly},
                                 {"long", Mode::kLong},
                                 {"shortinverted", Mode::kShortInverted},
                                 {"longinverted", Mode::kLongInverted},
                                 {"huge", Mode::kHuge},
                                 {"crash", Mode::kCrash},
                                 {"crashaftersaving", Mode::kCrashAfterSaving}};
  for (const Plain& p : kPlain) {
    if (text == p.name) {
      b.mode = p.mode;
      return b;
    }
  }
  if (text.rfind("sleep:", 0) == 0 && ParseNumber(text.substr(6), b.number) && b.number >= 0) {
    b.mode = Mode::kSleep;
    return b;
  }
  if (text.rfind("until:", 0) == 0 && text.size() > 6) {
    b.mode = Mode::kUntil;
    b.path = text.substr(6);
    return b;
  }
  if (text.rfind("quit:", 0) == 0 && text.size() > 5) {
    char* end = nullptr;
    b.number = static_cast<long>(std::strtoul(text.c_str() + 5, &end, 0));
    if (*end != '\0') return std::nullopt;
    b.mode = Mode::kQuit;
    return b;
  }
  if (text.rfind("exit:", 0) == 0 && ParseNumber(text.substr(5), b.number)) {
    b.mode = Mode::kExit;
    return b;
  }
  const bool owned = text.rfind("ownednote:", 0) == 0;
  if (owned || text.rfind("note:", 0) == 0) {
    const size_t start = owned ? 10 : 5;
    char* end = nullptr;
    const unsigned long long handle = std::strtoull(text.c_str() + start, &end, 10);
    if (text.size() == start || *end != '\0') return std::nullopt;
    b.windows.push_back(reinterpret_cast<HWND>(static_cast<uintptr_t>(handle)));
    b.mode = Mode::kNote;
    b.number = owned ? 1 : 0;
    return b;
  }
  if (text.rfind("probe:", 0) == 0) {
    size_t start = 6;
    for (;;) {
      const size_t comma = text.find(',', start);
      const std::string item =
          text.substr(start, comma == std::string::npos ? comma : comma - start);
      char* end = nullptr;
      const unsigned long long handle = std::strtoull(item.c_str(), &end, 10);
      if (item.empty() || *end != '\0') return std::nullopt;
      b.windows.push_back(reinterpret_cast<HWND>(static_cast<uintptr_t>(handle)));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    b.mode = Mode::kProbe;
    return b;
  }
  return std::nullopt;
}

std::string ModeText(const std::string& folder) {
  if (auto control = ReadWholeFile(Join(folder, "standin.ctl"))) {
    return control->substr(0, control->find('\n'));
  }
  return EnvironmentValue("VELMORA_STANDIN_MODE");
}

// ----------------------------------------------------- job description ----

struct Job {
  std::string importPath;
  std::string exportedName;
  std::string exportPath;
  std::string processedName;
};

// Splits into lines that each end with CR LF; false when a line lacks it or
// holds a lone CR or LF.
bool SplitCrLfLines(const std::string& text, std::vector<std::string>& lines) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) return false;
    std::string line = text.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string::npos) return false;
    lines.push_back(std::move(line));
    start = end + 2;
  }
  return true;
}

// XML element text decoded: the five predefined entities become their
// characters. Nothing when the text holds a bare "<" or an "&" that starts
// none of them, as an XML reader refuses it too.
std::optional<std::string> DecodeText(const std::string& text) {
  static const struct {
    const char* entity;
    char character;
  } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string decoded;
  for (size_t at = 0; at < text.size();) {
    if (text[at] == '<') return std::nullopt;
    if (text[at] != '&') {
      decoded += text[at++];
      continue;
    }
    bool known = false;
    for (const auto& e : kEntities) {
      const size_t length = std::strlen(e.entity);
      if (text.compare(at, length, e.entity) == 0) {
        decoded += e.character;
        at += length;
        known = true;
        break;
      }
    }
    if (!known) return std::nullopt;
  }
  return decoded;
}

// The decoded value of "<name>value</name>", or nothing when the line is not
// that.
std::optional<std::string> ElementValue(const std::string& line, const std::string& name) {
  const std::string open = "<" + name + ">";
  const std::string close = "</" + name + ">";
  if (line.size() < open.size() + close.size()) return std::nullopt;
  if (line.compare(0, open.size(), open) != 0) return std::nullopt;
  if (line.compare(line.size() - close.size(), close.size(), close) != 0) return std::nullopt;
  return DecodeText(line.substr(open.size(), line.size() - open.size() - close.size()));
}

std::string Extension(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// Empty on success, otherwise what is wrong.
std::string ParseJob(const std::string& text, Job& job) {
  std::vector<std::string> lines;
  if (!SplitCrLfLines(text, lines)) return "every line must end with CR LF";
  if (lines.size() != 13) return "expected 13 lines, found " + std::to_string(lines.size());
  struct Fixed {
    size_t index;
    const char* text;
  };
  const Fixed kFixed[] = {{0, "<?xml version=\"1.0\"?>"},
                          {1, "<General>"},
                          {7, "<ImageList>"},
                          {9, "</ImageList>"},
                          {12, "</General>"}};
  for (const Fixed& f : kFixed) {
    if (lines[f.index] != f.text)
      return "line " + std::to_string(f.index + 1) + " is not " + f.text;
  }
  struct Element {
    size_t index;
    const char* name;
    std::string* value;
  };
  std::string source, pluginType, imageCount, sourcePath;
  const Element kElements[] = {
      {2, "SourceApplication", &source},   {3, "PluginType", &pluginType},
      {4, "ImageCount", &imageCount},      {5, "ImportPath", &job.importPath},
      {6, "SourcePath", &sourcePath},      {8, "Image0000", &job.exportedName},
      {10, "ExportPath", &job.exportPath}, {11, "ExportImage", &job.processedName}};
  for (const Element& e : kElements) {
    auto value = ElementValue(lines[e.index], e.name);
    if (!value) return "line " + std::to_string(e.index + 1) + " is not the element " + e.name;
    *e.value = *value;
  }
  if (source != "Photoshop") return "SourceApplication is not Photoshop";
  if (pluginType != "EXPORT" && pluginType != "FILTER" && pluginType != "UNKNOWN") {
    return "PluginType " + pluginType + " is unknown";
  }
  if (imageCount != "1") return "ImageCount is not 1";
  if (sourcePath != "NA") return "SourcePath is not NA";
  if (job.importPath.empty()) return "ImportPath is empty";
  if (job.importPath.back() == '\\') return "ImportPath ends with a backslash";
  if (job.importPath != job.exportPath) return "ImportPath and ExportPath differ";
  const std::string kind = Extension(job.exportedName);
  if (kind != "ppm" && kind != "pfm") return "Image0000 is neither .ppm nor .pfm";
  if (Extension(job.processedName) != kind) return "ExportImage is not of the kind of Image0000";
  if (job.exportedName.find_first_of("\\/") != std::string::npos ||
      job.processedName.find_first_of("\\/") != std::string::npos) {
    return "image names must not hold a folder";
  }
  return std::string();
}

// ------------------------------------------------------ exchange image ----

struct Image {
  bool isFloat = false;  // "PF" float map, otherwise "P6" 16-bit pixmap
  uint32_t width = 0;
  uint32_t height = 0;
  std::string samples;  // exactly width * height * 3 samples
};

size_t BytesPerSample(bool isFloat) { return isFloat ? 4 : 2; }

// A positive decimal without sign or leading zeros that fits an int32.
bool ParseDimension(const std::string& text, uint32_t& out) {
  if (text.empty() || text.size() > 10 || text[0] == '0') return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0x7fffffffu) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

// Empty on success, otherwise what is wrong.
std::string ParseImage(const std::string& bytes, const std::string& kind, Image& image) {
  std::string values[4];
  size_t position = 0;
  for (std::string& value : values) {
    const size_t end = bytes.find('\n', position);
    if (end == std::string::npos || end - position > 31) return "header line missing or too long";
    value = bytes.substr(position, end - position);
    position = end + 1;
  }
  if (values[0] == "P6" && kind == "ppm") {
    image.isFloat = false;
    if (values[3] != "65535") return "pixmap maximum value is not 65535";
  } else if (values[0] == "PF" && kind == "pfm") {
    image.isFloat = true;
    if (values[3] != "-1") return "float map scale is not -1";
  } else {
    return "magic " + values[0] + " does not fit the name's extension " + kind;
  }
  if (!ParseDimension(values[1], image.width) || !ParseDimension(values[2], image.height)) {
    return "width or height is not a positive decimal";
  }
  const uint64_t expected =
      uint64_t{image.width} * image.height * 3 * BytesPerSample(image.isFloat);
  if (bytes.size() - position != expected) {
    return "sample bytes: expected " + std::to_string(expected) + ", found " +
           std::to_string(bytes.size() - position);
  }
  image.samples = bytes.substr(position);
  return std::string();
}

std::string Header(bool isFloat, uint64_t width, uint64_t height, const char* maxValue) {
  return std::string(isFloat ? "PF" : "P6") + "\n" + std::to_string(width) + "\n" +
         std::to_string(height) + "\n" + maxValue + "\n";
}

std::string CanonicalHeader(const Image& image) {
  return Header(image.isFloat, image.width, image.height, image.isFloat ? "-1" : "65535");
}

uint16_t GetBigEndian16(const char* p) {
  return static_cast<uint16_t>((static_cast<uint8_t>(p[0]) << 8) | static_cast<uint8_t>(p[1]));
}

void PutBigEndian16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v >> 8);
  p[1] = static_cast<char>(v & 0xff);
}

// The machine is little-endian, as are float map samples.
float GetFloat(const char* p) {
  float v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void PutFloat(char* p, float v) { std::memcpy(p, &v, sizeof v); }

// Channels made unequal: red kept, green halved, blue cleared; what a gray
// host gets back is then the mean of three different values.
std::string Mixed(const Image& image) {
  std::string out = image.samples;
  const size_t step = BytesPerSample(image.isFloat);
  for (size_t i = 0, channel = 0; i + step <= out.size(); i += step, channel = (channel + 1) % 3) {
    if (image.isFloat) {
      const float v = GetFloat(&out[i]);
      PutFloat(&out[i], channel == 0 ? v : channel == 1 ? v / 2 : 0.0f);
    } else {
      const uint16_t v = GetBigEndian16(&out[i]);
      PutBigEndian16(&out[i], static_cast<uint16_t>(channel == 0 ? v : channel == 1 ? v / 2 : 0));
    }
  }
  return out;
}

std::string Inverted(const Image& image) {
  std::string out = image.samples;
  const size_t step = BytesPerSample(image.isFloat);
  for (size_t i = 0; i + step <= out.size(); i += step) {
    if (image.isFloat) {
      PutFloat(&out[i], 1.0f - GetFloat(&out[i]));
    } else {
      PutBigEndian16(&out[i], static_cast<uint16_t>(65535 - GetBigEndian16(&out[i])));
    }
  }
  return out;
}

// The same pixels in the other file kind: 16-bit values map to 0..1 floats
// and back, clamped.
std::string OtherKind(const Image& image) {
  const size_t count = image.samples.size() / BytesPerSample(image.isFloat);
  std::string out(count * BytesPerSample(!image.isFloat), '\0');
  for (size_t i = 0; i < count; ++i) {
    if (image.isFloat) {
      float v = GetFloat(&image.samples[i * 4]);
      v = v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
      PutBigEndian16(&out[i * 2], static_cast<uint16_t>(v * 65535.0f + 0.5f));
    } else {
      PutFloat(&out[i * 4], GetBigEndian16(&image.samples[i * 2]) / 65535.0f);
    }
  }
  return Header(!image.isFloat, image.width, image.height, image.isFloat ? "65535" : "-1") + out;
}

std::string Processed(const Image& image, Mode mode) {
  const std::string copy = CanonicalHeader(image) + image.samples;
  switch (mode) {
    case Mode::kInvert:
    case Mode::kCrashAfterSaving:
      return CanonicalHeader(image) + Inverted(image);
    case Mode::kMix:
      return CanonicalHeader(image) + Mixed(image);
    case Mode::kBadHeader:
      return Header(image.isFloat, image.width, image.height, "255") + image.samples;
    case Mode::kOtherKind:
      return OtherKind(image);
    case Mode::kShort:
      return copy.substr(0, copy.size() - 1);
    case Mode::kHeaderOnly:
      return CanonicalHeader(image);
    case Mode::kLong:
      return copy + std::string(16, '\xab');
    // Inverted samples show which rows of a cut or padded file reached the host.
    case Mode::kShortInverted: {
      const std::string inverted = CanonicalHeader(image) + Inverted(image);
      return inverted.substr(0, inverted.size() - 1);
    }
    case Mode::kLongInverted:
      return CanonicalHeader(image) + Inverted(image) + std::string(16, '\xab');
    case Mode::kHuge:
      return Header(image.isFloat, 2147483000u, 2147483000u, image.isFloat ? "-1" : "65535") +
             image.samples;
    default:
      return copy;
  }
}

// What a program running beside the host sees of its windows: whether each
// answers a sent message within 2 seconds, and whether it takes input.
constexpr UINT kProbeMessage = WM_APP + 1;
constexpr UINT kProbeTimeoutMilliseconds = 2000;
constexpr WPARAM kProbeQuitCode = 23;

void Probe(const std::vector<HWND>& windows, const std::string& logPath) {
  std::ofstream log(logPath, std::ios::binary | std::ios::app);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  for (HWND window : windows) {
    DWORD_PTR answer = 0;
    QueryPerformanceCounter(&start);
    const LRESULT sent = SendMessageTimeoutA(window, kProbeMessage, 0, 0, SMTO_NORMAL,
                                             kProbeTimeoutMilliseconds, &answer);
    QueryPerformanceCounter(&end);
    const bool enabled = IsWindowEnabled(window) != FALSE;
    log << "probe=" << reinterpret_cast<uintptr_t>(window) << " answered=" << (sent != 0 ? 1 : 0)
        << " result=" << answer << " enabled=" << (enabled ? 1 : 0)
        << " microseconds=" << (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart
        << "\n";
  }
  PostMessageA(windows.front(), WM_QUIT, kProbeQuitCode, 0);
}

// Serves this program's own messages for a while.
void PumpFor(DWORD milliseconds, const std::function<bool()>& done) {
  const DWORD start = GetTickCount();
  while (!done() && GetTickCount() - start < milliseconds) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    Sleep(20);
  }
}

struct OwnedSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindOwned(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<OwnedSearch*>(parameter);
  if (GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// As UTF-8: the note's words need not fit the code page.
std::string WindowText(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  char utf8[4096] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}

// What the host shows while this program has the image, and what its button
// does; see note: in the header.
void InspectNote(HWND host, const std::string& logPath, bool hiddenOwner) {
  std::ofstream log(logPath, std::ios::binary | std::ios::app);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VelmoraStandinWindow";
  RegisterClassA(&windowClass);
  const HWND owner = hiddenOwner
                         ? CreateWindowExA(0, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 1, 1,
                                           nullptr, nullptr, windowClass.hInstance, nullptr)
                         : nullptr;
  const HWND own = CreateWindowExA(0, windowClass.lpszClassName, "Velmora stand-in",
                                   WS_OVERLAPPEDWINDOW | WS_VISIBLE, 200, 150, 400, 300, owner,
                                   nullptr, windowClass.hInstance, nullptr);
  OwnedSearch search{host, nullptr};
  PumpFor(5000, [&search] {
    EnumWindows(&FindOwned, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  });
  const HWND note = search.found;
  if (note == nullptr) {
    log << "note=0\n";
    DestroyWindow(own);
    if (owner != nullptr) DestroyWindow(owner);
    return;
  }
  const bool active = GetForegroundWindow() == note;
  RECT frame{};
  GetWindowRect(note, &frame);
  const HWND text = FindWindowExA(note, nullptr, "Static", nullptr);
  const HWND button = FindWindowExA(note, nullptr, "Button", nullptr);
  SetForegroundWindow(note);
  if (button != nullptr) {
    PostMessageA(note, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
  }
  PumpFor(2000, [own] { return GetForegroundWindow() == own; });
  log << "note=" << reinterpret_cast<uintptr_t>(note)
      << " visible=" << (IsWindowVisible(note) ? 1 : 0)
      << " enabled=" << (IsWindowEnabled(note) ? 1 : 0) << " active=" << (active ? 1 : 0)
      << " frame=" << frame.left << ',' << frame.top << ',' << frame.right << ',' << frame.bottom
      << " owner=" << reinterpret_cast<uintptr_t>(GetWindow(note, GW_OWNER))
      << " front=" << (GetForegroundWindow() == own ? 1 : 0) << "\n"
      << "note-title=" << WindowText(note) << "\n"
      << "note-text=" << (text != nullptr ? WindowText(text) : std::string()) << "\n"
      << "note-button=" << (button != nullptr ? WindowText(button) : std::string()) << "\n";
  DestroyWindow(own);
  if (owner != nullptr) DestroyWindow(owner);
}

// Ends the process with the exception's code instead of starting a debugger,
// which under Wine could wait for someone to close its window.
LONG WINAPI EndWithoutDebugger(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

// A real access violation that nobody handles.
[[noreturn]] void Crash() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndWithoutDebugger);
  std::fflush(nullptr);
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  std::abort();  // not reached
}

}  // namespace

int main(int argc, char** argv) {
  const char* argument = argc >= 2 ? argv[1] : nullptr;
  const std::string jobFolder = argument != nullptr ? FolderOf(argument) : std::string(".");
  const std::string logOverride = EnvironmentValue("VELMORA_STANDIN_LOG");
  const std::string logPath = logOverride.empty() ? Join(jobFolder, "standin.log") : logOverride;
  AppendLog(logPath, argc, argument);

  if (argc != 2) return Fail(kExitUsage, "usage: Velmora.exe <job description path>");
  const std::string modeText = ModeText(jobFolder);
  const std::optional<Behaviour> behaviour = ParseMode(modeText);
  if (!behaviour) return Fail(kExitBadMode, "unknown mode '" + modeText + "'");

  const std::optional<std::string> jobText = ReadWholeFile(argument);
  if (!jobText) return Fail(kExitBadJob, std::string("cannot read ") + argument);
  Job job;
  const std::string jobError = ParseJob(*jobText, job);
  if (!jobError.empty()) return Fail(kExitBadJob, "malformed job description: " + jobError);

  const std::string exportedPath = Join(job.importPath, job.exportedName);
  const std::optional<std::string> exported = ReadWholeFile(exportedPath);
  if (!exported) return Fail(kExitBadImage, "cannot read " + exportedPath);
  Image image;
  const std::string imageError = ParseImage(*exported, Extension(job.exportedName), image);
  if (!imageError.empty())
    return Fail(kExitBadImage, "malformed " + exportedPath + ": " + imageError);

  switch (behaviour->mode) {
    case Mode::kCrash:
      Crash();
    case Mode::kNone:
      return kExitOk;
    case Mode::kQuit:
      std::fflush(nullptr);
      ExitProcess(static_cast<UINT>(behaviour->number));
    case Mode::kSleep:
      Sleep(static_cast<DWORD>(behaviour->number));
      break;
    case Mode::kUntil:
      for (int waited = 0; waited < 600000 &&
                           GetFileAttributesA(behaviour->path.c_str()) == INVALID_FILE_ATTRIBUTES;
           waited += 50) {
        Sleep(50);
      }
      break;
    case Mode::kProbe:
      Probe(behaviour->windows, logPath);
      break;
    case Mode::kNote:
      InspectNote(behaviour->windows.front(), logPath, behaviour->number != 0);
      break;
    default:
      break;
  }

  const std::string processedPath = Join(job.exportPath, job.processedName);
  if (!WriteWholeFile(processedPath, Processed(image, behaviour->mode))) {
    return Fail(kExitWriteFailed, "cannot write " + processedPath);
  }
  if (behaviour->mode == Mode::kCrashAfterSaving) Crash();
  return behaviour->mode == Mode::kExit ? static_cast<int>(behaviour->number) : kExitOk;
}

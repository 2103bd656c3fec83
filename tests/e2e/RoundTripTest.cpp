// The whole round trip through the real plug-in DLL and the stand-in
// application: every pixel format, every way a run can fail, each with its
// result code, the files it leaves and what happens to the host image, and
// the host's windows while the application runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/PluginContext.h"
#include "support/ImagePattern.h"
#include "support/PluginLibrary.h"
#include "support/SettingsFile.h"
#include "support/StandinProbe.h"
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
using testsupport::WindowNumber;

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

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string bytes;
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
    bytes.append(buffer, read);
  CloseHandle(file);
  return bytes;
}

std::string ReadBytes(const std::string& path) {
  return ReadWholeFile(std::wstring(path.begin(), path.end()));  // ASCII paths only
}

// Points TMP and TEMP of this process, and so the plug-in's temporary
// folder, at a fresh folder given as wide text, as Windows gives it to an
// account whose name is outside the ANSI code page. Puts both back and
// removes the folder afterwards.
class WideTempFolder {
 public:
  explicit WideTempFolder(const std::wstring& folder) : folder_(folder) {
    for (Saved& s : saved_) {
      std::vector<wchar_t> buffer(32768);
      const DWORD length = GetEnvironmentVariableW(s.name, buffer.data(), 32768);
      s.present = length > 0 && length < 32768;
      if (s.present) s.value.assign(buffer.data(), length);
      SetEnvironmentVariableW(s.name, folder.c_str());
    }
    RemoveTree(folder_);
    CreateDirectoryW(folder_.c_str(), nullptr);
  }
  ~WideTempFolder() {
    for (const Saved& s : saved_)
      SetEnvironmentVariableW(s.name, s.present ? s.value.c_str() : nullptr);
    RemoveTree(folder_);
  }
  WideTempFolder(const WideTempFolder&) = delete;
  WideTempFolder& operator=(const WideTempFolder&) = delete;

  const std::wstring& Path() const { return folder_; }

 private:
  struct Saved {
    const wchar_t* name;
    bool present;
    std::wstring value;
  };
  std::wstring folder_;
  Saved saved_[2] = {{L"TMP", false, {}}, {L"TEMP", false, {}}};
};

// What xmllint (the Linux program, started through Wine) prints for the text
// of ImportPath in the document it reads from its standard input, or its
// complaints, and its exit status. Wine hands a Linux program no process
// handle and only the standard input and output, so a shell reports
// everything there, the end last.
struct XmllintResult {
  bool ended = false;
  std::string output;
  std::string exitStatus;
};

XmllintResult ReadImportPathWithXmllint(const std::wstring& document, const std::wstring& scratch) {
  XmllintResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  const std::wstring outputPath = scratch + L"\\xmllint output.txt";
  const HANDLE input = CreateFileW(document.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION info = {};
    char commandLine[] =
        "Z:\\bin\\sh -c \"/usr/bin/xmllint --xpath 'string(/General/ImportPath)' - 2>&1; "
        "status=$?; echo; echo end=$status\"";
    if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &info)) {
      if (info.hProcess != nullptr) CloseHandle(info.hProcess);
      if (info.hThread != nullptr) CloseHandle(info.hThread);
      // "<answer>\n\nend=<status>\n"
      const std::string kEnd = "\n\nend=";
      for (int waited = 0; waited < 30000 && !result.ended; waited += 50) {
        const std::string text = ReadWholeFile(outputPath);
        const size_t end = text.rfind(kEnd);
        if (end != std::string::npos && text.back() == '\n') {
          result.ended = true;
          result.output = text.substr(0, end);
          result.exitStatus = text.substr(end + kEnd.size(), text.size() - end - kEnd.size() - 1);
        } else {
          Sleep(50);
        }
      }
    }
  }
  for (HANDLE h : {input, output})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return result;
}

// A Velmora.exe where a search for one would find it first: beside the
// host's executable, whose folder is also the tests' current folder.
class PlantedApplication {
 public:
  PlantedApplication() {
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    path_ = module;
    path_.erase(path_.find_last_of('\\') + 1);
    path_ += "Velmora.exe";
    planted_ = CopyFileA(BuildFile("app/Velmora.exe").c_str(), path_.c_str(), FALSE) != 0;
  }
  ~PlantedApplication() { DeleteFileA(path_.c_str()); }
  PlantedApplication(const PlantedApplication&) = delete;
  PlantedApplication& operator=(const PlantedApplication&) = delete;

  bool Planted() const { return planted_; }

 private:
  std::string path_;
  bool planted_ = false;
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

// Puts another file behind the plug-in's exported file's descriptor, so
// that its next write fails: a read-only view of itself, or Linux's
// /dev/full, which answers every write as a full disk does. The plug-in and
// this program share the C runtime's descriptors.
void RedirectExportFile(const TestHost& host, const std::string& path, int flags) {
  const PluginContext* context = ContextOf(host);
  ASSERT_NE(context, nullptr);
  const int other = _open(path.c_str(), flags | _O_BINARY);
  ASSERT_NE(other, -1);
  EXPECT_EQ(_dup2(other, context->exportFile.descriptor), 0);
  _close(other);
}

void RefuseFurtherWrites(const TestHost& host) {
  RedirectExportFile(host, WorkFolder() + "Velmora.ppm", _O_RDONLY);
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
    EXPECT_EQ(host.DataSlotLocks(), 0);
    const PluginContext* context = ContextOf(host);
    EXPECT_NE(context, nullptr);
    if (context != nullptr) {
      EXPECT_EQ(context->exportFile.descriptor, -1);
      EXPECT_EQ(context->importFile.descriptor, -1);
      EXPECT_EQ(context->converter, nullptr);
    }
    return result;
  }

  // A run with the stand-in inverting, through the entry point or another
  // way to call it: Start succeeds and the host's image becomes the
  // inversion of what it was.
  void ExpectInvertedRun(const HostOptions& o, PluginEntry entry = nullptr);

  // The note's words in UTF-8: its title, a part of its sentence, its
  // button.
  struct NoteWords {
    std::string title;
    std::string sentence;
    std::string button;
  };
  static NoteWords EnglishNote() { return {"Velmora", "open in Velmora", "Show Velmora"}; }

  // A run with the stand-in inspecting the note the host shows meanwhile:
  // those words, each with room for all of it; and, with focus, where the
  // activation goes (which other tests' windows in the same display may
  // disturb: checked once, for the English words).
  void ExpectNoteWhileTheApplicationRuns(bool workerThread, const NoteWords& words = EnglishNote(),
                                         bool focus = true);

  PluginLibrary plugin_;
  std::unique_ptr<SettingsFile> settings_;
};

// Tall enough that every exchange file spans several blocks, which are
// written and read on the plug-in's background thread.
TEST_F(RoundTripTest, UnchangedRoundTripReturnsEveryFormatUnchanged) {
  StandinMode copy("copy");
  for (int depth : {8, 16, 32}) {
    for (bool gray : {false, true}) {
      SCOPED_TRACE(testing::Message() << depth << (gray ? " gray" : " rgb"));
      const HostOptions o = testsupport::ImageOptions(1100, 400, depth, gray);
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

// Every sample of the host is the inversion of the original's.
void ExpectInverted(const TestHost& host, const TestHost& original, const HostOptions& o) {
  for (int32_t y = 0; y < o.height; ++y)
    for (int32_t x = 0; x < o.width; ++x)
      for (int p = 0; p < o.planes; ++p)
        ASSERT_EQ(host.Sample(x, y, p), Inverted(original.Sample(x, y, p), o.depth))
            << x << "," << y << "," << p;
}

void RoundTripTest::ExpectInvertedRun(const HostOptions& o, PluginEntry entry) {
  StandinMode invert("invert");
  TestHost host(o);
  FillPattern(host, o);
  TestHost original(o);
  original.Image() = host.Image();
  ASSERT_EQ(Apply(host, entry), 0) << host.LastError();
  ExpectInverted(host, original, o);
}

TEST_F(RoundTripTest, InvertingApplicationGivesTheInvertedImage) {
  std::vector<std::pair<const char*, PluginEntry>> entries = {{"aligned stack", plugin_.entry()}};
#if defined(__i386__)
  gMisalignedTarget = plugin_.entry();
  entries.push_back({"stack aligned to 4 bytes only", MisalignedEntry});
#endif
  for (const auto& [how, entry] : entries) {
    for (int depth : {8, 16, 32}) {
      for (bool gray : {false, true}) {
        SCOPED_TRACE(testing::Message() << depth << (gray ? " gray, " : " rgb, ") << how);
        ExpectInvertedRun(testsupport::ImageOptions(1001, 2, depth, gray), entry);
      }
    }
  }
}

TEST_F(RoundTripTest, HostsThatLeaveDepthAtZeroGetTheDepthOfTheirMode) {
  StandinMode invert("invert");
  for (bool gray : {false, true}) {
    SCOPED_TRACE(gray ? "gray" : "rgb");
    const HostOptions o = testsupport::ImageOptions(1001, 2, 8, gray);
    TestHost host(o);
    host.Record().depth = 0;
    FillPattern(host, o);
    TestHost original(o);
    original.Image() = host.Image();
    ASSERT_EQ(Apply(host), 0);
    ExpectInverted(host, original, o);
  }
}

TEST_F(RoundTripTest, RoundTripsUnderTemporaryFoldersOfAnyName) {
  const std::wstring buildFolder = Widen(BuildFile(""));
  // Cyrillic letters have no place in the ANSI code page (1252 under Wine);
  // an ampersand is markup in the job description; "\u00e9" is there, but as
  // a byte that an XML reader takes for broken UTF-8; a folder of 250
  // characters leaves no room for the working folder's files in 260 bytes
  // (the system gives no temporary folder of more than 260), its short form
  // does.
  const std::wstring overLong = L"long temp " + std::wstring(250 - buildFolder.size() - 10, L'x');
  for (const std::wstring& name :
       {std::wstring(L"\u041f\u0440\u0438\u043c\u0435\u0440 temp"), std::wstring(L"R&D temp"),
        std::wstring(L"Jos\u00e9 temp"), overLong}) {
    SCOPED_TRACE(testing::Message() << name.size() << " characters");
    WideTempFolder temp(buildFolder + name);
    ExpectInvertedRun(testsupport::ImageOptions(300, 2, 8, false));

    // An XML reader reads the job description and finds in it a narrow path
    // of the working folder that the application can open.
    const std::wstring work = temp.Path() + L"\\velmorafilter";
    const XmllintResult xml = ReadImportPathWithXmllint(work + L"\\Data.lif", temp.Path());
    ASSERT_TRUE(xml.ended);
    EXPECT_EQ(xml.exitStatus, "0") << xml.output;
    EXPECT_TRUE(std::all_of(xml.output.begin(), xml.output.end(), [](char c) {
      return c > 0 && c < 0x7f && c != '?';
    })) << xml.output;
    EXPECT_TRUE(Exists(xml.output + "\\Velmora_Processed.ppm")) << xml.output;
    std::vector<wchar_t> longForm(32768);
    ASSERT_GT(GetLongPathNameW(Widen(xml.output).c_str(), longForm.data(), 32768), 0u);
    EXPECT_TRUE(longForm.data() == work);
  }
}

// Run by the test command a second time in the double-byte code page 932,
// for a user named "\u80fd" (0x94 0x5C, whose second byte is a backslash's):
// the settings file is found under that profile folder, and an application
// folder that ends in such a character is found too.
TEST_F(RoundTripTest, FoldersEndingInASecondByteOf0x5CWorkInCodePage932) {
  if (GetACP() != 932) GTEST_SKIP() << "runs with the ANSI code page 932";
  // Wine makes a new user's profile and temporary folders only as it goes.
  char userProfile[MAX_PATH] = {}, temp[MAX_PATH] = {};
  GetEnvironmentVariableA("USERPROFILE", userProfile, MAX_PATH);
  CreateDirectoryA(userProfile, nullptr);
  GetTempPathA(MAX_PATH, temp);
  CreateDirectoryA(temp, nullptr);
  char profile[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, 0, profile), S_OK);
  const std::string profileFolder = profile;
  ASSERT_GE(profileFolder.size(), 2u);
  ASSERT_EQ(profileFolder.substr(profileFolder.size() - 2), "\x94\x5C") << profileFolder;
  const std::string app = profileFolder + "\\Velmora \x94\x5C";
  CreateDirectoryA(app.c_str(), nullptr);
  const std::string executable = app + "\\Velmora.exe";
  ASSERT_TRUE(CopyFileA(BuildFile("app/Velmora.exe").c_str(), executable.c_str(), FALSE));
  {
    SettingsFile settings(SettingsFor(app));
    ExpectInvertedRun(testsupport::ImageOptions(300, 2, 8, false));
  }
  DeleteFileA(executable.c_str());
  RemoveDirectoryA(app.c_str());
}

// In a double-byte code page the host's 255 bytes end between characters:
// a settings value of two-byte characters quoted in the message, starting at
// an even and at an odd offset, is cut before a character that does not fit
// whole, once at 255 bytes and once at 254.
TEST_F(RoundTripTest, ErrorStringIsCutBetweenCharactersInCodePage932) {
  if (GetACP() != 932) GTEST_SKIP() << "runs with the ANSI code page 932";
  char userProfile[MAX_PATH] = {};
  GetEnvironmentVariableA("USERPROFILE", userProfile, MAX_PATH);
  CreateDirectoryA(userProfile, nullptr);
  std::vector<size_t> lengths;
  for (const std::string& start : {std::string(), std::string("x")}) {
    std::string value = start;
    for (int i = 0; i < 150; ++i) value += "\x91\x8a";  // a relative folder of 150 kanji
    SettingsFile settings(SettingsFor(value));
    HostOptions o = testsupport::ImageOptions(4, 2, 8, false);
    o.errorString = true;
    TestHost host(o);
    EXPECT_EQ(Apply(host), -30904);
    const std::string text = host.ErrorText();
    lengths.push_back(text.size());
    EXPECT_NE(text.find(value.substr(0, 20)), std::string::npos) << text;
    // Not a lead byte left without its second byte.
    EXPECT_GT(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(),
                                  static_cast<int>(text.size()), nullptr, 0),
              0);
  }
  std::sort(lengths.begin(), lengths.end());
  EXPECT_EQ(lengths, (std::vector<size_t>{254, 255}));
}

// An inheritable handle of the host, as hosts have for their pipes and logs.
class InheritableProbeFile {
 public:
  explicit InheritableProbeFile(const std::string& path) : path_(path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~InheritableProbeFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    DeleteFileA(path_.c_str());
  }
  InheritableProbeFile(const InheritableProbeFile&) = delete;
  InheritableProbeFile& operator=(const InheritableProbeFile&) = delete;

  bool Open() const { return handle_ != INVALID_HANDLE_VALUE; }
  // "<handle value> <path>", as the stand-in takes it.
  std::string Probe() const {
    return std::to_string(reinterpret_cast<uintptr_t>(handle_)) + " " + path_;
  }

 private:
  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

size_t CountLines(const std::string& text, const std::string& line) {
  size_t count = 0;
  std::istringstream lines(text);
  for (std::string each; std::getline(lines, each);) count += each == line ? 1 : 0;
  return count;
}

TEST_F(RoundTripTest, TheApplicationInheritsNoHandleOfTheHost) {
  StandinMode copy("copy");
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const InheritableProbeFile probe(std::string(temp) + "velmora inherited handle probe.txt");
  ASSERT_TRUE(probe.Open());
  SetEnvironmentVariableA("VELMORA_STANDIN_HANDLE", probe.Probe().c_str());
  const HostOptions o = testsupport::ImageOptions(4, 2, 8, false);
  TestHost host(o);
  const int16_t result = Apply(host);

  // The stand-in's check can tell: started with inheritance on, it holds the
  // handle.
  const std::string job = WorkFolder() + "Data.lif";
  std::string commandLine = "\"" + BuildFile("app/Velmora.exe") + "\" \"" + job + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  const bool started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info) != 0;
  if (started) {
    WaitForSingleObject(info.hProcess, 30000);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  SetEnvironmentVariableA("VELMORA_STANDIN_HANDLE", nullptr);

  EXPECT_EQ(result, 0);
  ASSERT_TRUE(started);
  const std::string log = testsupport::ReadTextFile(WorkFolder() + "standin.log").value_or("");
  EXPECT_EQ(CountLines(log, "handle=not inherited"), 1u) << log;
  EXPECT_EQ(CountLines(log, "handle=inherited"), 1u) << log;
  EXPECT_LT(log.find("handle=not inherited"), log.find("handle=inherited")) << log;
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

// A selection over a 3300-pixel row, four chunks: a feathered edge rising
// through every coverage value, a chunk wholly inside, an edge falling, a
// chunk wholly outside; the edges move with the row.
uint8_t Feathered(int32_t x, int32_t y) {
  if (x < 1000) return static_cast<uint8_t>(std::clamp(x - 600 - y, 0, 255));
  if (x < 2000) return 255;
  return static_cast<uint8_t>(std::clamp(2455 - x + y, 0, 255));
}

TEST_F(RoundTripTest, ASelectionKeepsTheImageOutsideItAndBlendsItsFeatheredEdge) {
  StandinMode invert("invert");
  std::ostringstream table;
  table << "| host image | coverage 0 | coverage 255 | between: largest distance from the "
           "exact blend |\n|---|---|---|---|\n";
  for (int depth : {8, 16, 32}) {
    for (bool gray : {false, true}) {
      HostOptions o = testsupport::ImageOptions(3300, 3, depth, gray);
      // Padded mask rows everywhere, 32-bit coordinates for gray images.
      o.maskRowPadding = 5;
      o.bigDocument = gray;
      for (int32_t y = 0; y < o.height; ++y)
        for (int32_t x = 0; x < o.width; ++x) o.mask.push_back(Feathered(x, y));
      SCOPED_TRACE(testing::Message() << depth << (gray ? " gray, 32-bit coordinates" : " rgb"));
      TestHost host(o);
      FillPattern(host, o);
      TestHost original(o);
      original.Image() = host.Image();
      ASSERT_EQ(Apply(host), 0);
      // The plug-in blends by the selection itself: the host must not mask
      // a second time.
      EXPECT_EQ(host.Record().autoMask, 0);

      double farthest = 0;
      const size_t sampleSize = host.SampleSize();
      for (int32_t y = 0; y < o.height; ++y)
        for (int32_t x = 0; x < o.width; ++x)
          for (int p = 0; p < o.planes; ++p) {
            const uint8_t m = Feathered(x, y);
            const double before = original.Sample(x, y, p);
            const double after = host.Sample(x, y, p);
            const double processed = Inverted(before, depth);
            const size_t at = ((static_cast<size_t>(y) * o.width + x) * o.planes + p) * sampleSize;
            if (m == 0) {
              ASSERT_EQ(
                  std::memcmp(host.Image().data() + at, original.Image().data() + at, sampleSize),
                  0)
                  << x << "," << y;
            } else if (m == 255) {
              ASSERT_EQ(after, processed) << x << "," << y;
            } else {
              const double exact = before + (processed - before) * m / 255.0;
              farthest = std::max(farthest, std::fabs(after - exact));
              // The nearest host value; floats within their rounding.
              ASSERT_LE(std::fabs(after - exact), depth == 32 ? 1e-6 : 0.5)
                  << x << "," << y << " coverage " << int{m};
            }
          }
      // The mask is asked for with every import request, over its pixels, in
      // the coordinates in use, and never on the export.
      const std::vector<testhost::Request>& requests = host.Requests();
      ASSERT_EQ(requests.size(), 2u * 3u * 4u);
      for (size_t k = 0; k < requests.size(); ++k) {
        const testhost::Request& q = requests[k];
        EXPECT_EQ(q.used32BitCoordinates, gray);
        if (k < requests.size() / 2) {
          EXPECT_FALSE(q.maskTop < q.maskBottom && q.maskLeft < q.maskRight) << k;
        } else {
          EXPECT_TRUE(q.maskTop == q.top && q.maskLeft == q.left && q.maskBottom == q.bottom &&
                      q.maskRight == q.right)
              << k;
        }
      }
      table << "| " << depth << "-bit " << (gray ? "gray, 32-bit coordinates" : "RGB")
            << " | bit-identical to the original | exactly the processed value | " << farthest
            << (depth == 32 ? "" : " host units") << " |\n";
    }
  }
  std::printf("%s", table.str().c_str());
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

// The system's own text for an error code, on one line, as the plug-in
// quotes it.
std::string SystemText(DWORD code) {
  char text[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  std::string line = text;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// A file of the working folder held open as a scanner or a preview pane
// holds it: shared for reading only, so that it can be neither deleted nor
// written.
class HeldFile {
 public:
  explicit HeldFile(const std::string& path) {
    CreateDirectoryA(WorkFolder().c_str(), nullptr);
    handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~HeldFile() { Release(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool Held() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Release() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(RoundTripTest, OldResultThatCannotBeDeletedIsNeverImported) {
  StandinMode invert("invert");
  const std::string old = WorkFolder() + "Velmora_Processed.ppm";
  HeldFile held(old);
  ASSERT_TRUE(held.Held());
  DeleteFileA((WorkFolder() + "standin.log").c_str());
  HostOptions o = testsupport::ImageOptions(40, 3, 8, false);
  for (bool offered : {false, true}) {
    SCOPED_TRACE(offered ? "errorString offered" : "no errorString");
    o.errorString = offered;
    TestHost host(o);
    FillPattern(host, o);
    const std::vector<uint8_t> original = host.Image();
    EXPECT_EQ(Apply(host), offered ? -30904 : -50);
    EXPECT_TRUE(host.Image() == original);
    EXPECT_TRUE(host.Requests().empty());
    EXPECT_FALSE(Exists(WorkFolder() + "Velmora.ppm"));
    EXPECT_FALSE(Exists(WorkFolder() + "standin.log"));
    if (offered) {
      const std::string text = host.ErrorText();
      EXPECT_NE(text.find(old), std::string::npos) << text;
      EXPECT_NE(text.find(SystemText(ERROR_SHARING_VIOLATION)), std::string::npos) << text;
    }
  }
  held.Release();
  TestHost host(o);
  EXPECT_EQ(Apply(host), 0);  // once it is gone, the next run works

  // A leftover marked read-only, as copied from a disc or a backup, is
  // deleted like any other: the run imports its own result.
  std::ofstream(old, std::ios::binary) << "P6\n40 3\n65535\n";
  ASSERT_TRUE(SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_READONLY));
  ExpectInvertedRun(o);
}

// ---- failures, produced for real ------------------------------------------

// Copied: the application's unchanged copy was imported (every request made).
// Text of the ANSI code page as its reader sees it.
std::wstring FromCodePage(const std::string& text) {
  std::wstring words(text.size(), L'\0');
  words.resize(
      static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                              words.data(), static_cast<int>(words.size()))));
  return words;
}

std::string Utf8(const std::wstring& text) {
  std::string utf8(text.size() * 3, '\0');
  utf8.resize(static_cast<size_t>(
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                          static_cast<int>(utf8.size()), nullptr, nullptr)));
  return utf8;
}

// The words a host with the Unicode error channel got, once every suite
// and string the plug-in took has been given back, and never an error suite
// left without text.
std::wstring UnicodeWords(const TestHost& host) {
  const testhost::SuiteUse& suites = host.Suites();
  EXPECT_EQ(suites.held, 0) << "a suite not given back";
  EXPECT_EQ(suites.liveStrings, 0) << "a string not released";
  EXPECT_FALSE(suites.errorSuiteLeftEmpty);
  EXPECT_FALSE(suites.unterminatedString);
  EXPECT_FALSE(suites.unicodeText.empty());
  return std::wstring(suites.unicodeText.begin(), suites.unicodeText.end());
}

enum class Image { Untouched, Copied, Inverted, Chunks };

struct FaultCase {
  std::string name;
  const char* mode;                        // what the stand-in does
  std::function<void(HostOptions&)> host;  // how the host misbehaves
  std::optional<std::string> settings;     // null: no settings file
  int16_t expected;                        // the code for hosts without errorString
  // What the message names for hosts with errorString, which then get
  // -30904; none: those hosts get the same code and no text.
  std::vector<std::string> says;
  Image image;
  int storedChunks = 0;    // for Image::Chunks
  bool jobWritten = true;  // Data.lif left in the folder
  bool applicationStarted = true;
  bool exported = true;  // Velmora.ppm left in the folder
  // Sets up the world the case fails in, for as long as the result lives.
  std::function<std::shared_ptr<void>()> arrange = {};
};

// 2500 x 3 RGB 16-bit: three chunks per row, nine requests per pass.
constexpr int kRequestsPerPass = 9;
// Its samples in the exchange file, and the whole file with its header.
constexpr int kSampleBytes = 2500 * 3 * 6;
constexpr int kExportFileBytes = kSampleBytes + 16;

// The facts a message must name; none: no message.
template <typename... Facts>
std::vector<std::string> Says(const Facts&... facts) {
  return {std::string(facts)...};
}

// Whether the message names the fact: whole, or, for a full path, shortened
// in its middle as the plug-in does to fit the host's 255 bytes: its drive
// and first folder, "...", then its last names.
bool Names(const std::string& message, const std::string& fact) {
  if (message.find(fact) != std::string::npos) return true;
  if (fact.size() < 4 || fact[1] != ':' || fact[2] != '\\') return false;
  const size_t first = fact.find('\\', 3);
  if (first == std::string::npos) return false;
  const std::string head = fact.substr(0, first) + "\\...";
  const size_t at = message.find(head);
  if (at == std::string::npos) return false;
  const size_t from = at + head.size();
  const size_t last = fact.find_last_of('\\', fact.size() - 2);
  for (size_t cut = last; cut != std::string::npos && cut > first;
       cut = fact.find_last_of('\\', cut - 1)) {
    if (message.compare(from, fact.size() - cut, fact, cut, std::string::npos) == 0) return true;
  }
  return false;
}

// Runs a command of the Linux side through its shell and waits until it has
// ended: Wine hands a Linux program no process handle, so the command
// creates a marker file last.
bool RunShell(const std::string& command) {
  const std::string marker = std::string(std::getenv("VELMORA_BINARY_DIR")) + "/shell-done";
  const std::string windowsMarker = testsupport::ToWindowsPath(marker);
  DeleteFileA(windowsMarker.c_str());
  std::string commandLine = "Z:\\bin\\sh -c \"" + command + "; touch '" + marker + "'\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  if (info.hProcess != nullptr) CloseHandle(info.hProcess);
  if (info.hThread != nullptr) CloseHandle(info.hThread);
  for (int waited = 0; waited < 30000; waited += 50) {
    if (DeleteFileA(windowsMarker.c_str())) return true;
    Sleep(50);
  }
  return false;
}

// The temporary folder a case gives the plug-in, as a folder of the build
// tree: its Windows path and its Linux path.
struct TempFolderCase {
  std::string windows;
  std::string posix;
};
TempFolderCase BuildTempFolder(const std::string& name) {
  return {BuildFile(name), std::string(std::getenv("VELMORA_BINARY_DIR")) + "/" + name};
}

// A small disk of its own for the temporary folder: a tmpfs of kSmallDiskBytes
// mounted on the case's folder for as long as the result lives; null when it
// cannot be mounted here (that needs root, and not every container allows it).
constexpr uint64_t kSmallDiskBytes = 32768;
std::shared_ptr<void> MountSmallDisk(const TempFolderCase& folder) {
  RunShell("mkdir -p '" + folder.posix + "' && mount -t tmpfs -o size=" +
           std::to_string(kSmallDiskBytes) + " tmpfs '" + folder.posix + "'");
  auto unmount = [folder] { RunShell("umount '" + folder.posix + "'"); };
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExA((folder.windows + "\\").c_str(), nullptr, &total, nullptr) ||
      total.QuadPart != kSmallDiskBytes) {
    unmount();
    return nullptr;
  }
  struct Mounted {
    std::function<void()> unmount;
    ~Mounted() {
      if (unmount) unmount();
    }
  };
  auto mounted = std::make_shared<Mounted>();
  mounted->unmount = unmount;
  return mounted;
}

std::vector<FaultCase> FaultCases() {
  const std::string app = SettingsFor(BuildFile("app"));
  const std::string emptyFolder = SettingsFor("C:\\windows\\temp\\no-application-here");
  const std::string settingsPath = testsupport::SettingsPath();
  const std::string work = WorkFolder();
  const std::string exported = work + "Velmora.ppm";
  const std::string processed = work + "Velmora_Processed.ppm";
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
  auto pastesBlindly = [](HostOptions& o) { o.pastesBlindly = true; };
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
  auto diskFull = [](HostOptions& o) {
    o.observer = [](testhost::HostEvent event, const TestHost& host) {
      if (event == testhost::HostEvent::kRequestArrived &&
          host.Requests().size() == kRequestsPerPass - 1) {
        RedirectExportFile(host, "Z:\\dev\\full", _O_WRONLY);
      }
    };
  };
  // A host that reports a request served but hands over no data.
  auto noData = [](HostOptions& o) {
    o.observer = [](testhost::HostEvent event, const TestHost& host) {
      if (event == testhost::HostEvent::kRequestDone)
        const_cast<TestHost&>(host).Record().inData = nullptr;
    };
  };
  auto hold = [](const std::string& path) {
    return [path] { return std::static_pointer_cast<void>(std::make_shared<HeldFile>(path)); };
  };

  // A folder named Velmora.exe where the application should be: there, but
  // the system cannot start it.
  const std::string unstartable = BuildFile("unstartable app");
  const std::string unstartableExe = unstartable + "\\Velmora.exe";
  CreateDirectoryA(unstartable.c_str(), nullptr);
  CreateDirectoryA(unstartableExe.c_str(), nullptr);
  std::string commandLine = "\"" + unstartableExe + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  DWORD startError = 0;
  if (CreateProcessA(unstartableExe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &info)) {
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  } else {
    startError = GetLastError();
  }

  // A temporary folder that does not exist: the working folder's lock
  // beside it cannot be made.
  const TempFolderCase missing = BuildTempFolder("missing temp");
  auto noTemp = [missing] {
    auto temp = std::make_shared<WideTempFolder>(Widen(missing.windows));
    RemoveTree(temp->Path());
    return std::static_pointer_cast<void>(temp);
  };
  // A dangling link named velmorafilter: the folder is not there, and
  // cannot be made.
  const TempFolderCase linked = BuildTempFolder("linked temp");
  auto danglingLink = [linked] {
    auto temp = std::make_shared<WideTempFolder>(Widen(linked.windows));
    EXPECT_TRUE(RunShell("ln -sfn /nonexistent-velmora '" + linked.posix + "/velmorafilter'"));
    return std::shared_ptr<void>(new std::shared_ptr<WideTempFolder>(temp), [linked](void* p) {
      RunShell("rm -f '" + linked.posix + "/velmorafilter'");
      delete static_cast<std::shared_ptr<WideTempFolder>*>(p);
    });
  };
  // A very long temporary folder that still leaves room for the working
  // files' paths, with an old processed image held in it: the message that
  // names that image is longer than the host's 255 bytes.
  const std::string buildPrefix = BuildFile("");
  const std::string deep = buildPrefix + std::string(215 - buildPrefix.size(), 'd');
  auto deepTempHeld = [deep] {
    struct World {
      WideTempFolder temp;
      HeldFile held;
    };
    return std::static_pointer_cast<void>(std::shared_ptr<World>(new World{
        WideTempFolder(Widen(deep)), HeldFile(deep + "\\velmorafilter\\Velmora_Processed.ppm")}));
  };
  // The exported image meets the end of a small disk part-way through its
  // block of samples: the write takes what fits, the rest is refused.
  const TempFolderCase small = BuildTempFolder("small disk");
  auto smallDisk = [small]() -> std::shared_ptr<void> {
    std::shared_ptr<void> disk = MountSmallDisk(small);
    if (disk == nullptr) return nullptr;
    auto temp = std::make_shared<WideTempFolder>(Widen(small.windows));
    // The folder's contents go before the disk does.
    return std::shared_ptr<void>(new auto(std::make_pair(disk, temp)), [](void* p) {
      auto* world =
          static_cast<std::pair<std::shared_ptr<void>, std::shared_ptr<WideTempFolder>>*>(p);
      world->second.reset();
      delete world;
    });
  };
  const int n = kRequestsPerPass;
  std::vector<FaultCase> cases = {
      {"no settings file", "invert", none, std::nullopt, -30901,
       Says(settingsPath, "[General]", "ApplicationPath"), Image::Untouched, 0, false, false,
       false},
      {"settings without the key", "invert", none, std::string("[General]\r\nOther=x\r\n"), -30901,
       Says(settingsPath, "[General]", "ApplicationPath"), Image::Untouched, 0, false, false,
       false},
      {"folder without the application", "invert", none, emptyFolder, -30901,
       Says("C:\\windows\\temp\\no-application-here\\Velmora.exe", settingsPath), Image::Untouched,
       0, false, false, false},
      // A Velmora.exe beside the host's executable would be found by a search.
      {"empty application folder", "invert", none, SettingsFor(""), -30901,
       Says(settingsPath, "ApplicationPath", "\"\""), Image::Untouched, 0, false, false, false},
      {"relative application folder", "invert", none, SettingsFor("..\\app"), -30901,
       Says(settingsPath, "ApplicationPath", "\"..\\app\""), Image::Untouched, 0, false, false,
       false},
      {"application cannot be started", "invert", none, SettingsFor(unstartable), -30901,
       Says(unstartableExe, SystemText(startError)), Image::Untouched, 0, false, false, false},
      // Also in a host that takes a blank output whenever a run succeeds.
      {"application writes nothing", "none", none, app, 0, Says(), Image::Untouched},
      {"application writes nothing, host pastes blindly", "none", pastesBlindly, app, 0, Says(),
       Image::Untouched},
      {"application crashes", "crash", none, app, -30901, Says("0xC0000005"), Image::Untouched},
      {"application ends on a buffer overrun", "quit:0xC0000409", none, app, -30901,
       Says("0xC0000409"), Image::Untouched},
      // The runtimes' own codes for an exception that nothing caught.
      {"application ends on an unhandled .NET exception", "quit:0xE0434352", none, app, -30901,
       Says("0xE0434352"), Image::Untouched},
      {"application ends on an unhandled C++ exception", "quit:0xE06D7363", none, app, -30901,
       Says("0xE06D7363"), Image::Untouched},
      // A program's own "return -1;", and a console program whose window was
      // closed: ended, not crashed.
      {"application returns -1, saving nothing", "quit:0xFFFFFFFF", none, app, 0, Says(),
       Image::Untouched},
      {"application's console closed", "quit:0xC000013A", none, app, 0, Says(), Image::Untouched},
      {"application crashes after saving", "crashaftersaving", none, app, 0, Says(),
       Image::Inverted},
      {"application copies, then exits non-zero", "exit:3", pastesBlindly, app, 0, Says(),
       Image::Copied},
      {"wrong header", "badheader", none, app, -19, Says(processed, "16-bit PPM"),
       Image::Untouched},
      {"file of the other kind", "otherkind", none, app, -19, Says(processed, "16-bit PPM"),
       Image::Untouched},
      {"header claiming a huge image", "huge", none, app, -19,
       Says(processed, "2147483000 x 2147483000", "2500 x 3"), Image::Untouched},
      {"file one byte short", "shortinverted", none, app, -19,
       Says(processed, std::to_string(kSampleBytes - 1), std::to_string(kSampleBytes)),
       Image::Untouched},
      {"file one byte short, with a selection", "shortinverted",
       [](HostOptions& o) { o.mask.assign(2500 * 3, 255); }, app, -19,
       Says(processed, std::to_string(kSampleBytes - 1)), Image::Untouched},
      {"header without samples", "headeronly", none, app, -19,
       Says(processed, " 0 ", std::to_string(kSampleBytes)), Image::Untouched},
      {"bytes after the last row", "longinverted", none, app, 0, Says(), Image::Inverted},
      {"export: the file takes no more writes", "invert", fullDisk, app, -20,
       Says(exported, SystemText(ERROR_ACCESS_DENIED)), Image::Untouched, 0, false, false, false},
      {"export: the disk is full", "invert", diskFull, app, -20,
       Says(work.substr(0, work.size() - 1), std::to_string(kExportFileBytes)), Image::Untouched, 0,
       false, false, false},
      {"export: a host that hands over no data", "invert", noData, app, -1715,
       Says("-1715", "host program"), Image::Untouched, 0, false, false, false},
      {"old exported image held by another program", "invert", none, app, -23,
       Says(exported, SystemText(ERROR_SHARING_VIOLATION)), Image::Untouched, 0, false, false, true,
       hold(exported)},
      {"old job description held by another program", "invert", none, app, -50,
       Says(work + "Data.lif", SystemText(ERROR_SHARING_VIOLATION)), Image::Untouched, 0, true,
       false, false, hold(work + "Data.lif")},
      {"temporary folder missing", "invert", none, app, -50,
       Says(missing.windows, SystemText(ERROR_PATH_NOT_FOUND)), Image::Untouched, 0, false, false,
       false, noTemp},
      {"working folder cannot be made", "invert", none, app, -50,
       Says(linked.windows + "\\velmorafilter", SystemText(ERROR_ALREADY_EXISTS)), Image::Untouched,
       0, false, false, false, danglingLink},
      {"old processed image held, in a very long temporary folder", "invert", none, app, -50,
       Says(deep + "\\velmorafilter\\Velmora_Processed.ppm", SystemText(ERROR_SHARING_VIOLATION)),
       Image::Untouched, 0, false, false, false, deepTempHeld},
      {"padded row bytes", "invert",
       [](HostOptions& o) {
         o.inRowPadding = 13;
         o.outRowPadding = 7;
       },
       app, 0, Says(), Image::Inverted},
      {"no handle procedures", "invert", [](HostOptions& o) { o.handleProcs = false; }, app, 0,
       Says(), Image::Inverted},
      {"no progress procedure", "invert", [](HostOptions& o) { o.progressProc = false; }, app, 0,
       Says(), Image::Inverted},
      {"32-bit coordinates", "invert", [](HostOptions& o) { o.bigDocument = true; }, app, 0, Says(),
       Image::Inverted},
  };
  if (MountSmallDisk(small) != nullptr) {
    // The words give the space free before the export began, all of which is
    // free again once the partial image has been deleted.
    cases.push_back(
        {"export: a small disk fills up part-way through a block", "invert", none, app, -20,
         Says(small.windows + "\\velmorafilter", std::to_string(kSmallDiskBytes) + " bytes free",
              std::to_string(kExportFileBytes)),
         Image::Untouched, 0, false, false, false, smallDisk});
  } else {
    std::printf("skipped the case of a small disk: no tmpfs can be mounted here\n");
  }
  const int exportPoints[] = {1, (n + 1) / 2, n};
  for (int k : exportPoints) {
    cases.push_back({"export: advanceState fails at request " + std::to_string(k), "invert",
                     failAt(k), app, static_cast<int16_t>(-5000 - k), Says(), Image::Untouched, 0,
                     false, false, false});
    cases.push_back({"export: cancel after chunk " + std::to_string(k), "invert", cancelAt(k), app,
                     -128, Says(), Image::Untouched, 0, false, false, false});
  }
  for (int k : exportPoints) {
    cases.push_back({"import: advanceState fails at request " + std::to_string(k), "invert",
                     failAt(n + k), app, static_cast<int16_t>(-5000 - n - k), Says(), Image::Chunks,
                     k - 1});
    // Once the last chunk is stored the run has succeeded: no cancel then.
    if (k == n) {
      cases.push_back({"import: cancel after the last chunk", "invert", cancelAt(n + k), app, 0,
                       Says(), Image::Inverted});
      continue;
    }
    cases.push_back({"import: cancel after chunk " + std::to_string(k), "invert", cancelAt(n + k),
                     app, -128, Says(), Image::Chunks, k});
  }
  return cases;
}

TEST_F(RoundTripTest, EveryFailureGivesItsCodeOrItsWordsAndLeavesTheHostAsItShould) {
  const PlantedApplication planted;
  ASSERT_TRUE(planted.Planted());
  std::ostringstream table;
  table << "| case | without errorString | with errorString | host image | files closed, "
           "converter released | message |\n"
        << "|---|---|---|---|---|---|\n";
  for (const FaultCase& c : FaultCases()) {
    int16_t results[2] = {};
    std::string message;
    bool released = true;
    int inverted = 0;
    for (bool offered : {false, true}) {
      SCOPED_TRACE(c.name + (offered ? ", errorString offered" : ", no errorString"));
      const std::shared_ptr<void> world = c.arrange ? c.arrange() : nullptr;
      SettingsFile settings(c.settings);
      StandinMode mode(c.mode);
      HostOptions o = testsupport::ImageOptions(2500, 3, 16, false);
      c.host(o);
      o.errorString = offered;
      o.suites = offered;
      TestHost host(o);
      FillPattern(host, o);
      TestHost original(o);
      original.Image() = host.Image();

      const int16_t result = Apply(host);
      results[offered ? 1 : 0] = result;
      const bool told = offered && !c.says.empty();
      EXPECT_EQ(result, told ? -30904 : c.expected);
      if (told) {
        message = host.ErrorText();
        for (const std::string& fact : c.says)
          EXPECT_TRUE(Names(message, fact)) << fact << " in: " << message;
        // Whole, its paths shortened when it would not fit otherwise.
        EXPECT_LE(host.ErrorLength(), 255);
        // And through the Unicode channel with every fact as it is.
        const std::wstring words = UnicodeWords(host);
        for (const std::string& fact : c.says)
          EXPECT_NE(words.find(FromCodePage(fact)), std::wstring::npos)
              << fact << " in: " << Utf8(words);
      } else if (offered) {
        EXPECT_EQ(host.ErrorLength(), 0);
        EXPECT_EQ(host.Suites().acquired, 0) << "suites taken with nothing to say";
      }

      // Which chunks came back inverted, in request order.
      int untouched = 0;
      inverted = 0;
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
      // A run that succeeds reports its progress after every chunk of each
      // pass, never going back within one and ending at the image's height.
      if (result == 0 && o.progressProc) {
        std::vector<std::vector<int32_t>> passes;
        for (const auto& [done, height] : host.Progress()) {
          EXPECT_EQ(height, o.height);
          if (passes.empty() || done < passes.back().back()) passes.emplace_back();
          passes.back().push_back(done);
        }
        const bool imported = c.image == Image::Inverted || c.image == Image::Copied;
        // Nothing saved: the host's own image goes back, a whole row a request.
        const bool passedBack = c.image == Image::Untouched;
        ASSERT_EQ(passes.size(), imported || passedBack ? 2u : 1u);
        for (size_t k = 0; k < passes.size(); ++k) {
          const std::vector<int32_t>& pass = passes[k];
          EXPECT_EQ(pass.size(),
                    static_cast<size_t>(passedBack && k == 1 ? o.height : kRequestsPerPass));
          EXPECT_TRUE(std::is_sorted(pass.begin(), pass.end()));
          EXPECT_EQ(pass.back(), o.height);
        }
      }
      EXPECT_EQ(Exists(WorkFolder() + "Velmora.ppm"), c.exported);
      EXPECT_EQ(Exists(WorkFolder() + "Data.lif"), c.jobWritten);
      EXPECT_EQ(Exists(WorkFolder() + "standin.log"), c.applicationStarted);

      const PluginContext* context = ContextOf(host);
      released = released && context != nullptr && context->exportFile.descriptor == -1 &&
                 context->importFile.descriptor == -1 && context->converter == nullptr;
    }
    table << "| " << c.name << " | " << results[0] << " | " << results[1] << " | "
          << (c.image == Image::Untouched  ? "untouched"
              : c.image == Image::Copied   ? "unchanged copy imported"
              : c.image == Image::Inverted ? "all rows stored"
                                           : std::to_string(inverted) + " of 9 chunks stored")
          << " | " << (released ? "yes" : "NO") << " | " << message << " |\n";
  }
  std::printf("%s", table.str().c_str());

  // A host whose error suite refuses the Unicode and the C string still
  // gets the words through its oldest setter, never an empty suite.
  SettingsFile none(std::nullopt);
  HostOptions o = testsupport::ImageOptions(4, 2, 8, false);
  o.errorString = true;
  o.suites = true;
  o.errorSuiteTakesOnlyPascal = true;
  TestHost host(o);
  EXPECT_EQ(Apply(host), -30904);
  EXPECT_FALSE(host.Suites().errorSuiteLeftEmpty);
  EXPECT_EQ(host.Suites().held, 0);
  EXPECT_EQ(host.Suites().liveStrings, 0);
  EXPECT_EQ(host.Suites().pascalText, host.ErrorText());
  EXPECT_TRUE(Names(host.Suites().pascalText, testsupport::SettingsPath()));

  // One that answers 0 but hands out no table gets the suite back all the
  // same, and the words in errorString.
  o.errorSuiteTakesOnlyPascal = false;
  o.errorSuiteWithoutTable = true;
  TestHost tableless(o);
  EXPECT_EQ(Apply(tableless), -30904);
  EXPECT_EQ(tableless.Suites().held, 0);
  EXPECT_EQ(tableless.Suites().liveStrings, 0);
  EXPECT_TRUE(Names(tableless.ErrorText(), testsupport::SettingsPath()));
}

// ---- the host while the application runs ----------------------------------

// What the host's windows answer the stand-in's probe message.
constexpr LRESULT kProbeAnswer = 0x7E57;

// What the host does when the timer kCallInTimer of its window fires: a
// timer, a script or another program's request that makes the host call the
// plug-in again while the plug-in waits for the application. None when empty.
constexpr UINT_PTR kCallInTimer = 7;
std::function<void()> gCallIn;

// Whether the plug-in's note (a dialog captioned "Velmora" owned by the
// window) was still there when the window was last enabled: -1 before that.
int gNoteAtEnable = -1;

BOOL CALLBACK MatchNote(HWND window, LPARAM owner) {
  char className[16] = {}, caption[16] = {};
  GetClassNameA(window, className, sizeof className);
  GetWindowTextA(window, caption, sizeof caption);
  if (GetWindow(window, GW_OWNER) != reinterpret_cast<HWND>(owner) ||
      std::strcmp(className, "#32770") != 0 || std::strcmp(caption, "Velmora") != 0) {
    return TRUE;
  }
  gNoteAtEnable = 1;
  return FALSE;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == testsupport::kProbeMessage) return kProbeAnswer;
  if (message == WM_ENABLE && wParam) {
    gNoteAtEnable = 0;
    EnumWindows(&MatchNote, reinterpret_cast<LPARAM>(window));
  }
  if (message == WM_TIMER && wParam == kCallInTimer) {
    KillTimer(window, kCallInTimer);
    if (gCallIn) gCallIn();
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Presses OK in every dialog and message box that the plug-in shows in this
// process, other than the note it shows while it waits, keeping each one's
// caption and text, its owner, and whether every other window of the
// thread that made the closer (the host's) was disabled meanwhile.
class BoxCloser {
 public:
  struct Box {
    std::string text;  // "caption: text"
    HWND owner;
    bool modal;
  };

  BoxCloser()
      : hostThread_(GetCurrentThreadId()), thread_([this] {
          while (!done_) {
            HWND box = FindBox();
            if (box != nullptr) {
              char caption[256] = {}, text[512] = {};
              GetWindowTextA(box, caption, sizeof caption);
              // A message box's text, else the about box's.
              if (GetDlgItemTextA(box, 0xFFFF, text, sizeof text) == 0)
                GetDlgItemTextA(box, 3, text, sizeof text);
              // Neither caption nor text: a window being destroyed just now
              // (the note as the wait ends), no box to answer.
              if (caption[0] == '\0' && text[0] == '\0') {
                Sleep(20);
                continue;
              }
              ModalCheck check{box, true};
              EnumThreadWindows(hostThread_, &CheckDisabled, reinterpret_cast<LPARAM>(&check));
              {
                std::lock_guard<std::mutex> hold(mutex_);
                seen_.push_back(
                    {std::string(caption) + ": " + text, GetWindow(box, GW_OWNER), check.modal});
              }
              PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
              // The next box may get the same handle: this one must go first.
              for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(10);
            }
            Sleep(20);
          }
        }) {}
  ~BoxCloser() {
    done_ = true;
    thread_.join();
  }
  BoxCloser(const BoxCloser&) = delete;
  BoxCloser& operator=(const BoxCloser&) = delete;

  std::vector<Box> Boxes() {
    std::lock_guard<std::mutex> hold(mutex_);
    return seen_;
  }
  std::vector<std::string> Seen() {
    std::vector<std::string> texts;
    for (const Box& box : Boxes()) texts.push_back(box.text);
    return texts;
  }

 private:
  // A visible dialog of this process with a message box's text or the about
  // box's: the note has neither. Null when there is none.
  static BOOL CALLBACK MatchBox(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") != 0) return TRUE;
    if (GetDlgItem(window, 0xFFFF) == nullptr && GetDlgItem(window, 3) == nullptr) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  static HWND FindBox() {
    HWND found = nullptr;
    EnumWindows(&MatchBox, reinterpret_cast<LPARAM>(&found));
    return found;
  }
  struct ModalCheck {
    HWND box;
    bool modal;
  };
  static BOOL CALLBACK CheckDisabled(HWND window, LPARAM parameter) {
    auto* check = reinterpret_cast<ModalCheck*>(parameter);
    if (window != check->box && IsWindowVisible(window) && IsWindowEnabled(window))
      check->modal = false;
    return TRUE;
  }

  DWORD hostThread_;
  std::atomic<bool> done_{false};
  std::mutex mutex_;
  std::vector<Box> seen_;
  std::thread thread_;
};

// A top-level window of the test's thread, as a host's main window, palette
// or document window.
class HostWindow {
 public:
  explicit HostWindow(DWORD style) {
    static const ATOM kClass = [] {
      WNDCLASSA c{};
      c.lpfnWndProc = &HostWindowProc;
      c.hInstance = GetModuleHandleA(nullptr);
      c.lpszClassName = "VelmoraTestHostWindow";
      return RegisterClassA(&c);
    }();
    window_ = CreateWindowExA(0, MAKEINTATOM(kClass), "Host", style, 60, 40, 500, 400, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  }
  ~HostWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// The first run's command-line host: waited for and its handles closed on
// every way out of the test, so that a failed check leaves no run holding
// the working folder.
struct FirstRun {
  PROCESS_INFORMATION info{};
  FirstRun() = default;
  FirstRun(const FirstRun&) = delete;
  FirstRun& operator=(const FirstRun&) = delete;
  ~FirstRun() { Finish(); }
  // Its exit code once it has ended; 9999 when it did not start or end.
  DWORD Finish() {
    DWORD exitCode = 9999;
    if (info.hProcess == nullptr) return exitCode;
    if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0)
      GetExitCodeProcess(info.hProcess, &exitCode);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    info = PROCESS_INFORMATION{};
    return exitCode;
  }
};

constexpr const char* kBusyAlert =
    "Another image is being processed in Velmora. Finish it there and close Velmora first, then "
    "apply the filter again.";

// Starts a command-line host process applying the plug-in to a 64 x 48 image
// with the stand-in in `mode`, and returns once the stand-in runs. The
// image's bytes go to `image`.
void StartFirstRun(FirstRun& first, const char* mode, const std::string& input,
                   const std::string& output, std::string& image) {
  image = "P6\n64 48\n255\n";
  for (int i = 0; i < 64 * 48 * 3; ++i) image += static_cast<char>(i * 7);
  std::ofstream(input, std::ios::binary) << image;
  DeleteFileA(output.c_str());
  DeleteFileA((WorkFolder() + "standin.log").c_str());
  std::string commandLine = "\"" + BuildFile("tools/VelmoraHost.exe") + "\" \"" +
                            BuildFile("plugin/Velmora.8bf") + "\" \"" + input + "\" \"" + output +
                            "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  SetEnvironmentVariableA("VELMORA_STANDIN_MODE", mode);
  const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &first.info);
  SetEnvironmentVariableA("VELMORA_STANDIN_MODE", nullptr);
  ASSERT_TRUE(started);
  for (int i = 0; i < 600 && !Exists(WorkFolder() + "standin.log"); ++i) Sleep(50);
  ASSERT_TRUE(Exists(WorkFolder() + "standin.log"));
}

// A second run while another's image is in the application touches nothing
// and says why: while the first host waits, and also once that host has
// been ended, for as long as its application still runs. A first host that
// lives on imports its own result; after an ended one's application has
// closed, the next run works with its own image.
TEST_F(RoundTripTest, SecondRunWaitsForTheFirstApplicationToClose) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string input = std::string(temp) + "velmora-first-in.ppm";
  const std::string output = std::string(temp) + "velmora-first-out.ppm";
  const std::string lock = std::string(temp) + "velmorafilter.lock";
  for (const bool endFirstHost : {false, true}) {
    SCOPED_TRACE(endFirstHost ? "first host ended" : "first host waiting");
    FirstRun first;
    std::string image;
    StartFirstRun(first, "sleep:4000", input, output, image);
    if (endFirstHost) {
      ASSERT_TRUE(TerminateProcess(first.info.hProcess, 1));
      EXPECT_EQ(first.Finish(), 1u);
    }
    const std::string exported = ReadBytes(WorkFolder() + "Velmora.ppm");

    const HostWindow hostWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ASSERT_NE(hostWindow.get(), nullptr);
    HostOptions o = testsupport::ImageOptions(30, 20, 16, false);
    o.platformWindow = reinterpret_cast<intptr_t>(hostWindow.get());
    TestHost host(o);
    FillPattern(host, o);
    const std::vector<uint8_t> original = host.Image();
    std::vector<std::string> boxes;
    {
      BoxCloser closer;
      EXPECT_EQ(Apply(host), -128);
      for (int i = 0; i < 100 && closer.Seen().empty(); ++i) Sleep(20);
      boxes = closer.Seen();
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find(kBusyAlert), std::string::npos) << boxes[0];
    EXPECT_TRUE(host.Image() == original);
    EXPECT_TRUE(host.Requests().empty());
    EXPECT_TRUE(ReadBytes(WorkFolder() + "Velmora.ppm") == exported) << "the first run's export";

    if (!endFirstHost) {
      EXPECT_EQ(first.Finish(), 0u);
      EXPECT_TRUE(ReadBytes(output) == image) << "the first run imports its own result";
    } else {
      // The orphaned application saves into the folder and closes.
      for (int i = 0; i < 400 && Exists(lock); ++i) Sleep(50);
      EXPECT_FALSE(Exists(lock));
      EXPECT_TRUE(Exists(WorkFolder() + "Velmora_Processed.ppm"));
      ExpectInvertedRun(o);
    }
  }
  DeleteFileA(input.c_str());
  DeleteFileA(output.c_str());
}

// Calls that the host makes while the plug-in waits, from its own messages:
// About is shown, a run is refused with the busy alert, the rest simply end;
// the waiting run keeps its context, imports its result and leaves the
// context's handle unlocked.
TEST_F(RoundTripTest, CallsDuringTheWaitLeaveTheWaitingRunAlone) {
  const HostWindow main(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  ASSERT_NE(main.get(), nullptr);
  StandinMode copyLater("sleep:1500");
  HostOptions o = testsupport::ImageOptions(2500, 3, 16, false);
  o.platformWindow = reinterpret_cast<intptr_t>(main.get());
  TestHost host(o);
  FillPattern(host, o);
  const std::vector<uint8_t> original = host.Image();

  const PluginEntry entry = plugin_.entry();
  int16_t nestedPrepare = 1, nestedStart = 1, nestedAbout = 1, nestedFinish = 1;
  int calls = 0;
  gCallIn = [&] {
    ++calls;
    entry(host::kSelectorPrepare, &host.Record(), &host.DataSlot(), &nestedPrepare);
    entry(host::kSelectorStart, &host.Record(), &host.DataSlot(), &nestedStart);
    host::PlatformData platform{reinterpret_cast<intptr_t>(main.get())};
    host::AboutRecord about{};
    about.platformData = &platform;
    intptr_t aboutData = 0;
    entry(host::kSelectorAbout, &about, &aboutData, &nestedAbout);
    entry(host::kSelectorFinish, &host.Record(), &host.DataSlot(), &nestedFinish);
  };
  int16_t result = 1;
  std::vector<std::string> boxes;
  {
    BoxCloser closer;
    // Timer messages come only when the host's thread takes messages: here,
    // during the wait.
    ASSERT_NE(SetTimer(main.get(), kCallInTimer, 200, nullptr), 0u);
    result = Apply(host);
    boxes = closer.Seen();
  }
  gCallIn = nullptr;

  EXPECT_EQ(result, 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(nestedPrepare, -128);
  EXPECT_EQ(nestedStart, -128);
  EXPECT_EQ(nestedAbout, 0);
  EXPECT_EQ(nestedFinish, -128);
  ASSERT_EQ(boxes.size(), 3u) << testing::PrintToString(boxes);
  EXPECT_NE(boxes[0].find(kBusyAlert), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[1].find(kBusyAlert), std::string::npos) << boxes[1];
  EXPECT_NE(boxes[2].find("About...: Velmora Plugin"), std::string::npos) << boxes[2];
  // The application's copy came back through every import request.
  EXPECT_EQ(host.Requests().size(), 2u * kRequestsPerPass);
  EXPECT_TRUE(host.Image() == original);
  EXPECT_EQ(host.DataSlotLocks(), 0);
}

// ---- how the host plays the filter, and who shows the words ---------------

// Counts the windows made on the calling thread while it lives, by any code.
class WindowsMade {
 public:
  WindowsMade() {
    count_ = 0;
    hook_ = SetWindowsHookExA(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
  }
  ~WindowsMade() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  }
  WindowsMade(const WindowsMade&) = delete;
  WindowsMade& operator=(const WindowsMade&) = delete;
  bool Watching() const { return hook_ != nullptr; }
  int Count() const { return count_; }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) ++count_;
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static inline int count_ = 0;
  HHOOK hook_;
};

// The names, sizes and write times of a folder's files.
std::string FolderSnapshot(const std::string& folder) {
  std::string listing;
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return listing;
  do {
    listing += std::string(found.cFileName) + " " + std::to_string(found.nFileSizeLow) + " " +
               std::to_string(found.ftLastWriteTime.dwLowDateTime) + "\n";
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return listing;
}

// A script or an action that allows no dialog, in any host: no process, no
// window of any kind, no file of the earlier run touched, the image as it
// was, and words that say why where the host takes them. Every other way
// of playing runs the application.
TEST_F(RoundTripTest, SilentPlayStartsNothingShowsNothingAndChangesNothing) {
  const HostWindow main(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  ASSERT_NE(main.get(), nullptr);
  HostOptions o = testsupport::ImageOptions(40, 3, 8, false);
  o.platformWindow = reinterpret_cast<intptr_t>(main.get());
  ExpectInvertedRun(o);  // the earlier run, whose files stay
  const std::string earlier = FolderSnapshot(WorkFolder());
  ASSERT_NE(earlier.find("standin.log"), std::string::npos) << earlier;
  for (const host::OSType signature :
       {host::MakeOSType('8', 'B', 'I', 'M'), host::MakeOSType('P', 'S', 'P', '9')}) {
    for (const bool offered : {false, true}) {
      SCOPED_TRACE(testing::Message() << std::hex << signature << (offered ? " errorString" : ""));
      o.hostSig = signature;
      o.errorString = offered;
      o.playInfo = host::kPlaySilent;
      TestHost host(o);
      FillPattern(host, o);
      const std::vector<uint8_t> original = host.Image();
      int16_t result = 0;
      int windows = -1;
      {
        const WindowsMade made;
        ASSERT_TRUE(made.Watching());
        result = Apply(host);
        windows = made.Count();
      }
      EXPECT_EQ(windows, 0);
      EXPECT_EQ(result, offered ? -30904 : -30901);
      if (offered) {
        const std::string text = host.ErrorText();
        EXPECT_NE(text.find("Filter menu"), std::string::npos) << text;
        EXPECT_NE(text.find("dialog"), std::string::npos) << text;
        EXPECT_LT(host.ErrorLength(), 255);
      }
      EXPECT_TRUE(host.Image() == original);
      EXPECT_TRUE(host.Requests().empty());
      EXPECT_EQ(FolderSnapshot(WorkFolder()), earlier);
    }
  }
  o.hostSig = host::MakeOSType('8', 'B', 'I', 'M');
  for (const int16_t play : {host::kPlayDialogIfNecessary, host::kPlayDisplayDialog}) {
    SCOPED_TRACE(play);
    o.playInfo = play;
    const WindowsMade made;
    ExpectInvertedRun(o);
    EXPECT_GT(made.Count(), 0) << "no note while the application ran";
  }
}

// Hosts other than Photoshop and the .NET host library show nothing for a
// failure code, or a generic sentence, even when they offer errorString:
// they get the words in a box owned by their window, modal to their thread,
// their errorString untouched, and then a positive result, so that they add
// nothing and keep the image, also one that takes a blank output whenever a
// run succeeds. Never a box for words those two hosts show, nor for the
// user's cancel or the host's own code.
TEST_F(RoundTripTest, HostsThatShowNoWordsGetThemInABoxOfThePluginsOwn) {
  const HostWindow main(WS_OVERLAPPEDWINDOW | WS_VISIBLE), palette(WS_POPUP | WS_VISIBLE);
  ASSERT_NE(main.get(), nullptr);
  ASSERT_NE(palette.get(), nullptr);
  const std::string settingsPath = testsupport::SettingsPath();
  const host::OSType photoshop = host::MakeOSType('8', 'B', 'I', 'M');
  const host::OSType paintShop = host::MakeOSType('P', 'S', 'P', '9');
  const host::OSType gimp = host::MakeOSType('P', 'M', 'I', 'G');
  const host::OSType dotNet = host::MakeOSType('N', 'D', 'P', '.');
  const host::OSType paint = host::MakeOSType('G', 'R', 'P', 'T');
  struct BoxCase {
    const char* name;
    host::OSType signature;
    bool offered;
    bool window;
    bool settings;  // false: none, which fails the launch with words
    std::function<void(HostOptions&)> fault;
    int16_t expected;
    bool box;
  };
  const auto none = [](HostOptions&) {};
  const BoxCase cases[] = {
      {"another host offering errorString", paintShop, true, true, false, none, 1, true},
      {"another host without errorString", paintShop, false, true, false, none, 1, true},
      {"another host without a window", gimp, true, false, false, none, 1, true},
      {"a host that pastes blindly", paint, false, true, false,
       [](HostOptions& o) { o.pastesBlindly = true; }, 1, true},
      {"Photoshop", photoshop, true, true, false, none, -30904, false},
      {"Photoshop without errorString", photoshop, false, true, false, none, -30901, false},
      {"the .NET host library", dotNet, true, true, false, none, -30904, false},
      {"another host, the user cancels", paintShop, true, true, true,
       [](HostOptions& o) { o.cancelAfterAborts = 1; }, -128, false},
      {"another host, its own advanceState code", paintShop, true, true, true,
       [](HostOptions& o) {
         o.failAdvanceOnCall = 1;
         o.failAdvanceCode = -5001;
       },
       -5001, false},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    SettingsFile settings(c.settings ? std::optional<std::string>(SettingsFor(BuildFile("app")))
                                     : std::nullopt);
    HostOptions o = testsupport::ImageOptions(40, 3, 8, false);
    o.hostSig = c.signature;
    o.errorString = c.offered;
    o.platformWindow = c.window ? reinterpret_cast<intptr_t>(main.get()) : 0;
    c.fault(o);
    TestHost host(o);
    FillPattern(host, o);
    const std::vector<uint8_t> original = host.Image();
    std::vector<BoxCloser::Box> boxes;
    {
      BoxCloser closer;
      EXPECT_EQ(Apply(host), c.expected);
      boxes = closer.Boxes();
    }
    EXPECT_TRUE(host.Image() == original);
    if (c.expected == -30904) {
      EXPECT_NE(host.ErrorText().find(settingsPath), std::string::npos) << host.ErrorText();
    } else if (c.offered) {
      EXPECT_EQ(host.ErrorLength(), 0) << "errorString touched";
    }
    ASSERT_EQ(boxes.size(), c.box ? 1u : 0u) << (boxes.empty() ? "" : boxes[0].text);
    if (!c.box) continue;
    const BoxCloser::Box& box = boxes[0];
    std::printf("%s: box owned by %s: \"%s\"\n", c.name, c.window ? "the host's window" : "none",
                box.text.c_str());
    EXPECT_EQ(box.text.rfind("Velmora: ", 0), 0u) << box.text;
    EXPECT_NE(box.text.find(settingsPath), std::string::npos) << box.text;
    EXPECT_EQ(box.owner, c.window ? main.get() : nullptr);
    EXPECT_TRUE(box.modal) << "a window of the host's thread took input meanwhile";
    EXPECT_TRUE(IsWindowEnabled(main.get()));
    EXPECT_TRUE(IsWindowEnabled(palette.get()));
  }
}

// Hosts that run each repeat of the filter in a new process hand back the
// data slot of the earlier one: a handle their lock procedure refuses, or
// one that names some other live block. Neither is a context: the run goes
// on with a fresh one and leaves that block as it was.
TEST_F(RoundTripTest, AHandleOfAnEarlierProcessInTheDataSlotGivesANormalRun) {
  StandinMode invert("invert");
  const auto run = [&](const char* name, bool handleProcs,
                       const std::function<intptr_t(TestHost&)>& stale,
                       const std::function<void()>& unchanged) {
    SCOPED_TRACE(name);
    HostOptions o = testsupport::ImageOptions(300, 2, 16, false);
    o.handleProcs = handleProcs;
    TestHost host(o);
    FillPattern(host, o);
    TestHost original(o);
    original.Image() = host.Image();
    const intptr_t value = stale(host);
    host.DataSlot() = value;
    ASSERT_EQ(Apply(host), 0);
    ExpectInverted(host, original, o);
    EXPECT_NE(host.DataSlot(), value);
    unchanged();
  };
  const auto all = [](const char* bytes, size_t size, char value) {
    return std::all_of(bytes, bytes + size, [value](char b) { return b == value; });
  };

  // Through the host's handle procedures.
  char* neverMade = nullptr;
  run(
      "a handle the host's lock procedure refuses", true,
      [&](TestHost&) { return reinterpret_cast<intptr_t>(&neverMade); }, [] {});
  const size_t big = sizeof(PluginContext) + 64;
  host::Handle foreign = nullptr;
  run(
      "a live block of the host that is not a context", true,
      [&](TestHost& host) {
        foreign = host.Record().handleProcs->newProc(static_cast<int32_t>(big));
        std::memset(*foreign, 0x5A, big);
        return reinterpret_cast<intptr_t>(foreign);
      },
      [&] {
        EXPECT_TRUE(all(*foreign, big, 0x5A));
        EXPECT_EQ(TestHost::HandleLocks(foreign), 0);
      });
  const ContextHeader header{kContextSignature, static_cast<uint32_t>(sizeof(PluginContext))};
  host::Handle small = nullptr;
  run(
      "a block too small for a context that starts like one", true,
      [&](TestHost& host) {
        small = host.Record().handleProcs->newProc(sizeof header);
        std::memcpy(*small, &header, sizeof header);
        return reinterpret_cast<intptr_t>(small);
      },
      [&] {
        EXPECT_EQ(std::memcmp(*small, &header, sizeof header), 0);
        EXPECT_EQ(TestHost::HandleLocks(small), 0);
      });

  // Without them, in the plug-in's own Windows memory: an address with
  // nothing behind it, and a record of that memory's form whose block is
  // not a context.
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(reserved, nullptr);
  run(
      "an address with nothing behind it", false,
      [&](TestHost&) { return reinterpret_cast<intptr_t>(reserved); }, [] {});
  VirtualFree(reserved, 0, MEM_RELEASE);
  struct FallbackForm {
    char* data;
    uint32_t marker;
  };
  const HGLOBAL recordBlock = GlobalAlloc(GMEM_MOVEABLE, sizeof(FallbackForm));
  const HGLOBAL dataBlock = GlobalAlloc(GMEM_MOVEABLE, big);
  ASSERT_TRUE(recordBlock != nullptr && dataBlock != nullptr);
  auto* record = static_cast<FallbackForm*>(GlobalLock(recordBlock));
  record->data = static_cast<char*>(GlobalLock(dataBlock));
  record->marker = 0x464F544F;  // the plug-in's own handles are marked so
  std::memset(record->data, 0x5A, big);
  run(
      "a live block of the plug-in's form that is not a context", false,
      [&](TestHost&) { return reinterpret_cast<intptr_t>(record); },
      [&] { EXPECT_TRUE(all(record->data, big, 0x5A)); });
  GlobalUnlock(dataBlock);
  GlobalUnlock(recordBlock);
  GlobalFree(dataBlock);
  GlobalFree(recordBlock);
}

// User and kernel time of this process so far, in seconds.
double ProcessorSeconds() {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) return -1;
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// The window in front once this thread has taken its messages, as a host's
// message loop does: a window of a thread becomes active only when that
// thread takes the message that activates it, so the activation that the
// plug-in hands back from another thread, or from a process that has just
// ended, is not there before. Waits at most five seconds for `window`; a
// quit message stays in the queue for the host.
HWND ForegroundOnceServed(HWND window) {
  for (int waited = 0; waited < 5000 && GetForegroundWindow() != window; waited += 10) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, WM_QUIT - 1, PM_REMOVE) ||
           PeekMessageA(&message, nullptr, WM_QUIT + 1, 0xFFFFFFFF, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  }
  return GetForegroundWindow();
}

TEST_F(RoundTripTest, TheHostsWindowsAnswerWhileTheApplicationRunsAndComeBackAfterwards) {
  HostWindow main(WS_OVERLAPPEDWINDOW | WS_VISIBLE), palette(WS_POPUP | WS_VISIBLE),
      disabled(WS_POPUP | WS_VISIBLE | WS_DISABLED), hidden(WS_POPUP);
  for (const HostWindow* w : {&main, &palette, &disabled, &hidden}) ASSERT_NE(w->get(), nullptr);
  // The palette is in front and the main window minimised: the main window
  // must be brought back, and into sight.
  SetForegroundWindow(palette.get());
  ShowWindow(main.get(), SW_MINIMIZE);
  const std::string mode =
      testsupport::ProbeMode({main.get(), palette.get(), disabled.get(), hidden.get()});
  StandinMode probe(mode.c_str());
  HostOptions o = testsupport::ImageOptions(300, 2, 16, false);
  o.platformWindow = reinterpret_cast<intptr_t>(main.get());
  // A host that looks for the user's keys while the image comes back must
  // not meet the application's quit request there.
  int quitSeenByHost = 0;
  o.observer = [&quitSeenByHost](testhost::HostEvent, const TestHost&) {
    MSG quit;
    if (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) ++quitSeenByHost;
  };
  TestHost host(o);
  FillPattern(host, o);
  const std::vector<uint8_t> original = host.Image();

  ASSERT_EQ(Apply(host), 0);
  EXPECT_TRUE(host.Image() == original);
  EXPECT_EQ(quitSeenByHost, 0);

  struct Expected {
    const HostWindow* window;
    bool enabledWhileWaiting;
    bool enabledAfterwards;
  };
  const Expected expected[] = {{&main, false, true},
                               {&palette, false, true},
                               {&disabled, false, false},
                               {&hidden, true, true}};
  const std::vector<testsupport::ProbeRecord> seen = testsupport::ProbeRecords(
      testsupport::ReadTextFile(WorkFolder() + "standin.log").value_or(""));
  ASSERT_EQ(seen.size(), 4u);
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(seen[i].window, WindowNumber(expected[i].window->get()));
    EXPECT_TRUE(seen[i].answered);
    EXPECT_EQ(seen[i].result, static_cast<uint64_t>(kProbeAnswer));
    EXPECT_EQ(seen[i].enabled, expected[i].enabledWhileWaiting);
    EXPECT_EQ(IsWindowEnabled(expected[i].window->get()) != FALSE, expected[i].enabledAfterwards);
    std::printf("message sent to window %zu during the wait: %s after %llu microseconds\n", i,
                seen[i].answered ? "answered" : "not answered",
                static_cast<unsigned long long>(seen[i].microseconds));
  }
  EXPECT_EQ(ForegroundOnceServed(main.get()), main.get());
  EXPECT_FALSE(IsIconic(main.get()));
  // The application asked the host to end: the plug-in must not swallow that.
  MSG quit;
  ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, testsupport::kProbeQuitCode);
}

// The value of `name` in the first line of the stand-in's log that starts
// with `prefix`; empty when there is none.
std::string LogValue(const std::string& log, const std::string& prefix, const std::string& name) {
  const size_t line = log.find("\n" + prefix);
  if (line == std::string::npos) return std::string();
  const std::string text = " " + log.substr(line + 1, log.find('\n', line + 1) - line - 1);
  const size_t at = text.find(" " + name + "=");
  if (at == std::string::npos) return std::string();
  const size_t start = at + name.size() + 2;
  const size_t end = name.rfind("note-", 0) == 0 ? std::string::npos : text.find(' ', start);
  return text.substr(start, end == std::string::npos ? end : end - start);
}

BOOL CALLBACK FindVisibleOwned(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<std::pair<HWND, HWND>*>(parameter);
  if (GetWindow(window, GW_OWNER) != search->first || !IsWindowVisible(window)) return TRUE;
  search->second = window;
  return FALSE;
}

// The visible window that owner owns; null when there is none.
HWND FindNote(HWND owner) {
  std::pair<HWND, HWND> search{owner, nullptr};
  EnumWindows(&FindVisibleOwned, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

// A control's place in its parent's client area.
RECT PlaceInParent(HWND control) {
  RECT place{};
  GetWindowRect(control, &place);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

// Whether a control has room for its whole text, measured in its own font
// as it draws it: broken into lines at its width, or on one line.
bool ShowsWholeText(HWND control, bool wraps) {
  wchar_t text[1024] = {};
  GetWindowTextW(control, text, 1024);
  RECT client{};
  GetClientRect(control, &client);
  const HDC dc = GetDC(control);
  const HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT needed{0, 0, client.right, 0};
  DrawTextW(dc, text, -1, &needed,
            DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  std::printf("note control: %ld x %ld needed, %ld x %ld there\n", needed.right, needed.bottom,
              client.right, client.bottom);
  return text[0] != L'\0' && needed.bottom <= client.bottom && needed.right <= client.right;
}

// Every word of the note in sight: the sentence and the button each hold
// their whole text, within the note, the button below the sentence.
bool NoteFits(HWND note) {
  const HWND text = FindWindowExW(note, nullptr, L"Static", nullptr);
  const HWND button = FindWindowExW(note, nullptr, L"Button", nullptr);
  if (text == nullptr || button == nullptr) return false;
  RECT client{}, both{}, inside{};
  GetClientRect(note, &client);
  const RECT textPlace = PlaceInParent(text);
  const RECT buttonPlace = PlaceInParent(button);
  UnionRect(&both, &textPlace, &buttonPlace);
  IntersectRect(&inside, &both, &client);
  const bool textFits = ShowsWholeText(text, true);
  const bool buttonFits = ShowsWholeText(button, false);
  return textFits && buttonFits && EqualRect(&inside, &both) != FALSE &&
         buttonPlace.top >= textPlace.bottom;
}

// Also for hosts that call the plug-in on a thread of their own while their
// window belongs to their user-interface thread, which here takes no
// messages until the run has ended: nothing may wait on it. That run's
// application has its main window owned by a hidden window, as several
// application frameworks do: the button finds it all the same.
TEST_F(RoundTripTest, ANoteInFrontOfTheHostSaysWhereTheImageIs) {
  for (const bool workerThread : {false, true}) {
    SCOPED_TRACE(workerThread ? "run on a worker thread" : "run on the window's thread");
    ExpectNoteWhileTheApplicationRuns(workerThread);
  }
}

void RoundTripTest::ExpectNoteWhileTheApplicationRuns(bool workerThread, const NoteWords& words,
                                                      bool focus) {
  const HostWindow main(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  ASSERT_NE(main.get(), nullptr);
  SetForegroundWindow(main.get());
  const std::string mode = (workerThread ? "ownednote:" : "note:") + WindowNumber(main.get());
  StandinMode note(mode.c_str());
  HostOptions o = testsupport::ImageOptions(300, 2, 16, false);
  o.platformWindow = reinterpret_cast<intptr_t>(main.get());
  TestHost host(o);
  FillPattern(host, o);
  const std::vector<uint8_t> original = host.Image();

  int16_t result = 1;
  gNoteAtEnable = -1;
  if (workerThread) {
    // Meanwhile this thread looks at the note as the user sees it: its
    // font is a handle of this process.
    std::atomic<bool> done{false};
    std::thread worker([&] {
      result = Apply(host);
      done = true;
    });
    int fits = -1;
    while (!done && fits < 0) {
      const HWND note = FindNote(main.get());
      if (note != nullptr) {
        fits = NoteFits(note) ? 1 : 0;
      } else {
        Sleep(5);
      }
    }
    worker.join();
    EXPECT_EQ(fits, 1) << (fits < 0 ? "the note was not seen" : "a text of the note is cut");
  } else {
    result = Apply(host);
  }
  ASSERT_EQ(result, 0);
  EXPECT_TRUE(host.Image() == original);
  const std::string log =
      "\n" + testsupport::ReadTextFile(WorkFolder() + "standin.log").value_or("");
  const std::string window = LogValue(log, "note=", "note");
  ASSERT_NE(window, "");
  ASSERT_NE(window, "0") << "no note appeared";
  std::printf("the note as the application saw it:%s\n", log.substr(log.find("\nnote=")).c_str());
  EXPECT_EQ(LogValue(log, "note=", "owner"), WindowNumber(main.get()));
  EXPECT_EQ(LogValue(log, "note=", "visible"), "1");
  EXPECT_EQ(LogValue(log, "note=", "enabled"), "1");
  if (focus) {
    EXPECT_EQ(LogValue(log, "note=", "active"), "0") << "it took the focus from the application";
    EXPECT_EQ(LogValue(log, "note=", "front"), "1") << "its button did not show the application";
  }
  EXPECT_EQ(LogValue(log, "note-title=", "note-title"), words.title);
  EXPECT_NE(LogValue(log, "note-text=", "note-text").find(words.sentence), std::string::npos)
      << LogValue(log, "note-text=", "note-text");
  EXPECT_EQ(LogValue(log, "note-button=", "note-button"), words.button);
  // Centred on the host's window.
  RECT frame{}, hostFrame{};
  ASSERT_EQ(std::sscanf(LogValue(log, "note=", "frame").c_str(), "%ld,%ld,%ld,%ld", &frame.left,
                        &frame.top, &frame.right, &frame.bottom),
            4);
  GetWindowRect(main.get(), &hostFrame);
  // Unless that would put a part of it off the screen, as a large scaling
  // may for a small host.
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromRect(&frame, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& work = monitor.rcWork;
  if (frame.left > work.left && frame.right < work.right) {
    EXPECT_NEAR(frame.left + frame.right, hostFrame.left + hostFrame.right, 2);
  }
  if (frame.top > work.top && frame.bottom < work.bottom) {
    EXPECT_NEAR(frame.top + frame.bottom, hostFrame.top + hostFrame.bottom, 2);
  }
  // Gone before the host takes input again, and the host in front.
  const auto noteWindow =
      reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(window.c_str(), nullptr, 10)));
  EXPECT_FALSE(IsWindow(noteWindow));
  EXPECT_TRUE(IsWindowEnabled(main.get()));
  // Enabled while the note was still there, as a modal dialog's owner is:
  // the system then gives the activation back to the host. A host that runs
  // the plug-in on another thread keeps its windows enabled throughout.
  EXPECT_EQ(gNoteAtEnable, workerThread ? -1 : 1);
  if (focus) {
    EXPECT_EQ(ForegroundOnceServed(main.get()), main.get());
  }
}

// The user's words come in the display language of Windows: the test
// command runs this again in German (code page 1252) and in Japanese (code
// page 932). A Language line in the settings file chooses another; in the
// host's narrow error string, words that the code page cannot hold give way
// to English, while the note, a window of Unicode text, shows any language.
struct LanguageCase {
  const char* name;
  const wchar_t* settingsMissing;       // the start of the words, before the path
  const wchar_t* settingsMissingAfter;  // what follows the path
  const wchar_t* noKey;                 // the start of the words for a file without the key
  const char* noteSentence;             // UTF-8
  const char* noteButton;
};

const LanguageCase kEnglish = {"English",
                               L"Velmora's settings file ",
                               L" was not found, and no machine-wide setting exists either.",
                               L"Velmora's settings file ",
                               "open in Velmora",
                               "Show Velmora"};
const LanguageCase kGerman = {"German",
                              L"Die Einstellungsdatei ",
                              L" von Velmora fehlt, ebenso eine computerweite Einstellung.",
                              L"In der Einstellungsdatei ",
                              "Ihr Bild ist in Velmora geöffnet.",
                              "Velmora zeigen"};
const LanguageCase kJapanese = {"Japanese",
                                L"Velmora の設定ファイル ",
                                L" も、コンピューター全体の設定も見つかりません。",
                                L"Velmora の設定ファイル ",
                                "画像は Velmora で開かれています。",
                                "Velmora を表示"};

// The display language the run has, by its primary language; null for one
// this test has no words for.
const LanguageCase* DisplayLanguage() {
  switch (GetUserDefaultUILanguage() & 0x3FF) {
    case 0x09:
      return &kEnglish;
    case 0x07:
      return &kGerman;
    case 0x11:
      return &kJapanese;
    default:
      return nullptr;
  }
}

// A failing run's words for the host, with the bytes it receives.
std::wstring FailureWordsOfARun(int16_t result, const TestHost& host) {
  EXPECT_EQ(result, -30904);
  const std::string bytes = host.ErrorText();
  std::printf("errorString, %zu bytes in code page %u:", bytes.size(), GetACP());
  for (const unsigned char b : bytes.substr(0, 24)) std::printf(" %02X", b);
  const std::wstring words = FromCodePage(bytes);
  std::printf("...\n  decoded: %s\n", Utf8(words).c_str());
  return words;
}

// Wine makes a new user's profile and temporary folders only as it goes.
void MakeUserFolders() {
  char userProfile[MAX_PATH] = {}, temp[MAX_PATH] = {};
  GetEnvironmentVariableA("USERPROFILE", userProfile, MAX_PATH);
  CreateDirectoryA(userProfile, nullptr);
  GetTempPathA(MAX_PATH, temp);
  CreateDirectoryA(temp, nullptr);
}

// errorString holds the words in the system's code page, in English where
// that cannot hold the user's language; hosts with the Unicode channel get
// them in the user's language on any system.
TEST_F(RoundTripTest, FailuresAreToldInTheUsersLanguage) {
  const LanguageCase* display = DisplayLanguage();
  if (display == nullptr) GTEST_SKIP() << "runs in English, German or Japanese";
  std::printf("display language %s, code page %u\n", display->name, GetACP());
  MakeUserFolders();
  HostOptions o = testsupport::ImageOptions(4, 2, 8, false);
  o.errorString = true;
  o.suites = true;
  {
    SCOPED_TRACE("no settings file: the display language");
    SettingsFile none(std::nullopt);
    TestHost host(o);
    const std::wstring words = FailureWordsOfARun(Apply(host), host);
    const std::wstring expected = display->settingsMissing +
                                  FromCodePage(testsupport::SettingsPath()) +
                                  display->settingsMissingAfter;
    EXPECT_EQ(words.rfind(expected, 0), 0u) << Utf8(words);
    EXPECT_EQ(UnicodeWords(host).rfind(expected, 0), 0u);
  }
  // The words for a settings file without ApplicationPath, in a language
  // named by the file, when the code page holds them.
  struct Choice {
    const char* setting;
    const LanguageCase* language;  // in errorString
    const LanguageCase* unicode;   // through the Unicode channel
  };
  const Choice choices[] = {
      {"ja", GetACP() == 932 ? &kJapanese : &kEnglish, &kJapanese},
      {"de-AT", GetACP() == 1252 ? &kGerman : &kEnglish, &kGerman},
      {"en", &kEnglish, &kEnglish},
      // No words of the module's own: the display language.
      {"sv-SE", display, display},
  };
  for (const Choice& choice : choices) {
    SCOPED_TRACE(choice.setting);
    SettingsFile settings("[General]\r\nLanguage=" + std::string(choice.setting) + "\r\n");
    TestHost host(o);
    const std::wstring words = FailureWordsOfARun(Apply(host), host);
    EXPECT_EQ(words.rfind(choice.language->noKey, 0), 0u)
        << "expected " << choice.language->name << ": " << Utf8(words);
    EXPECT_NE(words.find(L"ApplicationPath"), std::wstring::npos);
    const std::wstring unicode = UnicodeWords(host);
    EXPECT_EQ(unicode.rfind(choice.unicode->noKey, 0), 0u)
        << "expected " << choice.unicode->name << ": " << Utf8(unicode);
  }
}

TEST_F(RoundTripTest, TheNoteIsInTheUsersLanguage) {
  const LanguageCase* display = DisplayLanguage();
  if (display == nullptr) GTEST_SKIP() << "runs in English, German or Japanese";
  MakeUserFolders();
  const std::string settings = SettingsFor(BuildFile("app"));
  {
    SCOPED_TRACE(display->name);
    SettingsFile file(settings);
    ExpectNoteWhileTheApplicationRuns(true, {"Velmora", display->noteSentence, display->noteButton},
                                      false);
  }
  // In Japanese on any system: the note is Unicode; and in Russian, whose
  // sentence takes more room than the English one.
  for (const auto& [language, words] :
       {std::pair<const char*, NoteWords>{
            "ja", {"Velmora", kJapanese.noteSentence, kJapanese.noteButton}},
        std::pair<const char*, NoteWords>{
            "ru", {"Velmora", "Ваше изображение открыто в Velmora.", "Показать Velmora"}}}) {
    SCOPED_TRACE(language);
    SettingsFile file(settings + "Language=" + language + "\r\n");
    ExpectNoteWhileTheApplicationRuns(true, words, false);
  }
}

TEST_F(RoundTripTest, WaitingForTheApplicationCostsNoProcessorTime) {
  HostWindow main(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  // Processor and wall-clock seconds of one whole run.
  auto run = [&](const char* mode, double& wall) {
    StandinMode standin(mode);
    HostOptions o = testsupport::ImageOptions(300, 2, 16, false);
    o.platformWindow = reinterpret_cast<intptr_t>(main.get());
    TestHost host(o);
    FillPattern(host, o);
    const DWORD start = GetTickCount();
    const double before = ProcessorSeconds();
    EXPECT_GE(before, 0.0) << "no process times";
    EXPECT_EQ(Apply(host), 0);
    const double used = ProcessorSeconds() - before;
    wall = (GetTickCount() - start) / 1000.0;
    return used;
  };
  double instantWall = 0, longWall = 0;
  const double instant = run("copy", instantWall);
  const double longRun = run("sleep:4000", longWall);
  std::printf("processor time: %.3f s for a run of %.1f s, %.3f s for a run of %.1f s\n", instant,
              instantWall, longRun, longWall);
  EXPECT_GE(longWall, 4.0);
  EXPECT_LT(longRun - instant, 0.1);
}

}  // namespace

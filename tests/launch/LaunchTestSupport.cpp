#include "LaunchTestSupport.h"

#include <gtest/gtest.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "support/SystemError.h"

namespace launchtest {

namespace {

// Owns a kernel handle in the tests' own child runs.
class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  ~Handle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

std::string TempFolder() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
  std::string path(buffer, length);
  if (path.back() == '\\') path.pop_back();
  return path;
}

void PutBigEndian16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xff));
}

}  // namespace

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string StandinPath() {
  const char* binary = std::getenv("VELMORA_BINARY_DIR");
  if (binary == nullptr) throw std::runtime_error("VELMORA_BINARY_DIR is not set");
  return WindowsPath(binary) + "\\app\\Velmora.exe";
}

ScratchFolder::ScratchFolder(const std::string& label) {
  static unsigned serial = 0;
  path_ = TempFolder() + "\\velmora " + label + " " + std::to_string(GetCurrentProcessId()) + " " +
          std::to_string(++serial);
  RemoveTree(path_);
  if (!CreateDirectoryA(path_.c_str(), nullptr)) {
    throw std::runtime_error(testsupport::LastErrorText("cannot create " + path_));
  }
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

std::string ScratchFolder::Subfolder(const std::string& relative) const {
  std::string path = path_;
  size_t start = 0;
  while (start <= relative.size()) {
    const size_t end = relative.find('\\', start);
    path += "\\" + relative.substr(start, end == std::string::npos ? end : end - start);
    CreateDirectoryA(path.c_str(), nullptr);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return path;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  const Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    ADD_FAILURE() << testsupport::LastErrorText("cannot create " + path);
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    ADD_FAILURE() << testsupport::LastErrorText("cannot write " + path);
    return false;
  }
  return true;
}

std::optional<std::string> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
    return;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") RemoveTree(path + "\\" + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

std::string JobText(const std::string& folder, const std::string& exported,
                    const std::string& processed) {
  const char* const crlf = "\r\n";
  std::string text;
  text += std::string("<?xml version=\"1.0\"?>") + crlf;
  text += std::string("<General>") + crlf;
  text += std::string("<SourceApplication>Photoshop</SourceApplication>") + crlf;
  text += std::string("<PluginType>FILTER</PluginType>") + crlf;
  text += std::string("<ImageCount>1</ImageCount>") + crlf;
  text += "<ImportPath>" + folder + "</ImportPath>" + crlf;
  text += std::string("<SourcePath>NA</SourcePath>") + crlf;
  text += std::string("<ImageList>") + crlf;
  text += "<Image0000>" + exported + "</Image0000>" + crlf;
  text += std::string("</ImageList>") + crlf;
  text += "<ExportPath>" + folder + "</ExportPath>" + crlf;
  text += "<ExportImage>" + processed + "</ExportImage>" + crlf;
  text += std::string("</General>") + crlf;
  return text;
}

std::string Pixmap(uint32_t width, uint32_t height, const std::vector<uint16_t>& samples) {
  std::string out = "P6\n" + std::to_string(width) + "\n" + std::to_string(height) + "\n65535\n";
  for (uint16_t v : samples) PutBigEndian16(out, v);
  return out;
}

std::string FloatMap(uint32_t width, uint32_t height, const std::vector<float>& samples) {
  std::string out = "PF\n" + std::to_string(width) + "\n" + std::to_string(height) + "\n-1\n";
  for (float v : samples) {
    char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    out.append(bytes, sizeof v);
  }
  return out;
}

std::vector<uint16_t> PixmapSamples(const std::string& bytes, size_t headerLength) {
  std::vector<uint16_t> out;
  for (size_t i = headerLength; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<uint16_t>((static_cast<uint8_t>(bytes[i]) << 8) |
                                        static_cast<uint8_t>(bytes[i + 1])));
  }
  return out;
}

std::vector<float> FloatMapSamples(const std::string& bytes, size_t headerLength) {
  std::vector<float> out;
  for (size_t i = headerLength; i + 3 < bytes.size(); i += 4) {
    float v;
    std::memcpy(&v, &bytes[i], sizeof v);
    out.push_back(v);
  }
  return out;
}

PreparedJob PrepareJob(const std::string& folder, bool floatMap) {
  PreparedJob job;
  job.folder = folder;
  const std::string extension = floatMap ? "pfm" : "ppm";
  const std::string exported = "Velmora." + extension;
  const std::string processed = "Velmora_Processed." + extension;
  job.jobPath = folder + "\\Data.lif";
  job.exportedPath = folder + "\\" + exported;
  job.processedPath = folder + "\\" + processed;
  // 3 x 2 pixels.
  job.exportedBytes = floatMap ? FloatMap(3, 2,
                                          {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 0.125f, 0.3f, 0.6f, 0.9f,
                                           0.1f, 0.2f, 0.4f, 0.0f, 1.0f, 0.5f, 0.05f, 0.95f, 0.7f})
                               : Pixmap(3, 2,
                                        {0, 1, 2, 257, 4096, 32768, 65535, 65534, 12345, 54321, 100,
                                         200, 300, 40000, 50000, 60000, 7, 65000});
  if (!WriteBytes(job.jobPath, JobText(folder, exported, processed)) ||
      !WriteBytes(job.exportedPath, job.exportedBytes)) {
    throw std::runtime_error("cannot prepare the job in " + folder);
  }
  return job;
}

ScopedEnvironment::ScopedEnvironment(const char* name, const char* value) : name_(name) {
  char buffer[32768];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length > 0 && length < sizeof buffer) previous_ = std::string(buffer, length);
  SetEnvironmentVariableA(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
  SetEnvironmentVariableA(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
}

RunResult RunProgram(const std::string& commandLine, const std::string& errorFile,
                     DWORD timeoutMilliseconds) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  {
    // Shared for deleting, and deleted once read: a copy of the handle that
    // outlives the program (Wine's desktop process keeps the standard handles
    // of the program that started it) then stops no later run.
    Handle error(CreateFileA(errorFile.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!error.Valid()) {
      ADD_FAILURE() << testsupport::LastErrorText("RunProgram: cannot create " + errorFile);
      return result;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = error.Get();
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &info)) {
      ADD_FAILURE() << testsupport::LastErrorText("RunProgram: cannot start " + commandLine);
      return result;
    }
    result.started = true;
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    if (WaitForSingleObject(process.Get(), timeoutMilliseconds) == WAIT_OBJECT_0) {
      result.ended = true;
      GetExitCodeProcess(process.Get(), &result.exitCode);
    } else {
      // Our own child, which would otherwise outlive the test.
      TerminateProcess(process.Get(), 1);
      WaitForSingleObject(process.Get(), 5000);
    }
  }
  result.errorOutput = ReadBytes(errorFile).value_or(std::string());
  DeleteFileA(errorFile.c_str());
  return result;
}

std::vector<std::string> LogLines(const std::string& logPath) {
  std::vector<std::string> lines;
  const std::optional<std::string> text = ReadBytes(logPath);
  if (!text) return lines;
  size_t start = 0;
  while (start < text->size()) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    lines.push_back(text->substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

long CountOwnHandles() {
  // The layout of one entry of the system handle table (information class 16).
  struct HandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
  };
  struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
  };
  constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
  constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
  std::vector<char> buffer(1 << 20);
  for (;;) {
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                                     static_cast<ULONG>(buffer.size()), &needed);
    if (status == kLengthMismatch && buffer.size() < (1u << 28)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status != 0) return -1;
    break;
  }
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  long own = 0;
  for (ULONG i = 0; i < table->count; ++i) {
    if (table->entries[i].ownerProcessId == GetCurrentProcessId()) ++own;
  }
  return own;
}

bool WaitForFile(const std::string& path, DWORD timeoutMilliseconds) {
  const DWORD start = GetTickCount();
  while (!FileExists(path)) {
    if (GetTickCount() - start > timeoutMilliseconds) return false;
    Sleep(50);
  }
  return true;
}

}  // namespace launchtest

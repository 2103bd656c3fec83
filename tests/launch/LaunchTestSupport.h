// Real folders, files and child processes for the launcher and stand-in tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace launchtest {

// A Unix path of the build machine as Wine's Z: drive shows it; a Windows
// path is returned unchanged.
std::string WindowsPath(const std::string& path);

// The stand-in Velmora.exe of this build tree.
std::string StandinPath();

// A fresh folder under the temporary folder, its name holding spaces, removed
// with everything in it on destruction.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& label);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }  // no trailing backslash
  // Creates a subfolder (and its parents inside this folder); its path.
  std::string Subfolder(const std::string& relative) const;

 private:
  std::string path_;
};

// Writes a whole file; false, with the failure and Windows' reason added to
// the running test's failures, when it cannot.
bool WriteBytes(const std::string& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::string& path);
bool FileExists(const std::string& path);
void RemoveTree(const std::string& path);

// The 13 CR LF lines of a job description for images in one folder.
std::string JobText(const std::string& folder, const std::string& exported,
                    const std::string& processed);

// Exchange image files: header lines and samples as the plug-in writes them.
std::string Pixmap(uint32_t width, uint32_t height, const std::vector<uint16_t>& samples);
std::string FloatMap(uint32_t width, uint32_t height, const std::vector<float>& samples);
std::vector<uint16_t> PixmapSamples(const std::string& bytes, size_t headerLength);
std::vector<float> FloatMapSamples(const std::string& bytes, size_t headerLength);

// A job description and exported image written into a folder, ready for the
// stand-in: <folder>\Data.lif and <folder>\Velmora.ppm (or .pfm).
struct PreparedJob {
  std::string folder;
  std::string jobPath;
  std::string exportedPath;
  std::string processedPath;
  std::string exportedBytes;
};
PreparedJob PrepareJob(const std::string& folder, bool floatMap);

// Sets an environment variable of this process (inherited by children
// started without an environment block) and restores it on destruction.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// One run of a program to its end, with its standard error in a file. A
// program that cannot be started fails the running test with Windows'
// reason, and its exit code stays 9999.
struct RunResult {
  bool started = false;
  bool ended = false;  // false: killed after the time-out
  DWORD exitCode = 9999;
  std::string errorOutput;
};
RunResult RunProgram(const std::string& commandLine, const std::string& errorFile,
                     DWORD timeoutMilliseconds = 30000);

// Lines of a stand-in log: "argc=", "cmdline=" and "arg1=" records.
std::vector<std::string> LogLines(const std::string& logPath);

// The number of kernel handles this process holds, from the system's handle
// table; -1 when it cannot be read.
long CountOwnHandles();

// Waits until a file exists, at most the given time.
bool WaitForFile(const std::string& path, DWORD timeoutMilliseconds);

}  // namespace launchtest

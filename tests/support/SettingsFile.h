// The Wine user's settings file "VelmoraPro\plugin.ini" under the profile
// folder, replaced for a test and put back afterwards.
#pragma once

#include <shlobj.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "support/BuildPaths.h"

namespace testsupport {

inline std::optional<std::string> ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A settings file that names folder as the application's folder.
inline std::string SettingsFor(const std::string& folder) {
  return "[General]\r\nApplicationPath=" + folder + "\r\n";
}

// The settings file naming this build tree's stand-in application.
inline std::string StandinSettings() { return SettingsFor(BuildFile("app")); }

// Where the plug-in looks for its settings file.
inline std::string SettingsPath() {
  char profile[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, 0, profile);
  return std::string(profile) + "\\VelmoraPro\\plugin.ini";
}

class SettingsFile {
 public:
  // Null content: no settings file at all.
  explicit SettingsFile(const std::optional<std::string>& content) {
    path_ = SettingsPath();
    folder_ = path_.substr(0, path_.rfind('\\'));
    previous_ = ReadTextFile(path_);
    Write(content);
  }
  ~SettingsFile() { Write(previous_); }
  SettingsFile(const SettingsFile&) = delete;
  SettingsFile& operator=(const SettingsFile&) = delete;

 private:
  void Write(const std::optional<std::string>& content) const {
    if (!content) {
      DeleteFileA(path_.c_str());
      return;
    }
    CreateDirectoryA(folder_.c_str(), nullptr);
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << *content;
  }
  std::string folder_;
  std::string path_;
  std::optional<std::string> previous_;
};

}  // namespace testsupport

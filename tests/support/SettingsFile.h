// The Wine user's settings file "VelmoraPro\plugin.ini" under the profile
// folder, replaced for a test and put back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "support/BuildPaths.h"
#include "support/SystemError.h"

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
      if (!DeleteFileA(path_.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        ADD_FAILURE() << LastErrorText("cannot delete the settings file " + path_);
      return;
    }
    if (!CreateDirectoryA(folder_.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      ADD_FAILURE() << LastErrorText("cannot create the settings folder " + folder_);
    const HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      ADD_FAILURE() << LastErrorText("cannot write the settings file " + path_);
      return;
    }
    DWORD written = 0;
    if (!WriteFile(file, content->data(), static_cast<DWORD>(content->size()), &written, nullptr) ||
        written != content->size())
      ADD_FAILURE() << LastErrorText("cannot write the settings file " + path_);
    CloseHandle(file);
  }
  std::string folder_;
  std::string path_;
  std::optional<std::string> previous_;
};

}  // namespace testsupport

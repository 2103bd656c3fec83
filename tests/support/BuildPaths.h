// Paths of the build tree as the test programs see them: under Wine a Unix
// path is reachable through drive Z:.
#pragma once

#include <cstdlib>
#include <string>

namespace testsupport {

inline std::string ToWindowsPath(std::string path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') {
    for (char& c : path)
      if (c == '/') c = '\\';
    path = "Z:" + path;
  }
#endif
  return path;
}

// A file of the build tree, e.g. BuildFile("plugin/Velmora.8bf").
inline std::string BuildFile(const std::string& relative) {
  const char* root = std::getenv("VELMORA_BINARY_DIR");
  return ToWindowsPath(std::string(root != nullptr ? root : ".") + "/" + relative);
}

}  // namespace testsupport

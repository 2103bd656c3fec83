#include "installer/peruser/EarlierSettings.h"

namespace peruser {

bool TryEarlierReleaseSettings(const std::string& bytes, std::string& folder) {
  // The installer wrote these two lines and nothing else, with the folder
  // it had stripped of trailing backslashes and then ended with one.
  static const std::string kStart = "[General]\r\nApplicationPath=";
  static const std::string kEnd = "\\\r\n";
  if (bytes.size() <= kStart.size() + kEnd.size()) return false;
  if (bytes.compare(0, kStart.size(), kStart) != 0) return false;
  if (bytes.compare(bytes.size() - kEnd.size(), kEnd.size(), kEnd) != 0) return false;
  const std::string named = bytes.substr(kStart.size(), bytes.size() - kStart.size() - kEnd.size());
  if (named.find_first_of("\r\n") != std::string::npos) return false;
  // Only a drive's root kept its backslash: "C:\" became "C:\\".
  if (named.back() == '\\' && named.size() != 3) return false;
  folder = named;
  return true;
}

}  // namespace peruser

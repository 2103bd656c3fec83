// What the stand-in's probe mode saw of a host's windows while the plug-in
// waited: one "probe=" line of its log per window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace testsupport {

// The message the probe sends, and the exit code of the quit message it
// posts to its first window afterwards.
constexpr UINT kProbeMessage = WM_APP + 1;
constexpr WPARAM kProbeQuitCode = 23;

struct ProbeRecord {
  std::string window;  // the handle in decimal, as the mode named it
  bool answered = false;
  uint64_t result = 0;
  bool enabled = false;
  uint64_t microseconds = 0;  // until the answer or the time-out
};

// The mode text that probes these windows in this order.
inline std::string ProbeMode(const std::vector<HWND>& windows) {
  std::string mode = "probe:";
  for (HWND window : windows) {
    if (mode.back() != ':') mode += ',';
    mode += std::to_string(reinterpret_cast<uintptr_t>(window));
  }
  return mode;
}

inline std::string WindowNumber(HWND window) {
  return std::to_string(reinterpret_cast<uintptr_t>(window));
}

// The probe lines of a stand-in log, in order; other lines are skipped.
inline std::vector<ProbeRecord> ProbeRecords(const std::string& log) {
  auto field = [](const std::string& line, const std::string& name) {
    const size_t at = line.find(" " + name + "=");
    if (at == std::string::npos) return std::string();
    const size_t start = at + name.size() + 2;
    return line.substr(start, line.find(' ', start) - start);
  };
  std::vector<ProbeRecord> records;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = " " + log.substr(start, end - start);
    start = end + 1;
    if (line.rfind(" probe=", 0) != 0) continue;
    ProbeRecord r;
    r.window = field(line, "probe");
    r.answered = field(line, "answered") == "1";
    r.result = std::strtoull(field(line, "result").c_str(), nullptr, 10);
    r.enabled = field(line, "enabled") == "1";
    r.microseconds = std::strtoull(field(line, "microseconds").c_str(), nullptr, 10);
    records.push_back(r);
  }
  return records;
}

}  // namespace testsupport

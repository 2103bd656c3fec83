// Words for the tests' own Windows calls that fail (making a scratch file,
// starting a program), so that a failing test says why instead of showing
// only a made-up exit code; and names that no other run shares.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace testsupport {

// "error 32: The process cannot access the file because it is being used by
// another process." The system's own text, as FormatMessage gives it.
inline std::string SystemErrorText(DWORD code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string words(text, length);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
    words.pop_back();
  return "error " + std::to_string(code) + (words.empty() ? "" : ": " + words);
}

// What failed, with the error the calling thread's last call left; to be
// called right after the failed call.
inline std::string LastErrorText(const std::string& what) {
  const DWORD code = GetLastError();
  return what + ": " + SystemErrorText(code);
}

// A file or folder name for one use, unique to this test process and to
// this use: the label, the process's id and a serial number. Runs of the
// same test, at the same time or one after another, never share one, so a
// handle that an earlier run's program still holds cannot stop the next.
inline std::string UniqueName(const std::string& label) {
  static std::atomic<unsigned> serial{0};
  return "velmora_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++serial) + "_" +
         label;
}

}  // namespace testsupport

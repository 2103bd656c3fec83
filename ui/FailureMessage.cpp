#include "ui/FailureMessage.h"

#include <windows.h>

#include <vector>

#include "base/SystemPaths.h"
#include "ui/FailureText.h"
#include "ui/Language.h"
#include "ui/ModuleText.h"
#include "ui/ResourceIds.h"

namespace {

// Each failure's value is the id of its string.
static_assert(static_cast<int>(EFailure::kNoMemory) == IDS_FAILURE_NO_MEMORY);
static_assert(static_cast<int>(EFailure::kPluginFault) == IDS_FAILURE_PLUGIN_FAULT);
static_assert(static_cast<int>(EFailure::kUnsupportedImage) == IDS_FAILURE_UNSUPPORTED_IMAGE);
static_assert(static_cast<int>(EFailure::kNoTempFolder) == IDS_FAILURE_NO_TEMP_FOLDER);
static_assert(static_cast<int>(EFailure::kPathTooLong) == IDS_FAILURE_PATH_TOO_LONG);
static_assert(static_cast<int>(EFailure::kWorkFolderNotMade) == IDS_FAILURE_WORK_FOLDER_NOT_MADE);
static_assert(static_cast<int>(EFailure::kWorkFileHeld) == IDS_FAILURE_WORK_FILE_HELD);
static_assert(static_cast<int>(EFailure::kFileNotWritten) == IDS_FAILURE_FILE_NOT_WRITTEN);
static_assert(static_cast<int>(EFailure::kDiskFull) == IDS_FAILURE_DISK_FULL);
static_assert(static_cast<int>(EFailure::kSettingsMissing) == IDS_FAILURE_SETTINGS_MISSING);
static_assert(static_cast<int>(EFailure::kSettingsNoKey) == IDS_FAILURE_SETTINGS_NO_KEY);
static_assert(static_cast<int>(EFailure::kSettingsNotFull) == IDS_FAILURE_SETTINGS_NOT_FULL);
static_assert(static_cast<int>(EFailure::kApplicationMissing) == IDS_FAILURE_APPLICATION_MISSING);
static_assert(static_cast<int>(EFailure::kApplicationNotStarted) ==
              IDS_FAILURE_APPLICATION_NOT_STARTED);
static_assert(static_cast<int>(EFailure::kCommandTooLong) == IDS_FAILURE_COMMAND_TOO_LONG);
static_assert(static_cast<int>(EFailure::kWaitFailed) == IDS_FAILURE_WAIT_FAILED);
static_assert(static_cast<int>(EFailure::kNoProfileFolder) == IDS_FAILURE_NO_PROFILE_FOLDER);
static_assert(static_cast<int>(EFailure::kApplicationCrashed) == IDS_FAILURE_APPLICATION_CRASHED);
static_assert(static_cast<int>(EFailure::kNotAnImage) == IDS_FAILURE_NOT_AN_IMAGE);
static_assert(static_cast<int>(EFailure::kWrongSize) == IDS_FAILURE_WRONG_SIZE);
static_assert(static_cast<int>(EFailure::kFileShort) == IDS_FAILURE_FILE_SHORT);
static_assert(static_cast<int>(EFailure::kTempFolderUnusable) == IDS_FAILURE_TEMP_FOLDER_UNUSABLE);
static_assert(static_cast<int>(EFailure::kHostFault) == IDS_FAILURE_HOST_FAULT);
static_assert(static_cast<int>(EFailure::kSilentPlay) == IDS_FAILURE_SILENT_PLAY);

// The system's text for an error code on one line, without the line end it
// comes with; empty when the system has none.
std::wstring SystemText(uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring line = length > 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) LocalFree(text);
  for (wchar_t& c : line) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  while (!line.empty() && line.back() == L' ') line.pop_back();
  return line;
}

}  // namespace

std::wstring FailureWords(const FailureReport& report, uint16_t language) {
  if (report.failure == EFailure::kNone) return std::wstring();
  const std::wstring text = ModuleText(static_cast<unsigned>(report.failure), language);
  if (text.empty()) return text;
  std::vector<std::wstring> facts;
  for (const std::string& fact : report.facts) facts.push_back(FromAnsi(fact));
  std::wstring words = FillPlaceholders(text, facts);
  if (report.systemError != 0) {
    const std::wstring system = SystemText(report.systemError);
    const std::vector<std::wstring> parts = {
        words, system.empty() ? std::to_wstring(report.systemError) : system};
    words = FillPlaceholders(
        ModuleText(system.empty() ? IDS_FAILURE_SYSTEM_CODE : IDS_FAILURE_SYSTEM_SAYS, language),
        parts);
  }
  return words;
}

std::string FailureMessage(const FailureReport& report, size_t maxBytes) {
  if (report.failure == EFailure::kNone) return std::string();
  // The translated words only where the code page holds them exactly, as a
  // Japanese text on a Western system it does not: English then. The facts
  // came in the code page and the English words are plain ASCII, so only
  // the system's own text may lose a character there, as it always did.
  uint16_t language = UserLanguage();
  std::string probe;
  if (language != kEnglishLanguage && !TryToAnsi(FailureWords(report, language), probe)) {
    language = kEnglishLanguage;
  }
  // Windows' reason is quoted whole after the sentence; only the paths
  // among the facts give way when the whole is too long for the host.
  FailureReport shown = report;
  auto fitted = [&](uint16_t wordsLanguage) {
    return FitPathsInMessage(report.facts, maxBytes, &sys::CharacterBytes,
                             [&](const std::vector<std::string>& facts) {
                               shown.facts = facts;
                               return ToAnsi(FailureWords(shown, wordsLanguage));
                             });
  };
  std::string message = fitted(language);
  // Words that are longer even so would be cut before their remedy: most
  // Russian, Japanese and Korean ones on a system whose code page is UTF-8,
  // where a letter takes two or three bytes. The English words fit whole
  // there (plain ASCII, at most as long as in Windows-1252), so they go in
  // their place.
  if (message.size() > maxBytes && language != kEnglishLanguage) {
    std::string english = fitted(kEnglishLanguage);
    if (english.size() <= maxBytes) message.swap(english);
  }
  return message;
}

bool TryTellHost(uint8_t (*errorString)[256], const FailureReport& report) {
  if (errorString == nullptr) return false;
  const std::string message = FailureMessage(report, 255);
  if (message.empty()) return false;
  WritePascalString(*errorString, message, &sys::CharacterBytes);
  return true;
}

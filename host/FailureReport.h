// What the user is told when a call fails: which text, the facts it names
// and the system's error code, noted by the step that fails and kept with
// the first failure of the call, as recordResult keeps its code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The failures that have words of their own. Each value is the id of its
// text in the module's string table; the facts fill the text's numbered
// placeholders in the order given with each.
enum class EFailure : uint16_t {
  kNone = 0,
  kNoMemory = 17000,               // -
  kPluginFault = 17001,            // the code
  kUnsupportedImage = 17002,       // -
  kNoTempFolder = 17003,           // -
  kPathTooLong = 17004,            // the path
  kWorkFolderNotMade = 17005,      // the folder
  kWorkFileHeld = 17006,           // the file
  kFileNotWritten = 17007,         // the file
  kDiskFull = 17008,               // the folder, bytes needed, bytes free
  kSettingsMissing = 17009,        // settings file, section, key
  kSettingsNoKey = 17010,          // settings file, section, key
  kSettingsNotFull = 17011,        // settings file, section, key, the value
  kApplicationMissing = 17012,     // the executable, settings file, key
  kApplicationNotStarted = 17013,  // the executable, settings file, key
  kCommandTooLong = 17014,         // the executable, the job description
  kWaitFailed = 17015,             // -
  kNoProfileFolder = 17016,        // -
  kApplicationCrashed = 17017,     // the exit status in hexadecimal
  kNotAnImage = 17018,             // the file, the kind expected
  kWrongSize = 17019,              // the file, its width, height, the host's width, height
  kFileShort = 17020,              // the file, the sample bytes it has, the bytes needed
  kTempFolderUnusable = 17021,     // the temporary folder
  kHostFault = 17022,              // the code
  kSilentPlay = 17030,             // -
};

struct FailureReport {
  EFailure failure = EFailure::kNone;
  std::vector<std::string> facts;
  // The system's error code whose own text is quoted after ours; 0 for none.
  uint32_t systemError = 0;
};

// The failures of one call to the entry point, current for the object's
// lifetime; the scope that was current before comes back when it ends.
class FailureScope {
 public:
  FailureScope();
  ~FailureScope();
  FailureScope(const FailureScope&) = delete;
  FailureScope& operator=(const FailureScope&) = delete;

  // The report of the call's result: the note that went with the first
  // failure recorded; EFailure::kNone when that failure had none.
  const FailureReport& Reported() const { return reported_; }
  // Replaces the report, for a failure that ends the call outside the steps
  // (no context, an exception at the entry point).
  void Report(EFailure failure, std::vector<std::string> facts = {});
  // The language the user asked for in the settings file, once the call has
  // read it; empty before, or when the file names none.
  const std::string& LanguageSetting() const { return language_; }

 private:
  friend void NoteFailure(EFailure, std::vector<std::string>, uint32_t);
  friend void TakeNotedFailure(bool);
  friend void NoteLanguageSetting(std::string);
  friend std::string CurrentLanguageSetting();

  FailureScope* outer_;
  FailureReport noted_;
  FailureReport reported_;
  std::string language_;
};

// Notes the failure that the calling step is about to return. It goes with
// the next code given to recordResult, if that is the call's first failure;
// a later note replaces one not yet taken. Without a scope it is dropped.
void NoteFailure(EFailure failure, std::vector<std::string> facts = {}, uint32_t systemError = 0);

// recordResult's part: the pending note becomes the call's report when
// first is true, and is dropped in any case.
void TakeNotedFailure(bool first);

// Notes the settings file's choice of language for the user's words in the
// rest of the call; a failure before the file is read ends the run, so it is
// told in the user's display language. Without a scope it is dropped.
void NoteLanguageSetting(std::string setting);

// The current call's noted language setting; empty when there is none.
std::string CurrentLanguageSetting();

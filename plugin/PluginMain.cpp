#include "plugin/PluginMain.h"

#include <atomic>
#include <new>
#include <string>

#include "convert/IConvertBuffer.h"
#include "host/ErrorSuite.h"
#include "host/FailureReport.h"
#include "host/HandleServices.h"
#include "host/HostTraits.h"
#include "host/PluginContext.h"
#include "launch/ModalWait.h"
#include "plugin/RunSequence.h"
#include "ui/About.h"
#include "ui/Alert.h"
#include "ui/FailureBox.h"
#include "ui/FailureMessage.h"
#include "ui/ModuleText.h"

namespace {

void RunFilterSelector(int16_t selector) {
  switch (selector) {
    case host::kSelectorPrepare:
      Prepare();
      break;
    case host::kSelectorStart:
      Start();
      break;
    case host::kSelectorContinue:
    case host::kSelectorFinish:
      Continue();
      break;
    default:  // Parameters and unknown selectors: nothing beyond the restore
      break;
  }
}

// After a failure that escaped the operations: nothing stays open or held,
// and the host is asked for no more image data.
void ReleaseContextResources() {
  PluginContext* context = gContext;
  if (context == nullptr) return;
  Close(context->importFile);
  Close(context->exportFile);
  context->converter.reset();
  try {
    ClearRequestRects();
  } catch (...) {
  }
}

// Set for as long as a call is in progress. The wait for the application
// serves the host's messages, and a host may call in again from one of them
// (a script, a timer, a second instance's request); that call must leave the
// waiting one's context, lock, files and result alone.
std::atomic<bool> gCallInProgress{false};

// A call that arrived during another: About works as ever, it needs no
// context; a run is refused as a second run is, with the same words, and
// every other selector simply ends.
void AnswerNestedCall(int16_t selector, void* parameterBlock, int16_t* result) {
  try {
    if (selector == host::kSelectorAbout) {
      *result = ShowAbout(static_cast<const host::AboutRecord*>(parameterBlock));
      return;
    }
    if (selector == host::kSelectorPrepare || selector == host::kSelectorStart) {
      const auto* record = static_cast<const host::FilterRecord*>(parameterBlock);
      ShowWorkFolderBusyAlert(reinterpret_cast<void*>(HostWindow(record)));
    }
    *result = kUserCanceled;
  } catch (...) {
    *result = kUserCanceled;
  }
}

// Marks a call as in progress for its whole extent, however it ends.
class CallInProgress {
 public:
  CallInProgress() = default;
  CallInProgress(const CallInProgress&) = delete;
  CallInProgress& operator=(const CallInProgress&) = delete;
  ~CallInProgress() { gCallInProgress.store(false); }

  // False when another call holds the mark; then nothing is taken.
  static bool TryEnter() { return !gCallInProgress.exchange(true); }
};

// Tells the user in words why the call failed, the way this host allows.
// Hosts known to show errorString get the words there, and whole, in the
// user's language, through their Unicode error channel where they offer
// one, and are asked to show them (-30904); the code stays as it is for such
// hosts that take neither (some read errorString without ever setting it).
// Every other host gets the words in a box of the plug-in's own and then a
// positive result, which tells it that the user knows: it adds no message
// of its own and takes no output. Under silent play no window may appear:
// the host's channels are the only way, in any host. Failures without words
// (a cancel, a host's own code, a failure the user was already told of) get
// nothing. escaped is the code of an exception that ended the call, 0 for
// none; byHost tells that the host's fault raised it.
void TellUserWhy(host::FilterRecord* record, int16_t* result, FailureScope& failures,
                 int16_t escaped, bool byHost) noexcept {
  if (*result == kNoErr) return;
  try {
    if (escaped != kNoErr) {
      failures.Report(escaped == kMemFullErr ? EFailure::kNoMemory
                      : byHost               ? EFailure::kHostFault
                                             : EFailure::kPluginFault,
                      {std::to_string(escaped)});
    }
    const FailureReport& report = failures.Reported();
    if (!IsSilentPlay(record) && !ShowsErrorString(record)) {
      if (ShowFailureBox(HostWindow(record), report)) *result = kReportedToUser;
      return;
    }
    const bool inString = TryTellHost(record->errorString, report);
    const std::wstring words = FailureWords(report, UserLanguage());
    uint8_t fitted[256] = {};
    TryTellHost(&fitted, report);
    const bool inSuite = TrySetHostErrorText(record, std::u16string(words.begin(), words.end()),
                                             FailureMessage(report), fitted);
    if (inString || inSuite) *result = kErrReportString;
  } catch (...) {
    // No memory for the words: the code alone still tells the host.
  }
}

}  // namespace

extern "C" VELMORA_EXPORT void PluginMain(int16_t selector, void* parameterBlock, intptr_t* data,
                                          int16_t* result) {
  if (parameterBlock == nullptr || data == nullptr || result == nullptr) return;
  if (!CallInProgress::TryEnter()) {
    AnswerNestedCall(selector, parameterBlock, result);
    return;
  }
  const CallInProgress inProgress;
  gContext = nullptr;
  gContextLocked = false;

  const bool isAbout = selector == host::kSelectorAbout;
  auto* record = isAbout ? nullptr : static_cast<host::FilterRecord*>(parameterBlock);
  FailureScope failures;
  int16_t failure = kNoErr;
  bool hostFault = false;
  try {
    if (isAbout) {
      *result = ShowAbout(static_cast<const host::AboutRecord*>(parameterBlock));
    } else {
      *result = RestoreContext(record, data, result);
      if (*result == kNoErr) {
        RunFilterSelector(selector);
      } else {
        failures.Report(EFailure::kNoMemory);
      }
    }
  } catch (EError error) {
    failure = error;
  } catch (EHostFault fault) {
    failure = fault;
    hostFault = true;
  } catch (const std::bad_alloc&) {
    failure = kMemFullErr;
  } catch (...) {
    failure = kParamErr;
  }
  if (failure != kNoErr) {
    ReleaseContextResources();
    *result = failure;
  }

  if (!isAbout) {
    TellUserWhy(record, result, failures, failure, hostFault);
    const host::HandleProcs* procs = record->handleProcs;
    if (gContextLocked && *data != 0) UnlockHandle(procs, reinterpret_cast<host::Handle>(*data));
    if (record->parameters != nullptr) UnlockHandle(procs, record->parameters);
  }
  gContext = nullptr;
  gContextLocked = false;
  // Only now, with the host's image complete and nothing more to ask of it:
  // a host that looks for keys during the import would take the quit there.
  PostPendingQuit();
}

#include "plugin/PluginMain.h"

#include <new>
#include <string>

#include "convert/IConvertBuffer.h"
#include "host/FailureReport.h"
#include "host/HandleServices.h"
#include "host/PluginContext.h"
#include "plugin/RunSequence.h"
#include "ui/About.h"
#include "ui/FailureMessage.h"

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

// Puts the user's words for the call's failure into the host's error string
// and has the host show them (-30904). The code stays as it is for hosts
// that give no string (some read it without ever setting it) and for
// failures without words: a cancel, a host's own code, a failure the user
// was already told of. escaped is the code of an exception that ended the
// call, 0 for none.
void TellHostWhy(host::FilterRecord* record, int16_t* result, FailureScope& failures,
                 int16_t escaped) noexcept {
  if (*result == kNoErr || record->errorString == nullptr) return;
  try {
    if (escaped != kNoErr) {
      failures.Report(escaped == kMemFullErr ? EFailure::kNoMemory : EFailure::kPluginFault,
                      {std::to_string(escaped)});
    }
    if (TryTellHost(record->errorString, failures.Reported())) *result = kErrReportString;
  } catch (...) {
    // No memory for the words: the code alone still tells the host.
  }
}

}  // namespace

extern "C" VELMORA_EXPORT void PluginMain(int16_t selector, void* parameterBlock, intptr_t* data,
                                          int16_t* result) {
  if (parameterBlock == nullptr || data == nullptr || result == nullptr) return;
  gContext = nullptr;
  gContextLocked = false;

  const bool isAbout = selector == host::kSelectorAbout;
  auto* record = isAbout ? nullptr : static_cast<host::FilterRecord*>(parameterBlock);
  FailureScope failures;
  int16_t failure = kNoErr;
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
    TellHostWhy(record, result, failures, failure);
    const host::HandleProcs* procs = record->handleProcs;
    if (gContextLocked && *data != 0) UnlockHandle(procs, reinterpret_cast<host::Handle>(*data));
    if (record->parameters != nullptr) UnlockHandle(procs, record->parameters);
  }
  gContext = nullptr;
  gContextLocked = false;
}

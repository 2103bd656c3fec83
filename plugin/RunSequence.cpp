#include "plugin/RunSequence.h"

#include "base/BinaryFile.h"
#include "base/SystemPaths.h"
#include "base/TextFormat.h"
#include "convert/PixelFormat.h"
#include "exchange/ExportPass.h"
#include "exchange/HostTransfer.h"
#include "exchange/ImportPass.h"
#include "exchange/WorkFolder.h"
#include "exchange/WorkFolderLock.h"
#include "formats/JobDescription.h"
#include "host/FailureReport.h"
#include "host/HostInterface.h"
#include "host/HostTraits.h"
#include "host/PluginContext.h"
#include "launch/Launcher.h"
#include "ui/AdvanceStateWarning.h"
#include "ui/Alert.h"
#include "ui/WaitNote.h"

namespace {

// The import blends the processed image by the selection itself: a host
// that still masked by autoMask (not every host clears it for the property
// list's "writes outside the selection") would apply the coverage twice and
// shrink every feathered edge. Set again at Start, for hosts that hand
// each call a fresh record.
void KeepHostFromMasking(host::FilterRecord* record) {
  if (HasSelection(record)) record->autoMask = 0;
}

}  // namespace

void Prepare() {
  PluginContext* context = checkContext(gContext);
  host::FilterRecord* record = context->filterRecord;
  if (GetHostPixelFormat(record) == None) {
    NoteFailure(EFailure::kUnsupportedImage);
    recordResult(kExportBadMode);
    return;
  }
  if (record->bigDocumentData != nullptr) record->bigDocumentData->PluginUsing32BitCoordinates = 1;
  record->bufferSpace = 0;
  KeepHostFromMasking(record);
}

intptr_t HostWindow(const host::FilterRecord* record) {
  const auto* platform = static_cast<const host::PlatformData*>(record->platformData);
  return platform != nullptr ? platform->hwnd : 0;
}

namespace {

// A process ended by an unhandled exception has the exception's code as its
// exit status: a system error code of severity "error" (0xC0000000 to
// 0xCFFFFFFF: an access violation is 0xC0000005, a stack overflow
// 0xC00000FD), or a software exception's, which has the customer bit set
// too (0xE0000000 to 0xEFFFFFFF: a .NET exception nothing caught ends the
// program with 0xE0434352, a C++ one with 0xE06D7363); a Delphi program's
// ends with 0x0EEDFADE. A program's own failure code (-1 is 0xFFFFFFFF, -2
// 0xFFFFFFFE) is none of them, nor is 0xC000013A, with which a console
// program ends when its window is closed.
bool IsExceptionCode(uint32_t exitStatus) {
  const uint32_t kind = exitStatus & 0xF0000000u;
  if (kind == 0xC0000000u) return exitStatus != 0xC000013Au;
  return kind == 0xE0000000u || exitStatus == 0x0EEDFADEu;
}

// The exported image and the job description of a run that ends before the
// application has started: deleted, however the run ends, unless kept. A
// partial image may have taken the last of the disk's free space, which the
// host, its scratch files and every other program need back now.
class UnlaunchedFiles {
 public:
  explicit UnlaunchedFiles(PluginContext* context) : context_(context) {}
  ~UnlaunchedFiles() {
    if (kept_) return;
    Close(context_->exportFile);
    // Also while an exception passes: nothing may be thrown from here.
    try {
      if (context_->exportPath[0] != '\0') sys::RemoveFile(context_->exportPath);
      if (context_->jobPath[0] != '\0') sys::RemoveFile(context_->jobPath);
    } catch (...) {
      // No memory for the paths: the next run empties the folder.
    }
  }
  UnlaunchedFiles(const UnlaunchedFiles&) = delete;
  UnlaunchedFiles& operator=(const UnlaunchedFiles&) = delete;

  // The application has them now.
  void Keep() { kept_ = true; }

 private:
  PluginContext* context_;
  bool kept_ = false;
};

// Export, job description, launch and import; each step's code goes to
// recordResult, and the first failure decides which steps still run.
void RunRoundTrip(PluginContext* context) {
  // Held from before the folder is emptied until the import has finished.
  WorkFolderLock lock;
  switch (LockWorkFolder(lock)) {
    case ELockResult::eHeld:
      break;
    case ELockResult::eBusy:
      // Told here, so the host shows nothing more for the cancel.
      ShowWorkFolderBusyAlert(reinterpret_cast<void*>(HostWindow(context->filterRecord)));
      recordResult(kUserCanceled);
      return;
    case ELockResult::eFailed:
      recordResult(kParamErr);
      return;
  }
  if (!recordResult(SetExportPath())) return;
  if (!recordResult(SetImportPath())) return;
  if (!recordResult(OpenExportFile(context))) return;
  context->jobPath[0] = '\0';
  UnlaunchedFiles unlaunched(context);

  // Without advanceState the host cannot hand over its image: the user is
  // told which host version the plug-in needs, and the export fails.
  // The warning has told the user: the host is to add nothing of its own.
  const bool canTransfer = WarnIfAdvanceStateMissing(context->filterRecord->advanceState);
  bool ready = recordResult(canTransfer ? ExportHostImage(context) : kReportedToUser);
  // A failed export must not hand a partial image to the application.
  if (ready) ready = recordResult(WriteJobDescription(context));
  if (!recordResult(CloseExportFile(context))) return;
  if (!ready) return;

  // While the user works in the application the host's windows are disabled
  // but keep answering; its main window comes back to the front afterwards.
  // The application holds the lock too: should the host end while it runs,
  // no other run empties the folder it may still save into.
  // The note tells the user, in front of the disabled host, where the image
  // is and brings the application back to the front on request.
  CWaitNote note;
  const LaunchRequest request{context->jobPath, true, HostWindow(context->filterRecord), &lock,
                              &note};
  uint32_t exitStatus = 0;
  bool started = false;
  const int16_t launched = LaunchApplication(request, request.wait, &exitStatus, &started);
  if (started) unlaunched.Keep();
  if (!recordResult(launched)) return;

  // No processed file means the user closed the application without
  // saving: nothing to import and nothing to report. Unless it crashed: the
  // user must not take the unchanged image for the application's work.
  if (OpenImportFile(context) != kNoErr) {
    if (IsExceptionCode(exitStatus)) {
      char code[16] = {};
      FormatText(code, sizeof code, "0x%08X", static_cast<unsigned>(exitStatus));
      NoteFailure(EFailure::kApplicationCrashed, {code});
      recordResult(kPropertyUndefined);
      return;
    }
    // The run succeeds with the image as it was; some hosts hand out a blank
    // output and take it whenever a run succeeds, so it gets the image back.
    recordResult(ReturnHostImage(context));
    return;
  }
  recordResult(ImportProcessedImage(context));
  recordResult(CloseImportFile(context));
}

}  // namespace

bool Start() {
  PluginContext* context = checkContext(gContext);
  KeepHostFromMasking(context->filterRecord);
  if (IsSilentPlay(context->filterRecord)) {
    // A script or action that allows no window: the application needs the
    // user, so nothing starts and nothing of an earlier run is touched.
    NoteFailure(EFailure::kSilentPlay);
    recordResult(kPropertyUndefined);
  } else {
    RunRoundTrip(context);
  }
  return recordResult(ClearRequestRects());
}

bool Continue() {
  checkContext(gContext);
  return recordResult(ClearRequestRects());
}

int16_t ClearRequestRects() {
  if (gContext == nullptr || gContext->filterRecord == nullptr) return kParamErr;
  host::FilterRecord* record = gContext->filterRecord;
  const HostRect empty{0, 0, 0, 0};
  SetInRect(record, empty);
  SetOutRect(record, empty);
  SetMaskRect(record, empty);
  return kNoErr;
}

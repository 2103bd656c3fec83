#include "launch/ModalWait.h"

#include <windows.h>

#include <new>
#include <vector>

namespace {

// A quit message taken from the queue during a wait, kept until the plug-in
// returns to the host.
bool gQuitPending = false;
int gQuitCode = 0;

// What a modal wait changes on the host's thread, undone on every way out:
// the top-level windows it disabled and the note it showed.
class CModalScope {
 public:
  CModalScope(HWND owner, IWaitNote* note, DWORD processId) : owner_(owner), note_(note) {
    EnumThreadWindows(GetCurrentThreadId(), &CollectEnabled, reinterpret_cast<LPARAM>(&disabled_));
    for (HWND window : disabled_) EnableWindow(window, FALSE);
    if (note_ != nullptr) note_->Show(processId, reinterpret_cast<intptr_t>(Front()));
  }
  CModalScope(const CModalScope&) = delete;
  CModalScope& operator=(const CModalScope&) = delete;

  ~CModalScope() {
    HWND front = Front();
    const HWND noteWindow = note_ != nullptr ? reinterpret_cast<HWND>(note_->Window()) : nullptr;
    // The note may be what the system activated when the application's
    // window closed: while it still is, this process may hand the
    // foreground on, so the host's frame takes it before the note goes.
    if (front != nullptr && noteWindow != nullptr && GetForegroundWindow() == noteWindow) {
      SetForegroundWindow(front);
    }
    // Enabled before the note goes, as a modal dialog's owner is before the
    // dialog is destroyed: the system gives the activation back to an
    // enabled host window, not to another program's. A window the host
    // destroyed meanwhile is skipped.
    for (HWND window : disabled_) {
      if (IsWindow(window)) EnableWindow(window, TRUE);
    }
    if (note_ != nullptr) note_->Close();
    // The application had the foreground; without this the host would stay
    // behind whatever window comes next. A host minimised meanwhile would be
    // made active but stay out of sight, its new image unseen: it is restored.
    // A window of another thread is restored without waiting for that thread.
    if (front != nullptr) {
      if (IsIconic(front)) {
        if (GetWindowThreadProcessId(front, nullptr) == GetCurrentThreadId()) {
          ShowWindow(front, SW_RESTORE);
        } else {
          ShowWindowAsync(front, SW_RESTORE);
        }
      }
      SetForegroundWindow(front);
    }
  }

  // Keeps a quit message still in the queue for later, leaving the rest.
  void TakeQuit() {
    MSG message;
    if (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) Keep(message);
  }

  // Takes one message, if any, and dispatches it; sent messages are served
  // inside PeekMessage. A quit message is kept for later: the host asked to
  // end, which it shall once the application has.
  void ServeOneMessage() {
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return;
    if (message.message == WM_QUIT) {
      Keep(message);
      return;
    }
    if (note_ != nullptr && note_->TakeMessage(&message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

 private:
  static void Keep(const MSG& quit) {
    gQuitPending = true;
    gQuitCode = static_cast<int>(quit.wParam);
  }

  static BOOL CALLBACK CollectEnabled(HWND window, LPARAM list) {
    if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
    // Nothing may be thrown through the system's enumeration.
    try {
      reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    } catch (const std::bad_alloc&) {
      return FALSE;
    }
    return TRUE;
  }

  // The host's frame: the root of the window it named (a child window stands
  // for its frame), else the first window disabled; null when there is none.
  HWND Front() const {
    if (owner_ != nullptr && IsWindow(owner_)) return GetAncestor(owner_, GA_ROOT);
    if (!disabled_.empty() && IsWindow(disabled_.front())) return disabled_.front();
    return nullptr;
  }

  HWND owner_;
  IWaitNote* note_;
  std::vector<HWND> disabled_;
};

}  // namespace

bool WaitModally(void* object, intptr_t ownerWindow, IWaitNote* note) {
  CModalScope scope(reinterpret_cast<HWND>(ownerWindow), note, GetProcessId(object));
  const HANDLE handles[] = {object};
  for (;;) {
    // Input already seen but left in the queue wakes the wait too. The object
    // comes first, and one message is served per wake-up, so a host that
    // keeps posting to itself cannot hide the application's end.
    const DWORD answer =
        MsgWaitForMultipleObjectsEx(1, handles, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (answer == WAIT_OBJECT_0) {
      // The application may have asked the host to end just before it did;
      // that request waits with any other for the plug-in's return.
      scope.TakeQuit();
      return true;
    }
    if (answer != WAIT_OBJECT_0 + 1) return false;
    scope.ServeOneMessage();
  }
}

void PostPendingQuit() {
  if (!gQuitPending) return;
  gQuitPending = false;
  PostQuitMessage(gQuitCode);
}

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
// the top-level windows it disabled.
class CModalScope {
 public:
  explicit CModalScope(HWND owner) : owner_(owner) {
    EnumThreadWindows(GetCurrentThreadId(), &CollectEnabled, reinterpret_cast<LPARAM>(&disabled_));
    for (HWND window : disabled_) EnableWindow(window, FALSE);
  }
  CModalScope(const CModalScope&) = delete;
  CModalScope& operator=(const CModalScope&) = delete;

  ~CModalScope() {
    // A window the host destroyed meanwhile is skipped.
    for (HWND window : disabled_) {
      if (IsWindow(window)) EnableWindow(window, TRUE);
    }
    // The application had the foreground; without this the host would stay
    // behind whatever window comes next. A host minimised meanwhile would be
    // made active but stay out of sight, its new image unseen: it is restored.
    // A child window given as the host's window stands for its frame.
    HWND front = owner_ != nullptr && IsWindow(owner_) ? GetAncestor(owner_, GA_ROOT) : nullptr;
    if (front == nullptr && !disabled_.empty() && IsWindow(disabled_.front())) {
      front = disabled_.front();
    }
    if (front != nullptr) {
      if (IsIconic(front)) ShowWindow(front, SW_RESTORE);
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

  HWND owner_;
  std::vector<HWND> disabled_;
};

}  // namespace

bool WaitModally(void* object, intptr_t ownerWindow) {
  CModalScope scope(reinterpret_cast<HWND>(ownerWindow));
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

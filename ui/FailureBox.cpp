#include "ui/FailureBox.h"

#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "ui/ActivationContext.h"
#include "ui/FailureMessage.h"
#include "ui/ModuleText.h"
#include "ui/ResourceIds.h"

namespace {

// Disables, for its lifetime, the enabled and visible top-level windows of
// the calling thread other than `keep`, and enables exactly those again.
class CThreadWindowsDisabled {
 public:
  explicit CThreadWindowsDisabled(HWND keep) : keep_(keep) {
    EnumThreadWindows(GetCurrentThreadId(), &Collect, reinterpret_cast<LPARAM>(this));
    for (HWND window : disabled_) EnableWindow(window, FALSE);
  }
  ~CThreadWindowsDisabled() {
    for (HWND window : disabled_) {
      if (IsWindow(window)) EnableWindow(window, TRUE);
    }
  }
  CThreadWindowsDisabled(const CThreadWindowsDisabled&) = delete;
  CThreadWindowsDisabled& operator=(const CThreadWindowsDisabled&) = delete;

 private:
  static BOOL CALLBACK Collect(HWND window, LPARAM self) {
    auto* scope = reinterpret_cast<CThreadWindowsDisabled*>(self);
    if (window == scope->keep_ || !IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
    // Nothing may be thrown through the system's enumeration.
    try {
      scope->disabled_.push_back(window);
    } catch (const std::bad_alloc&) {
      return FALSE;
    }
    return TRUE;
  }

  HWND keep_;
  std::vector<HWND> disabled_;
};

// The top-level window that owns the box: the host's frame, when it belongs
// to the calling thread; null otherwise.
HWND BoxOwner(intptr_t ownerWindow) {
  const auto window = reinterpret_cast<HWND>(ownerWindow);
  if (window == nullptr || !IsWindow(window)) return nullptr;
  const HWND frame = GetAncestor(window, GA_ROOT);
  // Disabling a window of another thread waits for that thread, which may be
  // waiting for the plug-in.
  if (frame == nullptr || GetWindowThreadProcessId(frame, nullptr) != GetCurrentThreadId()) {
    return nullptr;
  }
  return frame;
}

}  // namespace

bool ShowFailureBox(intptr_t ownerWindow, const FailureReport& report) {
  // The box is Unicode: the words come whole, in the user's language
  // whatever the code page.
  const uint16_t language = UserLanguage();
  const std::wstring message = FailureWords(report, language);
  if (message.empty()) return false;
  const std::wstring title = ModuleText(IDS_FAILURE_BOX_TITLE, language);
  const HWND owner = BoxOwner(ownerWindow);
  const ScopedModuleActivation activation;  // themed like the plug-in's other windows
  constexpr UINT kStyle = MB_OK | MB_ICONWARNING | MB_SETFOREGROUND;
  if (owner == nullptr) {
    // The system disables every window of the thread and enables them again.
    MessageBoxW(nullptr, message.c_str(), title.c_str(), kStyle | MB_TASKMODAL);
    return true;
  }
  // The box disables its owner and hands it the activation back as it
  // closes; the thread's other windows (palettes, documents) wait too.
  const CThreadWindowsDisabled others(owner);
  MessageBoxW(owner, message.c_str(), title.c_str(), kStyle | MB_APPLMODAL);
  return true;
}

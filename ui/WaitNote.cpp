#include "ui/WaitNote.h"

#include <windows.h>

#include "ui/ActivationContext.h"
#include "ui/ModuleState.h"
#include "ui/ResourceIds.h"

namespace {

// Posted to the note when the user comes back to the host.
constexpr UINT kTakeActivation = WM_APP + 0x40;

// A text of the string table; empty when it is missing. Nothing here may
// throw: it runs inside the system's dialog procedure.
struct Text {
  explicit Text(UINT id) {
    LoadStringA(static_cast<HINSTANCE>(GetModuleInstance()), id, buffer, sizeof buffer);
  }
  char buffer[512] = {};
};

struct ApplicationSearch {
  DWORD processId;
  HWND found;
};

// The application's main window: a visible top-level window of its process
// that is unowned, or owned by a hidden window, as several application
// frameworks make their frames (a visible owner means a dialog or palette).
BOOL CALLBACK FindApplicationWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<ApplicationSearch*>(parameter);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId != search->processId || !IsWindowVisible(window)) return TRUE;
  const HWND owner = GetWindow(window, GW_OWNER);
  if (owner != nullptr && IsWindowVisible(owner)) return TRUE;
  search->found = window;
  return FALSE;
}

// Centred on the owner's frame, or on the work area of the primary screen,
// and kept within the work area of the screen it lands on.
void PlaceNote(HWND note, HWND owner) {
  RECT around{};
  if (owner == nullptr || !GetWindowRect(owner, &around)) {
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &around, 0);
  }
  RECT frame{};
  GetWindowRect(note, &frame);
  const LONG width = frame.right - frame.left;
  const LONG height = frame.bottom - frame.top;
  LONG x = around.left + (around.right - around.left - width) / 2;
  LONG y = around.top + (around.bottom - around.top - height) / 2;
  const RECT target{x, y, x + width, y + height};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoA(MonitorFromRect(&target, MONITOR_DEFAULTTONEAREST), &monitor)) {
    const RECT& work = monitor.rcWork;
    if (x + width > work.right) x = work.right - width;
    if (y + height > work.bottom) y = work.bottom - height;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
  }
  SetWindowPos(note, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK NoteProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      SetWindowTextA(dialog, Text(IDS_WAIT_NOTE_TITLE).buffer);
      SetDlgItemTextA(dialog, IDC_WAIT_NOTE_TEXT, Text(IDS_WAIT_NOTE_TEXT).buffer);
      SetDlgItemTextA(dialog, IDC_WAIT_NOTE_SHOW, Text(IDS_WAIT_NOTE_SHOW).buffer);
      // No focus now: setting it would activate the note and take the focus
      // from the application.
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_WAIT_NOTE_SHOW) {
        const auto* note = reinterpret_cast<const CWaitNote*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (note != nullptr) note->ShowApplication();
      }
      // Escape and Enter end nothing: only the application's end does.
      return TRUE;
    case WM_CLOSE:
      return TRUE;
    case WM_ACTIVATEAPP:
      if (wParam != FALSE) PostMessageA(dialog, kTakeActivation, 0, 0);
      return FALSE;
    case kTakeActivation: {
      // The user came back to the host, whose window cannot take input: the
      // note takes the activation, as a modal dialog would.
      const HWND owner = GetWindow(dialog, GW_OWNER);
      if (owner != nullptr && GetForegroundWindow() == owner) SetForegroundWindow(dialog);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

CWaitNote::~CWaitNote() { Close(); }

void CWaitNote::Show(uint32_t processId, intptr_t ownerWindow) noexcept {
  if (window_ != nullptr) return;
  processId_ = processId;
  const ScopedModuleActivation activation;
  if (!activation.Usable()) return;
  const HWND owner = reinterpret_cast<HWND>(ownerWindow);
  const HWND note = CreateDialogParamA(static_cast<HINSTANCE>(GetModuleInstance()),
                                       MAKEINTRESOURCEA(IDD_WAIT_NOTE), owner, &NoteProc,
                                       reinterpret_cast<LPARAM>(this));
  if (note == nullptr) return;
  window_ = note;
  PlaceNote(note, owner);
  ShowWindow(note, SW_SHOWNOACTIVATE);
}

bool CWaitNote::TakeMessage(void* message) noexcept {
  const auto* msg = static_cast<MSG*>(message);
  const auto note = static_cast<HWND>(window_);
  if (note == nullptr || msg == nullptr) return false;
  if (msg->hwnd != note && !IsChild(note, msg->hwnd)) return false;
  return IsDialogMessageA(note, const_cast<MSG*>(msg)) != FALSE;
}

void CWaitNote::Close() noexcept {
  if (window_ == nullptr) return;
  DestroyWindow(static_cast<HWND>(window_));
  window_ = nullptr;
}

void CWaitNote::ShowApplication() const noexcept {
  if (processId_ == 0) return;
  AllowSetForegroundWindow(processId_);
  ApplicationSearch search{processId_, nullptr};
  EnumWindows(&FindApplicationWindow, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return;
  // Asynchronous: a busy application must not hold up the host's thread.
  if (IsIconic(search.found)) ShowWindowAsync(search.found, SW_RESTORE);
  SetForegroundWindow(search.found);
}

#include "ui/WaitNote.h"

#include <windows.h>

#include "ui/ActivationContext.h"
#include "ui/ModuleState.h"
#include "ui/ModuleText.h"
#include "ui/ResourceIds.h"

namespace {

// Posted to the note when the user comes back to the host.
constexpr UINT kTakeActivation = WM_APP + 0x40;

// Sets a text of the string table, in the user's language, as the window's
// text. Nothing here may throw: it runs inside the system's dialog
// procedure; without memory the text stays empty.
void SetText(HWND window, UINT id, uint16_t language) noexcept {
  try {
    SetWindowTextW(window, ModuleText(id, language).c_str());
  } catch (...) {
  }
}

// A window's place in its parent's client area.
RECT PlaceInParent(HWND window) {
  RECT place{};
  GetWindowRect(window, &place);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

// The size a text takes in the window's font: broken into lines as a static
// control breaks it, at the given width, or on one line when width is 0.
SIZE TextExtent(HWND window, LONG width) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  RECT bounds{0, 0, width, 0};
  const HDC dc = GetDC(window);
  if (dc == nullptr) return SIZE{0, 0};
  const HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)));
  const UINT format =
      DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | (width > 0 ? DT_WORDBREAK : DT_SINGLELINE);
  DrawTextW(dc, text, -1, &bounds, format);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  return SIZE{bounds.right - bounds.left, bounds.bottom - bounds.top};
}

// The template fits the English words at the smallest scaling; longer words
// and larger fonts make the sentence take more lines and the button more
// room. Measured in the dialog's own font, so every scaling and every
// language gets the room it needs: the sentence grows downwards, the button
// leftwards and down with it, and the note with both.
void FitToText(HWND dialog) {
  const HWND text = GetDlgItem(dialog, IDC_WAIT_NOTE_TEXT);
  const HWND button = GetDlgItem(dialog, IDC_WAIT_NOTE_SHOW);
  if (text == nullptr || button == nullptr) return;
  RECT textPlace = PlaceInParent(text);
  RECT buttonPlace = PlaceInParent(button);
  // The button's margin around its text: four dialog units each side.
  RECT margin{0, 0, 4, 4};
  MapDialogRect(dialog, &margin);

  const LONG grow =
      TextExtent(text, textPlace.right - textPlace.left).cy - (textPlace.bottom - textPlace.top);
  if (grow > 0) {
    textPlace.bottom += grow;
    OffsetRect(&buttonPlace, 0, grow);
  }
  const SIZE buttonText = TextExtent(button, 0);
  const LONG needed = buttonText.cx + 2 * margin.right;
  if (needed > buttonPlace.right - buttonPlace.left) {
    buttonPlace.left = buttonPlace.right - needed;
    if (buttonPlace.left < textPlace.left) buttonPlace.left = textPlace.left;
  }
  if (buttonText.cy + margin.bottom > buttonPlace.bottom - buttonPlace.top) {
    buttonPlace.bottom = buttonPlace.top + buttonText.cy + margin.bottom;
  }
  MoveWindow(text, textPlace.left, textPlace.top, textPlace.right - textPlace.left,
             textPlace.bottom - textPlace.top, FALSE);
  MoveWindow(button, buttonPlace.left, buttonPlace.top, buttonPlace.right - buttonPlace.left,
             buttonPlace.bottom - buttonPlace.top, FALSE);

  // The same space below the button as the template has.
  RECT client{};
  GetClientRect(dialog, &client);
  RECT bottomMargin{0, 0, 0, 8};
  MapDialogRect(dialog, &bottomMargin);
  const LONG height = buttonPlace.bottom + bottomMargin.bottom;
  if (height > client.bottom) {
    RECT frame{};
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left,
                 frame.bottom - frame.top + height - client.bottom,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

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
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      // The settings file has been read by now: its language holds here.
      const uint16_t language = UserLanguage();
      SetText(dialog, IDS_WAIT_NOTE_TITLE, language);
      SetText(GetDlgItem(dialog, IDC_WAIT_NOTE_TEXT), IDS_WAIT_NOTE_TEXT, language);
      SetText(GetDlgItem(dialog, IDC_WAIT_NOTE_SHOW), IDS_WAIT_NOTE_SHOW, language);
      FitToText(dialog);
      // No focus now: setting it would activate the note and take the focus
      // from the application.
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_WAIT_NOTE_SHOW) {
        const auto* note = reinterpret_cast<const CWaitNote*>(GetWindowLongPtrW(dialog, DWLP_USER));
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
  // A Unicode window: its words need not fit the code page.
  const HWND note = CreateDialogParamW(static_cast<HINSTANCE>(GetModuleInstance()),
                                       MAKEINTRESOURCEW(IDD_WAIT_NOTE), owner, &NoteProc,
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
  return IsDialogMessageW(note, const_cast<MSG*>(msg)) != FALSE;
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

#include "ui/About.h"

#include <windows.h>

#include <algorithm>

#include "base/Error.h"
#include "ui/ActivationContext.h"
#include "ui/ModuleState.h"
#include "ui/ResourceIds.h"
#include "ui/Version.h"

namespace {

void CenterDialog(HWND dialog) {
  HWND parent = GetParent(dialog);
  if (parent == nullptr) parent = GetDesktopWindow();
  RECT client{};
  GetClientRect(parent, &client);
  POINT topLeft{client.left, client.top};
  POINT bottomRight{client.right, client.bottom};
  ClientToScreen(parent, &topLeft);
  ClientToScreen(parent, &bottomRight);

  int titleBits = GetSystemMetrics(SM_CXSIZE);
  if ((GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU) == 0) titleBits -= titleBits / 3;
  RECT frame{};
  GetWindowRect(dialog, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const DialogPlacement place =
      PlaceDialog(topLeft.x, topLeft.y, bottomRight.x - topLeft.x, bottomRight.y - topLeft.y, width,
                  height, titleBits, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  SetWindowPos(dialog, nullptr, place.x, place.y, width, height, SWP_NOZORDER);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (dialog == nullptr) return 0;
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, IDC_ABOUT_TEXT, AboutText().c_str());
      CenterDialog(dialog);
      return 1;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return 1;
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace

std::string AboutText() {
  return VELMORA_VERSION_LINE "\n\n\nA Filter plug-in module for Adobe Photoshop\xAE.\n\n";
}

DialogPlacement PlaceDialog(int parentLeft, int parentTop, int parentWidth, int parentHeight,
                            int width, int height, int titleBits, int screenWidth,
                            int screenHeight) {
  // Centred across, a third of the free height down; the shift by titleBits
  // is kept even when it makes x negative.
  int x = std::max(parentWidth - width, 0) / 2 + parentLeft - titleBits;
  if (x + width > screenWidth) x = std::max(0, screenWidth - width);
  int y = std::max(parentHeight - height, 0) / 3 + parentTop;
  if (y + height > screenHeight) y = std::max(0, screenHeight - height);
  return {x, y};
}

int16_t ShowAbout(const host::AboutRecord* record) {
  Require(record != nullptr);
  const auto* platform = static_cast<const host::PlatformData*>(record->platformData);
  if (platform == nullptr) return kParamErr;
  ScopedModuleActivation activation;
  if (activation.Usable()) {
    DialogBoxParamA(static_cast<HINSTANCE>(GetModuleInstance()), MAKEINTRESOURCEA(IDD_ABOUT),
                    reinterpret_cast<HWND>(platform->hwnd), &AboutDialogProc, 0);
  }
  return kNoErr;
}

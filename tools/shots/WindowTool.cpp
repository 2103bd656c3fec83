// VelmoraWindows.exe: what tools/make-screenshots.sh needs of the windows on
// the Wine desktop, where it cannot see them as windows of the X display.
//
//   VelmoraWindows rect TEXT          "LEFT TOP WIDTH HEIGHT" of the window,
//                                     with the menus it has open
//   VelmoraWindows menu TEXT LETTER   opens the window's menu bar at the
//                                     item whose mnemonic is LETTER
//   VelmoraWindows keys TEXT KEY...   presses keys in the window's thread, as
//                                     in an open menu (right, down, enter)
//   VelmoraWindows click TEXT ID      clicks the button with control ID
//   VelmoraWindows text TEXT ID       prints the text of control ID
//
// The window is the visible top-level window whose caption is TEXT, or else
// holds it. Each waits up to 30 seconds for it. Exit status 0 when done; 1
// with a line on standard error when the window or the control is not there.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Search {
  std::string text;
  HWND exact;
  HWND holding;
};

BOOL CALLBACK MatchCaption(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (!IsWindowVisible(window)) return TRUE;
  char caption[512] = {};
  GetWindowTextA(window, caption, sizeof caption);
  if (search->text == caption) {
    search->exact = window;
    return FALSE;
  }
  if (search->holding == nullptr && std::strstr(caption, search->text.c_str()) != nullptr)
    search->holding = window;
  return TRUE;
}

HWND WaitForWindow(const std::string& text) {
  for (int waited = 0; waited < 30000; waited += 100) {
    Search search{text, nullptr, nullptr};
    EnumWindows(&MatchCaption, reinterpret_cast<LPARAM>(&search));
    if (search.exact != nullptr) return search.exact;
    if (search.holding != nullptr) return search.holding;
    Sleep(100);
  }
  std::fprintf(stderr, "VelmoraWindows: no visible window with \"%s\" in its caption\n",
               text.c_str());
  return nullptr;
}

struct Menus {
  DWORD thread;
  RECT area;
};

// Open menus are top-level windows of class #32768 of the menu's thread.
BOOL CALLBACK AddMenu(HWND window, LPARAM parameter) {
  auto* menus = reinterpret_cast<Menus*>(parameter);
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32768") != 0 || !IsWindowVisible(window) ||
      GetWindowThreadProcessId(window, nullptr) != menus->thread) {
    return TRUE;
  }
  RECT menu;
  GetWindowRect(window, &menu);
  UnionRect(&menus->area, &menus->area, &menu);
  return TRUE;
}

UINT KeyCode(const std::string& name) {
  if (name == "right") return VK_RIGHT;
  if (name == "down") return VK_DOWN;
  if (name == "enter") return VK_RETURN;
  if (name == "escape") return VK_ESCAPE;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "Usage: VelmoraWindows rect|menu|keys|click|text TEXT [...]\n");
    return 2;
  }
  const std::string command = argv[1];
  const HWND window = WaitForWindow(argv[2]);
  if (window == nullptr) return 1;
  if (command == "rect") {
    // Drawn before it is measured.
    Sleep(300);
    Menus menus{GetWindowThreadProcessId(window, nullptr), {}};
    GetWindowRect(window, &menus.area);
    EnumWindows(&AddMenu, reinterpret_cast<LPARAM>(&menus));
    const RECT& r = menus.area;
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (command == "menu" && argc >= 4) {
    SetForegroundWindow(window);
    PostMessageA(window, WM_SYSCOMMAND, SC_KEYMENU, static_cast<LPARAM>(argv[3][0]));
    return 0;
  }
  if (command == "keys") {
    for (int i = 3; i < argc; ++i) {
      Sleep(400);
      const UINT key = KeyCode(argv[i]);
      if (key == 0) {
        std::fprintf(stderr, "VelmoraWindows: unknown key %s\n", argv[i]);
        return 2;
      }
      PostMessageA(window, WM_KEYDOWN, key, 1);
      PostMessageA(window, WM_KEYUP, key, 0xC0000001);
    }
    return 0;
  }
  if ((command == "click" || command == "text") && argc >= 4) {
    const int id = std::atoi(argv[3]);
    const HWND control = GetDlgItem(window, id);
    const bool usable = control != nullptr && IsWindowVisible(control);
    if (command == "text" && control != nullptr) {
      char text[512] = {};
      GetWindowTextA(control, text, sizeof text);
      std::printf("%s\n", text);
      return 0;
    }
    if (!usable) {
      std::fprintf(stderr, "VelmoraWindows: \"%s\" has no control %d\n", argv[2], id);
      return 1;
    }
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return 0;
  }
  std::fprintf(stderr, "VelmoraWindows: unknown command %s\n", command.c_str());
  return 2;
}

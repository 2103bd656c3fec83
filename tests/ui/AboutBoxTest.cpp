// The about box and the version alert of the real plug-in, shown for real in
// a (virtual) display: found, read and dismissed from a second thread.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "host/HostInterface.h"
#include "support/PluginLibrary.h"
#include "tools/testhost/TestHost.h"
#include "ui/About.h"

namespace {

using Entry = testsupport::PluginEntry;
using testsupport::PluginLibrary;

// A plain top-level window standing in for the host's main window.
class HostWindow {
 public:
  HostWindow(int x, int y, int width, int height)
      : window_(CreateWindowExA(0, "STATIC", "Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width,
                                height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr)) {}
  ~HostWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

struct AboutSeen {
  bool found = false;
  std::string caption;
  std::string text;
  RECT frame{};
  LONG style = 0;
  HWND owner = nullptr;
  HANDLE activeContext = nullptr;  // the host thread's context while the box is up
  // Controls 1 (OK), 2 (Cancel) and 3 (the text), by id.
  bool controlShown[4] = {};
  bool controlEnabled[4] = {};
};

// Messages sent to the box are handled on the host's thread: a hook there
// reads which activation context is active while the box is shown.
constexpr UINT kReadContext = WM_APP + 17;
HANDLE gActiveContext = nullptr;
LRESULT CALLBACK ReadActiveContext(int code, WPARAM wParam, LPARAM lParam) {
  const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && message->message == kReadContext) {
    HANDLE context = nullptr;
    if (GetCurrentActCtx(&context)) {
      gActiveContext = context;
      ReleaseActCtx(context);  // only compared, never used
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

HWND WaitForWindow(const char* caption) {
  for (int i = 0; i < 200; ++i) {
    HWND window = FindWindowA("#32770", caption);
    if (window != nullptr && IsWindowVisible(window)) return window;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return nullptr;
}

AboutSeen ShowAboutOver(Entry entry, HWND owner, int16_t& result) {
  AboutSeen seen;
  std::thread watcher([&seen] {
    HWND dialog = WaitForWindow("About...");
    if (dialog == nullptr) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    seen.found = true;
    char buffer[512] = {};
    GetWindowTextA(dialog, buffer, sizeof buffer);
    seen.caption = buffer;
    GetDlgItemTextA(dialog, 3, buffer, sizeof buffer);
    seen.text = buffer;
    GetWindowRect(dialog, &seen.frame);
    seen.style = GetWindowLongA(dialog, GWL_STYLE);
    seen.owner = GetParent(dialog);
    SendMessageA(dialog, kReadContext, 0, 0);
    seen.activeContext = gActiveContext;
    for (int id = 1; id <= 3; ++id) {
      HWND control = GetDlgItem(dialog, id);
      seen.controlShown[id] = control != nullptr && IsWindowVisible(control);
      seen.controlEnabled[id] = control != nullptr && IsWindowEnabled(control);
    }
    // Another command keeps the box open; OK closes it.
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(1234, 0), 0);
    if (IsWindow(dialog)) PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  host::PlatformData platform{reinterpret_cast<intptr_t>(owner)};
  host::AboutRecord about{};
  about.platformData = &platform;
  intptr_t data = 0;
  result = 777;
  gActiveContext = nullptr;
  HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, &ReadActiveContext, nullptr, GetCurrentThreadId());
  entry(host::kSelectorAbout, &about, &data, &result);
  watcher.join();
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  EXPECT_EQ(data, 0) << "About touches no context";
  return seen;
}

// Where the box must sit over owner, by the placement rules.
POINT ExpectedPosition(HWND owner, const AboutSeen& seen) {
  RECT client{};
  GetClientRect(owner, &client);
  POINT topLeft{client.left, client.top};
  ClientToScreen(owner, &topLeft);
  int titleBits = GetSystemMetrics(SM_CXSIZE);
  if ((seen.style & WS_SYSMENU) == 0) titleBits -= titleBits / 3;
  const int width = seen.frame.right - seen.frame.left;
  const int height = seen.frame.bottom - seen.frame.top;
  const DialogPlacement place = PlaceDialog(
      topLeft.x, topLeft.y, client.right - client.left, client.bottom - client.top, width, height,
      titleBits, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  return {place.x, place.y};
}

TEST(AboutBoxTest, ShowsTheTextCentredOverTheHostAndClosesWithOk) {
  PluginLibrary plugin;
  ASSERT_NE(plugin.entry(), nullptr);
  HostWindow host(100, 80, 800, 600);
  ASSERT_NE(host.get(), nullptr);
  int16_t result = 0;
  const AboutSeen seen = ShowAboutOver(plugin.entry(), host.get(), result);
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(seen.caption, "About...");
  EXPECT_EQ(
      seen.text,
      "Velmora Plugin (32-Bit) v1.01\n\n\nA Filter plug-in module for Adobe Photoshop\xAE.\n\n");
  EXPECT_EQ(seen.style & WS_SYSMENU, 0);
  EXPECT_EQ(seen.owner, host.get());
  // The box runs in the module's own activation context, not the host's.
  ACTIVATION_CONTEXT_BASIC_INFORMATION own{};
  ASSERT_TRUE(QueryActCtxW(QUERY_ACTCTX_FLAG_ACTCTX_IS_HMODULE | QUERY_ACTCTX_FLAG_NO_ADDREF,
                           plugin.module(), nullptr, ActivationContextBasicInformation, &own,
                           sizeof own, nullptr));
  HANDLE hostContext = nullptr;
  ASSERT_TRUE(GetCurrentActCtx(&hostContext));
  ReleaseActCtx(hostContext);
  ASSERT_NE(own.hActCtx, nullptr);
  EXPECT_NE(own.hActCtx, hostContext);
  EXPECT_EQ(seen.activeContext, own.hActCtx);
  // Cancel (2) is neither shown nor usable; OK and the text are shown.
  EXPECT_TRUE(seen.controlShown[1] && seen.controlEnabled[1]);
  EXPECT_FALSE(seen.controlShown[2] || seen.controlEnabled[2]);
  EXPECT_TRUE(seen.controlShown[3]);
  const POINT expected = ExpectedPosition(host.get(), seen);
  EXPECT_EQ(seen.frame.left, expected.x);
  EXPECT_EQ(seen.frame.top, expected.y);
}

TEST(AboutBoxTest, ParentSmallerThanTheDialogGetsItAtItsCornerShiftedLeft) {
  PluginLibrary plugin;
  HostWindow host(300, 200, 120, 60);
  int16_t result = 0;
  const AboutSeen seen = ShowAboutOver(plugin.entry(), host.get(), result);
  ASSERT_TRUE(seen.found);
  RECT client{};
  GetClientRect(host.get(), &client);
  POINT corner{0, 0};
  ClientToScreen(host.get(), &corner);
  const int titleBits = GetSystemMetrics(SM_CXSIZE) - GetSystemMetrics(SM_CXSIZE) / 3;
  EXPECT_EQ(seen.frame.left, corner.x - titleBits);
  EXPECT_EQ(seen.frame.top, corner.y);
}

TEST(AboutBoxTest, WithoutPlatformDataNothingIsShown) {
  PluginLibrary plugin;
  host::AboutRecord about{};
  intptr_t data = 0;
  int16_t result = 0;
  plugin.entry()(host::kSelectorAbout, &about, &data, &result);
  EXPECT_EQ(result, -50);
}

TEST(AboutBoxTest, HostWithoutAdvanceStateGetsTheVersionAlert) {
  PluginLibrary plugin;
  ASSERT_NE(plugin.entry(), nullptr);
  testhost::HostOptions options;
  options.advanceState = false;
  testhost::TestHost host(options);
  std::string message;
  std::thread watcher([&message] {
    HWND box = WaitForWindow(nullptr);
    if (box == nullptr) return;
    char buffer[512] = {};
    GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);  // the message text
    message = buffer;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  });
  ASSERT_EQ(host.Call(plugin.entry(), host::kSelectorPrepare), 0);
  const int16_t result = host.Call(plugin.entry(), host::kSelectorStart);
  watcher.join();
  // Told already: the host is to add no message of its own.
  EXPECT_EQ(result, 1);
  EXPECT_EQ(message, "This plug-in requires Adobe Photoshop\xAE 3.0 or later functionality.");
}

TEST(AboutBoxTest, PlacementRules) {
  // Centred across, a third down.
  DialogPlacement p = PlaceDialog(100, 50, 800, 600, 200, 150, 10, 1280, 1024);
  EXPECT_EQ(p.x, 300 + 100 - 10);
  EXPECT_EQ(p.y, 150 + 50);
  // Past the right and bottom edges: moved back to end at the edge.
  p = PlaceDialog(1200, 1000, 400, 300, 200, 150, 0, 1280, 1024);
  EXPECT_EQ(p.x, 1280 - 200);
  EXPECT_EQ(p.y, 1024 - 150);
  // Never to a negative position by that rule; the title shift may be.
  p = PlaceDialog(0, 0, 100, 100, 2000, 2000, 5, 1280, 1024);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
  p = PlaceDialog(0, 0, 100, 100, 200, 150, 12, 1280, 1024);
  EXPECT_EQ(p.x, -12);
}

}  // namespace

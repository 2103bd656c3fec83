#include "tools/cmdhost/MenuWindow.h"

#include <algorithm>
#include <stdexcept>

namespace cmdhost {

namespace {

constexpr UINT kFilterCommand = 100;
constexpr const char* kClassName = "VelmoraHostWindow";

std::string WindowsReason(const std::string& what) {
  const DWORD code = GetLastError();
  char text[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  return what + ": error " + std::to_string(code) + " " + text;
}

// A sample of `image` as 0 to 255.
uint8_t Byte(const imagefile::Image& image, size_t index) {
  if (image.IsFloat()) {
    return static_cast<uint8_t>(std::clamp(image.floats[index], 0.0f, 1.0f) * 255.0f + 0.5f);
  }
  return static_cast<uint8_t>((image.samples[index] * 255u + image.maxValue / 2) / image.maxValue);
}

}  // namespace

MenuWindow::MenuWindow(const std::string& title, const std::string& category,
                       const std::string& name, const imagefile::Image& image) {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  windowClass.lpszClassName = kClassName;
  RegisterClassA(&windowClass);  // a second window finds it registered

  const HMENU filters = CreatePopupMenu();
  const HMENU group = CreatePopupMenu();
  menu_ = CreateMenu();
  AppendMenuA(group, MF_STRING, kFilterCommand, name.c_str());
  AppendMenuA(filters, MF_POPUP, reinterpret_cast<UINT_PTR>(group), category.c_str());
  AppendMenuA(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(filters), "&Filter");

  const int width = image.width, height = image.height;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  pixels_.assign(stride * static_cast<size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = pixels_.data() + stride * static_cast<size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const size_t at = (static_cast<size_t>(y) * width + x) * image.channels;
      const uint8_t r = Byte(image, at);
      const uint8_t g = image.channels == 3 ? Byte(image, at + 1) : r;
      const uint8_t b = image.channels == 3 ? Byte(image, at + 2) : r;
      row[x * 3] = b;
      row[x * 3 + 1] = g;
      row[x * 3 + 2] = r;
    }
  }
  bitmap_.bmiHeader.biSize = sizeof bitmap_.bmiHeader;
  bitmap_.bmiHeader.biWidth = width;
  bitmap_.bmiHeader.biHeight = height;
  bitmap_.bmiHeader.biPlanes = 1;
  bitmap_.bmiHeader.biBitCount = 24;
  bitmap_.bmiHeader.biCompression = BI_RGB;

  window_ = CreateWindowExA(0, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 40, 30, 560, 400,
                            nullptr, menu_, instance, this);
  if (window_ == nullptr) {
    const std::string reason = WindowsReason("cannot create the host window");
    DestroyMenu(menu_);
    throw std::runtime_error(reason);
  }
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  SetForegroundWindow(window_);
}

MenuWindow::~MenuWindow() {
  // The menu goes with the window.
  if (window_ != nullptr) DestroyWindow(window_);
}

bool MenuWindow::WaitForChoice() {
  MSG message;
  while (!chosen_ && !closed_ && GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return chosen_;
}

void MenuWindow::Paint() const {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(window_, &paint);
  RECT client;
  GetClientRect(window_, &client);
  // The whole image, as large as fits, its proportions kept.
  const int width = bitmap_.bmiHeader.biWidth, height = bitmap_.bmiHeader.biHeight;
  const int room = std::min(client.right * height, client.bottom * width);
  const int shownWidth = width > 0 && height > 0 ? room / height : 0;
  const int shownHeight = width > 0 && height > 0 ? room / width : 0;
  SetStretchBltMode(dc, COLORONCOLOR);
  StretchDIBits(dc, (client.right - shownWidth) / 2, (client.bottom - shownHeight) / 2, shownWidth,
                shownHeight, 0, 0, width, height, pixels_.data(), &bitmap_, DIB_RGB_COLORS,
                SRCCOPY);
  EndPaint(window_, &paint);
}

LRESULT CALLBACK MenuWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MenuWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self != nullptr) {
    switch (message) {
      case WM_COMMAND:
        if (LOWORD(wParam) == kFilterCommand) self->chosen_ = true;
        return 0;
      case WM_PAINT:
        self->window_ = window;
        self->Paint();
        return 0;
      case WM_CLOSE:
        self->closed_ = true;
        return 0;
      default:
        break;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace cmdhost

// The command-line host's window for --window: a main window that shows the
// image and lists the filter in its Filter menu under the filter's category,
// as an image editor lists the filters it found. It is the host's window for
// the plug-in's note and boxes. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cmdhost/ImageFile.h"

namespace cmdhost {

class MenuWindow {
 public:
  // Creates and shows the window, titled `title`, its menu bar holding
  // Filter > `category` > `name`, and in it a picture of `image`. Throws
  // std::runtime_error with Windows' reason when the window cannot be made.
  MenuWindow(const std::string& title, const std::string& category, const std::string& name,
             const imagefile::Image& image);
  ~MenuWindow();
  MenuWindow(const MenuWindow&) = delete;
  MenuWindow& operator=(const MenuWindow&) = delete;

  // Serves the window's messages until the filter is chosen from its menu
  // (true) or the window is closed (false).
  bool WaitForChoice();
  HWND Handle() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint() const;

  HWND window_ = nullptr;
  HMENU menu_ = nullptr;
  bool chosen_ = false;
  bool closed_ = false;
  // The picture: 8-bit blue, green, red rows, bottom row first, each padded
  // to four bytes, as a device-independent bitmap holds them.
  BITMAPINFO bitmap_{};
  std::vector<uint8_t> pixels_;
};

}  // namespace cmdhost

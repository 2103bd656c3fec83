// The small window that tells the user, while the host waits, where the
// image is: open in the application, coming back once it is saved there and
// the application is closed.
#pragma once

#include <cstdint>

#include "launch/ModalWait.h"

// Served by the modal wait. Its title, sentence and button text come from
// the string table. It has no close button and ignores Escape and Alt+F4:
// only the application's end ends the wait. Its button brings the
// application's main window to the front. Whenever the user comes back to
// the host (its taskbar button, Alt+Tab, a click on its window) it takes the
// activation from the disabled host, as a modal dialog does; when it first
// appears it takes none, so the application keeps the focus. Move-only in
// spirit: neither copied nor moved; the destructor closes it.
class CWaitNote final : public IWaitNote {
 public:
  CWaitNote() = default;
  ~CWaitNote() override;
  CWaitNote(const CWaitNote&) = delete;
  CWaitNote& operator=(const CWaitNote&) = delete;

  // Centred on the owner, or on the screen's work area when there is none;
  // nothing when the note is already shown or cannot be made.
  void Show(uint32_t processId, intptr_t ownerWindow) noexcept override;
  intptr_t Window() const override { return reinterpret_cast<intptr_t>(window_); }
  // Keyboard navigation within the note (Tab, Enter, Space on its button).
  bool TakeMessage(void* message) noexcept override;
  void Close() noexcept override;

  // Brings the application's main window (a visible top-level window of its
  // process without an owner) to the front and allows its process to take
  // the foreground; nothing when it has none.
  void ShowApplication() const noexcept;

 private:
  void* window_ = nullptr;
  uint32_t processId_ = 0;
};

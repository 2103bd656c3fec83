// Waiting on the host's thread the way a modal dialog does, so that the host
// stays alive for as long as the application runs.
#pragma once

#include <cstdint>

// A window that stands in for the host while it waits, as a modal dialog
// does: shown once the host's windows are disabled, offered each message
// first, and closed before they are enabled again. Implemented above this
// layer, where the module's resources are.
class IWaitNote {
 public:
  virtual ~IWaitNote() = default;
  // Shows the note, without activating it, for the process processId, owned
  // by ownerWindow (the host's frame; 0 when the host named none). Throws
  // nothing; a note that cannot be made is not shown.
  virtual void Show(uint32_t processId, intptr_t ownerWindow) = 0;
  // The note's window, or 0 when it is not shown.
  virtual intptr_t Window() const = 0;
  // True when the message (a MSG) was the note's own and has been handled.
  virtual bool TakeMessage(void* message) = 0;
  // Destroys the note; harmless when it is not shown.
  virtual void Close() = 0;
};

// Waits until `object` (a process handle) is signalled, serving the calling
// thread's window messages meanwhile: it sleeps until the object or a message
// arrives and dispatches every sent and posted message, so the host's windows
// repaint and answer other programs at once. For the whole wait every
// enabled, visible top-level window of the calling thread is disabled, so
// that the user cannot start another command in the host, and `note` (when
// not null) is shown for the process; on every way out the note is closed,
// exactly those windows are enabled again and `ownerWindow` (the host's main
// window; 0 when the host named none, and then the first window disabled) is
// brought back to the foreground, restored when it was minimised meanwhile.
// The host's windows may belong to another thread (hosts that run filters on
// a worker thread): nothing then waits on that thread. A quit message
// received meanwhile is kept for PostPendingQuit. True once the object is
// signalled; false when the wait itself fails.
bool WaitModally(void* object, intptr_t ownerWindow, IWaitNote* note = nullptr);

// Posts again, with its exit code, a quit message that a wait took from the
// calling thread's queue, once; nothing when none was taken. Called when the
// plug-in returns to the host, so that nothing the host does for the plug-in
// before then (its abort and progress checks) meets the quit.
void PostPendingQuit();

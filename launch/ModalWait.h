// Waiting on the host's thread the way a modal dialog does, so that the host
// stays alive for as long as the application runs.
#pragma once

#include <cstdint>

// Waits until `object` (a process handle) is signalled, serving the calling
// thread's window messages meanwhile: it sleeps until the object or a message
// arrives and dispatches every sent and posted message, so the host's windows
// repaint and answer other programs at once. For the whole wait every
// enabled, visible top-level window of the calling thread is disabled, so
// that the user cannot start another command in the host; on every way out
// exactly those windows are enabled again and `ownerWindow` (the host's main
// window; 0 when the host named none, and then the first window disabled) is
// brought back to the foreground, restored when it was minimised meanwhile.
// A quit message received meanwhile is kept for PostPendingQuit. True once
// the object is signalled; false when the wait itself fails.
bool WaitModally(void* object, intptr_t ownerWindow);

// Posts again, with its exit code, a quit message that a wait took from the
// calling thread's queue, once; nothing when none was taken. Called when the
// plug-in returns to the host, so that nothing the host does for the plug-in
// before then (its abort and progress checks) meets the quit.
void PostPendingQuit();

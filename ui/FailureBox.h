// The user's words for a failure in a box of the plug-in's own, for hosts
// that show none themselves.
#pragma once

#include <cstdint>

#include "host/FailureReport.h"

// Shows FailureMessage(report), whole, in a message box titled "Velmora"
// with a warning icon and one OK button, and returns once the user has
// closed it. The box is owned by the top-level window of ownerWindow (the
// host's window from its platform data) and is modal to the calling thread,
// as a dialog of the host would be: every enabled, visible top-level window
// of the thread is disabled until it closes, and enabled again afterwards.
// Without an owner, or with one of another thread (which may itself be
// waiting for this call), the box stands on its own over the screen. False,
// with nothing shown, when the report has no words.
bool ShowFailureBox(intptr_t ownerWindow, const FailureReport& report);

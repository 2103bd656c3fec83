// The warning shown when the host has no advanceState procedure.
#pragma once

#include "host/HostInterface.h"

// True when proc is set. Otherwise shows the alert that the plug-in needs the
// host functionality of version 3.0 and returns false.
bool WarnIfAdvanceStateMissing(host::AdvanceStateProc proc);

// How the version alert reaches the user; replaceable so that tests and
// non-interactive callers never block on a message box. Returns the previous
// function; null restores the platform's own.
using VersionAlertFunction = void (*)(const char* versionText);
VersionAlertFunction SetVersionAlertFunction(VersionAlertFunction function);

// The platform's own alert: a message box on Windows.
void ShowVersionAlert(const char* versionText);

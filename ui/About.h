// The about box shown for the host's About selector.
#pragma once

#include <cstdint>

#include "host/HostInterface.h"

// Shows dialog 16000 modally over the host window named by the record's
// platform data and returns 0 once it has closed (also when it could not be
// shown). -50 without platform data; a null record throws EError.
int16_t ShowAbout(const host::AboutRecord* record);

// The module whose resources the about box and the alerts load: the plug-in
// DLL once its load routine has run, else the program itself.
void* GetModuleInstance();
void SetModuleInstance(void* instance);

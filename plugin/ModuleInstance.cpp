// The plug-in library's load routine: remembers the module so that dialogs
// and strings are loaded from its resources.
#include <windows.h>

#include "ui/ModuleState.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD /*reason*/, LPVOID /*reserved*/) {
  SetModuleInstance(instance);
  return TRUE;
}

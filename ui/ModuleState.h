// The module whose resources the dialogs and alerts load.
#pragma once

// The module whose resources the about box and the alerts load: the plug-in
// DLL once its load routine has run, else the program itself.
void* GetModuleInstance();
void SetModuleInstance(void* instance);

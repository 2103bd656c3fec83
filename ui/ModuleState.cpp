#include <windows.h>

#include "ui/ModuleState.h"

namespace {
HINSTANCE gModuleInstance = nullptr;
}

void* GetModuleInstance() {
  return gModuleInstance != nullptr ? gModuleInstance : GetModuleHandleA(nullptr);
}

void SetModuleInstance(void* instance) { gModuleInstance = static_cast<HINSTANCE>(instance); }

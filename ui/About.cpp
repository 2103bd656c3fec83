#include "ui/About.h"

#include <windows.h>

#include "host/Error.h"

namespace {
HINSTANCE gModuleInstance = nullptr;
}

void* GetModuleInstance() {
  return gModuleInstance != nullptr ? gModuleInstance : GetModuleHandleA(nullptr);
}

void SetModuleInstance(void* instance) { gModuleInstance = static_cast<HINSTANCE>(instance); }

int16_t ShowAbout(const host::AboutRecord* record) {
  Require(record != nullptr);
  if (record->platformData == nullptr) return kParamErr;
  return kNoErr;
}

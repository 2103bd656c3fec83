#include "ui/About.h"

#include <windows.h>

#include "host/Error.h"

int16_t ShowAbout(const host::AboutRecord* record) {
  Require(record != nullptr);
  if (record->platformData == nullptr) return kParamErr;
  return kNoErr;
}

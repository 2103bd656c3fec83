#include "ui/AdvanceStateWarning.h"

#include "ui/AlertText.h"

namespace {
VersionAlertFunction gVersionAlert = nullptr;
}

VersionAlertFunction SetVersionAlertFunction(VersionAlertFunction function) {
  VersionAlertFunction previous = gVersionAlert;
  gVersionAlert = function;
  return previous;
}

bool WarnIfAdvanceStateMissing(host::AdvanceStateProc proc) {
  if (proc != nullptr) return true;
  AlertText version;
  DecimalToText(version, 3.0, 1);
  (gVersionAlert != nullptr ? gVersionAlert : &ShowVersionAlert)(version.chars);
  return false;
}

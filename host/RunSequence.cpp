#include "host/RunSequence.h"

#include "host/PluginContext.h"

void Prepare() { checkContext(gContext); }

bool Start() {
  checkContext(gContext);
  return true;
}

bool Continue() {
  checkContext(gContext);
  return recordResult(ClearRequestRects());
}

int16_t ClearRequestRects() {
  if (gContext == nullptr || gContext->filterRecord == nullptr) return kParamErr;
  return kNoErr;
}

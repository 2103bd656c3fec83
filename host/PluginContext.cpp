#include "host/PluginContext.h"

#include <cstring>
#include <new>

#include "host/FailureReport.h"

PluginContext* gContext = nullptr;
bool gContextLocked = false;

PluginContext* checkContext(PluginContext* context) {
  Require(context != nullptr && context->filterRecord != nullptr);
  return context;
}

bool recordResult(int16_t code) {
  PluginContext* context = checkContext(gContext);
  const bool first = code != kNoErr && *context->result == kNoErr;
  // The note of a step goes with its code, and only the first failure's
  // reaches the user.
  TakeNotedFailure(first);
  if (first) *context->result = code;
  return code == kNoErr;
}

bool IsContextBlock(const char* block, size_t blockSize) {
  if (block == nullptr || blockSize < sizeof(PluginContext)) return false;
  ContextHeader header;
  std::memcpy(&header, block, sizeof header);
  return header.signature == kContextSignature && header.size == sizeof(PluginContext);
}

void InitContext(PluginContext* context) {
  Require(context != nullptr);
  int16_t* result = context->result;
  host::FilterRecord* record = context->filterRecord;
  // The block holds no live object yet: construct the members in place.
  new (&context->exportFile) BinaryFile();
  new (&context->importFile) BinaryFile();
  new (&context->converter) std::unique_ptr<IConvertBuffer>();
  context->header = ContextHeader{kContextSignature, static_cast<uint32_t>(sizeof(PluginContext))};
  context->result = result;
  context->filterRecord = record;
  context->pluginType = 1;
  std::memset(context->exportPath, 0, kPathSize);
  std::memset(context->importPath, 0, kPathSize);
  std::memset(context->jobPath, 0, kPathSize);
}

// The state kept between host calls, in the block behind the host's data slot.
#pragma once

#include <cstdint>
#include <memory>

#include "base/BinaryFile.h"
#include "base/Error.h"
#include "host/HostInterface.h"

class IConvertBuffer;

constexpr size_t kPathSize = 260;

// Marks a block as a context of this plug-in: "VELMORAC".
constexpr uint64_t kContextSignature = 0x4341524F4D4C4556ull;

// The start of every context block.
struct ContextHeader {
  uint64_t signature;  // kContextSignature
  uint32_t size;       // sizeof(PluginContext)
};

// Lives in host-allocated memory: InitContext constructs it in place and it is
// never destroyed (the host keeps the block); the entry point releases the
// files and the converter on every error path.
struct PluginContext {
  // A host that starts afresh for each repeat hands back a handle of an
  // earlier process, which may name another live block: the signature and
  // the record's size tell a context from anything else.
  ContextHeader header;              // first: read before the rest is trusted
  int16_t* result;                   // this call's host result slot
  host::FilterRecord* filterRecord;  // this call's parameter block
  int32_t pluginType;                // 0 export, 1 filter, else unknown
  BinaryFile exportFile;
  BinaryFile importFile;
  // The pass in progress, or null. The converters sit in a layer above this
  // record: only code that sees the whole interface resets the pointer.
  std::unique_ptr<IConvertBuffer> converter;
  char exportPath[kPathSize];
  char importPath[kPathSize];
  char jobPath[kPathSize];
};

// The context of the current call, locked; null outside a filter selector.
extern PluginContext* gContext;
// True once this call locked the data handle.
extern bool gContextLocked;

// Returns the context; throws EError when it or its FilterRecord is missing.
PluginContext* checkContext(PluginContext* context);

// Keeps the first failure of a call: stores a non-zero code in the current
// context's result slot unless one is there already, and with it the failure
// the step noted for the user (NoteFailure); a note that does not go with the
// first failure is dropped. True only for code 0. Throws EError without a
// current context.
bool recordResult(int16_t code);

// True when the block of blockSize bytes holds a context made by
// InitContext. Reads nothing of a block smaller than a context.
bool IsContextBlock(const char* block, size_t blockSize);

// Constructs a new context in place in a zero-filled block: signed, files
// closed, no converter, plug-in type 1, paths zero-filled. result and
// filterRecord are left as the caller set them.
void InitContext(PluginContext* context);

#include "host/HandleServices.h"

#include <windows.h>

#include "host/PluginContext.h"

namespace {

// A fallback handle points at this record; both it and the data block are
// moveable global memory, locked from allocation until disposal.
struct FallbackRecord {
  char* data;
  uint32_t marker;
};

void FreeLockedGlobal(void* pointer) {
  HGLOBAL block = GlobalHandle(pointer);
  if (block == nullptr) return;
  GlobalUnlock(block);
  GlobalFree(block);
}

void* AllocLockedGlobal(SIZE_T size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (block == nullptr) return nullptr;
  void* pointer = GlobalLock(block);
  if (pointer == nullptr) GlobalFree(block);
  return pointer;
}

}  // namespace

bool HandleProcsUsable(const host::HandleProcs* procs) {
  return procs != nullptr && procs->handleProcsVersion == 1 &&
         static_cast<uint16_t>(procs->numHandleProcs) >= 8 && procs->newProc != nullptr &&
         procs->disposeProc != nullptr && procs->getSizeProc != nullptr &&
         procs->setSizeProc != nullptr;
}

host::Handle NewHandle(const host::HandleProcs* procs, int32_t size) {
  if (HandleProcsUsable(procs)) return procs->newProc(size);
  if (size < 0) return nullptr;
  auto* record = static_cast<FallbackRecord*>(AllocLockedGlobal(sizeof(FallbackRecord)));
  if (record == nullptr) return nullptr;
  // GlobalAlloc refuses size 0; a zero-size handle still gets a valid block.
  char* data = static_cast<char*>(AllocLockedGlobal(size > 0 ? static_cast<SIZE_T>(size) : 1));
  if (data == nullptr) {
    FreeLockedGlobal(record);
    return nullptr;
  }
  record->data = data;
  record->marker = kFallbackMarker;
  return reinterpret_cast<host::Handle>(record);
}

void DisposeHandle(const host::HandleProcs* procs, host::Handle handle) {
  if (HandleProcsUsable(procs)) {
    procs->disposeProc(handle);
    return;
  }
  if (handle == nullptr) return;
  auto* record = reinterpret_cast<FallbackRecord*>(handle);
  if (record->data != nullptr) FreeLockedGlobal(record->data);
  FreeLockedGlobal(record);
}

char* LockHandle(const host::HandleProcs* procs, host::Handle handle, bool moveHigh) {
  if (HandleProcsUsable(procs)) {
    return procs->lockProc == nullptr ? nullptr : procs->lockProc(handle, moveHigh ? 1 : 0);
  }
  if (handle == nullptr) return nullptr;
  return reinterpret_cast<FallbackRecord*>(handle)->data;
}

void UnlockHandle(const host::HandleProcs* procs, host::Handle handle) {
  if (HandleProcsUsable(procs) && procs->unlockProc != nullptr) procs->unlockProc(handle);
}

int16_t RestoreContext(host::FilterRecord* record, intptr_t* data, int16_t* result) {
  Require(record != nullptr && data != nullptr && result != nullptr);
  const host::HandleProcs* procs = record->handleProcs;
  PluginContext* context;
  if (*data != 0) {
    auto handle = reinterpret_cast<host::Handle>(*data);
    context = reinterpret_cast<PluginContext*>(LockHandle(procs, handle, true));
    if (context == nullptr) return kMemFullErr;
    context->result = result;
    *result = kNoErr;
    context->filterRecord = record;
  } else {
    host::Handle handle = NewHandle(procs, static_cast<int32_t>(sizeof(PluginContext)));
    if (handle == nullptr) return kMemFullErr;
    context = reinterpret_cast<PluginContext*>(LockHandle(procs, handle, true));
    if (context == nullptr) {
      DisposeHandle(procs, handle);
      return kMemFullErr;
    }
    context->result = result;
    *result = kNoErr;
    context->filterRecord = record;
    InitContext(context);
    *data = reinterpret_cast<intptr_t>(handle);
  }
  gContext = context;
  gContextLocked = true;
  return kNoErr;
}

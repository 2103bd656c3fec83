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

// True when memory from address on, size bytes, is committed and readable.
bool Readable(const void* address, size_t size) {
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  if (size > UINTPTR_MAX - at) return false;
  const uintptr_t end = at + size;
  while (at < end) {
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0 ||
        region.State != MEM_COMMIT || (region.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) {
      return false;
    }
    at = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
  }
  return true;
}

// The fallback record behind a handle, or null when the handle is no live
// fallback handle: a stale value may point anywhere, so nothing is read
// before the memory is known to be there.
const FallbackRecord* LiveFallbackRecord(host::Handle handle) {
  if (handle == nullptr || !Readable(handle, sizeof(FallbackRecord))) return nullptr;
  const auto* record = reinterpret_cast<const FallbackRecord*>(handle);
  if (record->marker != kFallbackMarker || record->data == nullptr) return nullptr;
  if (GlobalHandle(record) == nullptr || GlobalHandle(record->data) == nullptr) return nullptr;
  return record;
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
  const FallbackRecord* record = LiveFallbackRecord(handle);
  return record == nullptr ? nullptr : record->data;
}

int32_t HandleSize(const host::HandleProcs* procs, host::Handle handle) {
  if (HandleProcsUsable(procs)) return procs->getSizeProc(handle);
  const FallbackRecord* record = LiveFallbackRecord(handle);
  if (record == nullptr) return 0;
  const SIZE_T size = GlobalSize(GlobalHandle(record->data));
  return size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
}

void UnlockHandle(const host::HandleProcs* procs, host::Handle handle) {
  if (HandleProcsUsable(procs) && procs->unlockProc != nullptr) procs->unlockProc(handle);
}

namespace {

// The context behind a handle of the data slot, locked; null, with nothing
// left locked and nothing written, when the handle is not one of this
// plug-in's contexts.
PluginContext* TryLockContext(const host::HandleProcs* procs, host::Handle handle) {
  char* block = LockHandle(procs, handle, true);
  if (block == nullptr) return nullptr;
  // Some hosts answer 0 for the size of every handle: the block behind the
  // data slot is then taken at the context's size, and its signature alone
  // decides. Refusing it would make a new context on every call and leak
  // the one before.
  const int32_t size = HandleSize(procs, handle);
  const size_t blockSize = size == 0 ? sizeof(PluginContext) : static_cast<size_t>(size);
  if (size < 0 || !IsContextBlock(block, blockSize)) {
    UnlockHandle(procs, handle);
    return nullptr;
  }
  return reinterpret_cast<PluginContext*>(block);
}

}  // namespace

int16_t RestoreContext(host::FilterRecord* record, intptr_t* data, int16_t* result) {
  Require(record != nullptr && data != nullptr && result != nullptr);
  const host::HandleProcs* procs = record->handleProcs;
  PluginContext* context = nullptr;
  if (*data != 0) context = TryLockContext(procs, reinterpret_cast<host::Handle>(*data));
  if (context != nullptr) {
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

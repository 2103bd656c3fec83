// Host handle services with a Windows global memory fallback, and the restore
// of the plug-in context from the host's data slot.
#pragma once

#include <cstdint>

#include "host/HostInterface.h"

// Marker in the header of a fallback handle: the four-character code FOTO.
constexpr uint32_t kFallbackMarker = 0x464F544F;

// True when the table is present, of version 1, has at least 8 procedures and
// the new, dispose, get-size and set-size procedures are all set.
bool HandleProcsUsable(const host::HandleProcs* procs);
// A new handle of size bytes (zero-filled in the fallback), or null.
host::Handle NewHandle(const host::HandleProcs* procs, int32_t size);
void DisposeHandle(const host::HandleProcs* procs, host::Handle handle);
// The handle's data, or null (in the fallback also for a handle that is not
// a live fallback handle). Fallback blocks stay locked for their lifetime.
char* LockHandle(const host::HandleProcs* procs, host::Handle handle, bool moveHigh);
// The size of the handle's data in bytes; 0 for a handle the host does not
// know (in the fallback: one that is not a live fallback handle).
int32_t HandleSize(const host::HandleProcs* procs, host::Handle handle);
void UnlockHandle(const host::HandleProcs* procs, host::Handle handle);

// Locks the context behind *data, creating and initialising it when the slot
// is 0 or its handle is no context of this plug-in (it cannot be locked, or
// its block is too small or unsigned: a handle of an earlier process, handed
// back by a host that starts afresh, which is then left alone, unwritten);
// points it at this call's record and result, stores 0 in the result and
// sets gContext and gContextLocked. Returns 0, or -108 when a block cannot
// be made or locked (the slot is left as it was). Null arguments throw EError.
int16_t RestoreContext(host::FilterRecord* record, intptr_t* data, int16_t* result);

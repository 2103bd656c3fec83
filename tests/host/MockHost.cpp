#include "MockHost.h"

#include "plugin/PluginMain.h"

MockHost* MockHost::active = nullptr;

struct MockHandleProcs {
  static host::Handle New(int32_t size) {
    MockHost* h = MockHost::active;
    h->counts.newCalls++;
    if (h->failNew || size < 0) return nullptr;
    h->blocks_.push_back(std::make_unique<std::vector<char>>(static_cast<size_t>(size), '\x5A'));
    h->masters_.push_back(std::make_unique<char*>(h->blocks_.back()->data()));
    host::Handle handle = h->masters_.back().get();
    h->handles_[handle] = *handle;
    h->sizes_[handle] = size;
    return handle;
  }
  static void Dispose(host::Handle handle) {
    MockHost::active->counts.disposeCalls++;
    MockHost::active->handles_.erase(handle);
    MockHost::active->sizes_.erase(handle);
  }
  static int32_t GetSize(host::Handle handle) {
    if (MockHost::active->sizeUnknown) return 0;
    const auto& sizes = MockHost::active->sizes_;
    const auto it = sizes.find(handle);
    return it == sizes.end() ? 0 : it->second;
  }
  static host::OSErr SetSize(host::Handle, int32_t) { return 0; }
  static host::Ptr Lock(host::Handle handle, host::Boolean) {
    MockHost* h = MockHost::active;
    h->counts.lockCalls++;
    if (h->failLock) return nullptr;
    auto it = h->handles_.find(handle);
    return it == h->handles_.end() ? nullptr : it->second;
  }
  static void Unlock(host::Handle handle) {
    MockHost::active->counts.unlockCalls++;
    MockHost::active->counts.unlocksPerHandle[handle]++;
  }
};

MockHost::MockHost() {
  active = this;
  record.imageMode = host::kModeRGBColor;
  record.depth = 8;
  record.planes = 3;
}

MockHost::~MockHost() {
  if (active == this) active = nullptr;
}

void MockHost::UseHandleProcs() {
  procs.handleProcsVersion = 1;
  procs.numHandleProcs = 8;
  procs.newProc = &MockHandleProcs::New;
  procs.disposeProc = &MockHandleProcs::Dispose;
  procs.getSizeProc = &MockHandleProcs::GetSize;
  procs.setSizeProc = &MockHandleProcs::SetSize;
  procs.lockProc = &MockHandleProcs::Lock;
  procs.unlockProc = &MockHandleProcs::Unlock;
  record.handleProcs = &procs;
}

host::Handle MockHost::MakeParametersHandle() {
  host::Handle handle = MockHandleProcs::New(16);
  counts.newCalls--;  // made by the host itself, not asked for by the plug-in
  return handle;
}

int16_t MockHost::Call(int16_t selector) {
  active = this;
  PluginMain(selector, &record, &data, &result);
  return result;
}

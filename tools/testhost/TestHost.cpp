#include "tools/testhost/TestHost.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace testhost {
namespace {

constexpr size_t kGuard = 64;
constexpr uint8_t kGuardByte = 0xCD;
// Returned by the host for a request it cannot serve, as real hosts refuse
// rectangles outside the image.
constexpr host::OSErr kBadRequest = -30100;

// Handle procedures of the host: plain heap blocks behind a master pointer.
struct HostHandles {
  std::map<host::Handle, std::unique_ptr<char*>> masters;
  std::map<host::Handle, std::vector<char>> blocks;
  std::map<host::Handle, int> locks;  // locks not yet matched by an unlock
};
HostHandles& Handles() {
  static HostHandles handles;
  return handles;
}
TestHost* gActive = nullptr;

host::Handle NewProc(int32_t size) {
  if (size < 0 || (gActive != nullptr && gActive->Options().refuseHandles)) return nullptr;
  auto master = std::make_unique<char*>(nullptr);
  host::Handle handle = master.get();
  auto& block = Handles().blocks[handle];
  block.assign(static_cast<size_t>(size) + 1, 0);
  *master = block.data();
  Handles().masters[handle] = std::move(master);
  return handle;
}
void DisposeProc(host::Handle handle) {
  Handles().blocks.erase(handle);
  Handles().masters.erase(handle);
  Handles().locks.erase(handle);
}
int32_t GetSizeProc(host::Handle handle) {
  auto it = Handles().blocks.find(handle);
  return it == Handles().blocks.end() ? 0 : static_cast<int32_t>(it->second.size() - 1);
}
host::OSErr SetSizeProc(host::Handle, int32_t) { return -108; }
host::Ptr LockProc(host::Handle handle, host::Boolean) {
  if (Handles().masters.count(handle) == 0) return nullptr;
  ++Handles().locks[handle];
  return *handle;
}
void UnlockProc(host::Handle handle) {
  auto it = Handles().locks.find(handle);
  if (it != Handles().locks.end()) --it->second;
}

int16_t ModeFor(bool gray, int32_t depth) {
  if (gray)
    return depth == 8 ? host::kModeGrayScale : depth == 16 ? host::kModeGray16 : host::kModeGray32;
  return depth == 8 ? host::kModeRGBColor : depth == 16 ? host::kModeRGB48 : host::kModeRGB96;
}

void FillGuard(std::vector<uint8_t>& buffer) {
  std::memset(buffer.data(), kGuardByte, kGuard);
  std::memset(buffer.data() + buffer.size() - kGuard, kGuardByte, kGuard);
}
bool GuardIntact(const std::vector<uint8_t>& buffer) {
  if (buffer.size() < 2 * kGuard) return true;
  for (size_t i = 0; i < kGuard; ++i) {
    if (buffer[i] != kGuardByte || buffer[buffer.size() - 1 - i] != kGuardByte) return false;
  }
  return true;
}

}  // namespace

TestHost::TestHost(const HostOptions& options) : options_(options) {
  gActive = this;  // the newest host serves the callbacks
  const size_t samples = static_cast<size_t>(options.width) * static_cast<size_t>(options.height) *
                         static_cast<size_t>(options.planes);
  image_.assign(samples * SampleSize(), 0);
  rowsWritten_.assign(static_cast<size_t>(options.height), false);
  // The record is followed by guard bytes: the plug-in must not write past it.
  recordStorage_.assign(sizeof(host::FilterRecord) + 2 * kGuard, 0);
  FillGuard(recordStorage_);
  record_ = reinterpret_cast<host::FilterRecord*>(recordStorage_.data() + kGuard);

  host::FilterRecord& r = *record_;
  r.serialNumber = 0;
  r.abortProc = &TestHost::AbortThunk;
  r.advanceState = options.advanceState ? &TestHost::AdvanceThunk : nullptr;
  r.progressProc = options.progressProc ? &TestHost::ProgressThunk : nullptr;
  r.imageMode = ModeFor(options.gray, options.depth);
  r.depth = options.depth;
  r.planes = options.planes;
  const int16_t layerPlanes = options.layerPlanes < 0 ? options.planes : options.layerPlanes;
  r.inLayerPlanes = layerPlanes;
  r.outLayerPlanes = layerPlanes;
  // 16-bit fields hold the size as far as it fits; big documents use the
  // 32-bit extension.
  r.imageSize.v = static_cast<int16_t>(options.height > 32767 ? 32767 : options.height);
  r.imageSize.h = static_cast<int16_t>(options.width > 32767 ? 32767 : options.width);
  r.filterRect = {0, 0, r.imageSize.v, r.imageSize.h};
  r.maxSpace = 64 * 1024 * 1024;
  r.bufferSpace = 1234;
  r.hostSig = options.hostSig;
  r.filterCase = 1;
  r.supportsPadding = 1;
  if (options.bigDocument) {
    big_.imageSize32 = {options.height, options.width};
    big_.filterRect32 = {0, 0, options.height, options.width};
    r.bigDocumentData = &big_;
  }
  if (!options.mask.empty()) {
    r.haveMask = 1;
    r.autoMask = 1;
    r.filterCase = 2;
  }
  if (options.platformWindow != 0) {
    platform_.hwnd = options.platformWindow;
    r.platformData = &platform_;
  }
  if (options.errorString) {
    // Filled with a byte that no text leaves, and with guards on both sides.
    errorStorage_.assign(256 + 2 * kGuard, 0xA5);
    FillGuard(errorStorage_);
    errorStorage_[kGuard] = 0;
    r.errorString = reinterpret_cast<uint8_t(*)[256]>(errorStorage_.data() + kGuard);
  }
  if (options.playInfo >= 0) {
    play_.descriptorParametersVersion = 0;
    play_.playInfo = options.playInfo;
    r.descriptorParameters = &play_;
  }
  if (options.suites) {
    basic_.acquireSuite = &TestHost::AcquireSuiteThunk;
    basic_.releaseSuite = &TestHost::ReleaseSuiteThunk;
    errorSuite_.setErrorFromPString = &TestHost::SetErrorFromPStringThunk;
    errorSuite_.setErrorFromCString = &TestHost::SetErrorFromCStringThunk;
    errorSuite_.setErrorFromZString = &TestHost::SetErrorFromZStringThunk;
    stringSuite_.makeFromUnicode = &TestHost::MakeStringThunk;
    stringSuite_.release = &TestHost::ReleaseStringThunk;
    r.sSPBasic = &basic_;
  }
  if (options.handleProcs) {
    procs_.handleProcsVersion = 1;
    procs_.numHandleProcs = 8;
    procs_.newProc = &NewProc;
    procs_.disposeProc = &DisposeProc;
    procs_.getSizeProc = &GetSizeProc;
    procs_.setSizeProc = &SetSizeProc;
    procs_.lockProc = &LockProc;
    procs_.unlockProc = &UnlockProc;
    r.handleProcs = &procs_;
  }
}

TestHost::~TestHost() {
  if (gActive == this) gActive = nullptr;
}

size_t TestHost::Offset(size_t x, size_t y, size_t plane) const {
  const size_t index =
      (y * static_cast<size_t>(options_.width) + x) * static_cast<size_t>(options_.planes) + plane;
  return index * SampleSize();
}

double TestHost::Sample(int32_t x, int32_t y, int plane) const {
  const uint8_t* p = image_.data() + Offset(static_cast<size_t>(x), static_cast<size_t>(y),
                                            static_cast<size_t>(plane));
  switch (options_.depth) {
    case 8:
      return *p;
    case 16: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    default: {
      float f;
      std::memcpy(&f, p, 4);
      return f;
    }
  }
}

void TestHost::SetSample(int32_t x, int32_t y, int plane, double value) {
  uint8_t* p = image_.data() +
               Offset(static_cast<size_t>(x), static_cast<size_t>(y), static_cast<size_t>(plane));
  switch (options_.depth) {
    case 8:
      *p = static_cast<uint8_t>(value);
      break;
    case 16: {
      auto v = static_cast<uint16_t>(value);
      std::memcpy(p, &v, 2);
      break;
    }
    default: {
      auto f = static_cast<float>(value);
      std::memcpy(p, &f, 4);
      break;
    }
  }
}

int16_t TestHost::Call(PluginEntry entry, int16_t selector) {
  gActive = this;
  result_ = 0;
  const bool pastes = options_.pastesBlindly && selector == host::kSelectorStart;
  if (pastes) output_.assign(image_.size(), 0);
  entry(selector, record_, &data_, &result_);
  CommitPending();  // hosts take outData when the selector returns
  if (pastes && result_ == 0) image_.swap(output_);
  std::vector<uint8_t>().swap(output_);
  return result_;
}

int32_t TestHost::AcquireSuiteThunk(const char* name, int32_t version, const void** suite) {
  TestHost* self = gActive;
  if (self == nullptr || name == nullptr || suite == nullptr || version != 1) return -1;
  if (std::strcmp(name, host::kErrorSuiteName) == 0) {
    *suite = self->options_.errorSuiteWithoutTable ? nullptr : &self->errorSuite_;
    self->errorSuiteHeld_ = true;
    self->errorTextSet_ = false;
  } else if (std::strcmp(name, host::kZStringSuiteName) == 0) {
    *suite = &self->stringSuite_;
  } else {
    return -1;
  }
  ++self->suites_.acquired;
  ++self->suites_.held;
  return 0;
}

int32_t TestHost::ReleaseSuiteThunk(const char* name, int32_t) {
  TestHost* self = gActive;
  if (self == nullptr || name == nullptr) return -1;
  if (std::strcmp(name, host::kErrorSuiteName) == 0 && self->errorSuiteHeld_) {
    self->errorSuiteHeld_ = false;
    if (!self->errorTextSet_) self->suites_.errorSuiteLeftEmpty = true;
  }
  --self->suites_.held;
  return 0;
}

int32_t TestHost::MakeStringThunk(const uint16_t* text, size_t count, host::ZString* result) {
  TestHost* self = gActive;
  if (self == nullptr || text == nullptr || result == nullptr) return -1;
  if (text[count] != 0) self->suites_.unterminatedString = true;
  const uintptr_t id = ++self->lastString_;
  self->strings_[id] = std::u16string(text, text + count);
  ++self->suites_.liveStrings;
  *result = reinterpret_cast<host::ZString>(id);
  return 0;
}

int32_t TestHost::ReleaseStringThunk(host::ZString text) {
  TestHost* self = gActive;
  if (self == nullptr || self->strings_.erase(reinterpret_cast<uintptr_t>(text)) == 0) return -1;
  --self->suites_.liveStrings;
  return 0;
}

host::SPErr TestHost::SetErrorFromZStringThunk(host::ZString text) {
  TestHost* self = gActive;
  if (self == nullptr || self->options_.errorSuiteTakesOnlyPascal) return -1;
  const auto found = self->strings_.find(reinterpret_cast<uintptr_t>(text));
  if (found == self->strings_.end()) return -1;
  self->suites_.unicodeText = found->second;  // the host keeps a copy
  self->errorTextSet_ = true;
  return 0;
}

host::SPErr TestHost::SetErrorFromCStringThunk(const char* text) {
  TestHost* self = gActive;
  if (self == nullptr || text == nullptr || self->options_.errorSuiteTakesOnlyPascal) return -1;
  self->suites_.ansiText = text;
  self->errorTextSet_ = true;
  return 0;
}

host::SPErr TestHost::SetErrorFromPStringThunk(const uint8_t* text) {
  TestHost* self = gActive;
  if (self == nullptr || text == nullptr) return -1;
  self->suites_.pascalText.assign(reinterpret_cast<const char*>(text + 1), text[0]);
  self->errorTextSet_ = true;
  return 0;
}

int16_t TestHost::CallAbout(PluginEntry entry, intptr_t hwnd, bool withPlatformData) {
  host::PlatformData platform{hwnd};
  host::AboutRecord about{};
  about.platformData = withPlatformData ? &platform : nullptr;
  gActive = this;
  result_ = 0;
  entry(host::kSelectorAbout, &about, &data_, &result_);
  return result_;
}

host::OSErr TestHost::AdvanceThunk() { return gActive == nullptr ? -1 : gActive->Advance(); }

host::Boolean TestHost::AbortThunk() {
  if (gActive == nullptr) return 0;
  ++gActive->abortCalls_;
  gActive->Notify(HostEvent::kAbortAsked);
  return gActive->options_.cancelAfterAborts > 0 &&
                 gActive->abortCalls_ >= gActive->options_.cancelAfterAborts
             ? 1
             : 0;
}

void TestHost::ProgressThunk(int32_t done, int32_t total) {
  if (gActive != nullptr) gActive->progress_.emplace_back(done, total);
}

Request TestHost::CurrentRequest() const {
  const host::FilterRecord& r = *record_;
  Request q{};
  q.loPlane = r.inLoPlane;
  q.hiPlane = r.inHiPlane;
  if (r.bigDocumentData != nullptr && r.bigDocumentData->PluginUsing32BitCoordinates != 0) {
    const host::VRect in = r.bigDocumentData->inRect32;
    q.top = in.top;
    q.left = in.left;
    q.bottom = in.bottom;
    q.right = in.right;
    q.used32BitCoordinates = true;
    const host::VRect mask = r.bigDocumentData->maskRect32;
    q.maskTop = mask.top;
    q.maskLeft = mask.left;
    q.maskBottom = mask.bottom;
    q.maskRight = mask.right;
  } else {
    const host::Rect in = r.inRect;
    q.top = in.top;
    q.left = in.left;
    q.bottom = in.bottom;
    q.right = in.right;
    q.used32BitCoordinates = false;
    const host::Rect mask = r.maskRect;
    q.maskTop = mask.top;
    q.maskLeft = mask.left;
    q.maskBottom = mask.bottom;
    q.maskRight = mask.right;
  }
  return q;
}

bool TestHost::ValidRequest(const Request& q, std::string& why) const {
  const host::FilterRecord& r = *record_;
  // The out request must match the in request: the plug-in asks for both.
  bool outMatches;
  if (q.used32BitCoordinates) {
    const host::VRect out = r.bigDocumentData->outRect32;
    outMatches =
        out.top == q.top && out.left == q.left && out.bottom == q.bottom && out.right == q.right;
  } else {
    const host::Rect out = r.outRect;
    outMatches =
        out.top == q.top && out.left == q.left && out.bottom == q.bottom && out.right == q.right;
  }
  if (!outMatches || r.outLoPlane != q.loPlane || r.outHiPlane != q.hiPlane) {
    why = "out request differs from in request";
    return false;
  }
  if (q.top < 0 || q.left < 0 || q.bottom > options_.height || q.right > options_.width ||
      q.top >= q.bottom || q.left >= q.right) {
    why = "rectangle outside the image";
    return false;
  }
  if (q.loPlane < 0 || q.hiPlane >= options_.planes || q.loPlane > q.hiPlane) {
    why = "planes outside the image";
    return false;
  }
  const bool maskAsked = q.maskTop < q.maskBottom && q.maskLeft < q.maskRight;
  if (maskAsked && (q.maskTop < 0 || q.maskLeft < 0 || q.maskBottom > options_.height ||
                    q.maskRight > options_.width)) {
    why = "mask rectangle outside the image";
    return false;
  }
  if (r.inputRate != host::kFixedOne || r.maskRate != host::kFixedOne) {
    why = "sampling rate is not 1.0";
    return false;
  }
  return true;
}

size_t TestHost::PixelsPerCopy(const Request& q) const {
  // With every plane requested, a row's pixels lie back to back in both the
  // image and the buffers: one copy per row, as hosts copy, instead of one
  // per pixel, which would make the host's share of a transfer dominate.
  return q.hiPlane - q.loPlane + 1 == options_.planes ? static_cast<size_t>(q.right - q.left) : 1;
}

void TestHost::Notify(HostEvent event) const {
  if (options_.observer) options_.observer(event, *this);
}

host::OSErr TestHost::Advance() {
  Notify(HostEvent::kRequestArrived);
  // Told on every way out, so that the host's own time is known for refused
  // requests too.
  struct DoneNotice {
    const TestHost& host;
    ~DoneNotice() { host.Notify(HostEvent::kRequestDone); }
  } done{*this};
  ++advanceCalls_;
  CommitPending();  // the previous request's output is taken now
  if (options_.failAdvanceOnCall > 0 && advanceCalls_ == options_.failAdvanceOnCall) {
    return options_.failAdvanceCode;
  }
  const Request q = CurrentRequest();
  requests_.push_back(q);
  std::string why;
  if (!ValidRequest(q, why)) {
    lastError_ = why;
    return kBadRequest;
  }
  const size_t sampleSize = SampleSize();
  const size_t planes = static_cast<size_t>(q.hiPlane - q.loPlane + 1);
  const size_t columns = static_cast<size_t>(q.right - q.left);
  const size_t rows = static_cast<size_t>(q.bottom - q.top);
  const size_t inRowBytes =
      columns * planes * sampleSize + static_cast<size_t>(options_.inRowPadding);
  const size_t outRowBytes =
      columns * planes * sampleSize + static_cast<size_t>(options_.outRowPadding);

  inBuffer_.assign(inRowBytes * rows + 2 * kGuard, 0xEE);
  outBuffer_.assign(outRowBytes * rows + 2 * kGuard, options_.pastesBlindly ? 0 : 0xEE);
  FillGuard(inBuffer_);
  FillGuard(outBuffer_);
  // Both buffers start with the current pixels of the request.
  const size_t run = PixelsPerCopy(q);
  for (size_t y = 0; y < rows; ++y) {
    for (size_t x = 0; x < columns; x += run) {
      const uint8_t* source =
          image_.data() + Offset(static_cast<size_t>(q.left) + x, static_cast<size_t>(q.top) + y,
                                 static_cast<size_t>(q.loPlane));
      std::memcpy(inBuffer_.data() + kGuard + y * inRowBytes + x * planes * sampleSize, source,
                  run * planes * sampleSize);
      if (!options_.pastesBlindly) {
        std::memcpy(outBuffer_.data() + kGuard + y * outRowBytes + x * planes * sampleSize, source,
                    run * planes * sampleSize);
      }
    }
  }
  ServeMask(q);
  record_->inData = inBuffer_.data() + kGuard;
  record_->inRowBytes = static_cast<int32_t>(inRowBytes);
  record_->outData = outBuffer_.data() + kGuard;
  record_->outRowBytes = static_cast<int32_t>(outRowBytes);
  pending_ = true;
  pendingRequest_ = q;
  pendingOutRowBytes_ = static_cast<int32_t>(outRowBytes);
  return 0;
}

void TestHost::ServeMask(const Request& q) {
  const bool asked = q.maskTop < q.maskBottom && q.maskLeft < q.maskRight;
  if (options_.mask.empty() || !asked) {
    // No selection, or none asked for: hosts give no mask then.
    maskBuffer_.clear();
    record_->maskData = nullptr;
    record_->maskRowBytes = 0;
    return;
  }
  const size_t columns = static_cast<size_t>(q.maskRight - q.maskLeft);
  const size_t rows = static_cast<size_t>(q.maskBottom - q.maskTop);
  const size_t rowBytes = columns + static_cast<size_t>(options_.maskRowPadding);
  maskBuffer_.assign(rowBytes * rows + 2 * kGuard, 0xEE);
  FillGuard(maskBuffer_);
  for (size_t y = 0; y < rows; ++y) {
    const size_t from = (static_cast<size_t>(q.maskTop) + y) * static_cast<size_t>(options_.width) +
                        static_cast<size_t>(q.maskLeft);
    std::memcpy(maskBuffer_.data() + kGuard + y * rowBytes, options_.mask.data() + from, columns);
  }
  record_->maskData = maskBuffer_.data() + kGuard;
  record_->maskRowBytes = static_cast<int32_t>(rowBytes);
}

void TestHost::CommitPending() {
  if (!pending_) return;
  pending_ = false;
  const Request& q = pendingRequest_;
  const size_t sampleSize = SampleSize();
  const size_t planes = static_cast<size_t>(q.hiPlane - q.loPlane + 1);
  const size_t columns = static_cast<size_t>(q.right - q.left);
  const size_t rows = static_cast<size_t>(q.bottom - q.top);
  const uint8_t* out = outBuffer_.data() + kGuard;
  bool changed = false;
  const size_t run = PixelsPerCopy(q);
  for (size_t y = 0; y < rows; ++y) {
    for (size_t x = 0; x < columns; x += run) {
      std::vector<uint8_t>& into = output_.empty() ? image_ : output_;
      uint8_t* target =
          into.data() + Offset(static_cast<size_t>(q.left) + x, static_cast<size_t>(q.top) + y,
                               static_cast<size_t>(q.loPlane));
      const uint8_t* source =
          out + y * static_cast<size_t>(pendingOutRowBytes_) + x * planes * sampleSize;
      if (std::memcmp(target, source, run * planes * sampleSize) != 0) changed = true;
      std::memcpy(target, source, run * planes * sampleSize);
    }
    if (changed) rowsWritten_[static_cast<size_t>(q.top) + y] = true;
  }
}

bool TestHost::BuffersIntact() const {
  return GuardIntact(inBuffer_) && GuardIntact(outBuffer_) && GuardIntact(maskBuffer_) &&
         GuardIntact(recordStorage_) && GuardIntact(errorStorage_);
}

uint8_t TestHost::ErrorLength() const { return errorStorage_.empty() ? 0 : errorStorage_[kGuard]; }

std::string TestHost::ErrorText() const {
  if (errorStorage_.empty()) return std::string();
  const uint8_t* text = errorStorage_.data() + kGuard;
  return std::string(reinterpret_cast<const char*>(text + 1), text[0]);
}

size_t TestHost::OwnBytes() const {
  return requests_.capacity() * sizeof(Request) +
         progress_.capacity() * sizeof(std::pair<int32_t, int32_t>) + inBuffer_.capacity() +
         outBuffer_.capacity() + maskBuffer_.capacity() + recordStorage_.capacity();
}

int TestHost::LiveHandles() const { return static_cast<int>(Handles().blocks.size()); }

int TestHost::DataSlotLocks() const { return HandleLocks(reinterpret_cast<host::Handle>(data_)); }

int TestHost::HandleLocks(host::Handle handle) {
  const auto it = Handles().locks.find(handle);
  return it == Handles().locks.end() ? 0 : it->second;
}

}  // namespace testhost

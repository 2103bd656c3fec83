// A filter host for tests and for the command-line host: it holds one image
// in the host's own sample type and serves the plug-in's advanceState
// requests the way real hosts do (interleaved planes, padded row bytes,
// output committed on the next request or when the selector returns).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/HostInterface.h"

namespace testhost {

using PluginEntry = void (*)(int16_t selector, void* block, intptr_t* data, int16_t* result);

struct Request {
  int32_t top, left, bottom, right;
  int16_t loPlane, hiPlane;
  bool used32BitCoordinates;
  // The mask rectangle asked for with it (empty: no mask), in the same
  // coordinates.
  int32_t maskTop, maskLeft, maskBottom, maskRight;
};

class TestHost;

// Host callbacks as they happen, for a host that times or samples the
// plug-in: a transfer request arrived (before the host does anything), the
// host is done with it (served or refused), the plug-in asked whether to
// cancel.
enum class HostEvent { kRequestArrived, kRequestDone, kAbortAsked };
using HostObserver = std::function<void(HostEvent, const TestHost&)>;

struct HostOptions {
  int32_t width = 1;
  int32_t height = 1;
  int16_t planes = 3;         // image planes (4 for a layer with transparency)
  int32_t depth = 16;         // 8, 16 or 32
  bool gray = false;          // gray modes instead of RGB
  int16_t layerPlanes = -1;   // inLayerPlanes/outLayerPlanes; -1: same as planes
  int32_t inRowPadding = 0;   // extra bytes at the end of every inData row
  int32_t outRowPadding = 0;  // extra bytes at the end of every outData row
  bool bigDocument = false;   // offer the 32-bit coordinate extension
  bool handleProcs = true;    // offer handle procedures
  bool advanceState = true;   // offer advanceState at all
  bool progressProc = true;   // offer progressProc at all
  int failAdvanceOnCall = 0;  // 1-based call that fails; 0: never
  int16_t failAdvanceCode = -1;
  int cancelAfterAborts = 0;  // abortProc answers true from this 1-based call on
  HostObserver observer;      // told of every callback; none when empty
  // The platform data's main window; no platform data when 0.
  intptr_t platformWindow = 0;
  // Offer errorString, a 256-byte string of the host's for the plug-in's
  // words on a failure (shown for result -30904); null when false, as from
  // hosts that take no text.
  bool errorString = false;
  // newProc gives no handle, as from a host out of memory.
  bool refuseHandles = false;
  // The host's signature; Photoshop's shows the plug-in's words itself.
  host::OSType hostSig = host::MakeOSType('8', 'B', 'I', 'M');
  // How the host plays the filter (a kPlay value); -1: no descriptor
  // parameters, as from hosts without actions.
  int16_t playInfo = -1;
  // The user's selection: one coverage byte per pixel, width x height, top
  // row first (0 outside, 255 inside). Empty: no selection. With one, the
  // host sets haveMask and filter case 2 (flat image with selection), and
  // autoMask 1, as a host that masks unless the plug-in clears it; a mask
  // request is served like input, each row maskRowPadding bytes longer.
  std::vector<uint8_t> mask;
  int32_t maskRowPadding = 0;
  // Offer the suite mechanism with the error suite and the string suite, as
  // Photoshop and the .NET host library do: the plug-in's words of any
  // length and language for -30904.
  bool suites = false;
  // With suites: the error suite refuses the Unicode and the C string and
  // takes only its oldest setter's, a length-prefixed string.
  bool errorSuiteTakesOnlyPascal = false;
  // With suites: the error suite is counted as taken (0) but handed out
  // without its table, as a host short of one might.
  bool errorSuiteWithoutTable = false;
  // Keep the image apart from the output, as some hosts do: every output
  // buffer starts blank, what the plug-in leaves there goes into an output
  // image that starts blank too, and that replaces the whole image when
  // Start returns 0; any other result keeps the image.
  bool pastesBlindly = false;
};

// What the plug-in did with the host's suites.
struct SuiteUse {
  // The Unicode words set through the error suite, and the code page's
  // text set in their place; empty when none.
  std::u16string unicodeText;
  std::string ansiText;
  std::string pascalText;  // set through the oldest setter
  int acquired = 0;        // suites taken
  int held = 0;            // suites taken and not yet given back
  int liveStrings = 0;     // strings made and not yet released
  // The error suite was given back with no text set while it was taken: a
  // host that prefers the suite's text then shows an empty message.
  bool errorSuiteLeftEmpty = false;
  // A string was made from a count that is not its length: the text had no
  // zero after it.
  bool unterminatedString = false;
};

class TestHost {
 public:
  explicit TestHost(const HostOptions& options);
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Sample access in the host's own range (8-bit 0..255, 16-bit 0..32768,
  // float as is), as a double.
  double Sample(int32_t x, int32_t y, int plane) const;
  void SetSample(int32_t x, int32_t y, int plane, double value);
  // Raw image bytes, interleaved planes, rows without padding.
  const std::vector<uint8_t>& Image() const { return image_; }
  std::vector<uint8_t>& Image() { return image_; }
  size_t SampleSize() const { return static_cast<size_t>(options_.depth / 8); }

  // Calls the plug-in with one selector as a host does and commits pending
  // output afterwards. The parameter block is the filter record (the about
  // record for selector 0).
  int16_t Call(PluginEntry entry, int16_t selector);
  // About with the given window handle (0: none).
  int16_t CallAbout(PluginEntry entry, intptr_t hwnd, bool withPlatformData = true);

  host::FilterRecord& Record() { return *record_; }
  host::BigDocumentStruct& BigDocument() { return big_; }
  const std::vector<Request>& Requests() const { return requests_; }
  int AdvanceCalls() const { return advanceCalls_; }
  // Every (done, total) the plug-in reported through progressProc, in order.
  const std::vector<std::pair<int32_t, int32_t>>& Progress() const { return progress_; }
  int AbortCalls() const { return abortCalls_; }
  // Bytes the host holds for itself besides its image (request log, transfer
  // buffers, record), as allocated; they grow with the number of requests.
  size_t OwnBytes() const;
  intptr_t& DataSlot() { return data_; }
  intptr_t DataSlot() const { return data_; }
  // True when the plug-in never wrote outside inData/outData and the record.
  bool BuffersIntact() const;
  // Rows (as y) that received committed output at least once.
  const std::vector<bool>& RowsWritten() const { return rowsWritten_; }
  // Live handles made through the handle procedures.
  int LiveHandles() const;
  // Locks of the handle in the data slot not yet undone by an unlock.
  int DataSlotLocks() const;
  // The same for any handle of the host's.
  static int HandleLocks(host::Handle handle);
  const std::string& LastError() const { return lastError_; }
  // The text the plug-in left in errorString (its length byte's count of
  // characters); empty when there is none or none is offered.
  std::string ErrorText() const;
  // errorString's length byte; 0 when none is offered.
  uint8_t ErrorLength() const;
  const HostOptions& Options() const { return options_; }
  const SuiteUse& Suites() const { return suites_; }
  // Takes the plug-in's last output, as a host does when the selector
  // returns; for tests that run a pass without a selector call.
  void CommitPending();

 private:
  static host::OSErr AdvanceThunk();
  static host::Boolean AbortThunk();
  static void ProgressThunk(int32_t done, int32_t total);
  static int32_t AcquireSuiteThunk(const char* name, int32_t version, const void** suite);
  static int32_t ReleaseSuiteThunk(const char* name, int32_t version);
  static int32_t MakeStringThunk(const uint16_t* text, size_t count, host::ZString* result);
  static int32_t ReleaseStringThunk(host::ZString text);
  static host::SPErr SetErrorFromZStringThunk(host::ZString text);
  static host::SPErr SetErrorFromCStringThunk(const char* text);
  static host::SPErr SetErrorFromPStringThunk(const uint8_t* text);
  host::OSErr Advance();
  void Notify(HostEvent event) const;
  // Byte offset of a sample in image_.
  size_t Offset(size_t x, size_t y, size_t plane) const;
  // Pixels that one copy between the image and a request's buffers moves.
  size_t PixelsPerCopy(const Request& q) const;
  Request CurrentRequest() const;
  bool ValidRequest(const Request& request, std::string& why) const;
  // Hands out the selection's bytes for the request's mask rectangle, or no
  // mask.
  void ServeMask(const Request& request);

  HostOptions options_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> recordStorage_;
  // errorString between guard bytes: the plug-in must not write past it.
  std::vector<uint8_t> errorStorage_;
  host::FilterRecord* record_;
  host::BigDocumentStruct big_{};
  host::PlatformData platform_{};
  host::HandleProcs procs_{};
  host::PIDescriptorParameters play_{};
  std::vector<uint8_t> inBuffer_;
  std::vector<uint8_t> outBuffer_;
  std::vector<uint8_t> maskBuffer_;
  bool pending_ = false;
  Request pendingRequest_{};
  int32_t pendingOutRowBytes_ = 0;
  std::vector<Request> requests_;
  std::vector<std::pair<int32_t, int32_t>> progress_;
  std::vector<bool> rowsWritten_;
  int advanceCalls_ = 0;
  int abortCalls_ = 0;
  intptr_t data_ = 0;
  int16_t result_ = 0;
  std::string lastError_;
  host::SPBasicSuite basic_{};
  host::ErrorSuite errorSuite_{};
  host::ZStringSuite stringSuite_{};
  SuiteUse suites_;
  std::map<uintptr_t, std::u16string> strings_;
  uintptr_t lastString_ = 0;
  bool errorSuiteHeld_ = false;
  bool errorTextSet_ = false;
  // The output of a host that pastes blindly, as the plug-in left it.
  std::vector<uint8_t> output_;
};

}  // namespace testhost

// Binary declaration of the Photoshop filter plug-in interface, as far as this
// plug-in and its test hosts use it. Every field between the first and the
// last one we touch is declared so that offsets match what real hosts pass;
// the static_asserts below pin them for i686, x86_64 and ARM64.
#pragma once

#include <cstddef>
#include <cstdint>

namespace host {

using Boolean = uint8_t;  // never C++ bool: one byte in every host
using Fixed = int32_t;    // 16.16 fixed point
using Ptr = char*;
using Handle = char**;
using OSType = uint32_t;
using OSErr = int16_t;

constexpr OSType MakeOSType(char a, char b, char c, char d) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(d));
}

constexpr Fixed kFixedOne = 0x00010000;

// Selectors.
constexpr int16_t kSelectorAbout = 0;
constexpr int16_t kSelectorParameters = 1;
constexpr int16_t kSelectorPrepare = 2;
constexpr int16_t kSelectorStart = 3;
constexpr int16_t kSelectorContinue = 4;
constexpr int16_t kSelectorFinish = 5;

// Image modes.
constexpr int16_t kModeBitmap = 0;
constexpr int16_t kModeGrayScale = 1;
constexpr int16_t kModeIndexedColor = 2;
constexpr int16_t kModeRGBColor = 3;
constexpr int16_t kModeCMYKColor = 4;
constexpr int16_t kModeMultichannel = 7;
constexpr int16_t kModeLabColor = 9;
constexpr int16_t kModeGray16 = 10;
constexpr int16_t kModeRGB48 = 11;
constexpr int16_t kModeRGB96 = 16;
constexpr int16_t kModeGray32 = 17;

struct Point {
  int16_t v;
  int16_t h;
};
struct Rect {
  int16_t top, left, bottom, right;
};
struct VPoint {
  int32_t v;
  int32_t h;
};
struct VRect {
  int32_t top, left, bottom, right;
};
struct RGBColor {
  uint16_t red, green, blue;
};
using FilterColor = uint8_t[4];
struct PlugInMonitor {
  Fixed gamma, redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY, ambient;
};

// Host callbacks: plain C functions (cdecl on i686).
extern "C" {
typedef Boolean (*TestAbortProc)(void);
typedef void (*ProgressProc)(int32_t done, int32_t total);
typedef OSErr (*AdvanceStateProc)(void);
typedef Handle (*NewPIHandleProc)(int32_t size);
typedef void (*DisposePIHandleProc)(Handle h);
typedef int32_t (*GetPIHandleSizeProc)(Handle h);
typedef OSErr (*SetPIHandleSizeProc)(Handle h, int32_t newSize);
typedef Ptr (*LockPIHandleProc)(Handle h, Boolean moveHigh);
typedef void (*UnlockPIHandleProc)(Handle h);
typedef void (*RecoverSpaceProc)(int32_t size);
typedef void (*HostProc)(int16_t selector, intptr_t* data);
typedef void* OpaqueProc;  // procedures the plug-in never calls
}

// Natural alignment.
struct HandleProcs {
  int16_t handleProcsVersion;
  int16_t numHandleProcs;
  NewPIHandleProc newProc;
  DisposePIHandleProc disposeProc;
  GetPIHandleSizeProc getSizeProc;
  SetPIHandleSizeProc setSizeProc;
  LockPIHandleProc lockProc;
  UnlockPIHandleProc unlockProc;
  RecoverSpaceProc recoverSpaceProc;
  DisposePIHandleProc disposeRegularHandleProc;
};

struct PlatformData {
  intptr_t hwnd;  // host window; may be 0
};

// How the host plays the filter: from the menu, an action step, a batch or
// a script.
struct PIDescriptorParameters {
  int16_t descriptorParametersVersion;
  int16_t playInfo;    // one of the kPlay values
  int16_t recordInfo;  // 0 optional, 1 required, 2 none
  void* descriptor;
  void* writeDescriptorProcs;
  void* readDescriptorProcs;
};

// playInfo: show a dialog only when the plug-in cannot go on without one
// (an action step with its dialog off, the repeat-last-filter command, a
// batch); show it (the menu, an action step with its dialog on); never show
// any window (a script or action that allows no dialog).
constexpr int16_t kPlayDialogIfNecessary = 0;
constexpr int16_t kPlayDisplayDialog = 1;
constexpr int16_t kPlaySilent = 2;

// The suite mechanism of newer hosts: a basic suite hands out tables of
// functions by name and version. Natural alignment; every function uses the
// C calling convention.
extern "C" {
typedef int32_t (*AcquireSuiteProc)(const char* name, int32_t version, const void** suite);
typedef int32_t (*ReleaseSuiteProc)(const char* name, int32_t version);
}

struct SPBasicSuite {
  AcquireSuiteProc acquireSuite;
  ReleaseSuiteProc releaseSuite;
  OpaqueProc isEqual;
  OpaqueProc allocateBlock;
  OpaqueProc freeBlock;
  OpaqueProc reallocateBlock;
  OpaqueProc undefined;
};

// A host's Unicode string, opaque to the plug-in.
typedef struct ZStringOpaque* ZString;

extern "C" {
// The suites' own result type: 32 bits, where the filter record's OSErr has 16.
typedef int32_t SPErr;
typedef SPErr (*SetErrorFromPStringProc)(const uint8_t* pascalString);
typedef SPErr (*SetErrorFromCStringProc)(const char* text);
typedef SPErr (*SetErrorFromZStringProc)(ZString text);
// count: UTF-16 code units without the terminating zero, which follows them.
typedef int32_t (*MakeZStringFromUnicodeProc)(const uint16_t* text, size_t count, ZString* result);
typedef int32_t (*ReleaseZStringProc)(ZString text);
}

// Failure words of any length and language, shown by the host for -30904
// in place of errorString.
constexpr const char* kErrorSuiteName = "Photoshop Error Suite for Plug-ins";
constexpr int32_t kErrorSuiteVersion = 1;
struct ErrorSuite {
  SetErrorFromPStringProc setErrorFromPString;
  SetErrorFromCStringProc setErrorFromCString;
  SetErrorFromZStringProc setErrorFromZString;
};

// The host's strings: 23 functions, of which the plug-in uses two.
constexpr const char* kZStringSuiteName = "AS ZString Suite";
constexpr int32_t kZStringSuiteVersion = 1;
struct ZStringSuite {
  MakeZStringFromUnicodeProc makeFromUnicode;  // 0
  OpaqueProc unused1[12];                      // 1 to 12
  ReleaseZStringProc release;                  // 13
  OpaqueProc unused14[9];                      // 14 to 22
};

struct AboutRecord {
  void* platformData;  // -> PlatformData
  void* sSPBasic;
  void* plugInRef;
  char reserved[244];
};

#pragma pack(push, 4)

struct BigDocumentStruct {
  int32_t PluginUsing32BitCoordinates;
  VPoint imageSize32;
  VRect filterRect32;
  VRect inRect32;
  VRect outRect32;
  VRect maskRect32;
  VPoint floatCoord32;
  VPoint wholeSize32;
};

struct FilterRecord {
  int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;
  Point imageSize;
  int16_t planes;
  Rect filterRect;
  RGBColor background;
  RGBColor foreground;
  int32_t maxSpace;
  int32_t bufferSpace;
  Rect inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  Rect outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;
  Boolean isFloating;
  Boolean haveMask;
  Boolean autoMask;
  Rect maskRect;
  void* maskData;
  int32_t maskRowBytes;
  FilterColor backColor;
  FilterColor foreColor;
  OSType hostSig;
  HostProc hostProc;
  int16_t imageMode;
  Fixed imageHRes;
  Fixed imageVRes;
  Point floatCoord;
  Point wholeSize;
  PlugInMonitor monitor;
  void* platformData;
  void* bufferProcs;
  void* resourceProcs;
  OpaqueProc processEvent;
  OpaqueProc displayPixels;
  HandleProcs* handleProcs;
  Boolean supportsDummyChannels;
  Boolean supportsAlternateLayouts;
  int16_t wantLayout;
  int16_t filterCase;
  int16_t dummyPlaneValue;
  void* premiereHook;
  AdvanceStateProc advanceState;
  Boolean supportsAbsolute;
  Boolean wantsAbsolute;
  OpaqueProc getPropertyObsolete;
  Boolean cannotUndo;
  Boolean supportsPadding;
  int16_t inputPadding;
  int16_t outputPadding;
  int16_t maskPadding;
  char samplingSupport;
  char reservedByte;
  Fixed inputRate;
  Fixed maskRate;
  OpaqueProc colorServices;
  int16_t inLayerPlanes;
  int16_t inTransparencyMask;
  int16_t inLayerMasks;
  int16_t inInvertedLayerMasks;
  int16_t inNonLayerPlanes;
  int16_t outLayerPlanes;
  int16_t outTransparencyMask;
  int16_t outLayerMasks;
  int16_t outInvertedLayerMasks;
  int16_t outNonLayerPlanes;
  int16_t absLayerPlanes;
  int16_t absTransparencyMask;
  int16_t absLayerMasks;
  int16_t absInvertedLayerMasks;
  int16_t absNonLayerPlanes;
  int16_t inPreDummyPlanes;
  int16_t inPostDummyPlanes;
  int16_t outPreDummyPlanes;
  int16_t outPostDummyPlanes;
  int32_t inColumnBytes;
  int32_t inPlaneBytes;
  int32_t outColumnBytes;
  int32_t outPlaneBytes;
  void* imageServicesProcs;
  void* propertyProcs;
  int16_t inTileHeight;
  int16_t inTileWidth;
  Point inTileOrigin;
  int16_t absTileHeight;
  int16_t absTileWidth;
  Point absTileOrigin;
  int16_t outTileHeight;
  int16_t outTileWidth;
  Point outTileOrigin;
  int16_t maskTileHeight;
  int16_t maskTileWidth;
  Point maskTileOrigin;
  PIDescriptorParameters* descriptorParameters;  // null from hosts without actions
  // Host-owned: a length byte and up to 255 ANSI characters, shown by the
  // host for result -30904. Null from hosts that do not take a text.
  uint8_t (*errorString)[256];
  void* channelPortProcs;
  void* documentInfo;
  SPBasicSuite* sSPBasic;  // null from hosts without suites
  void* plugInRef;
  int32_t depth;
  Handle iCCprofileData;
  int32_t iCCprofileSize;
  int32_t canUseICCProfiles;
  int32_t hasImageScrap;
  BigDocumentStruct* bigDocumentData;
  void* input3DScene;
  void* output3DScene;
  Boolean createNewLayer;
  Handle iCCWorkingProfileData;
  int32_t iCCWorkingProfileSize;
  int64_t bufferSpace64;
  int64_t maxSpace64;
  Boolean allowOverrangeColors;
  char reserved[45];
};

#pragma pack(pop)

// ---- Layout checks -------------------------------------------------------
// One column for 32-bit Windows and one for 64-bit: ARM64 hosts pass the
// records of x86_64 hosts byte for byte, since both are LLP64 (long stays
// 4 bytes, pointers are 8) and their compilers honour the same 4-byte
// packing of the filter record. Any other target needs a column of its own.
#if !(defined(__i386__) || defined(__x86_64__) || defined(__aarch64__))
#error "the host records' offsets are pinned for i686, x86_64 and ARM64 only"
#endif
#ifdef _WIN32
static_assert(sizeof(long) == 4 && sizeof(void*) == sizeof(intptr_t),
              "Windows targets are ILP32 or LLP64");
#endif
#define VELMORA_CHECK_OFFSET(type, field, off32, off64)                            \
  static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)), \
                #type "::" #field " is not where hosts put it")

static_assert(sizeof(Point) == 4 && sizeof(Rect) == 8 && sizeof(VPoint) == 8 &&
              sizeof(VRect) == 16);
static_assert(sizeof(RGBColor) == 6 && sizeof(PlugInMonitor) == 40 && sizeof(Boolean) == 1);

VELMORA_CHECK_OFFSET(FilterRecord, serialNumber, 0, 0);
VELMORA_CHECK_OFFSET(FilterRecord, abortProc, 4, 4);
VELMORA_CHECK_OFFSET(FilterRecord, progressProc, 8, 12);
VELMORA_CHECK_OFFSET(FilterRecord, parameters, 12, 20);
VELMORA_CHECK_OFFSET(FilterRecord, imageSize, 16, 28);
VELMORA_CHECK_OFFSET(FilterRecord, planes, 20, 32);
VELMORA_CHECK_OFFSET(FilterRecord, filterRect, 22, 34);
VELMORA_CHECK_OFFSET(FilterRecord, maxSpace, 44, 56);
VELMORA_CHECK_OFFSET(FilterRecord, bufferSpace, 48, 60);
VELMORA_CHECK_OFFSET(FilterRecord, inRect, 52, 64);
VELMORA_CHECK_OFFSET(FilterRecord, inLoPlane, 60, 72);
VELMORA_CHECK_OFFSET(FilterRecord, inHiPlane, 62, 74);
VELMORA_CHECK_OFFSET(FilterRecord, outRect, 64, 76);
VELMORA_CHECK_OFFSET(FilterRecord, outLoPlane, 72, 84);
VELMORA_CHECK_OFFSET(FilterRecord, outHiPlane, 74, 86);
VELMORA_CHECK_OFFSET(FilterRecord, inData, 76, 88);
VELMORA_CHECK_OFFSET(FilterRecord, inRowBytes, 80, 96);
VELMORA_CHECK_OFFSET(FilterRecord, outData, 84, 100);
VELMORA_CHECK_OFFSET(FilterRecord, outRowBytes, 88, 108);
VELMORA_CHECK_OFFSET(FilterRecord, haveMask, 93, 113);
VELMORA_CHECK_OFFSET(FilterRecord, autoMask, 94, 114);
VELMORA_CHECK_OFFSET(FilterRecord, maskRect, 96, 116);
VELMORA_CHECK_OFFSET(FilterRecord, maskData, 104, 124);
VELMORA_CHECK_OFFSET(FilterRecord, maskRowBytes, 108, 132);
VELMORA_CHECK_OFFSET(FilterRecord, hostSig, 120, 144);
VELMORA_CHECK_OFFSET(FilterRecord, imageMode, 128, 156);
VELMORA_CHECK_OFFSET(FilterRecord, monitor, 148, 176);
VELMORA_CHECK_OFFSET(FilterRecord, platformData, 188, 216);
VELMORA_CHECK_OFFSET(FilterRecord, handleProcs, 208, 256);
VELMORA_CHECK_OFFSET(FilterRecord, filterCase, 216, 268);
VELMORA_CHECK_OFFSET(FilterRecord, advanceState, 224, 280);
VELMORA_CHECK_OFFSET(FilterRecord, getPropertyObsolete, 232, 292);
VELMORA_CHECK_OFFSET(FilterRecord, inputRate, 248, 312);
VELMORA_CHECK_OFFSET(FilterRecord, maskRate, 252, 316);
VELMORA_CHECK_OFFSET(FilterRecord, colorServices, 256, 320);
VELMORA_CHECK_OFFSET(FilterRecord, inLayerPlanes, 260, 328);
VELMORA_CHECK_OFFSET(FilterRecord, outLayerPlanes, 270, 338);
VELMORA_CHECK_OFFSET(FilterRecord, inColumnBytes, 300, 368);
VELMORA_CHECK_OFFSET(FilterRecord, imageServicesProcs, 316, 384);
VELMORA_CHECK_OFFSET(FilterRecord, maskTileOrigin, 352, 428);
VELMORA_CHECK_OFFSET(FilterRecord, descriptorParameters, 356, 432);
VELMORA_CHECK_OFFSET(FilterRecord, errorString, 360, 440);
VELMORA_CHECK_OFFSET(FilterRecord, sSPBasic, 372, 464);
VELMORA_CHECK_OFFSET(FilterRecord, depth, 380, 480);
VELMORA_CHECK_OFFSET(FilterRecord, iCCprofileData, 384, 484);
VELMORA_CHECK_OFFSET(FilterRecord, hasImageScrap, 396, 500);
VELMORA_CHECK_OFFSET(FilterRecord, bigDocumentData, 400, 504);
VELMORA_CHECK_OFFSET(FilterRecord, createNewLayer, 412, 528);
VELMORA_CHECK_OFFSET(FilterRecord, iCCWorkingProfileData, 416, 532);
VELMORA_CHECK_OFFSET(FilterRecord, bufferSpace64, 424, 544);
VELMORA_CHECK_OFFSET(FilterRecord, maxSpace64, 432, 552);
VELMORA_CHECK_OFFSET(FilterRecord, allowOverrangeColors, 440, 560);
VELMORA_CHECK_OFFSET(FilterRecord, reserved, 441, 561);
static_assert(sizeof(FilterRecord) == (sizeof(void*) == 4 ? 488 : 608), "FilterRecord size");

VELMORA_CHECK_OFFSET(HandleProcs, numHandleProcs, 2, 2);
VELMORA_CHECK_OFFSET(HandleProcs, newProc, 4, 8);
VELMORA_CHECK_OFFSET(HandleProcs, disposeProc, 8, 16);
VELMORA_CHECK_OFFSET(HandleProcs, getSizeProc, 12, 24);
VELMORA_CHECK_OFFSET(HandleProcs, setSizeProc, 16, 32);
VELMORA_CHECK_OFFSET(HandleProcs, lockProc, 20, 40);
VELMORA_CHECK_OFFSET(HandleProcs, unlockProc, 24, 48);
VELMORA_CHECK_OFFSET(HandleProcs, disposeRegularHandleProc, 32, 64);
static_assert(sizeof(HandleProcs) == (sizeof(void*) == 4 ? 36 : 72), "HandleProcs size");

VELMORA_CHECK_OFFSET(AboutRecord, sSPBasic, 4, 8);
VELMORA_CHECK_OFFSET(AboutRecord, plugInRef, 8, 16);
VELMORA_CHECK_OFFSET(AboutRecord, reserved, 12, 24);
static_assert(sizeof(AboutRecord) == (sizeof(void*) == 4 ? 256 : 272), "AboutRecord size");
static_assert(offsetof(PlatformData, hwnd) == 0);

static_assert(offsetof(PIDescriptorParameters, playInfo) == 2);
static_assert(offsetof(PIDescriptorParameters, recordInfo) == 4);
VELMORA_CHECK_OFFSET(PIDescriptorParameters, descriptor, 8, 8);
VELMORA_CHECK_OFFSET(PIDescriptorParameters, writeDescriptorProcs, 12, 16);
VELMORA_CHECK_OFFSET(PIDescriptorParameters, readDescriptorProcs, 16, 24);
static_assert(sizeof(PIDescriptorParameters) == (sizeof(void*) == 4 ? 20 : 32));

static_assert(offsetof(BigDocumentStruct, imageSize32) == 4);
static_assert(offsetof(BigDocumentStruct, filterRect32) == 12);
static_assert(offsetof(BigDocumentStruct, inRect32) == 28);
static_assert(offsetof(BigDocumentStruct, outRect32) == 44);
static_assert(offsetof(BigDocumentStruct, maskRect32) == 60);
static_assert(offsetof(BigDocumentStruct, floatCoord32) == 76);
static_assert(offsetof(BigDocumentStruct, wholeSize32) == 84);
static_assert(sizeof(BigDocumentStruct) == 92);

VELMORA_CHECK_OFFSET(SPBasicSuite, releaseSuite, 4, 8);
static_assert(sizeof(SPBasicSuite) == 7 * sizeof(void*), "SPBasicSuite size");
VELMORA_CHECK_OFFSET(ErrorSuite, setErrorFromZString, 8, 16);
VELMORA_CHECK_OFFSET(ZStringSuite, release, 52, 104);
static_assert(sizeof(ZStringSuite) == 23 * sizeof(void*), "ZStringSuite size");

#undef VELMORA_CHECK_OFFSET

}  // namespace host

// Result codes reported to the host and the exception type of argument and
// state checks.
#pragma once

#include <cstdint>

// Thrown by value by every argument or state check; only PluginMain catches it.
enum EError : int16_t { eMissingParameter = -1715 };

// 16-bit host result codes (0 is success). The published names are given for
// reference; the meanings are this plug-in's own.
constexpr int16_t kNoErr = 0;
constexpr int16_t kReadErr = -19;                         // readErr: processed image does not match
constexpr int16_t kWriteErr = -20;                        // writErr: exported image not written
constexpr int16_t kOpenErr = -23;                         // openErr: image file cannot be opened
constexpr int16_t kParamErr = -50;                        // paramErr: general failure
constexpr int16_t kMemFullErr = -108;                     // memFullErr: no memory for the context
constexpr int16_t kUserCanceled = -128;                   // userCanceledErr: host shows no message
constexpr int16_t kMissingParameter = eMissingParameter;  // errMissingParameter
constexpr int16_t kExportBadMode = -30201;                // unsupported image
constexpr int16_t kPropertyUndefined = -30901;            // application cannot be run
constexpr int16_t kErrReportString = -30904;              // the host shows errorString
// Any positive result: the plug-in has told the user itself, so the host
// shows nothing more and keeps the image as it was.
constexpr int16_t kReportedToUser = 1;

// Thrown by value by the checks of what the host hands over, where the host
// broke the interface's contract (a request served without its data): the
// same code as EError, but the fault is the host's, and the user is told so.
enum EHostFault : int16_t { eHostMissingParameter = -1715 };

// Throws EError carrying -1715.
[[noreturn]] inline void ThrowMissingParameter() { throw eMissingParameter; }

// Throws EError -1715 unless the condition holds.
inline void Require(bool condition) {
  if (!condition) ThrowMissingParameter();
}

// Throws EHostFault -1715 unless what the host handed over meets the condition.
inline void RequireFromHost(bool condition) {
  if (!condition) throw eHostMissingParameter;
}

// The header of an exchange image file: four text lines (magic, width,
// height, maximum value), each ended by one line feed, then the samples.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/PixelFormat.h"

struct PluginContext;

// Size of the window in which a header token must end (line feed or space).
constexpr size_t kHeaderTokenSize = 33;

// The samples of an exchange file are written and read in blocks of this
// size: large enough that the runtime's cost per call vanishes next to the
// bytes moved, small enough to stay in the processor's caches and to leave
// the plug-in's memory flat (measured with the transfer benchmark).
constexpr uint32_t kSampleBlockBytes = 1u << 20;
// The block for a file with sampleBytes bytes of samples: kSampleBlockBytes,
// or the samples' size for a smaller image, at least 1.
uint32_t SampleBlockSize(uint64_t sampleBytes);

// Writes the header to the context's exportFile. -50 without a converter or
// for a line over 31 characters, -20 for an incomplete write.
int16_t WriteHeader(PluginContext* context, const ExchangeHeader& header);
// One line: "%s" for the magic, "%i" for the numbers.
int16_t WriteHeaderLine(PluginContext* context, const char* format, const char* text);
int16_t WriteHeaderLine(PluginContext* context, const char* format, int32_t value);

// Reads four tokens from the context's importFile into the header (reset
// first). -50 when a token does not end within its window.
int16_t ReadHeader(PluginContext* context, ExchangeHeader& header);
// Reads one token into buffer (size bytes, zero-filled first) byte by byte up
// to a line feed or a space, which is replaced by a terminator. 0 when found,
// -50 when size bytes passed without one (end of file included).
int16_t ReadHeaderToken(PluginContext* context, char* buffer, size_t size);

// The decimal value of a token as atoi reads it (leading white space, sign,
// digits up to the first non-digit, 0 without digits), saturated to the
// 32-bit range instead of overflowing.
int32_t ParseHeaderInteger(const char* token);

// Everything the transfer passes need from the host record: image size,
// request rectangles in 16-bit or 32-bit coordinates, planes, the abort test,
// and the arithmetic of row chunks.
#pragma once

#include <cstdint>

#include "host/HostInterface.h"

struct PluginContext;

// One advanceState request: one row, a run of columns, a range of planes.
struct TransferRequest {
  int32_t top = 0;
  int32_t left = 0;
  int32_t bottom = 0;  // row after the last one
  int32_t right = 0;   // column after the last one
  int16_t loPlane = 0;
  int16_t hiPlane = 0;  // inclusive
};

struct HostRect {
  int32_t top, left, bottom, right;
};

// True when the host offers 32-bit coordinates and the plug-in announced
// their use.
bool Uses32BitCoordinates(const host::FilterRecord* record);

// (height, width) of the host image, negative values raised to 0. Throws
// EError for a null record.
void GetImageSize(const host::FilterRecord* record, int32_t& height, int32_t& width);

// Store a request rectangle in the 32-bit fields when they are in use, else
// the low 16 bits of each value in the 16-bit fields. Planes are untouched.
void SetInRect(host::FilterRecord* record, const HostRect& rect);
void SetOutRect(host::FilterRecord* record, const HostRect& rect);
void SetMaskRect(host::FilterRecord* record, const HostRect& rect);

// Chunk chunkIndex of row row: columns [index x length, min((index+1) x
// length, width)), planes firstPlane .. firstPlane + planeCount - 1.
void SetRowChunk(TransferRequest& request, uint32_t chunkIndex, uint32_t chunkLength,
                 uint32_t width, uint32_t row, int32_t firstPlane, int32_t planeCount);
// Number of chunks that cover a row of width pixels.
uint32_t GetChunksPerRow(uint32_t width, uint32_t chunkLength);
// Pixels of a one-row request; 0 for any other height.
uint32_t GetPixelCount(const TransferRequest& request);

// Calls step(request) for every chunk of an image, rows from the top and
// chunks from the left, planes 0 to channels - 1; stops at the first non-zero
// result and returns it. The first chunk is always visited, also for an
// image of no rows or columns.
template <typename Step>
int16_t ForEachRowChunk(int32_t height, int32_t width, uint32_t chunkLength, uint32_t channels,
                        Step step) {
  const uint32_t chunksPerRow = GetChunksPerRow(static_cast<uint32_t>(width), chunkLength);
  TransferRequest request;
  int32_t row = 0;
  do {
    uint32_t chunk = 0;
    do {
      SetRowChunk(request, chunk, chunkLength, static_cast<uint32_t>(width),
                  static_cast<uint32_t>(row), 0, static_cast<int32_t>(channels));
      const int16_t result = step(request);
      if (result != 0) return result;
    } while (++chunk < chunksPerRow);
  } while (++row < height);
  return 0;
}

// -128 when the host's abortProc reports a cancel, else 0.
int16_t CheckAbort(PluginContext* context);
// Tells the host's progressProc, when it gave one, how many of the image's
// height rows are done once the request's chunk has been moved: the rows
// above it, and its own row when it ends the row. So the count never goes
// back within a pass and reaches the height with the last chunk.
void ReportProgress(PluginContext* context, const TransferRequest& request, int32_t height,
                    int32_t width);
// Channels equal planes or outLayerPlanes (export) / inLayerPlanes (import).
bool HostChannelsMatchInput(PluginContext* context, uint32_t channels);
bool HostChannelsMatchOutput(PluginContext* context, uint32_t channels);

// True when the user has a selection in the host (haveMask non-zero): the
// plug-in's property list asks to write outside it, so the host leaves the
// masking to the plug-in.
bool HasSelection(const host::FilterRecord* record);

// Writes the rates, rectangles and planes of a request and calls
// advanceState; with withMask, the mask rectangle is the request's too.
// -50 without advanceState (the run sequence warns before the export); the
// host's own code when it fails.
int16_t RequestFromHost(PluginContext* context, const TransferRequest& request,
                        bool withMask = false);

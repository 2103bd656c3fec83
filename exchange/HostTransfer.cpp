#include "exchange/HostTransfer.h"

#include <algorithm>

#include "host/PluginContext.h"

namespace {

int32_t CapCoordinate(uint64_t value) {
  return static_cast<int32_t>(std::min<uint64_t>(value, 0x7FFFFFFF));
}

int16_t ClampPlane(int64_t value, int64_t low) {
  return static_cast<int16_t>(std::clamp<int64_t>(value, low, 32767));
}

template <typename Field16, typename Field32>
void SetRect(host::FilterRecord* record, const HostRect& rect, Field16 rect16, Field32 rect32) {
  Require(record != nullptr);
  if (Uses32BitCoordinates(record)) {
    record->bigDocumentData->*rect32 = host::VRect{rect.top, rect.left, rect.bottom, rect.right};
  } else {
    // Only the low 16 bits fit: hosts without the extension have no larger images.
    record->*rect16 =
        host::Rect{static_cast<int16_t>(rect.top), static_cast<int16_t>(rect.left),
                   static_cast<int16_t>(rect.bottom), static_cast<int16_t>(rect.right)};
  }
}

}  // namespace

bool Uses32BitCoordinates(const host::FilterRecord* record) {
  return record->bigDocumentData != nullptr &&
         record->bigDocumentData->PluginUsing32BitCoordinates != 0;
}

void GetImageSize(const host::FilterRecord* record, int32_t& height, int32_t& width) {
  Require(record != nullptr);
  if (Uses32BitCoordinates(record)) {
    height = record->bigDocumentData->imageSize32.v;
    width = record->bigDocumentData->imageSize32.h;
  } else {
    const host::Point size = record->imageSize;
    height = size.v;
    width = size.h;
  }
  height = std::max(height, 0);
  width = std::max(width, 0);
}

void SetInRect(host::FilterRecord* record, const HostRect& rect) {
  SetRect(record, rect, &host::FilterRecord::inRect, &host::BigDocumentStruct::inRect32);
}

void SetOutRect(host::FilterRecord* record, const HostRect& rect) {
  SetRect(record, rect, &host::FilterRecord::outRect, &host::BigDocumentStruct::outRect32);
}

void SetMaskRect(host::FilterRecord* record, const HostRect& rect) {
  SetRect(record, rect, &host::FilterRecord::maskRect, &host::BigDocumentStruct::maskRect32);
}

void SetRowChunk(TransferRequest& request, uint32_t chunkIndex, uint32_t chunkLength,
                 uint32_t width, uint32_t row, int32_t firstPlane, int32_t planeCount) {
  request = TransferRequest();
  const uint64_t left = static_cast<uint64_t>(chunkIndex) * chunkLength;
  const uint64_t right =
      std::min<uint64_t>((static_cast<uint64_t>(chunkIndex) + 1) * chunkLength, width);
  request.left = CapCoordinate(left);
  request.right = CapCoordinate(right);
  request.top = CapCoordinate(row);
  request.bottom = CapCoordinate(static_cast<uint64_t>(row) + 1);
  request.loPlane = ClampPlane(firstPlane, 0);
  request.hiPlane = ClampPlane(static_cast<int64_t>(firstPlane) + planeCount - 1, request.loPlane);
}

uint32_t GetChunksPerRow(uint32_t width, uint32_t chunkLength) {
  Require(chunkLength != 0);
  return width / chunkLength + (width % chunkLength != 0 ? 1 : 0);
}

uint32_t GetPixelCount(const TransferRequest& request) {
  const int64_t top = std::max(request.top, 0);
  const int64_t bottom = std::max(request.bottom, 0);
  const int64_t left = std::max(request.left, 0);
  const int64_t right = std::max(request.right, 0);
  if (bottom - top != 1) return 0;
  return right > left ? static_cast<uint32_t>(right - left) : 0;
}

int16_t CheckAbort(PluginContext* context) {
  host::FilterRecord* record = checkContext(context)->filterRecord;
  // A host without an abort procedure cannot cancel.
  if (record->abortProc != nullptr && record->abortProc() != 0) return kUserCanceled;
  return kNoErr;
}

void ReportProgress(PluginContext* context, const TransferRequest& request, int32_t height,
                    int32_t width) {
  const host::FilterRecord* record = checkContext(context)->filterRecord;
  if (record->progressProc == nullptr) return;
  const int32_t done = request.right >= width ? request.bottom : request.top;
  record->progressProc(done < height ? done : height, height);
}

bool HostChannelsMatchInput(PluginContext* context, uint32_t channels) {
  const host::FilterRecord* record = checkContext(context)->filterRecord;
  return static_cast<int64_t>(channels) == record->planes ||
         static_cast<int64_t>(channels) == record->outLayerPlanes;
}

bool HostChannelsMatchOutput(PluginContext* context, uint32_t channels) {
  const host::FilterRecord* record = checkContext(context)->filterRecord;
  return static_cast<int64_t>(channels) == record->planes ||
         static_cast<int64_t>(channels) == record->inLayerPlanes;
}

bool HasSelection(const host::FilterRecord* record) {
  Require(record != nullptr);
  return record->haveMask != 0;
}

int16_t RequestFromHost(PluginContext* context, const TransferRequest& request, bool withMask) {
  host::FilterRecord* record = checkContext(context)->filterRecord;
  if (record->advanceState == nullptr) return kParamErr;
  record->inputRate = host::kFixedOne;
  record->maskRate = host::kFixedOne;
  const HostRect rect{request.top, request.left, request.bottom, request.right};
  SetInRect(record, rect);
  record->inLoPlane = request.loPlane;
  record->inHiPlane = request.hiPlane;
  SetOutRect(record, rect);
  record->outLoPlane = request.loPlane;
  record->outHiPlane = request.hiPlane;
  if (withMask) SetMaskRect(record, rect);
  return record->advanceState();
}

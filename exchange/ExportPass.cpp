#include "exchange/ExportPass.h"

#include <string>

#include "base/BlockWriter.h"
#include "base/PathToolkit.h"
#include "base/SystemPaths.h"
#include "convert/IConvertBuffer.h"
#include "exchange/ConverterLease.h"
#include "exchange/ExchangeImageFile.h"
#include "exchange/WorkFolder.h"
#include "host/FailureReport.h"
#include "host/PluginContext.h"

namespace {

// The whole exported file: four header lines, each with its line feed, and
// the samples.
uint64_t ExportFileBytes(const ExchangeHeader& header, uint64_t sampleBytes) {
  return header.magic.size() + std::to_string(header.width).size() +
         std::to_string(header.height).size() + std::to_string(header.maxValue).size() + 4 +
         sampleBytes;
}

// The working folder's disk: its path and the bytes free on it; false when
// the system cannot tell.
bool TryGetWorkDiskSpace(std::string& folder, uint64_t& free) {
  free = 0;
  if (!GetTempFolder(folder)) return false;
  folder = JoinPath(folder, kWorkFolderName);
  return sys::TryGetFreeSpace(EnsureTrailingBackslash(folder), free);
}

// Tells the user why the exported image is not whole: on a full disk the
// bytes it needs and the bytes that were free before the export began,
// otherwise the system's reason. error is the system's code of the write
// that failed and shortfall the bytes of it that did not reach the file:
// a disk with less room than those is full, whatever the write said.
void NoteExportNotWritten(const PluginContext* context, uint64_t fileBytes, uint32_t error,
                          uint32_t shortfall, bool freeKnown, uint64_t freeBefore) {
  std::string folder;
  uint64_t freeNow = 0;
  const bool nowKnown = TryGetWorkDiskSpace(folder, freeNow);
  const bool full = sys::IsDiskFullError(error) || (nowKnown && shortfall > freeNow);
  if (full && freeKnown) {
    NoteFailure(EFailure::kDiskFull,
                {folder, std::to_string(fileBytes), std::to_string(freeBefore)});
    return;
  }
  if (full && nowKnown) {
    NoteFailure(EFailure::kDiskFull, {folder, std::to_string(fileBytes), std::to_string(freeNow)});
    return;
  }
  NoteFailure(EFailure::kFileNotWritten, {context->exportPath}, error);
}

int16_t ExportRows(PluginContext* context) {
  IConvertBuffer& converter = *context->converter;
  if (!converter.Init()) return kParamErr;
  const uint32_t chunkLength = converter.GetMaxPixels();
  const uint32_t channels = converter.GetInChannels();
  if (chunkLength == 0) return kParamErr;
  if (!HostChannelsMatchInput(context, channels)) return kParamErr;

  int32_t height = 0;
  int32_t width = 0;
  GetImageSize(context->filterRecord, height, width);
  const ImageSize size{height, width};
  const ExchangeHeader header = converter.GetOutHeader(&size);
  const uint64_t sampleBytes =
      static_cast<uint64_t>(height) * static_cast<uint64_t>(width) * converter.GetOutPixelSize();
  // Told when the disk fills up: what the user can free, as the run found it.
  std::string folder;
  uint64_t freeBefore = 0;
  const bool freeKnown = TryGetWorkDiskSpace(folder, freeBefore);
  const int16_t result = WriteHeader(context, header);
  if (result != kNoErr) {
    if (result == kWriteErr) {
      NoteExportNotWritten(context, ExportFileBytes(header, sampleBytes), sys::LastErrorCode(), 0,
                           freeKnown, freeBefore);
    }
    return result;
  }

  // The writer writes the last block as the last chunk arrives, so a file
  // that cannot be completed fails that chunk, before the cancel check.
  BlockWriter writer(context->exportFile, SampleBlockSize(sampleBytes), sampleBytes);
  int16_t code = ForEachRowChunk(
      height, width, chunkLength, channels,
      [context, &writer, height, width](const TransferRequest& request) {
        const void* data = nullptr;
        int32_t rowBytes = 0;
        int16_t step = FetchInputChunk(context, &request, &data, &rowBytes);
        if (step != kNoErr) return step;
        step = ConvertExportChunk(context, writer, data, static_cast<uint32_t>(rowBytes),
                                  GetPixelCount(request));
        if (step != kNoErr) return step;
        ReportProgress(context, request, height, width);
        return CheckAbort(context);
      });
  // After a cancel or a host error the chunks before it are in the file, as
  // they would be without the block; the first failure stays the result.
  if (!writer.Flush() && code == kNoErr) code = kWriteErr;
  if (code == kWriteErr) {
    NoteExportNotWritten(context, ExportFileBytes(header, sampleBytes), writer.FailureCode(),
                         writer.FailureShortfall(), freeKnown, freeBefore);
  }
  return code;
}

}  // namespace

int16_t OpenExportFile(PluginContext* context) {
  checkContext(context);
  if (!Close(context->exportFile)) return kOpenErr;
  if (Open(context->exportFile, context->exportPath, true, true)) return kNoErr;
  // An old exported file that could not be deleted with the rest of the
  // folder is still held by whoever had it open.
  NoteFailure(EFailure::kWorkFileHeld, {context->exportPath}, sys::LastErrorCode());
  return kOpenErr;
}

int16_t CloseExportFile(PluginContext* context) {
  checkContext(context);
  if (Close(context->exportFile)) return kNoErr;
  NoteFailure(EFailure::kFileNotWritten, {context->exportPath}, sys::LastErrorCode());
  return kParamErr;
}

int16_t ExportHostImage(PluginContext* context) {
  checkContext(context);
  if (!CreateExportConverter(context)) return kParamErr;
  ConverterLease lease(context);
  return ExportRows(context);
}

int16_t FetchInputChunk(PluginContext* context, const TransferRequest* request, const void** data,
                        int32_t* rowBytes) {
  checkContext(context);
  Require(request != nullptr && data != nullptr && rowBytes != nullptr);
  *data = nullptr;
  *rowBytes = 0;
  const int16_t result = RequestFromHost(context, *request);
  if (result != kNoErr) return result;
  *data = context->filterRecord->inData;
  *rowBytes = context->filterRecord->inRowBytes;
  RequireFromHost(*data != nullptr);
  return kNoErr;
}

int16_t ConvertExportChunk(PluginContext* context, BlockWriter& writer, const void* data,
                           uint32_t size, uint32_t pixels) {
  checkContext(context);
  Require(data != nullptr && pixels != 0);
  IConvertBuffer* converter = context->converter.get();
  Require(converter != nullptr);
  Require(pixels <= converter->GetMaxPixels());
  // Converted straight from the host's buffer into the file's block, which
  // first goes to the file when the chunk does not fit in what is left of it.
  const uint32_t bytes = converter->GetOutPixelSize() * pixels;
  void* room = writer.Reserve(bytes);
  if (room == nullptr) return kWriteErr;
  // The host's row size stands for the delivered data's size, so a delivery
  // shorter than the chunk is refused.
  if (!converter->ConvertBetween(data, size, room, bytes, pixels)) return kParamErr;
  return writer.Commit(bytes) ? kNoErr : kWriteErr;
}

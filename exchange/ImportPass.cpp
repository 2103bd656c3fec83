#include "exchange/ImportPass.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/BlockReader.h"
#include "convert/IConvertBuffer.h"
#include "exchange/ConverterLease.h"
#include "exchange/ExchangeImageFile.h"
#include "host/FailureReport.h"
#include "host/PluginContext.h"

namespace {

// The kind of file the application was asked for, in the user's terms.
std::string KindName(const ExchangeHeader& expected) {
  return expected.magic == "PF" ? "PFM (float map)" : "16-bit PPM";
}

// Tells the user why a processed file whose header is not the expected one
// is refused: a size of its own, or not the kind of image file asked for.
void NoteHeaderRefused(const PluginContext* context, const ExchangeHeader& found,
                       const ExchangeHeader& expected) {
  if (found.magic == expected.magic && found.maxValue == expected.maxValue) {
    NoteFailure(EFailure::kWrongSize,
                {context->importPath, std::to_string(found.width), std::to_string(found.height),
                 std::to_string(expected.width), std::to_string(expected.height)});
  } else {
    NoteFailure(EFailure::kNotAnImage, {context->importPath, KindName(expected)});
  }
}

int16_t ImportRows(PluginContext* context) {
  IConvertBuffer* converter = context->converter.get();
  if (!converter->Init()) return kParamErr;
  const uint32_t chunkLength = converter->GetMaxPixels();
  const uint32_t channels = converter->GetOutChannels();
  if (chunkLength == 0) return kParamErr;
  if (!HostChannelsMatchOutput(context, channels)) return kParamErr;

  int32_t height = 0;
  int32_t width = 0;
  GetImageSize(context->filterRecord, height, width);

  ExchangeHeader found;
  const ImageSize size{height, width};
  const ExchangeHeader expected = converter->GetInHeader(&size);
  const int16_t result = ReadHeader(context, found);
  if (result != kNoErr) {
    NoteFailure(EFailure::kNotAnImage, {context->importPath, KindName(expected)});
    return result;
  }
  // Nothing reaches the host unless the file describes exactly this image.
  if (found != expected) {
    NoteHeaderRefused(context, found, expected);
    return kReadErr;
  }
  // A file cut short (the application crashed while saving, the disk filled
  // up) must not leave the image half processed in a host that commits rows
  // as they come: every sample must be there before the first row goes in.
  // Bytes after the last row are allowed.
  const uint64_t needed =
      static_cast<uint64_t>(height) * static_cast<uint64_t>(width) * converter->GetInPixelSize();
  uint64_t left = 0;
  if (!TryGetBytesLeft(context->importFile, left) || left < needed) {
    NoteFailure(EFailure::kFileShort,
                {context->importPath, std::to_string(left), std::to_string(needed)});
    return kReadErr;
  }

  BlockReader reader(context->importFile, SampleBlockSize(needed), needed);
  return ForEachRowChunk(
      height, width, chunkLength, channels,
      [context, converter, &reader, height, width](const TransferRequest& request) {
        const void* samples = nullptr;
        int16_t code = ReadImportChunk(context, reader, &request, converter, &samples);
        if (code != kNoErr) return code;
        code = StoreOutputChunk(context, &request, converter, samples);
        if (code != kNoErr) return code;
        ReportProgress(context, request, height, width);
        // Once the last chunk is stored the whole image has changed: a
        // cancel then would report as undone a run that has succeeded.
        if (request.bottom >= height && request.right >= width) return kNoErr;
        return CheckAbort(context);
      });
}

// The chunk blended by the host's mask with the image as it is: the host
// writes what the plug-in leaves in outData over the whole request, inside
// the selection or not. A request served without the image or with rows
// shorter than asked for is the host's fault, and the user is told so, as
// on the export.
int16_t StoreSelectedChunk(host::FilterRecord* record, IConvertBuffer* converter,
                           const void* samples, uint32_t fileBytes, uint32_t hostBytes,
                           uint32_t pixels) {
  // One row is requested: only the first row of each buffer is used.
  RequireFromHost(record->inData != nullptr &&
                  static_cast<int64_t>(hostBytes) <= record->inRowBytes &&
                  static_cast<int64_t>(pixels) <= record->maskRowBytes);
  return converter->ConvertBlended(samples, fileBytes, record->inData, hostBytes,
                                   static_cast<const uint8_t*>(record->maskData), record->outData,
                                   hostBytes, pixels)
             ? kNoErr
             : kParamErr;
}

}  // namespace

int16_t OpenImportFile(PluginContext* context) {
  checkContext(context);
  if (!Close(context->importFile)) return kOpenErr;
  return Open(context->importFile, context->importPath, false, false) ? kNoErr : kOpenErr;
}

int16_t CloseImportFile(PluginContext* context) {
  checkContext(context);
  return Close(context->importFile) ? kNoErr : kParamErr;
}

int16_t ImportProcessedImage(PluginContext* context) {
  checkContext(context);
  if (!CreateImportConverter(context)) return kParamErr;
  ConverterLease lease(context);
  return ImportRows(context);
}

int16_t ReturnHostImage(PluginContext* context) {
  checkContext(context);
  host::FilterRecord* record = context->filterRecord;
  const EPixelFormat format = GetHostPixelFormat(record);
  if (format == None) return kParamErr;
  const uint32_t channels = GetChannelCount(format);
  if (!HostChannelsMatchOutput(context, channels)) return kParamErr;
  const uint32_t sampleBytes = format == RGB8 || format == Gray8     ? 1
                               : format == RGB16 || format == Gray16 ? 2
                                                                     : 4;
  const uint32_t pixelBytes = channels * sampleBytes;
  int32_t height = 0;
  int32_t width = 0;
  GetImageSize(record, height, width);
  if (height == 0 || width == 0) return kNoErr;
  // Whole rows as far as a megabyte a buffer allows: nothing is converted,
  // so the requests are the whole cost.
  constexpr uint32_t kChunkBytes = 1u << 20;
  const uint32_t chunkLength =
      std::max(1u, std::min(static_cast<uint32_t>(width), kChunkBytes / pixelBytes));
  // On a huge image this is thousands of requests: the user sees them go
  // and may stop them, which leaves the image as it is in every host.
  return ForEachRowChunk(
      height, width, chunkLength, channels,
      [context, record, pixelBytes, height, width](const TransferRequest& request) {
        const int16_t code = RequestFromHost(context, request);
        if (code != kNoErr) return code;
        const uint64_t bytes = static_cast<uint64_t>(pixelBytes) * GetPixelCount(request);
        if (static_cast<int64_t>(bytes) > record->inRowBytes ||
            static_cast<int64_t>(bytes) > record->outRowBytes) {
          return kParamErr;
        }
        RequireFromHost(record->inData != nullptr && record->outData != nullptr);
        std::memmove(record->outData, record->inData, static_cast<size_t>(bytes));
        ReportProgress(context, request, height, width);
        if (request.bottom >= height && request.right >= width) return kNoErr;
        return CheckAbort(context);
      });
}

int16_t ReadImportChunk(PluginContext* context, BlockReader& reader, const TransferRequest* request,
                        IConvertBuffer* converter, const void** samples) {
  checkContext(context);
  Require(request != nullptr && converter != nullptr && samples != nullptr);
  *samples = nullptr;
  const uint64_t bytes =
      static_cast<uint64_t>(converter->GetInPixelSize()) * GetPixelCount(*request);
  if (bytes == 0 || bytes > converter->GetInBufferSize()) return kReadErr;
  *samples = reader.Take(static_cast<uint32_t>(bytes));
  return *samples != nullptr ? kNoErr : kReadErr;
}

int16_t StoreOutputChunk(PluginContext* context, const TransferRequest* request,
                         IConvertBuffer* converter, const void* samples) {
  checkContext(context);
  Require(request != nullptr && converter != nullptr && samples != nullptr);
  const uint32_t pixels = GetPixelCount(*request);
  const uint64_t bytes = static_cast<uint64_t>(converter->GetOutPixelSize()) * pixels;
  if (bytes == 0 || bytes > converter->GetOutBufferSize()) return kParamErr;
  host::FilterRecord* record = context->filterRecord;
  const bool selection = HasSelection(record);
  const int16_t result = RequestFromHost(context, *request, selection);
  if (result != kNoErr) return result;
  // A host row smaller than the chunk cannot take it; storing nothing and
  // going on would report an import that never happened.
  if (static_cast<int64_t>(bytes) > record->outRowBytes) return kParamErr;
  RequireFromHost(record->outData != nullptr);
  const uint32_t fileBytes = converter->GetInPixelSize() * pixels;
  if (selection && record->maskData != nullptr) {
    return StoreSelectedChunk(record, converter, samples, fileBytes, static_cast<uint32_t>(bytes),
                              pixels);
  }
  // Converted straight from the file's block into the host's buffer.
  return converter->ConvertBetween(samples, fileBytes, record->outData,
                                   static_cast<uint32_t>(bytes), pixels)
             ? kNoErr
             : kParamErr;
}

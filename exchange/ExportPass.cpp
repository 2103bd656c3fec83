#include "exchange/ExportPass.h"

#include "base/BlockWriter.h"
#include "convert/IConvertBuffer.h"
#include "exchange/ConverterLease.h"
#include "exchange/ExchangeImageFile.h"
#include "host/PluginContext.h"

namespace {

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
  const int16_t result = WriteHeader(context, converter.GetOutHeader(&size));
  if (result != kNoErr) return result;

  // The writer writes the last block as the last chunk arrives, so a file
  // that cannot be completed fails that chunk, before the cancel check.
  const uint64_t sampleBytes =
      static_cast<uint64_t>(height) * static_cast<uint64_t>(width) * converter.GetOutPixelSize();
  BlockWriter writer(context->exportFile, SampleBlockSize(sampleBytes), sampleBytes);
  int16_t code = ForEachRowChunk(
      height, width, chunkLength, channels, [context, &writer](const TransferRequest& request) {
        const void* data = nullptr;
        int32_t rowBytes = 0;
        int16_t step = FetchInputChunk(context, &request, &data, &rowBytes);
        if (step != kNoErr) return step;
        step = ConvertExportChunk(context, writer, data, static_cast<uint32_t>(rowBytes),
                                  GetPixelCount(request));
        if (step != kNoErr) return step;
        return CheckAbort(context);
      });
  // After a cancel or a host error the chunks before it are in the file, as
  // they would be without the block; the first failure stays the result.
  if (!writer.Flush() && code == kNoErr) code = kWriteErr;
  return code;
}

}  // namespace

int16_t OpenExportFile(PluginContext* context) {
  checkContext(context);
  if (!Close(context->exportFile)) return kOpenErr;
  return Open(context->exportFile, context->exportPath, true, true) ? kNoErr : kOpenErr;
}

int16_t CloseExportFile(PluginContext* context) {
  checkContext(context);
  return Close(context->exportFile) ? kNoErr : kParamErr;
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

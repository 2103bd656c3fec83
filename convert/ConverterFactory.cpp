#include "convert/ConverterFactory.h"

#include <memory>

#include "convert/ConvertBuffer.h"
#include "convert/PixelFormat.h"
#include "host/PluginContext.h"

namespace {

// Only the host side varies: the file side is RGB16 for 8-bit and 16-bit
// hosts and RGB32F for float hosts, and gray hosts use the same instantiation
// as RGB hosts with their own format code.
std::unique_ptr<IConvertBuffer> MakeExportConverter(EPixelFormat hostFormat) {
  switch (hostFormat) {
    case RGB8:
    case Gray8:
      return std::make_unique<CConvertBuffer<unsigned short, unsigned char, 0>>(RGB16, hostFormat);
    case RGB16:
    case Gray16:
      return std::make_unique<CConvertBuffer<unsigned short, unsigned short, 0>>(RGB16, hostFormat);
    case RGB32F:
    case Gray32F:
      return std::make_unique<CConvertBuffer<float, float, 0>>(RGB32F, hostFormat);
    default:
      return nullptr;
  }
}

std::unique_ptr<IConvertBuffer> MakeImportConverter(EPixelFormat hostFormat) {
  switch (hostFormat) {
    case RGB8:
    case Gray8:
      return std::make_unique<CConvertBuffer<unsigned char, unsigned short, 1>>(hostFormat, RGB16);
    case RGB16:
    case Gray16:
      return std::make_unique<CConvertBuffer<unsigned short, unsigned short, 1>>(hostFormat, RGB16);
    case RGB32F:
    case Gray32F:
      return std::make_unique<CConvertBuffer<float, float, 1>>(hostFormat, RGB32F);
    default:
      return nullptr;
  }
}

}  // namespace

void ReleaseConverter(PluginContext* context) { checkContext(context)->converter.reset(); }

bool CreateExportConverter(PluginContext* context) {
  ReleaseConverter(context);
  // The old converter is gone before the new one is allocated, so at most one
  // exists at any time.
  context->converter = MakeExportConverter(GetHostPixelFormat(context->filterRecord));
  return context->converter != nullptr;
}

bool CreateImportConverter(PluginContext* context) {
  ReleaseConverter(context);
  context->converter = MakeImportConverter(GetHostPixelFormat(context->filterRecord));
  return context->converter != nullptr;
}

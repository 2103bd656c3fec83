#include "convert/PixelFormat.h"

#include "base/Error.h"
#include "host/HostInterface.h"

uint32_t GetChannelCount(int32_t format) {
  if (format == None) ThrowMissingParameter();
  if (format >= RGB8 && format <= RGB32F) return 3;
  if (format >= Gray8 && format <= Gray32F) return 1;
  return 0;
}

ExchangeHeader MakeExchangeHeader(int32_t format, const ImageSize& size) {
  ExchangeHeader header;
  switch (format) {
    case RGB8:
    case Gray8:
      header.magic = "P6";
      header.maxValue = 255;
      break;
    case RGB16:
    case Gray16:
      header.magic = "P6";
      header.maxValue = 65535;
      break;
    case RGB32F:
    case Gray32F:
      header.magic = "PF";
      header.maxValue = -1;  // negative scale: little-endian floats
      break;
    default:
      break;
  }
  header.width = size.width;
  header.height = size.height;
  return header;
}

namespace {

EPixelFormat ByDepth(int32_t depth, EPixelFormat at8, EPixelFormat at16, EPixelFormat at32) {
  switch (depth) {
    case 8:
      return at8;
    case 16:
      return at16;
    case 32:
      return at32;
    default:
      return None;
  }
}

// The depth that the mode itself names; 0 for every other mode.
int32_t ImpliedDepth(int16_t mode) {
  switch (mode) {
    case host::kModeRGBColor:
    case host::kModeGrayScale:
      return 8;
    case host::kModeRGB48:
    case host::kModeGray16:
      return 16;
    case host::kModeRGB96:
    case host::kModeGray32:
      return 32;
    default:
      return 0;
  }
}

}  // namespace

EPixelFormat GetHostPixelFormat(const host::FilterRecord* record) {
  Require(record != nullptr);
  const int16_t mode = record->imageMode;
  const int16_t planes = record->planes;
  // Older and simple hosts leave depth at 0: then the mode tells it.
  const int32_t depth = record->depth != 0 ? record->depth : ImpliedDepth(mode);
  if (mode == host::kModeRGBColor || mode == host::kModeRGB48 || mode == host::kModeRGB96) {
    // A three-channel mode with an unusual depth is not tried as gray.
    return planes >= 3 ? ByDepth(depth, RGB8, RGB16, RGB32F) : None;
  }
  if (mode == host::kModeGrayScale || mode == host::kModeGray16 || mode == host::kModeGray32) {
    return planes >= 1 ? ByDepth(depth, Gray8, Gray16, Gray32F) : None;
  }
  return None;
}

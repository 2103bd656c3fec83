// Pixel format codes shared by the host side and the exchange file side, and
// the header record that describes an exchange image file.
#pragma once

#include <cstdint>
#include <string>

namespace host {
struct FilterRecord;
}

enum EPixelFormat : int32_t {
  None = 0,
  RGB8 = 1,
  RGB16 = 2,
  RGB32F = 3,
  Gray8 = 4,
  Gray16 = 5,
  Gray32F = 6,
};

// 3 for codes 1 to 3, 1 for codes 4 to 6, 0 for codes above 6 or below 0.
// Throws EError for code 0.
uint32_t GetChannelCount(int32_t format);

// Header of an exchange image file: "P6" with 65535 (or 255), "PF" with -1.
struct ExchangeHeader {
  std::string magic;
  int32_t width = 0;
  int32_t height = 0;
  int32_t maxValue = 0;

  friend bool operator==(const ExchangeHeader& a, const ExchangeHeader& b) {
    return a.magic == b.magic && a.width == b.width && a.height == b.height &&
           a.maxValue == b.maxValue;
  }
  friend bool operator!=(const ExchangeHeader& a, const ExchangeHeader& b) { return !(a == b); }
};

// Image size as the header operations take it: rows first, then pixels per row.
struct ImageSize {
  int32_t height = 0;
  int32_t width = 0;
};

// Builds the header for a format code: magic and maxValue from the format
// (empty and 0 outside 1 to 6), width and height from the size.
ExchangeHeader MakeExchangeHeader(int32_t format, const ImageSize& size);

// The host image's pixel format from imageMode, depth and planes; None when
// the combination is not supported. A depth of 0 counts as the depth the mode
// implies (8 for RGB and gray, 16 for RGB48 and Gray16, 32 for RGB96 and
// Gray32). Throws EError for a null record.
EPixelFormat GetHostPixelFormat(const host::FilterRecord* record);

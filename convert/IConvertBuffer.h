// The converter interface: converts chunks of interleaved samples between the
// host's representation and the exchange file's, in one direction.
#pragma once

#include <cstdint>

#include "convert/PixelFormat.h"

class IConvertBuffer {
 public:
  virtual ~IConvertBuffer() = default;

  // Clears, then derives counts and sizes from the two format codes. False
  // (converter not ready) when a channel count or the pixels per call is 0.
  // Throws EError for format code 0.
  virtual bool Init() = 0;
  // Zeroes every derived count and size and both buffers; not ready afterwards.
  virtual void Clear() = 0;
  // These three throw EError when the converter is not ready.
  virtual uint32_t GetMaxPixels() const = 0;
  virtual uint32_t GetInChannels() const = 0;
  virtual uint32_t GetOutChannels() const = 0;
  // Copies pixels x input pixel size bytes of data into the input buffer.
  // Throws EError for null data, size 0, pixels 0 or above GetMaxPixels, or a
  // converter that is not ready; false (nothing copied) when the bytes exceed
  // the buffer or the given data size.
  virtual bool SetInput(const void* data, uint32_t size, uint32_t pixels) = 0;
  // Converts the first pixels of the input buffer into the output buffer.
  // Throws like SetInput for the count and readiness; false for format codes
  // outside 1 to 6.
  virtual bool Convert(uint32_t pixels) = 0;
  // Hands out the output buffer and pixels x output pixel size; nothing is
  // copied. Throws EError for null out-pointers, a bad count or readiness;
  // false (out-values untouched) when the bytes exceed the buffer.
  virtual bool GetOutput(const void** data, uint32_t* size, uint32_t pixels) = 0;
  // Converts pixels from input straight into output, as SetInput, Convert and
  // GetOutput followed by a copy of the output would, without passing through
  // the converter's buffers: the samples go from the host's buffer into the
  // file's block and back without a copy in between. inputSize and
  // outputSize are the bytes there are at input and room for at output.
  // Throws EError for null pointers and like Convert for the count and
  // readiness; false (nothing written) when the pixels' bytes exceed either
  // size or for format codes outside 1 to 6. The two ranges must not overlap.
  virtual bool ConvertBetween(const void* input, uint32_t inputSize, void* output,
                              uint32_t outputSize, uint32_t pixels) = 0;
  // For converters into host samples (the import direction): converts pixels
  // from input as ConvertBetween does and blends them into output by the
  // host's selection, one coverage byte per pixel. A pixel whose coverage is
  // 0 gets original's samples, one of 255 the converted samples, both bit for
  // bit; between, each sample is original + (converted - original) x
  // coverage / 255, rounded to the nearest host value (floats within their
  // rounding). original holds the host's samples of the same pixels. Throws
  // like ConvertBetween, also for a null original or coverage; false
  // (nothing written) for an export converter, when the pixels' bytes exceed
  // inputSize, originalSize or outputSize, or for format codes outside 1 to
  // 6. original may be output itself (a host that hands out one buffer for
  // both), but must not overlap it otherwise; coverage must not overlap it.
  virtual bool ConvertBlended(const void* input, uint32_t inputSize, const void* original,
                              uint32_t originalSize, const uint8_t* coverage, void* output,
                              uint32_t outputSize, uint32_t pixels) = 0;
  virtual ExchangeHeader GetInHeader(const ImageSize* size) const = 0;
  virtual ExchangeHeader GetOutHeader(const ImageSize* size) const = 0;
  virtual const void* GetInBuffer() const = 0;
  virtual void* GetInBuffer() = 0;
  virtual uint32_t GetInBufferSize() const = 0;
  virtual uint32_t GetInPixelSize() const = 0;
  virtual const void* GetOutBuffer() const = 0;
  virtual void* GetOutBuffer() = 0;
  virtual uint32_t GetOutBufferSize() const = 0;
  virtual uint32_t GetOutPixelSize() const = 0;
};

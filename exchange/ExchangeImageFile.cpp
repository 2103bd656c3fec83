#include "exchange/ExchangeImageFile.h"

#include <cstring>
#include <limits>

#include "base/TextFormat.h"
#include "host/PluginContext.h"

namespace {

constexpr size_t kMaxHeaderLine = 31;

int16_t WriteFormattedLine(PluginContext* context, char (&line)[kHeaderTokenSize]) {
  const size_t length = TextLength(line);
  if (length > kMaxHeaderLine) return kParamErr;
  line[length] = '\n';
  line[length + 1] = '\0';
  return Write(context->exportFile, line, static_cast<uint32_t>(length + 1)) ? kNoErr : kWriteErr;
}

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

uint32_t SampleBlockSize(uint64_t sampleBytes) {
  if (sampleBytes >= kSampleBlockBytes) return kSampleBlockBytes;
  return sampleBytes == 0 ? 1 : static_cast<uint32_t>(sampleBytes);
}

int16_t WriteHeaderLine(PluginContext* context, const char* format, const char* text) {
  checkContext(context);
  Require(format != nullptr && text != nullptr);
  char line[kHeaderTokenSize] = {};
  FormatText(line, sizeof line, format, text);
  return WriteFormattedLine(context, line);
}

int16_t WriteHeaderLine(PluginContext* context, const char* format, int32_t value) {
  checkContext(context);
  Require(format != nullptr);
  char line[kHeaderTokenSize] = {};
  FormatText(line, sizeof line, format, value);
  return WriteFormattedLine(context, line);
}

int16_t WriteHeader(PluginContext* context, const ExchangeHeader& header) {
  checkContext(context);
  if (context->converter == nullptr) return kParamErr;
  int16_t result = WriteHeaderLine(context, "%s", header.magic.c_str());
  if (result == kNoErr) result = WriteHeaderLine(context, "%i", header.width);
  if (result == kNoErr) result = WriteHeaderLine(context, "%i", header.height);
  if (result == kNoErr) result = WriteHeaderLine(context, "%i", header.maxValue);
  return result;
}

int16_t ReadHeaderToken(PluginContext* context, char* buffer, size_t size) {
  checkContext(context);
  Require(buffer != nullptr && size > 0);
  std::memset(buffer, 0, size);
  for (size_t i = 0; i < size; ++i) {
    // A failed read leaves the zero at i; the window still runs to its end.
    if (Read(context->importFile, buffer + i, 1) && (buffer[i] == '\n' || buffer[i] == ' ')) {
      buffer[i] = '\0';
      return kNoErr;
    }
  }
  return kParamErr;
}

int32_t ParseHeaderInteger(const char* token) {
  Require(token != nullptr);
  while (IsSpace(*token)) ++token;
  bool negative = false;
  if (*token == '+' || *token == '-') negative = *token++ == '-';
  int64_t value = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  for (; *token >= '0' && *token <= '9'; ++token) {
    value = value * 10 + (*token - '0');
    if (value > limit) value = limit;  // saturate; later digits cannot lower it
  }
  return static_cast<int32_t>(negative ? -value : value);
}

int16_t ReadHeader(PluginContext* context, ExchangeHeader& header) {
  checkContext(context);
  header = ExchangeHeader();
  char token[kHeaderTokenSize];
  int16_t result = ReadHeaderToken(context, token, sizeof token);
  if (result != kNoErr) return result;
  header.magic = token;
  result = ReadHeaderToken(context, token, sizeof token);
  if (result != kNoErr) return result;
  header.width = ParseHeaderInteger(token);
  if (header.width < 0) header.width = 0;
  result = ReadHeaderToken(context, token, sizeof token);
  if (result != kNoErr) return result;
  header.height = ParseHeaderInteger(token);
  if (header.height < 0) header.height = 0;
  result = ReadHeaderToken(context, token, sizeof token);
  if (result != kNoErr) return result;
  header.maxValue = ParseHeaderInteger(token);
  return kNoErr;
}

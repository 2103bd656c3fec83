#include "base/TextFormat.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/Error.h"

int FormatText(char* buffer, size_t size, const char* format, ...) {
  Require(buffer != nullptr && size != 0 && format != nullptr);
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(buffer, size, format, args);
  va_end(args);
  // Some runtimes leave a cut text unterminated.
  buffer[size - 1] = '\0';
  return length;
}

size_t TextLength(const char* text) {
  Require(text != nullptr);
  return std::strlen(text);
}

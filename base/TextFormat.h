// Bounded text formatting into fixed buffers.
#pragma once

#include <cstddef>

// MinGW's C99 printf (the build asks for it), as GCC names it; clang checks
// its plain printf against the same C99 rules.
#if defined(__MINGW32__) && !defined(__clang__)
#define VELMORA_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define VELMORA_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define VELMORA_PRINTF_FORMAT(f, a)
#endif

// printf-style formatting that never writes past the buffer and always stores
// a terminator in its last byte, so a cut text is still terminated. Returns
// the length the whole text would have (more than size - 1 when it was cut),
// or a negative value on a formatting error. Throws EError for a null buffer,
// a size of 0 or a null format.
int FormatText(char* buffer, size_t size, const char* format, ...) VELMORA_PRINTF_FORMAT(3, 4);

// The length of a terminated text. Throws EError for a null pointer.
size_t TextLength(const char* text);

// Character boundaries in narrow text of the ANSI code page. In the
// double-byte code pages (932, 936, 949, 950) a character may take two bytes
// and its second byte may be 0x5C, the backslash; so a separator is found by
// walking whole characters from the start, never by looking at one byte.
#pragma once

#include <cstddef>
#include <string>

// The offset of the first byte of the text's last character; 0 for empty
// text. A lead byte at the very end counts as a character of its own.
size_t LastCharacterStart(const std::string& text);

// The offset of the first backslash character at or after `from` (a
// character boundary), or std::string::npos.
size_t FindBackslash(const std::string& text, size_t from);

// The bytes of the UTF-8 sequence that the byte starts: 2 to 4 for the
// start of a sequence, 1 for any other byte (a plain character, or a stray
// continuation byte, which then stands alone).
size_t Utf8CharacterBytes(unsigned char lead);

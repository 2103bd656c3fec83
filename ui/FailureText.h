// The user's words for a failure, free of any window system: a text's
// numbered placeholders filled with facts, and the host's length-prefixed
// string cut at a character boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Replaces "%1" to "%9" by the facts of that number, in any order and as
// often as they appear (a number without a fact gives nothing), and "%%" by
// "%"; every other character, a "%" before anything else included, stays.
std::string FillPlaceholders(const std::string& text, const std::vector<std::string>& facts);
// The same for wide text, as the translated words are.
std::wstring FillPlaceholders(const std::wstring& text, const std::vector<std::wstring>& facts);

// Whether a byte starts a two-byte character in the text's code page.
using LeadBytePredicate = bool (*)(unsigned char);

// The length of the longest start of text, at most maxBytes bytes, that ends
// at a character boundary: a lead byte and the byte after it stay together.
// A lead byte that ends the text counts as a character of its own.
size_t CutAtCharacter(const std::string& text, size_t maxBytes, LeadBytePredicate isLeadByte);

// Writes text into a host's 256-byte string: the length byte, then the
// text cut to at most 255 bytes at a character boundary, then a zero byte
// when there is room. Returns the length written.
uint8_t WritePascalString(uint8_t (&target)[256], const std::string& text,
                          LeadBytePredicate isLeadByte);

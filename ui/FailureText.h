// The user's words for a failure, free of any window system: a text's
// numbered placeholders filled with facts, the paths among them shortened
// to fit the host's 255 bytes, and the host's length-prefixed string cut at
// a character boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Replaces "%1" to "%9" by the facts of that number, in any order and as
// often as they appear (a number without a fact gives nothing), and "%%" by
// "%"; every other character, a "%" before anything else included, stays.
std::string FillPlaceholders(const std::string& text, const std::vector<std::string>& facts);
// The same for wide text, as the translated words are.
std::wstring FillPlaceholders(const std::wstring& text, const std::vector<std::wstring>& facts);

// The number of bytes of the character that a byte starts in the text's
// code page: 2 for a lead byte of a double-byte code page, 2 to 4 for the
// start of a UTF-8 sequence, 1 for any other byte.
using CharacterBytes = size_t (*)(unsigned char lead);

// The length of the longest start of text, at most maxBytes bytes, that ends
// at a character boundary: the bytes of one character stay together. A
// character that the text ends in the middle of counts up to the text's end.
size_t CutAtCharacter(const std::string& text, size_t maxBytes, CharacterBytes characterBytes);

// Writes text into a host's 256-byte string: the length byte, then the
// text cut to at most 255 bytes at a character boundary, then a zero byte
// when there is room. Returns the length written.
uint8_t WritePascalString(uint8_t (&target)[256], const std::string& text,
                          CharacterBytes characterBytes);

// True for a full Windows path: a drive ("C:\") or a network share ("\\").
bool IsFullPath(const std::string& text);

// The path with dropped names in its middle: the drive (or "\\server\share")
// and the first folder, then "...", then its last `keep` names, the file
// name last; the path itself when it has no more than keep + 1 names after
// the drive. Names are found between whole characters.
std::string ElidePath(const std::string& path, size_t keep, CharacterBytes characterBytes);

// The message that compose makes of the facts, in at most maxBytes bytes
// when shortening the full paths among the facts (IsFullPath) can get it
// there: the longest path loses one name from its middle at a time, down to
// its first folder and its file name. What the sentence and everything else
// say is never shortened; a message that still does not fit comes back as
// long as its paths could make it, for the caller to cut.
std::string FitPathsInMessage(
    const std::vector<std::string>& facts, size_t maxBytes, CharacterBytes characterBytes,
    const std::function<std::string(const std::vector<std::string>&)>& compose);

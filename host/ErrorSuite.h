// The host's Unicode error channel: failure words of any length, in any
// language, handed over through the suites of hosts that offer them.
#pragma once

#include <cstdint>
#include <string>

#include "host/HostInterface.h"

// Hands the words to the host's error suite as a string of the host's
// string suite, for the host to show for -30904 in place of errorString.
// Both suites are taken only for this and given back before it returns, and
// so is the string. Should the host take the error suite but not the
// Unicode text, ansiText (the host's code page) goes in its place, and
// should it refuse that too, fittedText (the same in at most 255 bytes, as
// a length-prefixed string): a host whose error suite has been taken shows
// its text, empty or not. False, with nothing left taken, when the host has
// no suites, refuses either, or takes none of the texts.
bool TrySetHostErrorText(const host::FilterRecord* record, const std::u16string& words,
                         const std::string& ansiText, const uint8_t (&fittedText)[256]);

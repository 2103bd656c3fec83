// Telling the host's user, in the host's own error message, why a call
// failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/FailureReport.h"

// The user's words for a report in a language (ModuleLanguages): the
// module's string for the failure in that language with its facts (text of
// the ANSI code page) filled in, then, when the report has a system error
// code, the system's own text for it quoted after ours. Empty for
// EFailure::kNone or when the module holds no string for the failure.
std::wstring FailureWords(const FailureReport& report, uint16_t language);

// FailureWords in the user's language (UserLanguage) as text of the ANSI
// code page; in English when that code page cannot hold the translated
// words exactly, as a Japanese text on a Western system. When that is
// longer than maxBytes, the full paths among the facts are shortened in
// their middle ("C:\Users\...\velmorafilter\Data.lif") until it fits, as
// far as they can be; nothing else is. Translated words that are longer
// even so (a Russian text on a system whose code page is UTF-8) come in
// English, when that fits: whole, never cut before their remedy.
std::string FailureMessage(const FailureReport& report, size_t maxBytes = SIZE_MAX);

// Writes FailureMessage, fitted into 255 bytes, into the host's errorString,
// cut there at a character boundary of the ANSI code page (UTF-8 included)
// should even its shortest paths leave it longer. True when written; false, with
// nothing written, when errorString is null or there is no text.
bool TryTellHost(uint8_t (*errorString)[256], const FailureReport& report);

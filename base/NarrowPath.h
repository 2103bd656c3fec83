// Folders that Windows reports as wide text, turned into the narrow text in
// the ANSI code page that the plug-in, the job description and the
// application's command line carry. Windows only.
#pragma once

#include <string>

namespace sys {

// The path itself when every character has an exact counterpart in the ANSI
// code page (no default character, no best-fit look-alike) and it takes at
// most maxLength bytes there; otherwise its short (8.3) form converted the
// same way, which is plain ASCII wherever the volume keeps short names, when
// that fits. False, with narrow empty, when neither converts exactly within
// the length: a path with "?" for some letters names another folder or none,
// and a cut one another folder too.
bool ToExactNarrowPath(const std::wstring& wide, std::string& narrow,
                       size_t maxLength = std::string::npos);

}  // namespace sys

// Folders that Windows reports as wide text, turned into the narrow text in
// the ANSI code page that the plug-in, the job description and the
// application's command line carry. Windows only.
#pragma once

#include <string>

namespace sys {

// The path itself when every character has an exact counterpart in the ANSI
// code page (no default character, no best-fit look-alike); otherwise its
// short (8.3) form converted the same way, which is plain ASCII wherever the
// volume keeps short names. False, with narrow empty, when neither converts
// exactly: a path with "?" for some letters names another folder or none.
bool ToExactNarrowPath(const std::wstring& wide, std::string& narrow);

}  // namespace sys

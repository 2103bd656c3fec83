// The settings file that earlier releases of the installer wrote into every
// user's profile (VelmoraPro\plugin.ini). A user's own file always wins over
// the machine-wide setting, so a stale copy of that file would hide every
// later APPLICATIONPATH from its user: the per-user step moves it aside
// (plugin.ini.old) once the folder it names no longer holds Velmora.exe.
// A file in any other form is the user's own, and never touched.
#pragma once

#include <string>

namespace peruser {

// True when bytes are exactly what an earlier release wrote:
// "[General]\r\nApplicationPath=<folder>\\\r\n", the folder in the system's
// code page; gives the folder (with no trailing backslash but a drive's).
bool TryEarlierReleaseSettings(const std::string& bytes, std::string& folder);

}  // namespace peruser

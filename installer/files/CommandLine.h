// The installer's command-line options and the folders they name, read the
// way Windows users write them. Portable.
#pragma once

#include <string>

namespace files {

// The value of name (with its "=", such as "APPLICATIONPATH=") among a
// command line's parameters, matched without regard to case where the name
// starts a parameter (after a blank or a quote). The value may be quoted
// ("NAME=C:\a b" or NAME="C:\a b"); unquoted it ends at the next blank.
// False when the option is not there.
bool TryFindOption(const std::wstring& parameters, const std::wstring& name, std::wstring& value);

// A folder given in full, the only form the plug-in accepts: a drive and a
// backslash (C:\...), or a network share (\\server\...).
bool IsFullFolder(const std::wstring& folder);

}  // namespace files

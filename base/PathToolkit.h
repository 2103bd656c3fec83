// Building and testing paths: narrow byte strings in the ANSI code page with
// backslash as the only separator the plug-in writes. The string functions
// do no system calls; the existence test, listing and deletion go through
// base/SystemPaths.h.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace host {
struct FilterRecord;
}

// The product name that every exchanged file is named after.
constexpr const char* kProductName = "Velmora";

// A copy with a backslash appended unless the path is empty or already ends
// with one.
std::string EnsureTrailingBackslash(const std::string& path);

// A copy with one final backslash removed when there is one.
std::string StripTrailingBackslash(const std::string& path);

// EnsureTrailingBackslash(folder) + name; an empty folder gives the name alone.
std::string JoinPath(const std::string& folder, const std::string& name);

// True for a folder named in full: a drive letter, a colon and a backslash
// ("C:\Apps"), or a UNC path with its server and share ("\\server\share").
// A relative, drive-relative ("C:Apps") or rooted ("\Apps") path is not: the
// system would resolve it against whatever folder happens to be current.
bool IsAbsoluteFolder(const std::string& path);

// True when the path (without its final backslash) names a file or a folder.
// Throws EError for an empty path.
bool PathExists(const std::string& path);

// Names (without folder) of the plain files directly in the folder, hidden
// ones included, in the order the system gives them; no subfolders, no "."
// or "..". Empty for an empty folder string or a folder that cannot be read.
std::vector<std::string> ListFiles(const std::string& folder);

// Deletes every plain file that ListFiles gives; failures are ignored and
// subfolders are left alone. Throws EError for an empty path.
void EmptyFolder(const std::string& folder);

// Copies at most size - 1 bytes of source and always terminates in the last
// byte of the buffer: a longer source is cut, never refused. Throws EError for
// a null destination, a null source or a size of 0.
void CopyPath(char* destination, size_t size, const char* source);

// Every byte outside letters, digits and "+-()_" becomes "_"; the length
// never changes.
std::string SanitizeName(const std::string& text);

// SanitizeName of the product name. Throws EError for a null record.
std::string GetBaseName(const host::FilterRecord* record);

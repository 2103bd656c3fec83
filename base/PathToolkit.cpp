#include "base/PathToolkit.h"

#include <cstring>

#include "base/AnsiText.h"
#include "base/BinaryFile.h"
#include "base/Error.h"
#include "base/SystemPaths.h"

std::string EnsureTrailingBackslash(const std::string& path) {
  if (path.empty() || EndsWithBackslash(path)) return path;
  return path + '\\';
}

std::string StripTrailingBackslash(const std::string& path) {
  if (!EndsWithBackslash(path)) return path;
  return path.substr(0, path.size() - 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  return EnsureTrailingBackslash(folder) + name;
}

bool IsAbsoluteFolder(const std::string& path) {
  const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (path.size() >= 3 && isLetter(path[0]) && path[1] == ':' && path[2] == '\\') return true;
  if (path.compare(0, 2, "\\\\") != 0) return false;
  // "\\server\share": both names present, one backslash between them.
  const size_t serverEnd = FindBackslash(path, 2);
  if (serverEnd == std::string::npos || serverEnd == 2) return false;
  return serverEnd + 1 < path.size() && path[serverEnd + 1] != '\\';
}

bool PathExists(const std::string& path) {
  Require(!path.empty());
  // The runtime's status call refuses a folder written with its backslash.
  return sys::QueryPathStatus(StripTrailingBackslash(path));
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> names;
  if (folder.empty()) return names;
  sys::FolderSearch search(JoinPath(folder, "*"));
  sys::FolderEntry entry;
  while (search.Next(entry)) {
    if (entry.isFolder || entry.name == "." || entry.name == "..") continue;
    names.push_back(entry.name);
  }
  return names;
}

void EmptyFolder(const std::string& folder) {
  Require(!folder.empty());
  // A file still open elsewhere stays; the next run tries again.
  for (const std::string& name : ListFiles(folder)) sys::RemoveFile(JoinPath(folder, name));
}

void CopyPath(char* destination, size_t size, const char* source) {
  Require(destination != nullptr && source != nullptr && size != 0);
  const size_t length = std::strlen(source);
  const size_t kept = length < size - 1 ? length : size - 1;
  std::memcpy(destination, source, kept);
  std::memset(destination + kept, 0, size - kept);
}

namespace {

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '-' || c == '(' || c == ')' || c == '_';
}

}  // namespace

std::string SanitizeName(const std::string& text) {
  std::string name = text;
  for (char& c : name) {
    if (!IsNameCharacter(c)) c = '_';
  }
  return name;
}

std::string GetBaseName(const host::FilterRecord* record) {
  Require(record != nullptr);
  return SanitizeName(kProductName);
}

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/AnsiText.h"
#include "base/SystemPaths.h"

namespace sys {

uint32_t QueryTempPath(char* buffer, uint32_t size) {
  const char* variable = std::getenv("TMPDIR");
  std::string folder = variable != nullptr && *variable != '\0' ? variable : "/tmp";
  if (folder.back() != '/') folder += '/';
  const uint32_t length = static_cast<uint32_t>(folder.size());
  if (buffer == nullptr || length + 1 > size) return length + 1;
  std::memcpy(buffer, folder.c_str(), length + 1);
  return length;
}

namespace {
uint32_t gAnsiCodePage = 1252;
}  // namespace

void SetAnsiCodePage(uint32_t codePage) { gAnsiCodePage = codePage; }

bool IsLeadByte(unsigned char byte) {
  switch (gAnsiCodePage) {
    case 932:  // Shift JIS
      return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
      return byte >= 0x81 && byte <= 0xFE;
    default:
      return false;
  }
}

size_t CharacterBytes(unsigned char lead) {
  if (gAnsiCodePage == 65001) return Utf8CharacterBytes(lead);
  return IsLeadByte(lead) ? 2 : 1;
}

bool QueryShortPath(const std::string&, std::string& shortPath) {
  shortPath.clear();
  return false;
}

bool QueryPathStatus(const std::string& path) {
  struct stat status;
  return ::stat(path.c_str(), &status) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }

void ClearLastErrorCode() { errno = 0; }

bool IsDiskFullError(uint32_t code) { return code == ENOSPC; }

bool TryGetFreeSpace(const std::string& folder, uint64_t& bytes) {
  bytes = 0;
  struct statvfs status;
  if (::statvfs(folder.c_str(), &status) != 0) return false;
  bytes = static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
  return true;
}

struct FolderSearch::State {
  DIR* dir = nullptr;
  std::string folder;
};

FolderSearch::FolderSearch(const std::string& pattern) : state_(new State) {
  // The pattern is "<folder>\*": search the folder itself.
  std::string folder = pattern;
  if (!folder.empty() && folder.back() == '*') folder.pop_back();
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/') && folder.size() > 1) {
    folder.pop_back();
  }
  if (folder.empty()) return;
  state_->folder = folder;
  state_->dir = ::opendir(folder.c_str());
}

FolderSearch::~FolderSearch() {
  if (state_->dir != nullptr) ::closedir(state_->dir);
}

bool FolderSearch::Next(FolderEntry& entry) {
  if (state_->dir == nullptr) return false;
  const dirent* found = ::readdir(state_->dir);
  if (found == nullptr) return false;
  entry.name = found->d_name;
  struct stat status;
  const std::string path = state_->folder + '/' + entry.name;
  entry.isFolder = ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
  return true;
}

}  // namespace sys

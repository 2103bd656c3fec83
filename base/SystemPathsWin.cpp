#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "base/SystemPaths.h"

namespace sys {

uint32_t QueryTempPath(char* buffer, uint32_t size) { return GetTempPathA(size, buffer); }

bool QueryPathStatus(const std::string& path) {
  struct _stat status;
  return _stat(path.c_str(), &status) == 0;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

struct FolderSearch::State {
  intptr_t handle = -1;
  _finddata_t data{};
  bool pending = false;  // data holds an entry not yet handed out
};

FolderSearch::FolderSearch(const std::string& pattern) : state_(new State) {
  state_->handle = _findfirst(pattern.c_str(), &state_->data);
  state_->pending = state_->handle != -1;
}

FolderSearch::~FolderSearch() {
  if (state_->handle != -1) _findclose(state_->handle);
}

bool FolderSearch::Next(FolderEntry& entry) {
  if (state_->handle == -1) return false;
  if (!state_->pending && _findnext(state_->handle, &state_->data) != 0) return false;
  state_->pending = false;
  entry.name = state_->data.name;
  entry.isFolder = (state_->data.attrib & _A_SUBDIR) != 0;
  return true;
}

}  // namespace sys

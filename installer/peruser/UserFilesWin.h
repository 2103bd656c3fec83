// The per-user step's file system: Windows' own, as the user running it.
#pragma once

#include "installer/peruser/UserFiles.h"

namespace peruser {

class WinUserFiles : public IUserFiles {
 public:
  EntryKind Kind(const std::wstring& path) override;
  bool Copy(const std::wstring& from, const std::wstring& to, unsigned long& error) override;
};

}  // namespace peruser

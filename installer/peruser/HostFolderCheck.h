// Whether a host's plug-in folder belongs to administrators, so that the
// elevated installer may write there: it must lie in a Program Files folder,
// whose folders only administrators can make or change, and no folder from
// there down may be a link, which another account could have pointed at any
// folder of its choice. Portable; the file system is the caller's.
#pragma once

#include <string>
#include <vector>

#include "installer/peruser/UserFiles.h"

namespace peruser {

enum class HostFolderVerdict {
  kAdminOwned = 0,
  kOutsideProgramFiles = 1,
  kLinkOnTheWay = 2,
  kMissing = 3,
};

// folder and programFiles in full (C:\...), without "." or ".." in them;
// either may end in backslashes. A folder named in any other form counts as
// outside, since its name alone does not tell where it leads.
HostFolderVerdict CheckHostFolder(IUserFiles& files, const std::wstring& folder,
                                  const std::vector<std::wstring>& programFiles);

}  // namespace peruser

#include "ui/Alert.h"

#include <windows.h>

#include <string>

#include "ui/AdvanceStateWarning.h"
#include "ui/ModuleState.h"
#include "ui/ResourceIds.h"

int ShowAlert(void* owner, int16_t alertId, int16_t stringId, const AlertText* param1,
              const AlertText* param2) {
  if (alertId == 0) return 0;
  char buffer[255] = {};
  if (stringId > 0) {
    LoadStringA(static_cast<HINSTANCE>(GetModuleInstance()), static_cast<UINT>(stringId), buffer,
                sizeof buffer);
  }
  const std::string text = SubstitutePlaceholders(buffer, param1, param2);
  return MessageBoxA(static_cast<HWND>(owner), text.c_str(), nullptr, MB_ICONWARNING | MB_OK);
}

void ShowWorkFolderBusyAlert(void* owner) {
  ShowAlert(owner, IDS_WORK_FOLDER_BUSY, IDS_WORK_FOLDER_BUSY, nullptr, nullptr);
}

void ShowVersionAlert(const char* versionText) {
  AlertText version;
  version.Assign(versionText);
  ShowAlert(nullptr, IDS_INTEGER_RANGE, IDS_VERSION_REQUIRED, &version, nullptr);
}

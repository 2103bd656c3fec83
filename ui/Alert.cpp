#include "ui/Alert.h"

#include <windows.h>

#include <string>

#include "ui/AdvanceStateWarning.h"
#include "ui/Language.h"
#include "ui/ModuleText.h"
#include "ui/ResourceIds.h"

int ShowAlert(void* owner, int16_t alertId, int16_t stringId, const AlertText* param1,
              const AlertText* param2) {
  if (alertId == 0) return 0;
  // These texts are the host interface's own and stay English in every
  // language, whatever block of the string table a translation brings.
  std::string buffer;
  if (stringId > 0) {
    buffer = ToAnsi(ModuleText(static_cast<unsigned>(stringId), kEnglishLanguage));
    if (buffer.size() > 254) buffer.resize(254);
  }
  const std::string text = SubstitutePlaceholders(buffer, param1, param2);
  return MessageBoxA(static_cast<HWND>(owner), text.c_str(), nullptr, MB_ICONWARNING | MB_OK);
}

void ShowWorkFolderBusyAlert(void* owner) {
  // Our own words, in the user's language, shown as wide text: the code
  // page does not matter.
  const std::wstring text = ModuleText(IDS_WORK_FOLDER_BUSY, UserLanguage());
  MessageBoxW(static_cast<HWND>(owner), text.c_str(), nullptr, MB_ICONWARNING | MB_OK);
}

void ShowVersionAlert(const char* versionText) {
  AlertText version;
  version.Assign(versionText);
  ShowAlert(nullptr, IDS_INTEGER_RANGE, IDS_VERSION_REQUIRED, &version, nullptr);
}

// Message boxes with texts from the module's string table.
#pragma once

#include <cstdint>

#include "ui/AlertText.h"

// Shows the string stringId of the module (empty when absent or when
// stringId is not above 0) with its placeholders filled, as a warning with an
// OK button owned by owner (may be null). Alert id 0 shows nothing and gives
// 0; otherwise the message box's result.
int ShowAlert(void* owner, int16_t alertId, int16_t stringId, const AlertText* param1,
              const AlertText* param2);

// Tells the user that another image is still being processed in the
// application and must be finished first; owned by owner (may be null).
void ShowWorkFolderBusyAlert(void* owner);

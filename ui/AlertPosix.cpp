// Native builds have no window system: the version alert goes to the error
// stream, so nothing ever blocks.
#include <cstdio>

#include "ui/AdvanceStateWarning.h"

void ShowVersionAlert(const char* versionText) {
  std::fprintf(stderr, "This plug-in requires host functionality of version %s or later.\n",
               versionText);
}

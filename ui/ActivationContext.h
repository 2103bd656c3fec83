// The module's activation context around its dialogs, so that the module's
// manifest (not the host's) chooses the system libraries' versions. The
// functions are looked up at run time: systems without them show dialogs
// without a context.
#pragma once

#include <windows.h>

// Activates the module's context for its lifetime. Usable() is false when a
// context exists but could not be activated: the dialog must not be shown.
class ScopedModuleActivation {
 public:
  ScopedModuleActivation();
  ~ScopedModuleActivation();
  ScopedModuleActivation(const ScopedModuleActivation&) = delete;
  ScopedModuleActivation& operator=(const ScopedModuleActivation&) = delete;

  bool Usable() const { return usable_; }

 private:
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
  bool usable_ = true;
};

#include "ui/ActivationContext.h"

#include "ui/ModuleState.h"

namespace {

using QueryActCtxWFn = BOOL(WINAPI*)(DWORD, HANDLE, PVOID, ULONG, PVOID, SIZE_T, SIZE_T*);
using CreateActCtxWFn = HANDLE(WINAPI*)(PCACTCTXW);
using ActivateActCtxFn = BOOL(WINAPI*)(HANDLE, ULONG_PTR*);
using DeactivateActCtxFn = BOOL(WINAPI*)(DWORD, ULONG_PTR);
using FindActCtxSectionStringWFn = BOOL(WINAPI*)(DWORD, const GUID*, ULONG, LPCWSTR,
                                                 PACTCTX_SECTION_KEYED_DATA);

// Errors that mean the system has no activation contexts at all.
bool MeansUnsupported(DWORD error) {
  return error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_MOD_NOT_FOUND ||
         error == ERROR_PROC_NOT_FOUND;
}

// Errors of CreateActCtxW that mean the module names no such manifest.
bool MeansNoManifest(DWORD error) {
  return error >= ERROR_RESOURCE_DATA_NOT_FOUND && error <= ERROR_RESOURCE_LANG_NOT_FOUND;
}

template <typename Fn>
Fn Lookup(HMODULE kernel, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

// Kept for the life of the module, made on first use.
struct ModuleContext {
  bool initialised = false;
  bool supported = true;
  HANDLE context = nullptr;  // null: the module has none
  ActivateActCtxFn activate = nullptr;
  DeactivateActCtxFn deactivate = nullptr;
};

ModuleContext& Context() {
  static ModuleContext module;
  if (module.initialised) return module;
  module.initialised = true;

  HMODULE kernel = GetModuleHandleA("Kernel32.dll");
  auto query = Lookup<QueryActCtxWFn>(kernel, "QueryActCtxW");
  auto create = Lookup<CreateActCtxWFn>(kernel, "CreateActCtxW");
  auto find = Lookup<FindActCtxSectionStringWFn>(kernel, "FindActCtxSectionStringW");
  module.activate = Lookup<ActivateActCtxFn>(kernel, "ActivateActCtx");
  module.deactivate = Lookup<DeactivateActCtxFn>(kernel, "DeactivateActCtx");
  if (query == nullptr || create == nullptr || module.activate == nullptr ||
      module.deactivate == nullptr) {
    module.supported = false;
    return module;
  }

  auto instance = static_cast<HMODULE>(GetModuleInstance());
  // The basic information is the context handle followed by its flags: a
  // buffer of just a handle is too small and the query fails.
  ACTIVATION_CONTEXT_BASIC_INFORMATION basic{};
  HANDLE given = nullptr;
  if (query(QUERY_ACTCTX_FLAG_ACTCTX_IS_HMODULE | QUERY_ACTCTX_FLAG_NO_ADDREF, instance, nullptr,
            ActivationContextBasicInformation, &basic, sizeof basic, nullptr)) {
    given = basic.hActCtx;
  } else if (MeansUnsupported(GetLastError())) {
    module.supported = false;
  }
  if (given == nullptr && module.supported) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(instance, path, MAX_PATH);
    ACTCTXW request{};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
    request.lpSource = path;
    request.lpResourceName = MAKEINTRESOURCEW(2);
    request.hModule = instance;
    HANDLE created = create(&request);
    if (created != INVALID_HANDLE_VALUE) {
      given = created;
    } else if (MeansUnsupported(GetLastError())) {
      module.supported = false;
    } else if (!MeansNoManifest(GetLastError())) {
      given = nullptr;
    }
  }
  module.context = given;

  // A context that redirects the common controls loads them once inside it.
  if (module.context != nullptr && find != nullptr) {
    ACTCTX_SECTION_KEYED_DATA data{};
    data.cbSize = sizeof data;
    ULONG_PTR cookie = 0;
    if (module.activate(module.context, &cookie)) {
      if (find(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, L"Comctl32.dll", &data)) {
        LoadLibraryW(L"Comctl32.dll");
      }
      module.deactivate(0, cookie);
    }
  }
  return module;
}

}  // namespace

ScopedModuleActivation::ScopedModuleActivation() {
  ModuleContext& module = Context();
  if (!module.supported || module.context == nullptr) return;
  if (module.activate(module.context, &cookie_)) {
    active_ = true;
  } else if (!MeansUnsupported(GetLastError())) {
    usable_ = false;
  }
}

ScopedModuleActivation::~ScopedModuleActivation() {
  if (!active_) return;
  // The dialog's last error survives the deactivation.
  const DWORD error = GetLastError();
  Context().deactivate(0, cookie_);
  SetLastError(error);
}

// The one exported entry point that hosts call.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define VELMORA_EXPORT __declspec(dllexport)
#else
#define VELMORA_EXPORT
#endif

// cdecl on i686 (exported undecorated); one call per host selector.
extern "C" VELMORA_EXPORT void PluginMain(int16_t selector, void* parameterBlock, intptr_t* data,
                                          int16_t* result);

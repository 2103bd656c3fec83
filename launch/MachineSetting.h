// The machine-wide setting an administrator's install records: the folder
// of Velmora.exe under HKLM\SOFTWARE\Velmora Plugin, value ApplicationPath.
#pragma once

#include <optional>
#include <string>

// The registry key below HKEY_LOCAL_MACHINE and its value, as the installer
// writes them.
constexpr const wchar_t* kMachineSettingKey = L"SOFTWARE\\Velmora Plugin";
constexpr const wchar_t* kMachineSettingValue = L"ApplicationPath";

// The value (REG_SZ, or REG_EXPAND_SZ expanded) in the ANSI code page, its
// short form where its own name does not convert exactly
// (sys::ToExactNarrowPath); empty when neither does. Always read in the
// 64-bit view: a 32-bit plug-in on 64-bit Windows would otherwise be sent
// to the redirected WOW6432Node and see another value, or none, than the
// 64-bit one beside it (on 32-bit Windows the view flag is ignored).
// nullopt when the key or the value is missing, or is of another type.
std::optional<std::string> ReadMachineApplicationPath();

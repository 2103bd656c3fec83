// Where the plug-in finds the folder of the stand-alone application: the
// user's own settings file, and for a user without one the machine-wide
// setting that an administrator's install records.
#pragma once

#include <functional>
#include <optional>
#include <string>

// The settings file is <profile folder>\VelmoraPro\plugin.ini; its section
// General names, under ApplicationPath, the folder that holds Velmora.exe.
constexpr const char* kSettingsFolderName = "VelmoraPro";
constexpr const char* kSettingsFileName = "plugin.ini";
constexpr const char* kSettingsSection = "General";
constexpr const char* kApplicationPathKey = "ApplicationPath";
// Optional: the language of the plug-in's words, such as "de" or "pt-BR",
// in place of the user's display language.
constexpr const char* kLanguageKey = "Language";
constexpr const char* kApplicationFileName = "Velmora.exe";

// The machine-wide setting as the user's words name it: the registry key
// whose value ApplicationPath holds the folder. Only administrators can
// change it, so it may serve every account; both the 32-bit and the 64-bit
// plug-in read it in the machine's native view.
constexpr const char* kMachineSettingName = "HKLM\\SOFTWARE\\Velmora Plugin";

// The machine-wide value in the ANSI code page, as written; nullopt when
// there is none. Empty when the value exists but has no exact narrow form.
using MachineSettingReader = std::function<std::optional<std::string>()>;

struct ApplicationSetting {
  // The folder of Velmora.exe with a trailing backslash; empty when none.
  std::string folder;
  // What the folder was read from, for the user's words: the settings
  // file's path or kMachineSettingName; the settings file's path when
  // neither has one.
  std::string source;
};

// <profile>\VelmoraPro\plugin.ini.
std::string SettingsFileUnder(const std::string& profile);

// The application's folder. The user's own settings file always wins and is
// read as ever: when it exists, whatever it holds decides (a file without a
// usable ApplicationPath is reported as such, not passed over). Only when
// the user has no such file, or no usable profile folder (profile empty), is
// the machine-wide setting asked; a Language setting exists only in the
// user's file (NoteLanguageSetting). False, with the folder empty, when no
// usable folder is found, the failure noted for the user (NoteFailure): the
// missing file also says that no machine-wide setting exists either. The
// value is taken as written: no check that the folder exists.
bool FindApplicationSetting(const std::string& profile, const MachineSettingReader& machine,
                            ApplicationSetting& setting);

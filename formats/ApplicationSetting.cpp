#include "formats/ApplicationSetting.h"

#include "base/PathToolkit.h"
#include "formats/IniReader.h"
#include "host/FailureReport.h"

namespace {

// Only a folder named in full: an empty or relative one would have the
// system look for Velmora.exe in the host's folder, the current folder and
// PATH, and run whatever it finds there.
bool TakeFolder(const std::string& source, const char* value, ApplicationSetting& setting) {
  if (value == nullptr) {
    NoteFailure(EFailure::kSettingsNoKey, {source, kSettingsSection, kApplicationPathKey});
    return false;
  }
  if (!IsAbsoluteFolder(value)) {
    NoteFailure(EFailure::kSettingsNotFull, {source, kSettingsSection, kApplicationPathKey, value});
    return false;
  }
  setting.folder = EnsureTrailingBackslash(value);
  return true;
}

}  // namespace

std::string SettingsFileUnder(const std::string& profile) {
  return JoinPath(JoinPath(profile, kSettingsFolderName), kSettingsFileName);
}

bool FindApplicationSetting(const std::string& profile, const MachineSettingReader& machine,
                            ApplicationSetting& setting) {
  setting = ApplicationSetting();
  if (!profile.empty()) {
    const std::string settings = SettingsFileUnder(profile);
    setting.source = settings;
    IniReader reader;
    if (reader.Load(settings.c_str())) {
      // First, so that what is wrong with the rest is told in that language.
      const char* language = reader.Lookup(kSettingsSection, kLanguageKey, nullptr);
      if (language != nullptr) NoteLanguageSetting(language);
      // Copied at once: the text lives in the reader.
      const bool found = TakeFolder(
          settings, reader.Lookup(kSettingsSection, kApplicationPathKey, nullptr), setting);
      reader.Reset();
      return found;
    }
    // A file that is there but empty, too long or without entries is the
    // user's word all the same: it has no setting, and the machine's does
    // not stand in for it.
    if (PathExists(settings)) {
      NoteFailure(EFailure::kSettingsNoKey, {settings, kSettingsSection, kApplicationPathKey});
      return false;
    }
  }

  const std::optional<std::string> value = machine ? machine() : std::nullopt;
  if (!value) {
    if (profile.empty()) {
      NoteFailure(EFailure::kNoProfileFolder);
    } else {
      NoteFailure(EFailure::kSettingsMissing,
                  {setting.source, kSettingsSection, kApplicationPathKey});
    }
    return false;
  }
  setting.source = kMachineSettingName;
  return TakeFolder(kMachineSettingName, value->c_str(), setting);
}

// The per-user settings store: small text values addressed by application name, section
// and value name. Each application keeps one INI-style file under the configuration folder.
#pragma once

#include <string>

namespace ferrolyte {

// The file that holds an application's values: the configuration folder (APPDATA, else
// XDG_CONFIG_HOME, else ~/.config) + "/Quorvane/" + app + "/" + app + ".ini".
std::string SettingsStoreFile(const std::string& app);

// The stored value, or default_value when the file, the section or the value is missing.
// Section and value names are compared without regard to letter case.
std::string GetSetting(const std::string& app, const std::string& section, const std::string& name,
                       const std::string& default_value);

// Stores the value, creating the folder and file as needed. The file is replaced atomically,
// so an interrupted write never loses the other values. Raises the file error on failure.
void SaveSetting(const std::string& app, const std::string& section, const std::string& name,
                 const std::string& value);

}  // namespace ferrolyte

// The per-user settings store: small text values addressed by application name, section
// and value name. Each application keeps one INI-style file under the configuration folder
// the env names.
#pragma once

#include <string>

#include "support/env.h"

namespace ferrolyte {

// The file that holds an application's values: the env's configuration folder (/tmp when it
// cannot be told) + "/Quorvane/" + app + "/" + app + ".ini".
std::string SettingsStoreFile(Env& env, const std::string& app);

// The stored value, or default_value when the file, the section or the value is missing.
// Section and value names are compared without regard to letter case.
std::string GetSetting(Env& env, const std::string& app, const std::string& section,
                       const std::string& name, const std::string& default_value);

// Stores the value, creating the folder and file as needed. The file is replaced atomically,
// so an interrupted write never loses the other values; the rename goes through the env.
// Raises the file error, with the system's reason, on failure.
void SaveSetting(Env& env, const std::string& app, const std::string& section,
                 const std::string& name, const std::string& value);

}  // namespace ferrolyte

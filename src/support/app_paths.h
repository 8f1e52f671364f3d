// Where the program keeps its files: the settings folder with the log and wizard.ini, and the
// parent of the folders its runs make for themselves, as the env tells them.
#pragma once

#include <string>

#include "support/env.h"

namespace ferrolyte {

// The configuration folder (APPDATA, else XDG_CONFIG_HOME, else ~/.config; /tmp when none
// can be told) + "/Quorvane/Ferrolyte", without a trailing separator.
std::string SettingsFolder(Env& env);
// SettingsFolder(env) + "/wizard.ini": the settings of the last interactive run.
std::string DefaultSettingsFile(Env& env);
// SettingsFolder(env) + "/" + the executable's file name + ".log".
std::string LogFileName(Env& env);
// TEMP, else TMPDIR, else /tmp: where a run makes its PrivateFolder.
std::string TempFolder(Env& env);

}  // namespace ferrolyte

// Where the program keeps its files: the settings folder with the log and wizard.ini, and the
// parent of the folders its runs make for themselves.
#pragma once

#include <string>

namespace ferrolyte {

// The configuration folder (APPDATA, else XDG_CONFIG_HOME, else ~/.config) +
// "/Quorvane/Ferrolyte", without a trailing separator.
std::string SettingsFolder();
// SettingsFolder() + "/wizard.ini": the settings of the last interactive run.
std::string DefaultSettingsFile();
// SettingsFolder() + "/" + the executable's file name + ".log".
std::string LogFileName();
// TEMP, else TMPDIR, else /tmp: where a run makes its PrivateFolder.
std::string TempFolder();

}  // namespace ferrolyte

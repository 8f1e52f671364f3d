// The settings dictionary: its section, keys and defaults, the folders and files that hold
// settings, and the normalisation of settings read from a file.
#pragma once

#include <string>

#include "support/value.h"

namespace ferrolyte {

// The one section of a settings dictionary; a dictionary without it holds no settings.
inline constexpr char kSettingsSection[] = "Velkan Ferrolyte";
// The application name under which the per-user settings store keeps its values.
inline constexpr char kSettingsAppName[] = "Ferrolyte";
// The values of dumpformat: how a dump file holds the rows.
inline constexpr char kDumpFormatInsert[] = "INSERT";  // one INSERT statement per row
inline constexpr char kDumpFormatCopy[] = "COPY";      // a COPY ... FROM stdin block per table

// The configuration folder (APPDATA, else XDG_CONFIG_HOME, else ~/.config) +
// "/Quorvane/Ferrolyte", without a trailing separator.
std::string SettingsFolder();
// SettingsFolder() + "/wizard.ini": the settings of the last interactive run.
std::string DefaultSettingsFile();
// The documents folder (else APPDATA, TEMP, TMP, /tmp) + "/dump.sql".
std::string DefaultDumpFileName();

// A settings dictionary with the start-up defaults (on/off values as numbers).
DictionaryPtr DefaultSettings();

// The section dictionary of a settings dictionary, or null when there is none.
DictionaryPtr SettingsSection(const DictionaryPtr& settings);

// What makes the settings of a section unusable for a run, naming the key and the value:
// a destination method other than DIRECT or DUMP (in any letter case), an empty database
// name or dump file name, a port that is no number, a dump format other than INSERT or COPY
// (in any letter case). Empty when there is nothing.
std::string SettingsProblem(const DictionaryPtr& section);

// Turns the on/off keys into "0"/"1" (a missing one gets its start-up default; the optional
// transferrelationships and transferdescriptions stay missing), sets memotype and
// datetimetype to their only supported values, and writes a dumpformat in upper case (INSERT
// when empty; any other value is kept for the run to refuse; a missing one stays missing).
// Leaves a dictionary without the settings section alone.
void NormalizeSettings(const DictionaryPtr& settings);

}  // namespace ferrolyte

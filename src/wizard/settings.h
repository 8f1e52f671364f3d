// The settings dictionary: its section, keys and defaults, the folders and files that hold
// settings, and the normalisation of settings read from a file.
#pragma once

#include <string>

#include "conversion/run_settings.h"
#include "support/app_paths.h"
#include "support/value.h"

namespace ferrolyte {

// The application name under which the per-user settings store keeps its values.
inline constexpr char kSettingsAppName[] = "Ferrolyte";

// The env's documents folder (else its APPDATA, TEMP, TMP, else /tmp) + "/dump.sql".
std::string DefaultDumpFileName(Env& env);

// "shop" of ".../shop.mdb": the database a conversion creates by default ("velkan" for a name
// that leaves nothing).
std::string DatabaseNameOf(const std::string& source);

// A settings dictionary with the start-up defaults (on/off values as numbers), the dump
// file in the env's documents folder.
DictionaryPtr DefaultSettings(Env& env);

// The section dictionary of a settings dictionary, or null when there is none.
DictionaryPtr SettingsSection(const DictionaryPtr& settings);

// Turns the on/off keys into "0"/"1" (a missing one gets its start-up default; the optional
// transferrelationships, transferdescriptions, transferqueries, transfervalidation and
// followlinks stay missing; so does complexcolumns, else TEXT or TABLES), sets memotype and
// datetimetype to their only supported values, and writes a dumpformat in upper case (INSERT
// when empty; any other value is kept for the run to refuse; a missing one stays missing),
// and an identifiercase as KEEP, LOWER or SNAKE in the same way. Leaves a dictionary without the
// settings section alone.
void NormalizeSettings(const DictionaryPtr& settings);

}  // namespace ferrolyte

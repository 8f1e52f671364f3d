// What the conversion run reads from a settings dictionary: the section it looks in, the
// forms of a dump, and what makes settings unusable for a run.
#pragma once

#include <string>

#include "support/value.h"

namespace ferrolyte {

// The one section of a settings dictionary; a dictionary without it holds no settings.
inline constexpr char kSettingsSection[] = "Velkan Ferrolyte";
// The values of dumpformat: how a dump file holds the rows.
inline constexpr char kDumpFormatInsert[] = "INSERT";  // one INSERT statement per row
inline constexpr char kDumpFormatCopy[] = "COPY";      // a COPY ... FROM stdin block per table
// The values of complexcolumns: how attachment and multi-value columns arrive.
inline constexpr char kComplexColumnsText[] = "TEXT";      // as text in the table's column
inline constexpr char kComplexColumnsTables[] = "TABLES";  // as child tables of their own

// What makes the settings of a section unusable for a run, naming the key and the value:
// a destination method other than DIRECT or DUMP (in any letter case), an empty database
// name or one that is not UTF-8, an empty dump file name, a port that is no number, a dump
// format other than INSERT or COPY (in any letter case), a complexcolumns other than TEXT or
// TABLES. Empty when there is nothing.
std::string SettingsProblem(const DictionaryPtr& section);

}  // namespace ferrolyte

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

// The values of destinationsslmode, as libpq names them.
inline constexpr const char* kSslModes[] = {"disable", "allow",     "prefer",
                                            "require", "verify-ca", "verify-full"};

// What makes the settings of a section unusable for a run, naming the key and the value:
// a destination method other than DIRECT or DUMP (in any letter case), an empty database
// name or one that is not UTF-8, an empty dump file name, a port that is no number (one per
// host of a list), a dump format other than INSERT or COPY (in any letter case), a
// complexcolumns other than TEXT or TABLES, an identifiercase other than KEEP, LOWER or SNAKE
// (in any letter case); for a direct run an SSL mode libpq does not know
// (in any letter case), and destinationparameters that libpq cannot read, that give a
// parameter with a key of its own or client_encoding, or too many (named without the value,
// which may hold a password). Empty when there is nothing.
std::string SettingsProblem(const DictionaryPtr& section);

// True for a TCP port (decimal digits only, from 1 to 65535) or a comma-separated list of
// them, one per host as libpq takes them.
bool IsPortList(const std::string& text);

}  // namespace ferrolyte

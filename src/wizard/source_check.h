// What the wizard checks before it leaves the source page (a test connection to the source
// database) and the destination page (the entries a run cannot do without).
#pragma once

#include <string>

#include "support/components.h"
#include "support/value.h"

namespace ferrolyte {

// Where the Access database engine can be downloaded; offered when its provider is missing.
inline constexpr char kAccessEngineDownloadAddress[] =
    "https://www.microsoft.com/en-us/download/details.aspx?id=54920";

// True when the source database opens with the given security fields. Otherwise
// error_text says why, and help_address is set when a web page can fix it (a missing
// provider). Neither out text is touched on success.
bool ValidateSource(const std::string& file_name, const std::string& system_database,
                    const std::string& user_name, const std::string& password,
                    const ComponentRegistry& components, std::string& error_text,
                    std::string& help_address);

// What keeps the destination page's entries (a settings section) from a run, and the control
// to put right; empty text when nothing does. The rules are the run's own: a database name,
// a dump file name for a dump, a port of 1 to 65535 (one per host) when one is given for a
// direct transfer, then for that whatever else SettingsProblem refuses (with no control:
// the SSL mode and the connection parameters are Advanced Options).
struct EntryProblem {
  std::string text;
  std::string control;
};
EntryProblem DestinationProblem(const DictionaryPtr& section);

}  // namespace ferrolyte

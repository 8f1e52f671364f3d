// The test connection to the source database before the wizard leaves the source page.
#pragma once

#include <string>

#include "support/components.h"

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

}  // namespace ferrolyte

// The scan of an Access database into a new schema description document.
#pragma once

#include <memory>
#include <pugixml.hpp>
#include <string>

#include "support/run_context.h"

namespace ferrolyte {

// Reads the database's tables, fields, indexes, descriptions and the relationships between
// them through the engine into a new document, saves its file copy into ctx.temp_folder (empty:
// no copy) and returns it. Empty texts mean "not given". Reads only; raises the engine's
// error when the database cannot be opened or read, or the copy cannot be saved (no partial
// document).
std::shared_ptr<pugi::xml_document> ScanAccessDatabase(const std::string& file_name,
                                                       const std::string& password,
                                                       const std::string& user_name,
                                                       const std::string& system_db,
                                                       const RunContext& ctx);

}  // namespace ferrolyte

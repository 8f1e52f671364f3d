// The scan of an Access database into the schema model the program works from.
#pragma once

#include <string>

#include "schema/schema_model.h"
#include "support/run_context.h"

namespace ferrolyte {

// Reads the database's tables, fields, indexes, descriptions and the relationships between
// them through the engine into the model, saves the document written from it into
// ctx.temp_folder (empty: no copy) and returns the model. Empty texts mean "not given". Reads only;
// raises the engine's error when the database cannot be opened or read, or the copy cannot be saved
// (no partial result).
SchemaModel ScanAccessDatabase(const std::string& file_name, const std::string& password,
                               const std::string& user_name, const std::string& system_db,
                               const RunContext& ctx);

}  // namespace ferrolyte

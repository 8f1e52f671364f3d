// The scan of an Access database into the schema model the program works from.
#pragma once

#include <memory>
#include <pugixml.hpp>
#include <string>

#include "schema/schema_model.h"
#include "support/run_context.h"

namespace ferrolyte {

// What a scan found: the model every caller reads, and the description document its file copy
// was written from.
struct SchemaScan {
  SchemaModel model;
  std::shared_ptr<const pugi::xml_document> document;
};

// Reads the database's tables, fields, indexes, descriptions and the relationships between
// them through the engine, saves the document's file copy into ctx.temp_folder (empty: no
// copy) and returns both. Empty texts mean "not given". Reads only; raises the engine's
// error when the database cannot be opened or read, or the copy cannot be saved (no partial
// result).
SchemaScan ScanAccessDatabase(const std::string& file_name, const std::string& password,
                              const std::string& user_name, const std::string& system_db,
                              const RunContext& ctx);

}  // namespace ferrolyte

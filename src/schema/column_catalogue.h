// The provider's column catalogue: numeric precision and scale per table and column, which
// the scanner uses for currency and decimal columns.
#pragma once

#include <string>

#include "support/components.h"
#include "support/value.h"

namespace ferrolyte {

// table name -> column name -> {"NUMERIC_PRECISION", "NUMERIC_SCALE"} (32-bit integers, 0 for
// null or non-numbers). Empty when the provider has no column catalogue; raises when the
// connection cannot be opened or the rows cannot be read.
DictionaryPtr ReadColumnCatalogue(const std::string& file_name, const std::string& system_db,
                                  const std::string& user_name, const std::string& password,
                                  const ComponentRegistry& components);

}  // namespace ferrolyte

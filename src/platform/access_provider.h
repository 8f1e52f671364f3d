// The Access file as an ADO connection: what a "Provider=Microsoft.Jet.OLEDB.4.0;..." or
// "Provider=Microsoft.ACE.OLEDB.12.0;..." string opens.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "platform/libmdb_handle.h"

namespace ferrolyte {

// The parts of a provider connection string this layer uses.
struct AccessConnectionSettings {
  std::string provider;
  std::string data_source;
  std::string database_password;  // "Jet OLEDB:Database Password"
  std::string system_database;    // "Jet OLEDB:System database"
  std::string user_id;
  std::string password;
};

// Splits the string into key=value parts as SplitConnectionString does; keys are matched
// without regard to case. Raises 3706 when the provider is not one of the Access providers.
AccessConnectionSettings ParseAccessConnectionString(const std::string& connection_string);

// The complex columns' texts of one table: attachment file names or multi-value items joined
// with "; ", keyed by the value the table's row stores. Reads through the given handle.
std::unordered_map<int32_t, std::string> ReadComplexTexts(AccessFile& file, MdbHandle* mdb,
                                                          const ComplexColumnInfo& info);

// The complex column of the table (by its page) and name, or null.
const ComplexColumnInfo* FindComplexColumn(AccessFile& file, uint32_t table_page,
                                           const std::string& column);

}  // namespace ferrolyte

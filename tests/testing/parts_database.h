// A small writer-made database for the password and encryption tests: the table Parts
// (Id, Label) with two rows, under whatever protection the test asks for.
#pragma once

#include <string>

#include "accesswriter/writer.h"

namespace ferrolyte::testing {

inline constexpr long kPartsRows = 2;

// Writes the database to path and returns path.
inline std::string WritePartsDatabase(
    const std::string& path, accesswriter::Format format, const std::string& password,
    bool encrypt = false, accesswriter::Encryption method = accesswriter::Encryption::kAgile) {
  namespace aw = accesswriter;
  aw::DatabaseWriter db(
      path, {.format = format, .password = password, .encrypt = encrypt, .encryption = method});
  aw::Table t{.name = "Parts"};
  t.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
               {.name = "Label", .type = aw::ColumnType::kText, .size = 20}};
  aw::TableWriter& rows = db.AddTable(t);
  rows.AddRow({1, "bolt"});
  rows.AddRow({2, "nut"});
  db.Finish();
  return path;
}

}  // namespace ferrolyte::testing

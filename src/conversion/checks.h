// Validation rules and "Allow Zero Length = No" as CHECK constraints (transfervalidation):
// added after the data as NOT VALID, then validated when no row breaks them.
#pragma once

#include <string>
#include <vector>

#include "conversion/access_sql.h"
#include "conversion/keys_and_comments.h"
#include "schema/schema_model.h"

namespace ferrolyte {

struct CheckConstraint {
  std::string on;          // "table" or "table\column", source names
  std::string rule;        // the Access text of the rule
  std::string message;     // its ValidationText; empty for none
  std::string name;        // the constraint's name
  std::string expression;  // the PostgreSQL condition; empty when the rule has none
  std::string reason;      // why it has none
};

// The rules of a created table and of its defined columns, the table's own rule last.
std::vector<CheckConstraint> ChecksOf(const SchemaTable& table, const DefinedTable& defined);

// ALTER TABLE ... ADD CONSTRAINT ... CHECK (...) NOT VALID
std::string AddCheckStatement(const std::string& table, const CheckConstraint& check);
// The rows that break the rule: those for which it is false (Null passes, as in Access).
std::string BrokenRowsQuery(const std::string& table, const CheckConstraint& check);
std::string ValidateStatement(const std::string& table, const CheckConstraint& check);
// For a dump: validates when no row breaks the rule, else says so and leaves it NOT VALID.
std::string ValidateWhenSoundBlock(const std::string& table, const CheckConstraint& check);

}  // namespace ferrolyte

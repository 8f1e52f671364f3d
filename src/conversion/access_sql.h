// Access SQL in PostgreSQL: a parser of Access expressions and SELECT statements, and their
// translation, keeping Access's meaning where PostgreSQL differs (& takes Null as empty text,
// / always divides exactly, Between takes its bounds in either order, Like's wildcards).
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "schema/query_model.h"

namespace ferrolyte {

// What the translation needs to know of an expression's values.
enum class SqlType { kUnknown, kNull, kText, kInteger, kDecimal, kFloat, kBoolean, kDate, kBinary };

// The type a column of the Access type code gets at the destination.
SqlType SqlTypeOfAccessType(int access_type);

// A column of a table or view, as queries see it.
struct RelationColumn {
  std::string name;         // in Access
  std::string destination;  // at the destination, unquoted
  SqlType type = SqlType::kUnknown;
};

// A table or view of the destination that queries can read.
struct Relation {
  std::string name;         // in Access
  std::string destination;  // unquoted
  std::vector<RelationColumn> columns;
};

// The relation of an Access table or query name (letter case aside); null when the
// destination has none.
using RelationLookup = std::function<const Relation*(const std::string& name)>;

// Why a query or a rule has no PostgreSQL form; what() is the reason, one sentence.
class Untranslatable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TranslatedSelect {
  std::string sql;                      // the SELECT statement
  std::vector<RelationColumn> columns;  // its output columns, names unique at the destination
};

// Parses an Access SELECT statement (a part of a union, a subquery); throws Untranslatable
// when it is none or uses what the translation does not know.
SelectModel ParseAccessSelect(const std::string& sql);

// The tables and queries a SELECT reads, by their Access names, subqueries included.
std::vector<std::string> RelationsOf(const SelectModel& select);

// The rule a destination name is spelt by (the run's identifiercase); none: as Access has it.
using NameRule = std::function<std::string(const std::string& name)>;

// The PostgreSQL form of a SELECT over the relations `lookup` knows, its output columns named
// by `names`; throws Untranslatable.
TranslatedSelect TranslateSelect(const SelectModel& select, const RelationLookup& lookup,
                                 const NameRule& names = {});

// A union's parts as one PostgreSQL statement; an ORDER BY of the last part orders the whole.
TranslatedSelect TranslateUnion(const std::vector<std::string>& parts, bool all,
                                const RelationLookup& lookup, const NameRule& names = {});

// The CHECK expression of a validation rule over the table's columns. A field's rule names
// the field only implicitly (">0 And <100", "Is Null Or Like \"A*\""): `field` is then its
// column. Throws Untranslatable.
std::string TranslateRule(const std::string& rule, const Relation& table,
                          const RelationColumn* field);

}  // namespace ferrolyte

// The translator of parsed Access SQL: expressions, function calls and SELECT statements,
// each giving its PostgreSQL text with what the rest of the translation needs to know of it.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "conversion/access_sql.h"
#include "conversion/access_sql_parse.h"
#include "conversion/literals.h"

namespace ferrolyte::access_sql {

inline bool IsNumeric(SqlType t) {
  return t == SqlType::kInteger || t == SqlType::kDecimal || t == SqlType::kFloat;
}

struct R {
  std::string sql;
  SqlType type = SqlType::kUnknown;
  bool never_null = false;
  const Node* literal_text = nullptr;  // a text literal: its node
  std::string column = {};             // one column as it is: its destination name
};

// A FROM item as expressions see it.
struct ScopeItem {
  std::string key;       // lower-case alias, else name
  std::string sql_name;  // how columns are qualified; empty: not at all (CHECK)
  std::vector<RelationColumn> columns;
  bool used = false;
};

struct Scope {
  const Scope* outer = nullptr;
  std::vector<ScopeItem> items;
  // The select's own output aliases, which Access lets other expressions use.
  std::map<std::string, NodePtr> aliases;
  mutable std::set<std::string> expanding;
  const RelationColumn* implicit = nullptr;  // a field rule's field
  bool check = false;                        // a CHECK: no subqueries
};

inline std::string Quote(const std::string& name) {
  return QuoteIdentifier(name);
}

// An Access date literal's text (between the #s) as a timestamp, or nothing.
std::optional<std::string> TimestampOf(const std::string& literal);

// Aggregate functions and what PostgreSQL calls them ("" for First and Last, which it lacks).
extern const std::map<std::string, std::string> kAggregates;

class Translator {
 public:
  explicit Translator(const RelationLookup& lookup, const NameRule& names = {})
      : lookup_(lookup), names_(names) {}

  TranslatedSelect Select(const SelectModel& s, const Scope* outer);
  R Expr(const Node& n, const Scope& scope);
  std::string Bool(const Node& n, const Scope& scope) { return AsBool(Expr(n, scope)); }

  static std::string AsBool(const R& r) {
    if (IsNumeric(r.type)) return "(" + r.sql + " <> 0)";
    return r.sql;
  }

 private:
  static std::string AsNumber(const R& r) {
    if (r.type == SqlType::kBoolean)
      return "(CASE WHEN " + r.sql + " THEN -1 WHEN NOT " + r.sql + " THEN 0 END)";
    if (r.type == SqlType::kText) return "CAST(" + r.sql + " AS DOUBLE PRECISION)";
    return r.sql;
  }
  static std::string AsText(const R& r) {
    if (r.type == SqlType::kText || r.type == SqlType::kNull) return r.sql;
    if (r.type == SqlType::kBoolean)
      return "(CASE WHEN " + r.sql + " THEN 'True' WHEN NOT " + r.sql + " THEN 'False' END)";
    return "CAST(" + r.sql + " AS TEXT)";
  }
  static std::string AsTimestamp(const R& r) {
    if (r.type == SqlType::kDate) return r.sql;
    if (r.literal_text)
      if (auto ts = TimestampOf(r.literal_text->text)) return *ts;
    return "CAST(" + r.sql + " AS TIMESTAMP)";
  }
  static std::string AsInteger(const R& r) {
    if (r.type == SqlType::kInteger) return r.sql;
    return "CAST(" + AsNumber(r) + " AS INTEGER)";
  }
  static SqlType NumericResult(SqlType a, SqlType b) {
    if (a == SqlType::kFloat || b == SqlType::kFloat) return SqlType::kFloat;
    if (a == SqlType::kDecimal || b == SqlType::kDecimal) return SqlType::kDecimal;
    if (a == SqlType::kInteger && b == SqlType::kInteger) return SqlType::kInteger;
    return IsNumeric(a) ? a : IsNumeric(b) ? b : SqlType::kUnknown;
  }

  // Two operands of a comparison brought to types PostgreSQL compares.
  void Align(R& a, R& b) {
    if (a.type == SqlType::kBoolean && IsNumeric(b.type)) a = {AsNumber(a), SqlType::kInteger};
    if (b.type == SqlType::kBoolean && IsNumeric(a.type)) b = {AsNumber(b), SqlType::kInteger};
    if (a.type == SqlType::kDate && b.literal_text) b = {AsTimestamp(b), SqlType::kDate};
    if (b.type == SqlType::kDate && a.literal_text) a = {AsTimestamp(a), SqlType::kDate};
  }

  R Name(const Node& n, const Scope& scope);
  R Column(const ScopeItem& item, const RelationColumn& column) const {
    return {(item.sql_name.empty() ? "" : item.sql_name + ".") + Quote(column.destination),
            column.type, false, nullptr, column.destination};
  }
  R Binary(const Node& n, const Scope& scope);
  R Concat(const Node& n, const Scope& scope);
  R Call(const Node& n, const Scope& scope);
  // Calls by kind of function, `a` the translated arguments of `n`; each gives R{} (no sql)
  // for a function that is not its own.
  R SubstringCall(const Node& n, const std::vector<R>& a);
  R CharacterCall(const Node& n, const std::vector<R>& a);
  R ChoiceCall(const Node& n, const std::vector<R>& a);
  R NzCall(const std::vector<R>& a);
  R ConditionCall(const std::string& f, const std::vector<R>& a);
  R NumberCall(const Node& n, const std::vector<R>& a);
  R DateCall(const Node& n, const std::vector<R>& a);
  R IntervalCall(const Node& n, const std::vector<R>& a);
  R Aggregate(const std::string& name, const Node& n, const Scope& scope);
  R Format(const std::vector<R>& args, const Node& n);
  R Like(const Node& n, const Scope& scope);
  std::string Subquery(const SelectModel& s, const Scope& scope, size_t* columns = nullptr,
                       SqlType* type = nullptr);

  // The steps of a SELECT.
  struct SelectOutput {
    std::string name;       // Access name
    std::string qualified;  // "T.name" for clashes of expanded columns
    R value;
    bool plain = false;  // a column by its own name: named as its table names it
  };
  // The output columns, stars expanded, each translated; refuses a SELECT without any and a
  // DISTINCTROW join that shows nothing of one of its tables.
  std::vector<SelectOutput> Outputs(const SelectModel& s, Scope& scope);
  // "value AS name, ..." with each output's destination name, unique, added to `columns`.
  std::string NameOutputs(const std::vector<SelectOutput>& outputs,
                          std::vector<RelationColumn>& columns) const;
  // " FROM ... WHERE ... GROUP BY ... HAVING ...", each clause only when the SELECT has it.
  std::string BodyText(const SelectModel& s, const Scope& scope);
  // A TOP n PERCENT select, `head` its SELECT and output list: ranked by its ORDER BY, ties
  // with the last kept row included.
  std::string TopPercentText(const SelectModel& s, const Scope& scope, const std::string& head,
                             const std::string& body, const std::vector<RelationColumn>& columns);

  // FROM: the scope items and the PostgreSQL text, conditions added once every item is known.
  void AddItems(const FromItem& item, Scope& scope);
  std::string FromText(const FromItem& item, const Scope& scope);

  const RelationLookup& lookup_;
  NameRule names_;                // how output columns are named
  std::deque<Relation> derived_;  // relations of subqueries in FROM
};

}  // namespace ferrolyte::access_sql

// Saved queries as typed values: what Access keeps of a query in its MSysQueries rows (or,
// for a union, in the SELECT statements it keeps there), and the Access SQL text of it.
// Expressions stay Access expression texts; the conversion parses and translates them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ferrolyte {

// One row of MSysQueries, as the schema description keeps it.
struct SchemaQueryRow {
  int attribute = 0;
  int flag = 0;
  std::string name1, name2, expression;
};

// A saved query of the schema description: its name, its catalogue flags and its rows.
struct SchemaQuery {
  std::string name;
  uint32_t flags = 0;
  std::vector<SchemaQueryRow> rows;
};

enum class QueryKind {
  kSelect,
  kMakeTable,
  kAppend,
  kUpdate,
  kDelete,
  kCrosstab,
  kDataDefinition,
  kPassThrough,
  kUnion,
  kUnknown,
};

enum class JoinKind { kInner, kLeft, kRight };

// An item of FROM: a table or query by name, a join of two items, or a SELECT in brackets.
struct FromItem {
  enum class Kind { kTable, kJoin, kSubquery };
  Kind kind = Kind::kTable;
  std::string name;   // kTable: the table or query
  std::string alias;  // kTable, kSubquery; empty for none
  std::string sql;    // kSubquery: its SELECT statement
  JoinKind join = JoinKind::kInner;
  std::string on;  // kJoin: the condition
  std::shared_ptr<const FromItem> left, right;
};

struct OutputColumn {
  std::string expression;
  std::string alias;  // empty for none
  int flag = 0;       // a crosstab's value (1) and column heading (2)
};

struct OrderTerm {
  std::string expression;
  bool descending = false;
};

// One SELECT: the parts of the statement, each expression as Access text.
struct SelectModel {
  bool distinct = false;
  bool distinct_row = false;
  bool all_columns = false;  // SELECT * (also with further columns)
  std::string top;           // "10"; empty: no TOP
  bool top_percent = false;
  std::vector<OutputColumn> columns;
  std::vector<FromItem> from;  // the items FROM lists with commas
  std::string where;
  std::vector<std::string> group_by;
  std::string having;
  std::vector<OrderTerm> order_by;
};

struct QueryParameter {
  std::string name;
  int type = 0;  // DAO field type
};

struct QueryModel {
  std::string name;
  QueryKind kind = QueryKind::kUnknown;
  std::vector<QueryParameter> parameters;
  SelectModel select;  // select, crosstab and action queries: what they read
  std::string target;  // make-table and append queries: the table they write
  // Pass-through and data-definition queries: the statement; pass-through: where it goes.
  std::string statement;
  std::string connect;
  std::string remote_database;  // the IN clause of a query over another database
  std::vector<std::string> union_parts;
  bool union_all = false;
};

// The kind a catalogue Flags value and the attribute-1 row give.
QueryKind QueryKindOf(uint32_t catalogue_flags, int kind_row_flag);
// "select query", "append query", ...
const char* QueryKindText(QueryKind kind);

// The typed query of its rows. Joins become nested FROM items in the order Access keeps them;
// rows of unknown attributes are ignored. Never raises.
QueryModel ReadQueryModel(const SchemaQuery& query);

// The Access SQL of a query, as Access shows it in SQL view (one line).
std::string AccessSql(const QueryModel& query);
std::string AccessSql(const SelectModel& select);
std::string AccessSql(const FromItem& item);

// The name in square brackets when it holds anything but letters, digits and "_".
std::string AccessName(const std::string& name);

}  // namespace ferrolyte

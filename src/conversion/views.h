// Saved select queries as views: which queries a selection names, the order they are created
// in (a query over another after it), their names at the destination, and their statements.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "conversion/access_sql.h"
#include "conversion/keys_and_comments.h"
#include "schema/query_model.h"

namespace ferrolyte {

// A `sourcetables` entry that selects a query: "Queries!" and its name. No Access name holds
// "!", so no entry written for a table or field can mean a query.
inline constexpr char kQueryEntryPrefix[] = "Queries!";
std::string QueryEntry(const std::string& query);
// The query an entry selects, or nothing for a table or field entry.
std::optional<std::string> QueryOfEntry(const std::string& entry);

// What became of one selected query.
struct ViewOutcome {
  std::string name;         // in Access
  std::string destination;  // the view's name
  std::string access_sql;   // as Access shows it
  std::string statement;    // CREATE VIEW ...; empty when there is none
  bool created = false;
  std::string reason;  // why it was not created
};

// Sends a statement; returns nothing when the destination took it, else its error text.
using StatementSender = std::function<std::optional<std::string>(const std::string& sql)>;

struct ViewOptions {
  std::string prefix;                     // the table prefix
  bool comments = false;                  // COMMENT ON VIEW with the Access SQL
  std::unordered_set<std::string> taken;  // destination names the tables have
  NameRule fold;  // the identifier rule view and column names get; none: as is
};

// A table the run created, as queries see it: its defined columns in column order.
Relation TableRelation(const SchemaTable& table, const DefinedTable& defined);

// The selected queries in creation order: each after every query it reads; those in a loop
// last. `selected` holds names (letter case aside); an empty one selects nothing.
std::vector<QueryModel> ViewOrder(const std::vector<QueryModel>& queries,
                                  const std::vector<std::string>& selected);

// The destination name of each query of `order`, in order (prefix, identifier rule, 63 bytes,
// unique against `options.taken` and each other: "_1", "_2" ... or, when long, another hash).
std::vector<std::string> ViewNames(const std::vector<QueryModel>& order,
                                   const ViewOptions& options);

// Creates the views of `order` over `tables` through `send`, each after those it reads. A
// query that has no view form, reads what was not created or not selected, or that the
// destination refuses, is not created and says why; the rest go on.
std::vector<ViewOutcome> CreateViews(const std::vector<QueryModel>& order,
                                     const std::vector<Relation>& tables,
                                     const ViewOptions& options, const StatementSender& send);

}  // namespace ferrolyte

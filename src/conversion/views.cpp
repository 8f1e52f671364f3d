#include "conversion/views.h"

#include <map>

#include "conversion/destination_names.h"
#include "conversion/literals.h"
#include "conversion/table_definition.h"
#include "support/text.h"
#include "support/value.h"

namespace ferrolyte {
namespace {

// The tables and queries a query reads, by lower-case name.
std::vector<std::string> ReadsOf(const QueryModel& q) {
  std::vector<std::string> names;
  if (q.kind == QueryKind::kUnion) {
    for (const std::string& part : q.union_parts) {
      try {
        for (const std::string& n : RelationsOf(ParseAccessSelect(part))) names.push_back(n);
      } catch (const Untranslatable&) {
        // Its translation says why.
      }
    }
  } else {
    names = RelationsOf(q.select);
  }
  for (std::string& n : names) n = AsciiLower(n);
  return names;
}

// Why a query of this kind has no view; empty for the kinds that may have one.
std::string KindProblem(const QueryModel& q) {
  switch (q.kind) {
    case QueryKind::kSelect:
    case QueryKind::kUnion:
      break;
    case QueryKind::kCrosstab:
      return "a crosstab query makes its columns from the data when it runs, which a view "
             "cannot";
    case QueryKind::kMakeTable:
    case QueryKind::kAppend:
    case QueryKind::kUpdate:
    case QueryKind::kDelete:
      return std::string(q.kind == QueryKind::kAppend || q.kind == QueryKind::kUpdate ? "an "
                                                                                      : "a ") +
             QueryKindText(q.kind) +
             " changes data when it runs; only select and union queries become views";
    case QueryKind::kDataDefinition:
      return "a data-definition query changes the design of the database; only select and "
             "union queries become views";
    case QueryKind::kPassThrough:
      return "a pass-through query holds SQL for the server it names (" + q.connect +
             "), not Access SQL";
    case QueryKind::kUnknown:
      return "the query is of a kind Access does not describe";
  }
  if (!q.parameters.empty()) {
    std::string names;
    for (const QueryParameter& p : q.parameters) names += (names.empty() ? "" : ", ") + p.name;
    return "it asks for parameters when it runs (" + names + "), which a view cannot";
  }
  if (!q.remote_database.empty())
    return "it reads tables of another database (" + q.remote_database + ")";
  return "";
}

}  // namespace

Relation TableRelation(const SchemaTable& table, const DefinedTable& defined) {
  Relation relation{table.name.value(), defined.destination_name, {}};
  for (const SchemaField& field : table.fields) {
    auto column = defined.columns.find(field.name.value());
    if (column == defined.columns.end()) continue;
    relation.columns.push_back(
        {column->first, column->second, SqlTypeOfAccessType(field.type.value())});
  }
  return relation;
}

std::string QueryEntry(const std::string& query) {
  return kQueryEntryPrefix + query;
}

std::optional<std::string> QueryOfEntry(const std::string& entry) {
  const std::string prefix = kQueryEntryPrefix;
  if (entry.size() <= prefix.size() || !EqualsIgnoreCase(entry.substr(0, prefix.size()), prefix))
    return std::nullopt;
  return entry.substr(prefix.size());
}

std::vector<QueryModel> ViewOrder(const std::vector<QueryModel>& queries,
                                  const std::vector<std::string>& selected) {
  std::map<std::string, size_t> by_name;
  for (size_t i = 0; i < queries.size(); ++i) by_name[AsciiLower(queries[i].name)] = i;
  std::vector<bool> chosen(queries.size(), false);
  for (const std::string& name : selected)
    if (auto it = by_name.find(AsciiLower(name)); it != by_name.end()) chosen[it->second] = true;
  // Depth-first: a query comes after the selected queries it reads.
  std::vector<int> state(queries.size(), 0);  // 0 new, 1 on the path, 2 placed
  std::vector<QueryModel> order, looped;
  std::function<bool(size_t)> visit = [&](size_t i) {
    if (state[i] == 2) return true;
    if (state[i] == 1) return false;
    state[i] = 1;
    bool fine = true;
    for (const std::string& read : ReadsOf(queries[i])) {
      auto it = by_name.find(read);
      if (it != by_name.end() && chosen[it->second] && it->second != i)
        fine = visit(it->second) && fine;
    }
    state[i] = 2;
    (fine ? order : looped).push_back(queries[i]);
    return fine;
  };
  for (size_t i = 0; i < queries.size(); ++i)
    if (chosen[i]) visit(i);
  order.insert(order.end(), looped.begin(), looped.end());
  return order;
}

std::vector<std::string> ViewNames(const std::vector<QueryModel>& order,
                                   const ViewOptions& options) {
  std::unordered_set<std::string> taken = options.taken;
  std::vector<std::string> names;
  for (const QueryModel& q : order) {
    std::string name = options.prefix + q.name;
    if (options.fold) name = options.fold(name);
    // Folded, a query's name can meet a table's: the view is numbered, as an index is.
    names.push_back(name.size() > 63 ? ShortenedName(name, &taken) : NumberedName(name, taken));
  }
  return names;
}

std::vector<ViewOutcome> CreateViews(const std::vector<QueryModel>& order,
                                     const std::vector<Relation>& tables,
                                     const ViewOptions& options, const StatementSender& send) {
  const std::vector<std::string> names = ViewNames(order, options);
  std::vector<Relation> known = tables;
  known.reserve(tables.size() + order.size());
  const RelationLookup lookup = [&known](const std::string& name) -> const Relation* {
    for (const Relation& r : known)
      if (EqualsIgnoreCase(r.name, name)) return &r;
    return nullptr;
  };
  std::vector<ViewOutcome> outcomes;
  for (size_t i = 0; i < order.size(); ++i) {
    const QueryModel& q = order[i];
    ViewOutcome out;
    out.name = q.name;
    out.destination = names[i];
    out.access_sql = AccessSql(q);
    TranslatedSelect translated;
    try {
      if (std::string problem = KindProblem(q); !problem.empty()) throw Untranslatable(problem);
      for (size_t k = 0; k < i; ++k)
        for (const std::string& read : ReadsOf(q))
          if (read == AsciiLower(order[k].name) && !outcomes[k].created)
            throw Untranslatable("it reads the query '" + order[k].name +
                                 "', which was not created");
      for (size_t k = i + 1; k < order.size(); ++k)
        for (const std::string& read : ReadsOf(q))
          if (read == AsciiLower(order[k].name))
            throw Untranslatable("it reads the query '" + order[k].name +
                                 "', which reads it back (a loop)");
      translated = q.kind == QueryKind::kUnion
                       ? TranslateUnion(q.union_parts, q.union_all, lookup, options.fold)
                       : TranslateSelect(q.select, lookup, options.fold);
    } catch (const Untranslatable& e) {
      out.reason = e.what();
      outcomes.push_back(std::move(out));
      continue;
    }
    out.statement = "CREATE VIEW " + QuoteIdentifier(out.destination) + " AS " + translated.sql;
    if (std::optional<std::string> refused = send(out.statement)) {
      out.reason = "the server refused it: " + *refused;
    } else {
      out.created = true;
      known.push_back({q.name, out.destination, translated.columns});
      if (options.comments) {
        const std::string comment = "COMMENT ON VIEW " + QuoteIdentifier(out.destination) + " IS " +
                                    SqlString(Value(out.access_sql));
        if (std::optional<std::string> refused_comment = send(comment))
          out.reason = "its comment was refused: " + *refused_comment;
      }
    }
    outcomes.push_back(std::move(out));
  }
  return outcomes;
}

}  // namespace ferrolyte

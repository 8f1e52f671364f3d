#include <unordered_set>

#include "conversion/access_sql_tokens.h"
#include "conversion/access_sql_translator.h"
#include "conversion/table_definition.h"
#include "support/text.h"

namespace ferrolyte::access_sql {

void Translator::AddItems(const FromItem& item, Scope& scope) {
  switch (item.kind) {
    case FromItem::Kind::kJoin:
      AddItems(*item.left, scope);
      AddItems(*item.right, scope);
      return;
    case FromItem::Kind::kTable: {
      const Relation* relation = lookup_(item.name);
      if (!relation) Refuse("it reads '" + item.name + "', which is not converted");
      const std::string key = Lower(item.alias.empty() ? item.name : item.alias);
      for (const ScopeItem& other : scope.items)
        if (other.key == key) Refuse("two of its tables are both called '" + key + "'");
      scope.items.push_back(
          {key, Quote(item.alias.empty() ? relation->destination : ShortenedName(item.alias)),
           relation->columns});
      return;
    }
    case FromItem::Kind::kSubquery: {
      if (item.alias.empty()) Refuse("a subquery in FROM has no name");
      TranslatedSelect t = Select(ParseAccessSelect(item.sql), scope.outer);
      scope.items.push_back({Lower(item.alias), Quote(ShortenedName(item.alias)), t.columns});
      derived_.push_back({item.alias, t.sql, t.columns});
      return;
    }
  }
}

std::string Translator::FromText(const FromItem& item, const Scope& scope) {
  switch (item.kind) {
    case FromItem::Kind::kTable: {
      const Relation* relation = lookup_(item.name);
      std::string text = Quote(relation->destination);
      if (!item.alias.empty()) text += " AS " + Quote(ShortenedName(item.alias));
      return text;
    }
    case FromItem::Kind::kSubquery:
      for (const Relation& d : derived_)
        if (EqualsIgnoreCase(d.name, item.alias))
          return "(" + d.destination + ") AS " + Quote(ShortenedName(item.alias));
      Refuse("a subquery in FROM is lost");
    case FromItem::Kind::kJoin: {
      auto side = [&](const FromItem& f) {
        return f.kind == FromItem::Kind::kJoin ? "(" + FromText(f, scope) + ")"
                                               : FromText(f, scope);
      };
      const char* join = item.join == JoinKind::kLeft    ? " LEFT JOIN "
                         : item.join == JoinKind::kRight ? " RIGHT JOIN "
                                                         : " INNER JOIN ";
      if (item.on.empty()) Refuse("a join has no condition");
      return side(*item.left) + join + side(*item.right) + " ON " +
             Bool(*ParseExpression(item.on), scope);
    }
  }
  return "";
}

namespace {

// What Access calls an output column that has no alias: a column's name, SumOfX for an
// aggregate of a column, else Expr1000, Expr1001 ...
std::string DefaultName(const Node& n, int& unnamed) {
  if (n.kind == Node::Kind::kName) return n.parts.back();
  if (n.kind == Node::Kind::kCall && kAggregates.count(n.text) && n.args.size() == 1 &&
      n.args[0]->kind == Node::Kind::kName) {
    std::string fn = n.text;
    fn[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(fn[0])));
    if (fn == "Stdev") fn = "StDev";
    if (fn == "Stdevp") fn = "StDevP";
    if (fn == "Varp") fn = "VarP";
    return fn + "Of" + n.args[0]->parts.back();
  }
  return "Expr" + std::to_string(1000 + unnamed++);
}

}  // namespace

std::vector<Translator::SelectOutput> Translator::Outputs(const SelectModel& s, Scope& scope) {
  std::vector<SelectOutput> outputs;
  auto expand = [&](const ScopeItem& item) {
    const_cast<ScopeItem&>(item).used = true;
    for (const RelationColumn& c : item.columns)
      outputs.push_back({c.name, item.key + "." + c.name, Column(item, c), true});
  };
  if (s.all_columns)
    for (const ScopeItem& item : scope.items) expand(item);
  int unnamed = 0;
  for (const OutputColumn& c : s.columns) {
    NodePtr node = ParseExpression(c.expression);
    if (node->kind == Node::Kind::kStar) {
      if (node->parts.empty()) {
        for (const ScopeItem& item : scope.items) expand(item);
        continue;
      }
      bool found = false;
      for (const ScopeItem& item : scope.items)
        if (item.key == Lower(node->parts[0])) {
          expand(item);
          found = true;
        }
      if (!found)
        Refuse("it names '" + node->parts[0] + ".*', but reads no table '" + node->parts[0] + "'");
      continue;
    }
    std::string name = c.alias.empty() ? DefaultName(*node, unnamed) : c.alias;
    std::string lower = Lower(name);
    if (!c.alias.empty()) scope.expanding.insert(lower);  // an alias never names itself
    R value = Expr(*node, scope);
    scope.expanding.erase(lower);
    outputs.push_back({name, name, value, c.alias.empty() && node->kind == Node::Kind::kName});
  }
  if (outputs.empty()) Refuse("it has no output columns");
  if (s.distinct_row && scope.items.size() > 1)
    for (const ScopeItem& item : scope.items)
      if (!item.used)
        Refuse(
            "DISTINCTROW over a join leaves out rows by tables it shows nothing of, which "
            "PostgreSQL has no form for");
  return outputs;
}

std::string Translator::NameOutputs(const std::vector<SelectOutput>& outputs,
                                    std::vector<RelationColumn>& columns) const {
  // Names Access would show twice get their table's name; the destination's must be unique.
  std::map<std::string, int> seen;
  for (const SelectOutput& o : outputs) ++seen[Lower(o.name)];
  std::unordered_set<std::string> taken;
  std::string list;
  for (const SelectOutput& o : outputs) {
    std::string name = seen[Lower(o.name)] > 1 ? o.qualified : o.name;
    // Folded, a column keeps the name its table gave it, which may be numbered.
    const bool as_table = names_ && o.plain && !o.value.column.empty() && seen[Lower(o.name)] == 1;
    const std::string spelt = as_table ? o.value.column : names_ ? names_(name) : name;
    std::string destination = ShortenedName(spelt);
    for (int n = 2; taken.count(Lower(destination)); ++n)
      destination = ShortenedName(spelt + "_" + std::to_string(n));
    taken.insert(Lower(destination));
    columns.push_back({name, destination, o.value.type});
    list += (list.empty() ? "" : ", ") + o.value.sql + " AS " + Quote(destination);
  }
  return list;
}

std::string Translator::BodyText(const SelectModel& s, const Scope& scope) {
  std::string body;
  if (!s.from.empty()) {
    std::string from;
    for (const FromItem& item : s.from) from += (from.empty() ? "" : ", ") + FromText(item, scope);
    body += " FROM " + from;
  }
  if (!s.where.empty()) body += " WHERE " + Bool(*ParseExpression(s.where), scope);
  for (size_t i = 0; i < s.group_by.size(); ++i)
    body += (i ? ", " : " GROUP BY ") + Expr(*ParseExpression(s.group_by[i]), scope).sql;
  if (!s.having.empty()) body += " HAVING " + Bool(*ParseExpression(s.having), scope);
  return body;
}

std::string Translator::TopPercentText(const SelectModel& s, const Scope& scope,
                                       const std::string& head, const std::string& body,
                                       const std::vector<RelationColumn>& columns) {
  // Access keeps the first n percent of the rows, ties with the last one included.
  std::string inner = head;
  std::string window;
  for (size_t i = 0; i < s.order_by.size(); ++i) {
    const std::string column = "ferrolyte_order_" + std::to_string(i + 1);
    inner += ", " + Expr(*ParseExpression(s.order_by[i].expression), scope).sql + " AS " + column;
    window += (i ? ", " : "") + column + (s.order_by[i].descending ? " DESC" : "");
  }
  inner += body;
  std::string names;
  for (const RelationColumn& c : columns)
    names += (names.empty() ? "" : ", ") + Quote(c.destination);
  const std::string rank =
      window.empty() ? "ROW_NUMBER() OVER ()" : "RANK() OVER (ORDER BY " + window + ")";
  return "SELECT " + names + " FROM (SELECT ferrolyte_rows.*, " + rank +
         " AS ferrolyte_rank, COUNT(*) OVER () AS ferrolyte_count FROM (" + inner +
         ") AS ferrolyte_rows) AS ferrolyte_top WHERE ferrolyte_rank <= CEIL(ferrolyte_count * " +
         s.top + " / 100.0)" + (window.empty() ? "" : " ORDER BY " + window);
}

TranslatedSelect Translator::Select(const SelectModel& s, const Scope* outer) {
  Scope scope;
  scope.outer = outer;
  scope.check = outer && outer->check;
  for (const FromItem& item : s.from) AddItems(item, scope);
  for (const OutputColumn& c : s.columns)
    if (!c.alias.empty()) scope.aliases[Lower(c.alias)] = ParseExpression(c.expression);
  const std::vector<SelectOutput> outputs = Outputs(s, scope);
  TranslatedSelect result;
  const std::string list = NameOutputs(outputs, result.columns);
  const std::string body = BodyText(s, scope);
  std::string order;
  for (size_t i = 0; i < s.order_by.size(); ++i)
    order += (i ? ", " : " ORDER BY ") +
             Expr(*ParseExpression(s.order_by[i].expression), scope).sql +
             (s.order_by[i].descending ? " DESC" : "");
  const std::string head = std::string("SELECT ") + (s.distinct ? "DISTINCT " : "");
  if (!s.top.empty() && s.top.find_first_not_of("0123456789") != std::string::npos)
    Refuse("TOP " + s.top + " is no whole number");
  if (s.top_percent) {
    result.sql = TopPercentText(s, scope, head + list, body, result.columns);
    return result;
  }
  result.sql = head + list + body + order;
  if (!s.top.empty())
    result.sql += " FETCH FIRST " + s.top + (s.order_by.empty() ? " ROWS ONLY" : " ROWS WITH TIES");
  return result;
}

}  // namespace ferrolyte::access_sql

namespace ferrolyte {

using access_sql::Node;
using access_sql::NodePtr;
using access_sql::ParseExpression;
using access_sql::Quote;
using access_sql::Refuse;
using access_sql::Translator;

TranslatedSelect TranslateSelect(const SelectModel& select, const RelationLookup& lookup,
                                 const NameRule& names) {
  return Translator(lookup, names).Select(select, nullptr);
}

TranslatedSelect TranslateUnion(const std::vector<std::string>& parts, bool all,
                                const RelationLookup& lookup, const NameRule& names) {
  if (parts.size() < 2) Refuse("a union has fewer than two parts");
  std::vector<SelectModel> models;
  for (const std::string& p : parts) models.push_back(ParseAccessSelect(p));
  // The last part's ORDER BY orders the whole union, by the first part's column names.
  std::vector<OrderTerm> order = models.back().order_by;
  models.back().order_by.clear();
  TranslatedSelect result;
  std::string sql;
  for (size_t i = 0; i < models.size(); ++i) {
    TranslatedSelect t = TranslateSelect(models[i], lookup, names);
    if (i == 0) {
      result.columns = t.columns;
    } else if (t.columns.size() != result.columns.size()) {
      Refuse("the parts of the union have different numbers of columns");
    }
    sql += (i ? (all ? " UNION ALL " : " UNION ") : "") + ("(" + t.sql + ")");
  }
  for (size_t i = 0; i < order.size(); ++i) {
    NodePtr term = ParseExpression(order[i].expression);
    std::string column;
    if (term->kind == Node::Kind::kNumber) {
      const size_t position = static_cast<size_t>(std::stoul(term->text));
      if (position < 1 || position > result.columns.size()) Refuse("ORDER BY names no column");
      column = result.columns[position - 1].destination;
    } else if (term->kind == Node::Kind::kName) {
      for (const RelationColumn& c : result.columns)
        if (EqualsIgnoreCase(c.name, term->parts.back())) column = c.destination;
    }
    if (column.empty())
      Refuse("the ORDER BY of the union (" + order[i].expression + ") names no column of it");
    sql += (i ? ", " : " ORDER BY ") + Quote(column) + (order[i].descending ? " DESC" : "");
  }
  result.sql = sql;
  return result;
}

}  // namespace ferrolyte

#include <utility>

#include "conversion/access_sql_tokens.h"
#include "conversion/access_sql_translator.h"
#include "conversion/table_definition.h"
#include "support/text.h"
#include "support/value.h"

namespace ferrolyte::access_sql {
namespace {

// A LIKE pattern of Access (* ? # [..]) as LIKE's (% _) when it needs nothing more, else as an
// anchored regular expression.
struct Pattern {
  bool regex = false;
  std::string text;
};

Pattern ConvertLikePattern(const std::string& p) {
  bool regex = false;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '#') regex = true;
    if (p[i] == '[') {
      const size_t close = p.find(']', i + 1);
      if (close == std::string::npos) Refuse("the Like pattern \"" + p + "\" has an open [");
      if (close - i - 1 != 1 || p[i + 1] == '!') regex = true;
      i = close;
    }
  }
  Pattern out{regex, regex ? "^" : ""};
  auto literal = [&](char c) {
    if (regex) {
      if (std::string("\\.^$|()[]{}*+?").find(c) != std::string::npos) out.text += '\\';
    } else if (c == '%' || c == '_' || c == '\\') {
      out.text += '\\';
    }
    out.text += c;
  };
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (c == '*') {
      out.text += regex ? ".*" : "%";
    } else if (c == '?') {
      out.text += regex ? "." : "_";
    } else if (c == '#') {
      out.text += "[0-9]";
    } else if (c == '[') {
      const size_t close = p.find(']', i + 1);
      std::string inside = p.substr(i + 1, close - i - 1);
      i = close;
      if (inside.size() == 1) {
        literal(inside[0]);
        continue;
      }
      std::string cls = "[";
      size_t k = 0;
      if (!inside.empty() && inside[0] == '!') {
        cls += '^';
        k = 1;
      }
      for (; k < inside.size(); ++k) {
        const char ch = inside[k];
        if (ch == '\\' || ch == ']' || ch == '[' || ch == '^') cls += '\\';
        cls += ch;
      }
      out.text += cls + "]";
    } else {
      literal(c);
    }
  }
  if (regex) out.text += "$";
  return out;
}

}  // namespace

// An Access date literal's text (between the #s) as a timestamp, or nothing.
std::optional<std::string> TimestampOf(const std::string& literal) {
  std::optional<std::string> iso = IsoFromDateLiteral("#" + literal + "#", false);
  if (!iso) return std::nullopt;
  return "TIMESTAMP '" + *iso + "'";
}

R Translator::Name(const Node& n, const Scope& scope) {
  const std::string first = Lower(n.parts[0]);
  if (first == "forms" || first == "form")
    Refuse("it refers to a form ([" + n.parts[0] + "]" +
           (n.parts.size() > 1 ? "![" + n.parts[1] + "]" : "") + "), which exists only in Access");
  if (first == "reports" || first == "report")
    Refuse("it refers to a report, which exists only in Access");
  if (first == "tempvars" || first == "screen")
    Refuse("it refers to [" + n.parts[0] + "], which exists only in a running Access");
  if (n.parts.size() > 2)
    Refuse("the name " + n.parts[0] + "." + n.parts[1] + "... has too many parts");
  if (n.parts.size() == 2) {
    const std::string key = Lower(n.parts[0]);
    for (const Scope* s = &scope; s; s = s->outer)
      for (const ScopeItem& item : s->items) {
        if (item.key != key) continue;
        for (const RelationColumn& c : item.columns)
          if (EqualsIgnoreCase(c.name, n.parts[1])) {
            const_cast<ScopeItem&>(item).used = true;
            return Column(item, c);
          }
        Refuse("'" + n.parts[0] + "' has no column '" + n.parts[1] + "'");
      }
    Refuse("it names '" + n.parts[0] + "." + n.parts[1] + "', but reads no table '" + n.parts[0] +
           "'");
  }
  const std::string& name = n.parts[0];
  for (const Scope* s = &scope; s; s = s->outer) {
    const ScopeItem* found = nullptr;
    const RelationColumn* column = nullptr;
    for (const ScopeItem& item : s->items)
      for (const RelationColumn& c : item.columns)
        if (EqualsIgnoreCase(c.name, name)) {
          if (found && found != &item)
            Refuse("the column name '" + name + "' is in more than one of its tables");
          found = &item;
          column = &c;
        }
    if (found) {
      const_cast<ScopeItem*>(found)->used = true;
      return Column(*found, *column);
    }
    auto alias = s->aliases.find(Lower(name));
    if (alias != s->aliases.end() && !s->expanding.count(alias->first)) {
      s->expanding.insert(alias->first);
      R r = Expr(*alias->second, *s);
      s->expanding.erase(alias->first);
      r.sql = "(" + r.sql + ")";
      return r;
    }
  }
  if (scope.check) Refuse("it names [" + name + "], which is no column of the table");
  Refuse("it asks for [" + name +
         "] when it runs: no table it reads has such a column (a parameter)");
}

R Translator::Expr(const Node& n, const Scope& scope) {
  switch (n.kind) {
    case Node::Kind::kNumber: {
      const bool integer = n.text.find_first_of(".eE") == std::string::npos && n.text.size() < 10;
      return {n.text[0] == '.' ? "0" + n.text : n.text,
              integer ? SqlType::kInteger : SqlType::kFloat, true};
    }
    case Node::Kind::kString:
      return {SqlString(Value(n.text)), SqlType::kText, true, &n};
    case Node::Kind::kDate: {
      auto ts = TimestampOf(n.text);
      if (!ts) Refuse("the date #" + n.text + "# is in a form the translation does not read");
      return {*ts, SqlType::kDate, true};
    }
    case Node::Kind::kBoolean:
      return {n.text == "true" ? "TRUE" : "FALSE", SqlType::kBoolean, true};
    case Node::Kind::kNull:
      return {"NULL", SqlType::kNull};
    case Node::Kind::kImplicit:
      if (!scope.implicit) Refuse("a comparison has no left side");
      return Column(scope.items.at(0), *scope.implicit);
    case Node::Kind::kName:
      return Name(n, scope);
    case Node::Kind::kStar:
      Refuse("* stands where one value belongs");
    case Node::Kind::kUnary: {
      R a = Expr(*n.args[0], scope);
      if (n.text == "-")
        return {"(-" + AsNumber(a) + ")", IsNumeric(a.type) ? a.type : SqlType::kInteger};
      if (IsNumeric(a.type)) return {"(~CAST(" + a.sql + " AS BIGINT))", SqlType::kInteger};
      return {"(NOT " + a.sql + ")", SqlType::kBoolean};
    }
    case Node::Kind::kBinary:
      return n.text == "&" ? Concat(n, scope) : Binary(n, scope);
    case Node::Kind::kCall:
      return Call(n, scope);
    case Node::Kind::kBetween: {
      R a = Expr(*n.args[0], scope), low = Expr(*n.args[1], scope), high = Expr(*n.args[2], scope);
      Align(a, low);
      Align(a, high);
      // Access takes the bounds in either order.
      return {"(" + a.sql + (n.negated ? " NOT" : "") + " BETWEEN SYMMETRIC " + low.sql + " AND " +
                  high.sql + ")",
              SqlType::kBoolean};
    }
    case Node::Kind::kIn: {
      R a = Expr(*n.args[0], scope);
      std::string list;
      if (n.select) {
        size_t columns = 0;
        list = Subquery(*n.select, scope, &columns);
        if (columns != 1) Refuse("In compares with a subquery of more than one column");
      } else {
        for (size_t i = 1; i < n.args.size(); ++i) {
          R item = Expr(*n.args[i], scope);
          Align(a, item);
          list += (i > 1 ? ", " : "") + item.sql;
        }
      }
      return {"(" + a.sql + (n.negated ? " NOT IN (" : " IN (") + list + "))", SqlType::kBoolean};
    }
    case Node::Kind::kLike:
      return Like(n, scope);
    case Node::Kind::kIsNull:
      return {"(" + Expr(*n.args[0], scope).sql + (n.negated ? " IS NOT NULL)" : " IS NULL)"),
              SqlType::kBoolean, true};
    case Node::Kind::kSubquery: {
      size_t columns = 0;
      SqlType type = SqlType::kUnknown;
      std::string sql = Subquery(*n.select, scope, &columns, &type);
      if (columns != 1) Refuse("a subquery that gives one value has more than one column");
      return {"(" + sql + ")", type};
    }
    case Node::Kind::kExists:
      return {"EXISTS (" + Subquery(*n.select, scope) + ")", SqlType::kBoolean, true};
  }
  Refuse("the expression holds something the translation does not know");
}

std::string Translator::Subquery(const SelectModel& s, const Scope& scope, size_t* columns,
                                 SqlType* type) {
  if (scope.check) Refuse("a validation rule holds a subquery, which a CHECK cannot");
  TranslatedSelect t = Select(s, &scope);
  if (columns) *columns = t.columns.size();
  if (type && !t.columns.empty()) *type = t.columns[0].type;
  return t.sql;
}

R Translator::Binary(const Node& n, const Scope& scope) {
  R a = Expr(*n.args[0], scope);
  R b = Expr(*n.args[1], scope);
  const std::string& op = n.text;
  if (op == "=" || op == "<>" || op == "<" || op == ">" || op == "<=" || op == ">=") {
    Align(a, b);
    return {"(" + a.sql + " " + op + " " + b.sql + ")", SqlType::kBoolean};
  }
  if (op == "and" || op == "or" || op == "xor" || op == "eqv" || op == "imp") {
    if (IsNumeric(a.type) && IsNumeric(b.type)) {
      // On numbers Access works bit by bit.
      const std::string x = "CAST(" + a.sql + " AS BIGINT)", y = "CAST(" + b.sql + " AS BIGINT)";
      if (op == "and") return {"(" + x + " & " + y + ")", SqlType::kInteger};
      if (op == "or") return {"(" + x + " | " + y + ")", SqlType::kInteger};
      if (op == "xor") return {"(" + x + " # " + y + ")", SqlType::kInteger};
      if (op == "eqv") return {"(~(" + x + " # " + y + "))", SqlType::kInteger};
      return {"((~" + x + ") | " + y + ")", SqlType::kInteger};
    }
    const std::string x = AsBool(a), y = AsBool(b);
    if (op == "and") return {"(" + x + " AND " + y + ")", SqlType::kBoolean};
    if (op == "or") return {"(" + x + " OR " + y + ")", SqlType::kBoolean};
    if (op == "xor") return {"(" + x + " <> " + y + ")", SqlType::kBoolean};
    if (op == "eqv") return {"(" + x + " = " + y + ")", SqlType::kBoolean};
    return {"(NOT " + x + " OR " + y + ")", SqlType::kBoolean};
  }
  if (op == "+" && a.type == SqlType::kText &&
      (b.type == SqlType::kText || b.type == SqlType::kNull || b.type == SqlType::kUnknown))
    return {"(" + a.sql + " || " + b.sql + ")", SqlType::kText};
  if (op == "+" && b.type == SqlType::kText &&
      (a.type == SqlType::kNull || a.type == SqlType::kUnknown))
    return {"(" + a.sql + " || " + b.sql + ")", SqlType::kText};
  if ((op == "+" || op == "-") && a.type == SqlType::kDate && b.type != SqlType::kDate)
    return {"(" + a.sql + " " + op + " " + AsNumber(b) + " * INTERVAL '1 day')", SqlType::kDate};
  if (op == "+" && b.type == SqlType::kDate)
    return {"(" + b.sql + " + " + AsNumber(a) + " * INTERVAL '1 day')", SqlType::kDate};
  if (op == "-" && a.type == SqlType::kDate && b.type == SqlType::kDate)
    return {
        "(CAST(EXTRACT(EPOCH FROM (" + a.sql + " - " + b.sql + ")) AS DOUBLE PRECISION) / 86400)",
        SqlType::kFloat};
  const std::string x = AsNumber(a), y = AsNumber(b);
  const SqlType result = NumericResult(a.type == SqlType::kBoolean ? SqlType::kInteger : a.type,
                                       b.type == SqlType::kBoolean ? SqlType::kInteger : b.type);
  if (op == "+" || op == "-" || op == "*")
    return {"(" + x + " " + op + " " + y + ")",
            result == SqlType::kUnknown ? SqlType::kFloat : result};
  if (op == "/") {
    // Access divides exactly, also two integers; by zero it has no value to give.
    const bool decimal = result == SqlType::kDecimal;
    return {"(CAST(" + x + (decimal ? " AS NUMERIC)" : " AS DOUBLE PRECISION)") + " / NULLIF(" + y +
                ", 0))",
            decimal ? SqlType::kDecimal : SqlType::kFloat};
  }
  if (op == "\\")
    return {"(CAST(" + x + " AS BIGINT) / NULLIF(CAST(" + y + " AS BIGINT), 0))",
            SqlType::kInteger};
  if (op == "mod")
    return {"MOD(CAST(" + x + " AS BIGINT), NULLIF(CAST(" + y + " AS BIGINT), 0))",
            SqlType::kInteger};
  if (op == "^") return {"POWER(CAST(" + x + " AS DOUBLE PRECISION), " + y + ")", SqlType::kFloat};
  Refuse("the operator " + op + " is none the translation knows");
}

// Access's & takes Null as empty text, and gives Null only when every part is Null.
R Translator::Concat(const Node& n, const Scope& scope) {
  std::vector<const Node*> parts;
  std::vector<const Node*> pending = {&n};
  while (!pending.empty()) {
    const Node* p = pending.back();
    pending.pop_back();
    if (p->kind == Node::Kind::kBinary && p->text == "&") {
      pending.push_back(p->args[1].get());
      pending.push_back(p->args[0].get());
    } else {
      parts.push_back(p);
    }
  }
  std::string list;
  bool never_null = false;
  for (const Node* p : parts) {
    R r = Expr(*p, scope);
    never_null = never_null || r.never_null;
    list += (list.empty() ? "" : ", ") + AsText(r);
  }
  if (never_null) return {"CONCAT(" + list + ")", SqlType::kText, true};
  return {"(CASE WHEN NUM_NONNULLS(" + list + ") = 0 THEN NULL ELSE CONCAT(" + list + ") END)",
          SqlType::kText};
}

R Translator::Like(const Node& n, const Scope& scope) {
  R a = Expr(*n.args[0], scope);
  const std::string subject = AsText(a);
  const Node& pattern = *n.args[1];
  if (pattern.kind == Node::Kind::kString) {
    // Access compares text without regard to letter case.
    Pattern p = ConvertLikePattern(pattern.text);
    if (p.regex)
      return {"(" + subject + (n.negated ? " !~* " : " ~* ") + SqlString(Value(p.text)) + ")",
              SqlType::kBoolean};
    return {
        "(" + subject + (n.negated ? " NOT ILIKE " : " ILIKE ") + SqlString(Value(p.text)) + ")",
        SqlType::kBoolean};
  }
  R p = Expr(pattern, scope);
  return {"(" + subject + (n.negated ? " NOT ILIKE " : " ILIKE ") + "REPLACE(REPLACE(" + AsText(p) +
              ", '*', '%'), '?', '_'))",
          SqlType::kBoolean};
}

}  // namespace ferrolyte::access_sql

namespace ferrolyte {

using access_sql::Lower;
using access_sql::NodePtr;
using access_sql::ParseExpression;
using access_sql::Scope;
using access_sql::Translator;

SqlType SqlTypeOfAccessType(int type) {
  // By DAO field type code; the rest (text, memo, binary, GUID ...) compares as text.
  static constexpr std::pair<int, SqlType> kTypes[] = {
      {1, SqlType::kBoolean},  {2, SqlType::kInteger},  {3, SqlType::kInteger},
      {4, SqlType::kInteger},  {16, SqlType::kInteger}, {5, SqlType::kDecimal},
      {20, SqlType::kDecimal}, {6, SqlType::kFloat},    {7, SqlType::kFloat},
      {19, SqlType::kFloat},   {21, SqlType::kFloat},   {8, SqlType::kDate},
      {22, SqlType::kDate},    {23, SqlType::kDate}};
  for (const auto& [code, sql_type] : kTypes)
    if (code == type) return sql_type;
  return SqlType::kText;
}

std::string TranslateRule(const std::string& rule, const Relation& table,
                          const RelationColumn* field) {
  Scope scope;
  scope.check = true;
  scope.items.push_back({"", "", table.columns});
  scope.items[0].key = Lower(table.name);
  scope.implicit = field;
  RelationLookup none = [](const std::string&) -> const Relation* { return nullptr; };
  Translator translator(none);
  NodePtr node = ParseExpression(rule, field != nullptr);
  return translator.Bool(*node, scope);
}

}  // namespace ferrolyte

#include "schema/query_model.h"

#include <algorithm>
#include <map>
#include <set>

#include "support/text.h"

namespace ferrolyte {
namespace {

enum Attribute {
  kKind = 1,
  kParameter = 2,
  kFlags = 3,
  kRemote = 4,
  kTable = 5,
  kColumn = 6,
  kJoin = 7,
  kWhere = 8,
  kGroupBy = 9,
  kHaving = 10,
  kOrderBy = 11,
};

// Bits of the attribute-3 flag.
constexpr int kAllColumns = 1;
constexpr int kDistinct = 2;
constexpr int kDistinctRow = 8;
constexpr int kTop = 16;
constexpr int kPercent = 32;
constexpr int kUnionDistinct = 2;

JoinKind JoinKindOf(int flag) {
  return flag == 2 ? JoinKind::kLeft : flag == 3 ? JoinKind::kRight : JoinKind::kInner;
}

// A join links the item that holds its left table to the one that holds its right table;
// further conditions between tables already joined go into the join that joined them last.
struct Component {
  FromItem item;
  std::set<std::string> keys;  // lower-case names and aliases of its tables
};

std::vector<FromItem> BuildFrom(const std::vector<FromItem>& tables,
                                const std::vector<SchemaQueryRow>& joins) {
  std::vector<Component> parts;
  for (const FromItem& t : tables)
    parts.push_back({t, {AsciiLower(t.alias.empty() ? t.name : t.alias)}});
  auto holding = [&](const std::string& name) -> int {
    const std::string key = AsciiLower(name);
    for (size_t i = 0; i < parts.size(); ++i)
      if (parts[i].keys.count(key)) return static_cast<int>(i);
    return -1;
  };
  for (const SchemaQueryRow& j : joins) {
    int left = holding(j.name1), right = holding(j.name2);
    if (left < 0 || right < 0) continue;
    if (left == right) {
      FromItem& item = parts[left].item;
      if (item.kind == FromItem::Kind::kJoin && !j.expression.empty())
        item.on = item.on.empty() ? j.expression : item.on + " AND " + j.expression;
      continue;
    }
    FromItem joined;
    joined.kind = FromItem::Kind::kJoin;
    joined.join = JoinKindOf(j.flag);
    joined.on = j.expression;
    joined.left = std::make_shared<const FromItem>(parts[left].item);
    joined.right = std::make_shared<const FromItem>(parts[right].item);
    parts[left].item = std::move(joined);
    parts[left].keys.insert(parts[right].keys.begin(), parts[right].keys.end());
    parts.erase(parts.begin() + right);
  }
  std::vector<FromItem> from;
  for (Component& c : parts) from.push_back(std::move(c.item));
  return from;
}

const char* ParameterTypeName(int type) {
  switch (type) {
    case 1:
      return "Bit";
    case 2:
      return "Byte";
    case 3:
      return "Short";
    case 4:
      return "Long";
    case 5:
      return "Currency";
    case 6:
      return "IEEESingle";
    case 7:
      return "IEEEDouble";
    case 8:
      return "DateTime";
    case 9:
      return "Binary";
    case 11:
      return "LongBinary";
    case 12:
      return "Memo";
    case 15:
      return "Guid";
    case 16:
      return "BigInt";
    case 20:
      return "Decimal";
    default:
      return "Text";
  }
}

std::string ColumnList(const std::vector<OutputColumn>& columns, int only_flag = -1) {
  std::string text;
  for (const OutputColumn& c : columns) {
    if (only_flag >= 0 && c.flag != only_flag) continue;
    if (!text.empty()) text += ", ";
    text += c.expression;
    if (!c.alias.empty()) text += " AS " + AccessName(c.alias);
  }
  return text;
}

std::string FromClause(const std::vector<FromItem>& from) {
  std::string text;
  for (const FromItem& item : from) text += (text.empty() ? "" : ", ") + AccessSql(item);
  return text;
}

// FROM and everything after it.
std::string Clauses(const SelectModel& s, bool with_order, const std::string& in = "") {
  std::string text;
  if (!s.from.empty()) text += " FROM " + FromClause(s.from) + in;
  if (!s.where.empty()) text += " WHERE " + s.where;
  for (size_t i = 0; i < s.group_by.size(); ++i) text += (i ? ", " : " GROUP BY ") + s.group_by[i];
  if (!s.having.empty()) text += " HAVING " + s.having;
  if (with_order)
    for (size_t i = 0; i < s.order_by.size(); ++i)
      text += (i ? ", " : " ORDER BY ") + s.order_by[i].expression +
              (s.order_by[i].descending ? " DESC" : "");
  return text;
}

std::string SelectHead(const SelectModel& s) {
  std::string text = "SELECT ";
  if (s.distinct) text += "DISTINCT ";
  if (s.distinct_row) text += "DISTINCTROW ";
  if (!s.top.empty()) text += "TOP " + s.top + (s.top_percent ? " PERCENT " : " ");
  std::string columns = ColumnList(s.columns);
  if (s.all_columns) columns = columns.empty() ? "*" : "*, " + columns;
  return text + columns;
}

}  // namespace

QueryKind QueryKindOf(uint32_t catalogue_flags, int kind_row_flag) {
  switch (kind_row_flag) {
    case 1:
      return QueryKind::kSelect;
    case 2:
      return QueryKind::kMakeTable;
    case 3:
      return QueryKind::kAppend;
    case 4:
      return QueryKind::kUpdate;
    case 5:
      return QueryKind::kDelete;
    case 6:
      return QueryKind::kCrosstab;
    case 7:
      return QueryKind::kDataDefinition;
    case 8:
      return QueryKind::kPassThrough;
    case 9:
      return QueryKind::kUnion;
  }
  switch (catalogue_flags & 0xF0) {
    case 0:
      return QueryKind::kSelect;
    case 16:
      return QueryKind::kCrosstab;
    case 32:
      return QueryKind::kDelete;
    case 48:
      return QueryKind::kUpdate;
    case 64:
      return QueryKind::kAppend;
    case 80:
      return QueryKind::kMakeTable;
    case 96:
      return QueryKind::kDataDefinition;
    case 112:
      return QueryKind::kPassThrough;
    case 128:
      return QueryKind::kUnion;
  }
  return QueryKind::kUnknown;
}

const char* QueryKindText(QueryKind kind) {
  switch (kind) {
    case QueryKind::kSelect:
      return "select query";
    case QueryKind::kMakeTable:
      return "make-table query";
    case QueryKind::kAppend:
      return "append query";
    case QueryKind::kUpdate:
      return "update query";
    case QueryKind::kDelete:
      return "delete query";
    case QueryKind::kCrosstab:
      return "crosstab query";
    case QueryKind::kDataDefinition:
      return "data-definition query";
    case QueryKind::kPassThrough:
      return "pass-through query";
    case QueryKind::kUnion:
      return "union query";
    case QueryKind::kUnknown:
      break;
  }
  return "query of an unknown kind";
}

std::string AccessName(const std::string& name) {
  const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
  return plain ? name : "[" + name + "]";
}

QueryModel ReadQueryModel(const SchemaQuery& q) {
  QueryModel m;
  m.name = q.name;
  int kind_flag = 0;
  std::vector<FromItem> tables;
  std::vector<SchemaQueryRow> joins;
  SelectModel& s = m.select;
  for (const SchemaQueryRow& r : q.rows) {
    switch (r.attribute) {
      case kKind:
        kind_flag = r.flag;
        m.target = r.name1;
        m.statement = r.expression;
        break;
      case kParameter:
        m.parameters.push_back({r.name1, r.flag});
        break;
      case kFlags:
        s.all_columns = r.flag & kAllColumns;
        s.distinct = r.flag & kDistinct;
        s.distinct_row = r.flag & kDistinctRow;
        if (r.flag & kTop) s.top = r.name1;
        s.top_percent = r.flag & kPercent;
        m.union_all = !(r.flag & kUnionDistinct);
        break;
      case kRemote:
        m.remote_database = r.name1;
        m.connect = r.expression;
        break;
      case kTable:
        if (!r.expression.empty() && r.name1.empty()) {
          m.union_parts.push_back(r.expression);
        } else {
          FromItem t;
          t.name = r.name1;
          t.alias = r.name2;
          tables.push_back(std::move(t));
        }
        break;
      case kColumn:
        s.columns.push_back({r.expression, r.name1, r.flag});
        break;
      case kJoin:
        joins.push_back(r);
        break;
      case kWhere:
        s.where = r.expression;
        break;
      case kGroupBy:
        s.group_by.push_back(r.expression);
        break;
      case kHaving:
        s.having = r.expression;
        break;
      case kOrderBy:
        s.order_by.push_back({r.expression, EqualsIgnoreCase(r.name1, "D")});
        break;
      default:
        break;
    }
  }
  m.kind = QueryKindOf(q.flags, kind_flag);
  s.from = BuildFrom(tables, joins);
  return m;
}

std::string AccessSql(const FromItem& item) {
  switch (item.kind) {
    case FromItem::Kind::kTable:
      return AccessName(item.name) + (item.alias.empty() ? "" : " AS " + AccessName(item.alias));
    case FromItem::Kind::kSubquery:
      return "(" + item.sql + ")" + (item.alias.empty() ? "" : " AS " + AccessName(item.alias));
    case FromItem::Kind::kJoin: {
      auto side = [](const FromItem& f) {
        return f.kind == FromItem::Kind::kJoin ? "(" + AccessSql(f) + ")" : AccessSql(f);
      };
      const char* join = item.join == JoinKind::kLeft    ? " LEFT JOIN "
                         : item.join == JoinKind::kRight ? " RIGHT JOIN "
                                                         : " INNER JOIN ";
      return side(*item.left) + join + side(*item.right) + " ON " + item.on;
    }
  }
  return "";
}

std::string AccessSql(const SelectModel& s) {
  return SelectHead(s) + Clauses(s, true);
}

std::string AccessSql(const QueryModel& m) {
  std::string head;
  if (!m.parameters.empty()) {
    head = "PARAMETERS ";
    for (size_t i = 0; i < m.parameters.size(); ++i)
      head +=
          (i ? ", " : "") + m.parameters[i].name + " " + ParameterTypeName(m.parameters[i].type);
    head += "; ";
  }
  const SelectModel& s = m.select;
  const std::string in =
      m.remote_database.empty() ? "" : " IN '" + ReplaceAll(m.remote_database, "'", "''") + "'";
  switch (m.kind) {
    case QueryKind::kUnion: {
      std::string text;
      for (const std::string& part : m.union_parts)
        text += (text.empty() ? "" : m.union_all ? " UNION ALL " : " UNION ") + part;
      return head + text;
    }
    case QueryKind::kPassThrough:
    case QueryKind::kDataDefinition:
      return m.statement;
    case QueryKind::kMakeTable:
      return head + SelectHead(s) + " INTO " + AccessName(m.target) + Clauses(s, true, in);
    case QueryKind::kAppend: {
      std::string targets, values;
      for (const OutputColumn& c : s.columns) {
        targets += (targets.empty() ? "" : ", ") + AccessName(c.alias);
        values += (values.empty() ? "" : ", ") + c.expression;
      }
      return head + "INSERT INTO " + AccessName(m.target) + " (" + targets + ") SELECT " + values +
             Clauses(s, true, in);
    }
    case QueryKind::kUpdate: {
      std::string sets;
      for (const OutputColumn& c : s.columns)
        sets += (sets.empty() ? "" : ", ") + c.alias + " = " + c.expression;
      std::string text = head + "UPDATE " + FromClause(s.from) + " SET " + sets;
      if (!s.where.empty()) text += " WHERE " + s.where;
      return text;
    }
    case QueryKind::kDelete:
      return head + "DELETE " + ColumnList(s.columns) + Clauses(s, false, in);
    case QueryKind::kCrosstab: {
      std::string pivot;
      for (const OutputColumn& c : s.columns)
        if (c.flag == 2) pivot = c.expression;
      SelectModel rows = s;
      std::erase_if(rows.columns, [](const OutputColumn& c) { return c.flag == 1 || c.flag == 2; });
      return head + "TRANSFORM " + ColumnList(s.columns, 1) + " " + AccessSql(rows) + " PIVOT " +
             pivot;
    }
    case QueryKind::kSelect:
    case QueryKind::kUnknown:
      break;
  }
  return head + SelectHead(s) + Clauses(s, true, in);
}

}  // namespace ferrolyte

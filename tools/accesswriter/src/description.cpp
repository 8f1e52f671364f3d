#include "accesswriter/description.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "encoding.h"

namespace accesswriter {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& why) {
  throw WriteError(where + ": " + why);
}

template <typename T>
T Get(const json& j, const char* key, const std::string& where, T fallback) {
  if (!j.contains(key) || j[key].is_null()) return fallback;
  try {
    return j[key].get<T>();
  } catch (const json::exception& e) {
    Fail(where + "." + key, e.what());
  }
}

std::vector<std::uint8_t> FromHex(const std::string& hex, const std::string& where) {
  std::string digits;
  for (char c : hex) {
    if (!std::isspace(static_cast<unsigned char>(c))) digits.push_back(c);
  }
  if (digits.size() % 2 != 0) Fail(where, "odd number of hex digits");
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    if (!std::isxdigit(static_cast<unsigned char>(digits[i])) ||
        !std::isxdigit(static_cast<unsigned char>(digits[i + 1]))) {
      Fail(where, "not a hex digit");
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::vector<std::uint8_t> FromBase64(const std::string& text, const std::string& where) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<std::uint8_t> out;
  std::uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c)) || c == '=') continue;
    auto pos = kAlphabet.find(c);
    if (pos == std::string::npos) Fail(where, "not base64");
    acc = (acc << 6) | static_cast<std::uint32_t>(pos);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>(acc >> bits));
    }
  }
  return out;
}

Value ParseValue(const json& j, const std::string& where) {
  if (j.is_null()) return Value();
  if (j.is_boolean()) return Value(j.get<bool>());
  if (j.is_number_integer()) return Value(j.get<std::int64_t>());
  if (j.is_number_float()) return Value(j.get<double>());
  if (j.is_string()) return Value(j.get<std::string>());
  if (j.is_array()) {
    // A multi-value column's values.
    std::vector<Value> items;
    for (const json& item : j) items.push_back(ParseValue(item, where));
    return Value::Items(std::move(items));
  }
  if (j.is_object()) {
    if (j.contains("attachments")) {
      std::vector<Attachment> files;
      for (const json& f : j["attachments"]) {
        Attachment a;
        a.file_name = Get<std::string>(f, "name", where, "");
        if (f.contains("hex")) a.data = FromHex(Get<std::string>(f, "hex", where, ""), where);
        if (f.contains("base64"))
          a.data = FromBase64(Get<std::string>(f, "base64", where, ""), where);
        if (f.contains("text")) {
          std::string text = Get<std::string>(f, "text", where, "");
          a.data.assign(text.begin(), text.end());
        }
        a.compress = Get<bool>(f, "compress", where, true);
        files.push_back(std::move(a));
      }
      return Value::Attachments(std::move(files));
    }
    if (j.contains("date")) {
      const json& d = j["date"];
      if (d.is_number()) return Value::Date(d.get<double>());
      if (d.is_string()) return Value::Date(internal::ParseDateFields(d.get<std::string>()));
      Fail(where, "\"date\" must be a number or text");
    }
    if (j.contains("hex")) return Value::Bytes(FromHex(j["hex"].get<std::string>(), where));
    if (j.contains("base64")) {
      return Value::Bytes(FromBase64(j["base64"].get<std::string>(), where));
    }
    if (j.contains("decimal")) {
      const json& d = j["decimal"];
      return Value::Decimal(d.is_string() ? d.get<std::string>() : d.dump());
    }
    if (j.contains("guid")) return Value::Guid(j["guid"].get<std::string>());
    if (j.contains("repeat")) {
      std::string unit = j["repeat"].get<std::string>();
      int times = Get<int>(j, "times", where, 1);
      if (times < 0) Fail(where, "\"times\" is negative");
      std::string s;
      s.reserve(unit.size() * static_cast<std::size_t>(times));
      for (int i = 0; i < times; ++i) s += unit;
      return Value(std::move(s));
    }
  }
  Fail(where, "unsupported value " + j.dump());
}

std::vector<TextProperty> ParseProperties(const json& j, const std::string& where) {
  std::vector<TextProperty> out;
  if (!j.contains("properties")) return out;
  if (!j["properties"].is_object()) Fail(where + ".properties", "must be an object");
  for (const auto& [k, v] : j["properties"].items()) {
    if (!v.is_string()) Fail(where + ".properties." + k, "must be text");
    out.push_back({k, v.get<std::string>()});
  }
  return out;
}

Column ParseColumn(const json& j, const std::string& where) {
  if (!j.is_object()) Fail(where, "a column must be an object");
  Column c;
  c.name = Get<std::string>(j, "name", where, "");
  if (c.name.empty()) Fail(where, "column needs a \"name\"");
  // A number is a type code as the table definition stores it, also one readers do not know.
  const std::string type = j.contains("type") && j["type"].is_number_integer()
                               ? ""
                               : Get<std::string>(j, "type", where, "");
  if (type.empty() && j.contains("type") && j["type"].is_number_integer()) {
    const int code = j["type"].get<int>();
    if (code < 0 || code > 255) Fail(where + ".type", "a type code is 0 to 255");
    c.type = static_cast<ColumnType>(code);
  } else if (type == "attachment") {
    c.type = ColumnType::kComplex;
    c.complex = ComplexKind::kAttachment;
  } else if (type == "multivalue") {
    c.type = ColumnType::kComplex;
    c.complex = ComplexKind::kMultiValue;
    c.value_type = ColumnTypeFromName(Get<std::string>(j, "value_type", where, "text"));
  } else {
    c.type = ColumnTypeFromName(type);
  }
  if (j.contains("allow_zero_length") && !j["allow_zero_length"].is_null())
    c.allow_zero_length = Get<bool>(j, "allow_zero_length", where, true);
  c.size = Get<int>(j, "size", where, 0);
  c.fixed_length = Get<bool>(j, "fixed_length", where, false);
  c.required = Get<bool>(j, "required", where, false);
  std::string autonum = Get<std::string>(j, "auto_number", where, "");
  if (autonum == "increment") {
    c.auto_number = AutoNumber::kIncrement;
  } else if (autonum == "guid") {
    c.auto_number = AutoNumber::kGuid;
  } else if (!autonum.empty()) {
    Fail(where + ".auto_number", "must be \"increment\" or \"guid\"");
  }
  c.precision = Get<int>(j, "precision", where, 18);
  c.scale = Get<int>(j, "scale", where, 0);
  if (j.contains("default") && !j["default"].is_null()) {
    c.default_value = Get<std::string>(j, "default", where, "");
  }
  c.description = Get<std::string>(j, "description", where, "");
  c.properties = ParseProperties(j, where);
  if (j.contains("expression") && !j["expression"].is_null())
    c.expression = Get<std::string>(j, "expression", where, "");
  return c;
}

Index ParseIndex(const json& j, const std::string& where) {
  Index ix;
  ix.name = Get<std::string>(j, "name", where, "");
  if (!j.contains("columns") || !j["columns"].is_array()) Fail(where, "index needs \"columns\"");
  for (const json& c : j["columns"]) {
    if (c.is_string()) {
      std::string n = c.get<std::string>();
      bool desc = !n.empty() && n[0] == '-';
      ix.columns.push_back({desc ? n.substr(1) : n, desc});
    } else {
      ix.columns.push_back(
          {Get<std::string>(c, "column", where, ""), Get<bool>(c, "descending", where, false)});
    }
  }
  ix.primary_key = Get<bool>(j, "primary_key", where, false);
  ix.unique = Get<bool>(j, "unique", where, false);
  ix.ignore_nulls = Get<bool>(j, "ignore_nulls", where, false);
  ix.required = Get<bool>(j, "required", where, false);
  return ix;
}

QueryKind QueryKindFromName(const std::string& name, const std::string& where) {
  static const std::pair<const char*, QueryKind> kKinds[] = {
      {"select", QueryKind::kSelect},
      {"make_table", QueryKind::kMakeTable},
      {"append", QueryKind::kAppend},
      {"update", QueryKind::kUpdate},
      {"delete", QueryKind::kDelete},
      {"crosstab", QueryKind::kCrosstab},
      {"data_definition", QueryKind::kDataDefinition},
      {"pass_through", QueryKind::kPassThrough},
      {"union", QueryKind::kUnion}};
  for (const auto& [n, k] : kKinds)
    if (name == n) return k;
  Fail(where + ".kind", "unknown query kind \"" + name + "\"");
}

Query ParseQuery(const json& j) {
  Query q;
  q.name = Get<std::string>(j, "name", "query", "");
  const std::string where = "query \"" + q.name + "\"";
  q.kind = QueryKindFromName(Get<std::string>(j, "kind", where, "select"), where);
  if (j.contains("parameters"))
    for (const json& p : j["parameters"])
      q.parameters.push_back(
          {Get<std::string>(p, "name", where, ""), Get<int>(p, "type", where, 10)});
  q.distinct = Get<bool>(j, "distinct", where, false);
  q.distinct_row = Get<bool>(j, "distinct_row", where, false);
  if (j.contains("top"))
    q.top = j["top"].is_string() ? j["top"].get<std::string>() : j["top"].dump();
  q.top_percent = Get<bool>(j, "top_percent", where, false);
  if (j.contains("tables"))
    for (const json& t : j["tables"]) {
      if (t.is_string())
        q.tables.push_back({t.get<std::string>(), ""});
      else
        q.tables.push_back(
            {Get<std::string>(t, "name", where, ""), Get<std::string>(t, "alias", where, "")});
    }
  if (j.contains("columns"))
    for (const json& c : j["columns"]) {
      if (c.is_string())
        q.columns.push_back({c.get<std::string>(), "", 0});
      else
        q.columns.push_back({Get<std::string>(c, "expression", where, ""),
                             Get<std::string>(c, "alias", where, ""),
                             Get<int>(c, "flag", where, 0)});
    }
  if (j.contains("joins"))
    for (const json& jn : j["joins"]) {
      const std::string kind = Get<std::string>(jn, "kind", where, "inner");
      q.joins.push_back({Get<std::string>(jn, "left", where, ""),
                         Get<std::string>(jn, "right", where, ""),
                         Get<std::string>(jn, "on", where, ""),
                         kind == "left"    ? JoinKind::kLeft
                         : kind == "right" ? JoinKind::kRight
                                           : JoinKind::kInner});
    }
  q.where = Get<std::string>(j, "where", where, "");
  if (j.contains("group_by"))
    for (const json& g : j["group_by"]) q.group_by.push_back(g.get<std::string>());
  q.having = Get<std::string>(j, "having", where, "");
  if (j.contains("order_by"))
    for (const json& o : j["order_by"]) {
      if (o.is_string()) {
        q.order_by.push_back({o.get<std::string>(), false});
      } else {
        q.order_by.push_back({Get<std::string>(o, "expression", where, ""),
                              Get<bool>(o, "descending", where, false)});
      }
    }
  q.target = Get<std::string>(j, "target", where, "");
  q.sql = Get<std::string>(j, "sql", where, "");
  q.connect = Get<std::string>(j, "connect", where, "");
  if (j.contains("union_parts"))
    for (const json& p : j["union_parts"]) q.union_parts.push_back(p.get<std::string>());
  q.union_all = Get<bool>(j, "union_all", where, false);
  return q;
}

std::vector<std::string> Names(const json& j, const char* key, const std::string& where) {
  std::vector<std::string> out;
  if (!j.contains(key)) return out;
  for (const json& n : j[key]) {
    if (!n.is_string()) Fail(where + "." + key, "must hold column names");
    out.push_back(n.get<std::string>());
  }
  return out;
}

}  // namespace

ColumnType ColumnTypeFromName(std::string_view name) {
  static const std::pair<const char*, ColumnType> kTypes[] = {
      {"boolean", ColumnType::kBoolean},   {"byte", ColumnType::kByte},
      {"integer", ColumnType::kInteger},   {"long", ColumnType::kLong},
      {"currency", ColumnType::kCurrency}, {"single", ColumnType::kSingle},
      {"double", ColumnType::kDouble},     {"datetime", ColumnType::kDateTime},
      {"binary", ColumnType::kBinary},     {"text", ColumnType::kText},
      {"ole", ColumnType::kOle},           {"memo", ColumnType::kMemo},
      {"guid", ColumnType::kGuid},         {"decimal", ColumnType::kDecimal},
      {"bigint", ColumnType::kBigInt},     {"datetimeextended", ColumnType::kDateTimeExtended}};
  for (const auto& [n, t] : kTypes) {
    if (name == n) return t;
  }
  throw WriteError("unknown column type \"" + std::string(name) + "\"");
}

Encryption EncryptionFromName(std::string_view name) {
  static const std::pair<const char*, Encryption> kMethods[] = {
      {"agile", Encryption::kAgile},
      {"standard", Encryption::kStandard},
      {"nonstandard", Encryption::kNonStandard},
      {"rc4-cryptoapi", Encryption::kRc4CryptoApi},
      {"rc4-office", Encryption::kOfficeRc4}};
  for (const auto& [n, m] : kMethods) {
    if (name == n) return m;
  }
  throw WriteError("unknown encryption \"" + std::string(name) + "\"");
}

DatabaseDescription ParseDescription(const json& j) {
  if (!j.is_object()) throw WriteError("a database description must be a JSON object");
  DatabaseDescription d;
  std::string format = Get<std::string>(j, "format", "database", "jet4");
  if (format == "jet4") {
    d.options.format = Format::kJet4;
  } else if (format == "ace12") {
    d.options.format = Format::kAce12;
  } else {
    Fail("format", "must be \"jet4\" or \"ace12\"");
  }
  d.options.password = Get<std::string>(j, "password", "database", "");
  d.options.encrypt = Get<bool>(j, "encrypt", "database", false);
  if (j.contains("encryption"))
    d.options.encryption = EncryptionFromName(Get<std::string>(j, "encryption", "database", ""));
  d.options.creation_date = Get<double>(j, "creation_date", "database", d.options.creation_date);
  d.options.damaged_table = Get<std::string>(j, "damaged_table", "database", "");
  if (j.contains("tables")) {
    for (std::size_t ti = 0; ti < j["tables"].size(); ++ti) {
      const json& tj = j["tables"][ti];
      std::string where = "tables[" + std::to_string(ti) + "]";
      TableContent tc;
      tc.table.name = Get<std::string>(tj, "name", where, "");
      where = "table \"" + tc.table.name + "\"";
      tc.table.description = Get<std::string>(tj, "description", where, "");
      tc.table.hidden = Get<bool>(tj, "hidden", where, false);
      tc.table.system = Get<bool>(tj, "system", where, false);
      tc.table.properties = ParseProperties(tj, where);
      if (!tj.contains("columns")) Fail(where, "needs \"columns\"");
      for (const json& cj : tj["columns"]) tc.table.columns.push_back(ParseColumn(cj, where));
      if (tj.contains("indexes")) {
        for (const json& ij : tj["indexes"]) tc.table.indexes.push_back(ParseIndex(ij, where));
      }
      if (tj.contains("stored_rows"))
        tc.table.stored_rows = Get<std::uint32_t>(tj, "stored_rows", where, 0);
      tc.table.access_index_layout = Get<bool>(tj, "access_index_layout", where, false);
      if (tj.contains("rows")) {
        std::size_t ri = 0;
        for (const json& rj : tj["rows"]) {
          std::string rw = where + " row " + std::to_string(ri++);
          auto values = [&](const json& list) {
            if (!list.is_array()) Fail(rw, "a row must be an array");
            std::vector<Value> row;
            for (const json& v : list) row.push_back(ParseValue(v, rw));
            return row;
          };
          // {"deleted": "previous" | "page_end" | "keeps_bytes", "values": [...]} leaves a
          // deleted entry; {"moved": [...]} writes a row moved to another page.
          if (rj.is_object() && rj.contains("deleted")) {
            const std::string form = Get<std::string>(rj, "deleted", rw, "");
            TableContent::Deleted deleted{.before = tc.rows.size()};
            if (form == "page_end") {
              deleted.form = DeletedRow::kAtPageEnd;
            } else if (form == "keeps_bytes") {
              deleted.form = DeletedRow::kKeepsBytes;
              deleted.values = values(rj.value("values", json()));
            } else if (form != "previous") {
              Fail(rw + ".deleted", "must be \"previous\", \"page_end\" or \"keeps_bytes\"");
            }
            tc.deleted_rows.push_back(std::move(deleted));
          } else if (rj.is_object() && rj.contains("moved")) {
            tc.moved_rows.push_back(tc.rows.size());
            tc.rows.push_back(values(rj["moved"]));
          } else {
            tc.rows.push_back(values(rj));
          }
        }
      }
      d.tables.push_back(std::move(tc));
    }
  }
  if (j.contains("linked_tables")) {
    for (const json& lj : j["linked_tables"]) {
      LinkedTable l;
      l.name = Get<std::string>(lj, "name", "linked table", "");
      l.foreign_name = Get<std::string>(lj, "foreign_name", "linked table", "");
      l.database = Get<std::string>(lj, "database", "linked table", "");
      l.connect = Get<std::string>(lj, "connect", "linked table", "");
      l.hidden = Get<bool>(lj, "hidden", "linked table", false);
      d.linked_tables.push_back(l);
    }
  }
  if (j.contains("relationships")) {
    for (const json& rj : j["relationships"]) {
      Relationship r;
      std::string where = "relationship";
      r.name = Get<std::string>(rj, "name", where, "");
      r.primary_table = Get<std::string>(rj, "primary_table", where, "");
      r.primary_columns = Names(rj, "primary_columns", where);
      r.foreign_table = Get<std::string>(rj, "foreign_table", where, "");
      r.foreign_columns = Names(rj, "foreign_columns", where);
      r.enforce = Get<bool>(rj, "enforce", where, true);
      r.cascade_updates = Get<bool>(rj, "cascade_updates", where, false);
      r.cascade_deletes = Get<bool>(rj, "cascade_deletes", where, false);
      d.relationships.push_back(r);
    }
  }
  if (j.contains("queries"))
    for (const json& qj : j["queries"]) d.queries.push_back(ParseQuery(qj));
  return d;
}

DatabaseDescription ReadDescriptionFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) throw WriteError("cannot open " + path.string());
  json j;
  try {
    in >> j;
  } catch (const json::exception& e) {
    throw WriteError(path.string() + ": " + e.what());
  }
  return ParseDescription(j);
}

void WriteBenchmarkRows(const std::filesystem::path& path, std::uint64_t rows,
                        DatabaseOptions options, int tables) {
  DatabaseWriter w(path, std::move(options));
  for (int k = 1; k <= std::max(tables, 1); ++k) {
    Table t{.name = k == 1 ? std::string("Bench") : "Bench" + std::to_string(k),
            .description = "Synthetic rows for conversion benchmarks"};
    t.columns = {
        {.name = "Id",
         .type = ColumnType::kLong,
         .required = true,
         .auto_number = AutoNumber::kIncrement},
        {.name = "Quantity", .type = ColumnType::kLong},
        {.name = "Label", .type = ColumnType::kText, .size = 40},
        {.name = "Created", .type = ColumnType::kDateTime},
        {.name = "Price", .type = ColumnType::kCurrency},
        {.name = "Ratio", .type = ColumnType::kDouble},
        {.name = "Active", .type = ColumnType::kBoolean},
        {.name = "Notes", .type = ColumnType::kMemo},
        {.name = "Small", .type = ColumnType::kInteger},
        {.name = "Amount", .type = ColumnType::kDecimal, .precision = 12, .scale = 3},
    };
    t.indexes.push_back({.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    TableWriter& tw = w.AddTable(t);
    std::vector<Value> row(10);
    for (std::uint64_t i = 0; i < rows; ++i) {
      auto n = static_cast<std::int64_t>(i);
      row[0] = Value();
      row[1] = Value(n * 7 % 1000);
      row[2] = Value("Article " + std::to_string(n) + " Größe");
      row[3] = Value::Date(40000.0 + static_cast<double>(n % 5000) + 0.25);
      row[4] = Value::Decimal(std::to_string(n % 100000) + "." + std::to_string(n % 10000));
      row[5] = Value(static_cast<double>(n) / 7.0);
      row[6] = Value(n % 3 == 0);
      row[7] = n % 10 == 0 ? Value("Note for row " + std::to_string(n)) : Value();
      row[8] = Value(n % 30000);
      row[9] = n % 17 == 0 ? Value() : Value::Decimal(std::to_string(n) + ".125");
      tw.AddRow(row);
    }
  }
  w.Finish();
}

void WriteBenchmarkTables(const std::filesystem::path& path, int tables, DatabaseOptions options) {
  DatabaseWriter w(path, std::move(options));
  for (int i = 1; i <= tables; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "T%05d", i);
    Table t{.name = name};
    t.columns = {{.name = "Id",
                  .type = ColumnType::kLong,
                  .required = true,
                  .auto_number = AutoNumber::kIncrement},
                 {.name = "Name", .type = ColumnType::kText, .size = 50},
                 {.name = "Value", .type = ColumnType::kDouble}};
    t.indexes.push_back({.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    TableWriter& tw = w.AddTable(t);
    for (int r = 0; r < 3; ++r) {
      tw.AddRow({nullptr, std::string(name) + " row " + std::to_string(r), r * 1.5});
    }
  }
  w.Finish();
}

}  // namespace accesswriter

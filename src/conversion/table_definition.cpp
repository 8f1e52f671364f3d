#include "conversion/table_definition.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <regex>
#include <unordered_set>

#include "conversion/literals.h"
#include "support/errors.h"
#include "support/oledate.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// Dates and times take their defaults as text, but read Access's #...# literals first.
enum class DefaultClass { kNumeric, kBoolean, kText, kDateTime, kTime };

struct MappedType {
  std::string text;
  DefaultClass default_class;
};

MappedType MapType(int32_t type, int32_t size, int32_t scale, const std::string& storage_engine) {
  const std::string s = std::to_string(size);
  switch (type) {
    case 1:
      return {"BOOLEAN", DefaultClass::kBoolean};
    case 2:
      return {"SMALLINT", DefaultClass::kNumeric};
    case 3:
    case 4:
      return {"INTEGER", DefaultClass::kNumeric};
    case 5:
      return {"NUMERIC(" + s + ",4)", DefaultClass::kNumeric};
    case 6:
      return {"FLOAT NULL", DefaultClass::kNumeric};
    case 7:
      return {"DOUBLE PRECISION NULL", DefaultClass::kNumeric};
    case 8:
    case 23:
      return {"TIMESTAMP", DefaultClass::kDateTime};
    case 10:
      return {"VARCHAR(" + s + ")", DefaultClass::kText};
    case 15:
      return {"VARCHAR(38)", DefaultClass::kText};
    case 16:
      return {"BIGINT", DefaultClass::kNumeric};
    case 18:
      return {"CHAR(" + s + ")", DefaultClass::kText};
    case 19:
      return {"DOUBLE PRECISION", DefaultClass::kNumeric};
    case 20: {
      int32_t precision = (storage_engine == "brighthouse" && size > 18) ? 18 : size;
      return {"DECIMAL(" + std::to_string(precision) + "," + std::to_string(scale) + ")",
              DefaultClass::kNumeric};
    }
    case 21:
      return {"FLOAT", DefaultClass::kNumeric};
    case 22:
      return {"TIME", DefaultClass::kTime};
    default:
      // Binary, OLE, memo, attachments and multi-value columns arrive as text; so does any
      // type this mapping does not know, rather than a definition the server rejects.
      return {"TEXT", DefaultClass::kText};
  }
}

// The number at the start of a default text, as the engine's Val reads it: sign, digits, "."
// and an exponent; the rest is ignored, and no number at all gives 0.
double LeadingNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits_start = i;
  while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.'))
    ++i;
  if (i == digits_start) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
      while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
      i = j;
    }
  }
  double v = 0;
  const char* b = text.data() + digits_start;
  std::from_chars(b, text.data() + i, v);
  return text[start] == '-' ? -v : v;
}

// A number as Access writes one in a default: sign, digits with "." and an exponent.
bool IsNumberLiteral(const std::string& text) {
  static const std::regex kNumber(R"([+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)");
  return std::regex_match(text, kNumber);
}

// The text of a string literal between double or single quotes, each doubled quote inside
// made one; nothing when the text is not exactly one such literal ("a" & "b" is two).
std::optional<std::string> StringLiteral(const std::string& text) {
  if (text.size() < 2 || (text[0] != '"' && text[0] != '\'') || text.back() != text[0])
    return std::nullopt;
  const char quote = text[0];
  std::string inner;
  for (size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == quote) {
      if (i + 2 >= text.size() || text[i + 1] != quote) return std::nullopt;
      ++i;
    }
    inner += text[i];
  }
  return inner;
}

// What DEFAULT gets for an Access default value, or nothing when the value is an expression
// PostgreSQL has no exact form of for the column's type.
std::optional<std::string> DefaultClause(const std::string& access_text, DefaultClass type) {
  std::string text = Trim(access_text);
  // Access keeps the "=" when the user types it so; the value is the same without it.
  if (!text.empty() && text[0] == '=') text = Trim(text.substr(1));
  std::string word = AsciiUpper(ReplaceAll(text, " ", ""));
  if (word == "NULL") return "NULL";
  const bool now = word == "NOW()";
  const bool date = word == "DATE()" || word == "DATE$()";
  const bool time = word == "TIME()" || word == "TIME$()";
  const std::optional<std::string> quoted = StringLiteral(text);
  switch (type) {
    case DefaultClass::kNumeric:
      if (quoted && IsNumberLiteral(Trim(*quoted))) text = Trim(*quoted);
      if (word == "TRUE" || word == "YES") return "-1";
      if (word == "FALSE" || word == "NO") return "0";
      if (!IsNumberLiteral(text)) return std::nullopt;
      if (text[0] == '+') text.erase(0, 1);
      // Whole numbers keep every digit; a double would round a big integer.
      if (text.find_first_not_of("-0123456789") == std::string::npos) return text;
      {
        double number = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
        // 1e999 is no double: 'Infinity' would be read by no integer or numeric column.
        if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
        return SqlNumber(Value(number));
      }
    case DefaultClass::kBoolean:
      // The scan leaves a boolean's default as 1, 0, NULL or empty.
      return SqlString(Value(LeadingNumber(text)));
    case DefaultClass::kText:
      if (quoted) return SqlString(Value(*quoted));
      if (IsNumberLiteral(text)) return SqlString(Value(text));
      return std::nullopt;
    case DefaultClass::kDateTime:
    case DefaultClass::kTime: {
      const bool time_only = type == DefaultClass::kTime;
      // Access's Now() is local time without a zone; Time() alone is on its day 0.
      if (now) return time_only ? "LOCALTIME" : "LOCALTIMESTAMP";
      if (date) return time_only ? "TIME '00:00:00'" : "CURRENT_DATE";
      if (time) return time_only ? "LOCALTIME" : "DATE '1899-12-30' + LOCALTIME";
      if (auto iso = IsoFromDateLiteral(text, time_only)) return SqlString(Value(*iso));
      if (IsNumberLiteral(text) && OleDateInRange(LeadingNumber(text))) {
        // A number is the serial of a date.
        std::string iso = SqlDateTime(Value::Date(LeadingNumber(text)));
        return time_only ? "'" + iso.substr(12) : iso;
      }
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// Names of the columns in the primary key. A malformed index is no key here: it fails when
// the indexes are written, and only if they are.
std::unordered_set<std::string> PrimaryKeyColumns(const SchemaTable& table) {
  std::unordered_set<std::string> names;
  for (const SchemaIndex& index : table.indexes) {
    if (!index.primary.has_value() || !index.primary.value()) continue;
    for (const SchemaIndexField& field : index.fields)
      if (field.name.has_value()) names.insert(field.name.value());
  }
  return names;
}

constexpr size_t kMaxName = 63;  // PostgreSQL keeps this many bytes of a name

// The first bytes of the text, at most `bytes`, not ending inside a UTF-8 character.
std::string CutToBytes(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return text.substr(0, bytes);
}

// The name the server gives an object of its own making (a key's index, a serial's
// sequence): both parts cut, the longer first, until "name1_name2_label" fits.
std::string ServerObjectName(const std::string& name1, const std::string& name2,
                             const std::string& label) {
  size_t overhead = label.size() + 1 + (name2.empty() ? 0 : 1);
  size_t chars1 = name1.size(), chars2 = name2.size();
  while (chars1 + chars2 > kMaxName - overhead) (chars1 > chars2 ? chars1 : chars2)--;
  std::string name = CutToBytes(name1, chars1);
  if (!name2.empty()) name += "_" + CutToBytes(name2, chars2);
  return name + "_" + label;
}

// The server cuts names to 63 bytes, so two long index names that share their first 63
// bytes would collide and the second CREATE INDEX would fail. A name that is taken in the
// schema gets a number.
std::string IndexName(const std::string& destination_table, const std::string& index_name,
                      std::unordered_set<std::string>* schema_names) {
  const std::string wanted = ShortenedName(destination_table + "_" + index_name);
  return schema_names ? NumberedName(wanted, *schema_names) : wanted;
}

}  // namespace

// Access writes a date default as a literal between # signs, month first, with an optional
// 12-hour clock: #1/15/2020#, #1/15/2020 3:04:05 PM#, #10:30:00#. The server reads none of
// these, and a default it cannot read makes it refuse the whole table, so they go as ISO text.
// Nothing when the text is no such literal.
std::optional<std::string> IsoFromDateLiteral(const std::string& text, bool time_only) {
  if (text.size() < 3 || text.front() != '#' || text.back() != '#') return std::nullopt;
  std::string inner = Trim(text.substr(1, text.size() - 2));
  std::string upper = AsciiUpper(inner);
  int meridiem = 0;  // 1 before noon, 2 after
  if (upper.ends_with("AM") || upper.ends_with("PM")) {
    meridiem = upper.ends_with("AM") ? 1 : 2;
    inner = Trim(inner.substr(0, inner.size() - 2));
  }
  std::optional<double> serial = ParseDateText(inner);
  if (!serial) return std::nullopt;
  DateTimeFields fields = OleDateToFields(*serial);
  if (meridiem) {
    if (fields.hour < 1 || fields.hour > 12) return std::nullopt;
    fields.hour = fields.hour % 12 + (meridiem == 2 ? 12 : 0);
  }
  std::string iso = FormatIsoDateTime(fields);
  return time_only ? iso.substr(11) : iso;
}

std::vector<std::string> ServerGeneratedNames(const SchemaTable& table,
                                              const std::string& destination_table,
                                              const DefinitionOptions& options) {
  std::vector<std::string> names;
  for (const SchemaField& field : table.fields)
    if (options.transfer_autonumbers && field.autonumber() && field.name.has_value())
      names.push_back(ServerObjectName(
          destination_table,
          ShortenedName(FoldIdentifier(field.name.value(), options.identifier_case)), "seq"));
  for (const SchemaIndex& index : table.indexes) {
    if (index.foreign || !index.primary.has_value() || !index.unique.has_value()) continue;
    if (index.primary.value()) {
      names.push_back(ServerObjectName(destination_table, "", "pkey"));
    } else if (index.unique.value()) {
      std::string columns;
      for (const SchemaIndexField& field : index.fields)
        if (field.name.has_value())
          columns += (columns.empty() ? "" : "_") +
                     ShortenedName(FoldIdentifier(field.name.value(), options.identifier_case));
      names.push_back(ServerObjectName(destination_table, CutToBytes(columns, kMaxName), "key"));
    }
  }
  return names;
}

std::string ShortenedName(const std::string& name, std::unordered_set<std::string>* taken) {
  if (name.size() <= kMaxName) {
    if (taken) taken->insert(name);
    return name;
  }
  size_t keep = kMaxName - 9;
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  uint32_t hash = 2166136261u;  // FNV-1a of the whole name
  for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
  for (;;) {
    char suffix[10];
    std::snprintf(suffix, sizeof suffix, "_%08x", hash);
    std::string shortened = name.substr(0, keep) + suffix;
    if (!taken || taken->insert(shortened).second) return shortened;
    hash = (hash ^ 0xFFu) * 16777619u;  // taken already: the next hash in the same chain
  }
}

// The server names the sequence when the table is created: table_column_seq, but with a
// number added when that name is taken ("Order"."Line_ID" and "Order_Line"."ID" both want
// Order_Line_ID_seq) and cut when it is long. Only the server can say which it chose, also
// when a dump is loaded.
std::string SequenceStatement(const std::string& destination_table, const std::string& column) {
  return "SELECT setval(pg_get_serial_sequence(" + SqlString(QuoteIdentifier(destination_table)) +
         ", " + SqlString(column) + "), MAX(" + QuoteIdentifier(column) + ")) FROM " +
         QuoteIdentifier(destination_table);
}

namespace {

// The source names of a table's fields and which of them the selection lists.
struct SourceColumns {
  std::vector<std::string> names;
  std::vector<bool> listed;
};

// Names every field at the destination (into def.destination_columns) and writes the column
// lists of the listed ones. Raises the error of a field's Name.
SourceColumns ListColumns(const SchemaTable& table, const std::string& source_table,
                          const DefinitionOptions& options, TableDefinition& def) {
  SourceColumns columns;
  for (const SchemaField& field : table.fields) {
    columns.names.push_back(field.name.value());
    columns.listed.push_back(options.IsColumnSelected(source_table, columns.names.back()));
  }
  const std::vector<std::string>& names = columns.names;
  std::unordered_set<std::string> taken;
  const std::vector<std::string> given = DistinctNames(names, options.identifier_case, taken);
  for (size_t i = 0; i < names.size(); ++i) def.destination_columns[names[i]] = given[i];
  for (size_t i = 0; i < names.size(); ++i) {
    if (!columns.listed[i]) continue;
    if (!def.source_column_list.empty()) {
      def.source_column_list += ", ";
      def.destination_column_list += ", ";
    }
    def.source_column_list += "[" + names[i] + "]";
    def.destination_column_list += QuoteIdentifier(def.destination_columns[names[i]]);
  }
  return columns;
}

// Appends the definition of one column, named `source_name` at the source, to the open table
// text and records what the run needs of it. Raises the error of the field's Type.
void AddColumn(const SchemaField& field, const std::string& source_name, bool in_primary_key,
               const std::string& destination_table, const DefinitionOptions& options, bool first,
               TableDefinition& def) {
  const std::string& name = def.destination_columns[source_name];
  const std::string folded = FoldIdentifier(source_name, options.identifier_case);
  if (folded.size() > kMaxName)
    def.shortened_columns.emplace_back(source_name, name);
  else if (name != folded)
    def.renamed_columns.emplace_back(source_name, name);
  def.create_text += first ? "\r\n  " : ", \r\n  ";
  def.create_text += QuoteIdentifier(name);

  const int32_t type = field.type.value();
  def.column_types[source_name] = type == 0 ? field.stored_type : type;
  const bool required = field.required;
  def.required.push_back(required);

  const bool autonumber = options.transfer_autonumbers && field.autonumber();
  MappedType mapped = MapType(type, field.size, field.scale, options.storage_engine);
  // A calculated decimal stores a scale with each value and none for the column: only an
  // unconstrained numeric holds every value exactly.
  if (type == 20 && !field.expression.empty()) mapped.text = "DECIMAL";

  if (autonumber) {
    mapped.text = "SERIAL";
    def.sequence_statements.push_back(SequenceStatement(destination_table, name));
  }

  def.create_text += ' ';
  if (required || in_primary_key) {
    def.create_text += ReplaceAll(mapped.text, " NULL", "");
    def.create_text += " NOT NULL";
  } else {
    def.create_text += mapped.text;
  }

  // SERIAL brings its own default; a second one makes the server reject the table.
  if (options.transfer_default_values && !autonumber && !Trim(field.default_value).empty()) {
    if (auto clause = DefaultClause(field.default_value, mapped.default_class))
      def.create_text += " DEFAULT " + *clause;
    else
      def.dropped_defaults.emplace_back(source_name, field.default_value);
  }
  if (autonumber) def.autonumber_column = name;
}

}  // namespace

TableDefinition BuildTableDefinition(const SchemaTable& table, const std::string& source_table,
                                     const std::string& destination_table,
                                     const DefinitionOptions& options) {
  TableDefinition def;
  def.create_text = "CREATE TABLE " + QuoteIdentifier(destination_table) + " (";
  const SourceColumns columns = ListColumns(table, source_table, options, def);
  const bool all_columns = def.source_column_list.empty();
  const std::unordered_set<std::string> primary_key = PrimaryKeyColumns(table);
  bool first = true;
  for (size_t i = 0; i < table.fields.size(); ++i) {
    if (!all_columns && !columns.listed[i]) continue;
    const std::string& name = columns.names[i];
    AddColumn(table.fields[i], name, primary_key.count(name) != 0, destination_table, options,
              first, def);
    first = false;
  }
  return def;
}

std::string ColumnTypeText(const SchemaField& field, const DefinitionOptions& options) {
  MappedType mapped = MapType(field.type.value(), field.size, field.scale, options.storage_engine);
  if (options.transfer_autonumbers && field.autonumber()) mapped.text = "SERIAL";
  return ReplaceAll(mapped.text, " NULL", "");
}

void AddIndexDefinitions(const SchemaTable& table, const std::string& source_table,
                         const std::string& destination_table, const DefinitionOptions& options,
                         TableDefinition& definition,
                         std::unordered_set<std::string>* schema_names) {
  if (!options.transfer_indexes || options.storage_engine == "brighthouse") return;
  const std::string quoted_table = QuoteIdentifier(destination_table);
  for (const SchemaIndex& index : table.indexes) {
    if (index.foreign) continue;
    const bool primary = index.primary.value();
    const bool unique = index.unique.value();
    const std::string& index_name = index.name.value();
    const bool plain = !primary && !unique;

    std::string clause;
    if (plain)
      clause = " ON " + quoted_table + " (";  // the name goes before it once it is written
    else
      clause = std::string(", \r\n  ") + (primary ? "PRIMARY KEY" : "UNIQUE") + " (";
    bool skipped = false;
    int columns = 0;
    for (const SchemaIndexField& field : index.fields) {
      const std::string& column = field.name.value();
      if (!options.IsColumnSelected(source_table, column)) skipped = true;
      // Every column of the table has its destination name, listed or not.
      auto destination = definition.destination_columns.find(column);
      if (destination == definition.destination_columns.end())
        throw Error(errc::kObjectNotSet, "The index '" + index_name + "' of table '" +
                                             source_table + "' names the column '" + column +
                                             "', which the table lacks");
      if (columns++) clause += ", ";
      // Memo columns too are indexed whole: PostgreSQL has no prefix length.
      clause += QuoteIdentifier(destination->second);
      // Key constraints have no order; an index keeps the one Access stores.
      if (plain && field.descending) clause += " DESC";
    }
    clause += ")";
    // An index without key columns cannot be written; the server would reject it.
    if (skipped || columns == 0) continue;
    if (plain) {
      // Named only now: an index that is not written takes no name from the schema.
      const std::string folded = FoldIdentifier(index_name, options.identifier_case);
      const std::string name = IndexName(destination_table, folded, schema_names);
      if (name != ShortenedName(destination_table + "_" + folded))
        definition.renamed_indexes.emplace_back(index_name, name);
      definition.index_statements.push_back("CREATE INDEX " + QuoteIdentifier(name) + clause);
    } else
      definition.create_text += clause;
  }
}

}  // namespace ferrolyte

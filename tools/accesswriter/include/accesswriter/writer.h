// Writes Microsoft Access database files (Jet 4 .mdb and ACE 12 .accdb) for tests,
// benchmarks and the bundled sample. Rows are streamed: each table keeps only its
// current data page in memory, so tables of millions of rows cost a few kilobytes.
//
// Typical use:
//
//   accesswriter::DatabaseWriter db("shop.mdb");
//   accesswriter::Table t{.name = "Customers"};
//   t.columns.push_back({.name = "Id", .type = accesswriter::ColumnType::kLong,
//                        .auto_number = accesswriter::AutoNumber::kIncrement});
//   t.columns.push_back({.name = "Name", .type = accesswriter::ColumnType::kText, .size = 50});
//   t.indexes.push_back({.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
//   accesswriter::TableWriter& rows = db.AddTable(t);
//   rows.AddRow({nullptr, "Zoë"});  // null auto-number gets the next number
//   db.Finish();
#ifndef FERROLYTE_TOOLS_ACCESSWRITER_WRITER_H_
#define FERROLYTE_TOOLS_ACCESSWRITER_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace accesswriter {

// Every failure (bad description, value that does not fit, I/O error) throws this.
class WriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// File flavour. kAce12 writes the Access 2007 header version; the page layout is the same.
enum class Format { kJet4, kAce12 };

// Column types with the type codes stored in the table definition.
enum class ColumnType : std::uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,  // 16-bit
  kLong = 0x04,     // 32-bit
  kCurrency = 0x05,
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,  // up to 255 bytes, in the row
  kText = 0x0A,    // up to 255 characters, in the row
  kOle = 0x0B,     // long binary
  kMemo = 0x0C,    // long text
  kGuid = 0x0F,    // replication id
  kDecimal = 0x10,
  kBigInt = 0x13,  // Large Number; Format::kAce12 only
  // Date/Time Extended; Format::kAce12 only. 42 ASCII bytes: days since 0001-01-01, ":",
  // 100 ns ticks into the day (19 digits each), ":7" and a NUL.
  kDateTimeExtended = 0x14,
  // An attachment or multi-value column (Column::complex says which); Format::kAce12 only.
  // The row holds a key; the files or values live in a hidden table of their own.
  kComplex = 0x12,
  // Any other code (static_cast<ColumnType>(0x46)) writes a column of a type readers may
  // not know, as newer Access versions do: its values are bytes, `size` of them (1..255),
  // stored in the row at a fixed place with `fixed_length`, else with the variable ones.
};

enum class ComplexKind { kNone, kAttachment, kMultiValue };

enum class AutoNumber {
  kNone,
  kIncrement,  // kLong columns: a null value gets the previous number + 1
  kGuid,       // kGuid columns: a null value gets a random GUID
};

// A property stored in the column's or table's LvProp blob beyond the named fields.
struct TextProperty {
  std::string name;
  std::string value;
};

struct Column {
  std::string name;
  ColumnType type = ColumnType::kText;
  // kText: characters (1..255, default 255); kBinary: bytes (1..255, default 255).
  // Ignored for the other types, whose size is fixed.
  int size = 0;
  // kText/kBinary only: store the column at a fixed position with a fixed length.
  bool fixed_length = false;
  // Not nullable, and the Required property set to true.
  bool required = false;
  AutoNumber auto_number = AutoNumber::kNone;
  // kDecimal only.
  int precision = 18;
  int scale = 0;
  // The DefaultValue expression as Access shows it: "0", "\"none\"", "Now()".
  std::optional<std::string> default_value;
  // The Description property; empty writes none.
  std::string description;
  // Further text properties (Caption, Format, InputMask ...).
  std::vector<TextProperty> properties;
  // Makes a calculated column (Format::kAce12 only): the Expression property, with `type`
  // as the result type (boolean, byte, integer, long, bigint, currency, single, double,
  // datetime, guid, decimal, text or memo). The writer computes nothing: each row gives the
  // result, which is stored wrapped (16 header bytes, its length, the value, 3 bytes).
  std::optional<std::string> expression;
  // kComplex: what the column holds, and for kMultiValue the type of each value (byte,
  // integer, long, single, double, guid, decimal or text).
  ComplexKind complex = ComplexKind::kNone;
  ColumnType value_type = ColumnType::kText;
  // The AllowZeroLength property (text and memo columns); unset writes none.
  std::optional<bool> allow_zero_length;
};

struct IndexColumn {
  std::string column;
  bool descending = false;  // stored with order flag 0x00 instead of 0x01
};

struct Index {
  std::string name;
  std::vector<IndexColumn> columns;
  bool primary_key = false;  // implies unique and required
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
};

// How a deleted row's entry is left in its page's row offset table: flagged 0xC000, with an
// offset readers must not take for a row's bounds.
enum class DeletedRow {
  kAtPrevious,  // the previous entry's offset (the page's end at row 0), as Access leaves it
  kAtPageEnd,   // the page size, wherever the entry is
  kKeepsBytes,  // the row's own bytes, still on the page
};

struct Table {
  std::string name;
  std::vector<Column> columns;
  std::vector<Index> indexes;
  std::string description;
  bool hidden = false;  // catalog flag 0x8
  bool system = false;  // catalog flags 0x80000002; the name usually starts with "MSys"
  std::vector<TextProperty> properties;
  // The row count the definition stores; by default the rows written. Access leaves it
  // stale (higher or lower than the live rows) after interrupted edits.
  std::optional<std::uint32_t> stored_rows;
  // Lays the indexes out as Access does: indexes on the same columns with the same flags
  // share one physical index, and the logical entries are stored sorted by name, each
  // keeping the number of its place in `indexes`, so that neither number is its place.
  bool access_index_layout = false;
};

// A table that lives elsewhere. With `database` set it links to another Access file
// (catalog type 6); with only `connect` set it is an ODBC link (catalog type 4).
struct LinkedTable {
  std::string name;
  std::string foreign_name;  // name in the other database; defaults to `name`
  std::string database;      // path of the other Access file
  std::string connect;       // e.g. "ODBC;DSN=shop;DATABASE=shop" or ";PWD=..." for Access
  bool hidden = false;
};

// A relationship between two written tables. Writes MSysRelationships rows and, when
// `enforce` is set, a foreign-key index named `name` on the foreign table.
struct Relationship {
  std::string name;
  std::string primary_table;
  std::vector<std::string> primary_columns;
  std::string foreign_table;
  std::vector<std::string> foreign_columns;
  bool enforce = true;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

// Calendar fields of a Date/Time value; converted to the OLE date double, or for a
// Date/Time Extended column to days and 100 ns ticks (the second rounded to 7 decimals).
struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  double second = 0;
};

// Returns the OLE automation date (days since 1899-12-30) of `t`.
double ToOleDate(const DateTime& t);

// One field value. Text is UTF-8. Currency and decimal go as decimal text ("-12.5").
struct Attachment;

class Value {
 public:
  enum class Kind {
    kNull,
    kBool,
    kInt,
    kDouble,
    kText,
    kBytes,
    kDate,
    kDecimal,
    kGuid,
    kAttachments,
    kItems
  };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : kind_(Kind::kBool), int_(b ? 1 : 0) {}
  Value(int i) : kind_(Kind::kInt), int_(i) {}
  Value(std::int64_t i) : kind_(Kind::kInt), int_(i) {}
  Value(double d) : kind_(Kind::kDouble), double_(d) {}
  Value(const char* utf8) : kind_(Kind::kText), text_(utf8) {}
  Value(std::string utf8) : kind_(Kind::kText), text_(std::move(utf8)) {}
  Value(std::string_view utf8) : kind_(Kind::kText), text_(utf8) {}

  static Value Null() { return Value(); }
  static Value Bytes(std::vector<std::uint8_t> bytes);
  // `ole` is days since 1899-12-30, fraction = time of day.
  static Value Date(double ole);
  // Keeps the fields too, so that a Date/Time Extended column stores them exactly.
  static Value Date(const DateTime& t);
  // For kCurrency and kDecimal columns: "123.4567", "-0.5".
  static Value Decimal(std::string text);
  // "{6F9619FF-8B86-D011-B42D-00C04FC964FF}" with or without braces.
  static Value Guid(std::string text);
  // For an attachment column: its files, in order.
  static Value Attachments(std::vector<Attachment> files);
  // For a multi-value column: its values, each of the column's value_type.
  static Value Items(std::vector<Value> items);

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::kNull; }
  std::int64_t as_int() const { return int_; }
  double as_double() const { return double_; }
  // Text of kText, kDecimal and kGuid values.
  const std::string& as_text() const { return text_; }
  const std::vector<std::uint8_t>& as_bytes() const { return bytes_; }
  // The fields of a kDate value made from a DateTime.
  const std::optional<DateTime>& date_fields() const { return date_fields_; }
  const std::vector<Attachment>& as_attachments() const;
  const std::vector<Value>& as_items() const { return items_; }

 private:
  Kind kind_ = Kind::kNull;
  std::int64_t int_ = 0;
  double double_ = 0;
  std::string text_;
  std::vector<std::uint8_t> bytes_;
  std::optional<DateTime> date_fields_;
  std::shared_ptr<const std::vector<Attachment>> attachments_;
  std::vector<Value> items_;
};

// One file of an attachment column.
struct Attachment {
  std::string file_name;  // the file type is what follows its last "."
  std::vector<std::uint8_t> data;
  // Access deflates a file unless its kind is compressed already (jpg, zip, ...).
  bool compress = true;
};

// The FileData value Access stores for a file: a 4-byte kind (1 deflated, 0 as it is), the
// length of what follows once inflated, then a header (its length, 1, the characters of the
// file type with its NUL, the type in UTF-16) and the file's bytes, deflated or not.
std::vector<std::uint8_t> AttachmentFileData(const Attachment& file);

// Saved queries. The kinds are the Flag of the query's attribute-1 row in MSysQueries.
enum class QueryKind {
  kSelect = 1,
  kMakeTable = 2,
  kAppend = 3,
  kUpdate = 4,
  kDelete = 5,
  kCrosstab = 6,
  kDataDefinition = 7,
  kPassThrough = 8,
  kUnion = 9,
};

// One row of MSysQueries: attribute 0 starts a query, 255 ends it; the others are listed at
// QueryRows.
struct QueryRow {
  int attribute = 0;
  int flag = 0;
  std::string name1, name2, expression;
};

struct QueryTable {
  std::string name;   // a table or another query
  std::string alias;  // empty for none
};
struct QueryColumn {
  std::string expression;  // "[Orders].[Amount]*2", "Sum([Qty])", "Orders.*"
  std::string alias;
  // A crosstab's value (1) and column heading (2); an action query's target column is the
  // alias.
  int flag = 0;
};
enum class JoinKind { kInner = 1, kLeft = 2, kRight = 3 };
struct QueryJoin {
  std::string left, right;  // table names or aliases
  std::string on;           // "[A].[Id]=[B].[AId]"
  JoinKind kind = JoinKind::kInner;
};
struct QueryOrder {
  std::string expression;
  bool descending = false;
};
struct QueryParameter {
  std::string name;
  int type = 10;  // DAO field type
};

struct Query {
  std::string name;
  QueryKind kind = QueryKind::kSelect;
  std::vector<QueryParameter> parameters;
  bool distinct = false;
  bool distinct_row = false;
  std::string top;  // "10"; empty: no TOP
  bool top_percent = false;
  std::vector<QueryTable> tables;
  std::vector<QueryColumn> columns;  // none: every column (SELECT *)
  std::vector<QueryJoin> joins;
  std::string where;
  std::vector<std::string> group_by;
  std::string having;
  std::vector<QueryOrder> order_by;
  std::string target;   // make-table and append queries: the table written
  std::string sql;      // pass-through and data-definition queries: the statement
  std::string connect;  // pass-through queries: "ODBC;DSN=..."
  // Union queries: each SELECT statement (the last may end in ORDER BY).
  std::vector<std::string> union_parts;
  bool union_all = false;
  // Rows added as they are, before the end row (forms the fields above do not cover).
  std::vector<QueryRow> extra_rows;
};

// The MSysQueries rows Access stores for a query, in order: 0 start; 1 kind (Flag; Name1
// the target table; Expression the statement of pass-through and data-definition queries);
// 2 each parameter (Name1, Flag its type); 3 (Flag: 1 every column, 2 DISTINCT, 8
// DISTINCTROW, 16 TOP with Name1 the number, 32 PERCENT; a union query 1 for UNION ALL, 3
// for UNION); 4 the connect string of a pass-through query (Expression); 5 each table (Name1,
// Name2 the alias; Expression a union's SELECT); 6 each output column (Expression, Name1 the
// alias); 7 each join (Name1 and Name2 the two tables, Expression the condition, Flag 1 inner,
// 2 left, 3 right); 8 WHERE; 9 each GROUP BY expression; 10 HAVING; 11 each ORDER BY
// expression (Name1 "D" descending); 255 end.
std::vector<QueryRow> QueryRows(const Query& query);

// The MSysObjects Flags Access gives a query of that kind.
int QueryObjectFlags(QueryKind kind);

// How DatabaseOptions::encrypt encrypts the pages (page 0 holds the header of each).
enum class Encryption {
  kAgile,         // Office agile, AES-256-CBC and SHA-512 (Access 2010 and later)
  kStandard,      // CryptoAPI AES-128-ECB, SHA-1 iterated 50000 times (header 4.2)
  kNonStandard,   // CryptoAPI AES-256-ECB named without the AES flag, SHA-1 not iterated
  kRc4CryptoApi,  // CryptoAPI RC4 with a 40-bit key (Access 2007)
  kOfficeRc4,     // Office binary-document RC4 with MD5 (header 1.1)
};

struct DatabaseOptions {
  Format format = Format::kJet4;
  // Database password (at most 20 characters, 255 when encrypted); empty for none.
  std::string password;
  // Encrypt the whole file with the password (by default Office agile encryption: AES-256,
  // SHA-512), as Access 2010 and later do for an .accdb with a password. kAce12 only; the
  // header then holds no password of its own.
  bool encrypt = false;
  Encryption encryption = Encryption::kAgile;
  // Rounds of the agile password key derivation; Access uses 100000.
  std::uint32_t spin_count = 100000;
  // Creation date stored in the header; also the key of the password mask.
  double creation_date = 45000.5;
  // Damages a system table that holds rows ("MSysRelationships", "MSysQueries",
  // "MSysComplexColumns") as a broken file would: the entry of its last page's first row
  // points past the end of the page. Empty damages nothing.
  std::string damaged_table;
};

class DatabaseWriter;
namespace internal {
struct TableState;
struct DatabaseState;
}  // namespace internal

// Streams the rows of one table to disk. Owned by its DatabaseWriter.
class TableWriter {
 public:
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;
  ~TableWriter();

  // Appends one row; `values` holds one value per column in column order.
  // Throws WriteError when a value does not fit its column.
  void AddRow(std::span<const Value> values);
  void AddRow(std::initializer_list<Value> values) {
    AddRow(std::span<const Value>(values.begin(), values.size()));
  }
  // Leaves the entry of a deleted row on the current data page; `values` (one per column)
  // are the bytes kept by DeletedRow::kKeepsBytes and ignored otherwise.
  void AddDeletedRow(DeletedRow form, std::span<const Value> values = {});
  void AddDeletedRow(DeletedRow form, std::initializer_list<Value> values) {
    AddDeletedRow(form, std::span<const Value>(values.begin(), values.size()));
  }
  // Appends a row as Access leaves one that outgrew its page: its entry (flagged 0x4000)
  // holds where it went, a row of another data page of the table, flagged 0x8000 there.
  void AddMovedRow(std::span<const Value> values);
  void AddMovedRow(std::initializer_list<Value> values) {
    AddMovedRow(std::span<const Value>(values.begin(), values.size()));
  }
  // Number of rows added so far.
  std::uint64_t row_count() const;
  const Table& table() const;

 private:
  friend class DatabaseWriter;
  explicit TableWriter(std::unique_ptr<internal::TableState> state);
  std::unique_ptr<internal::TableState> state_;
};

// Writes one database file. The file is complete only after Finish(); a writer destroyed
// before that removes the partial file.
class DatabaseWriter {
 public:
  // Creates (or truncates) `path`. Throws WriteError if it cannot.
  explicit DatabaseWriter(const std::filesystem::path& path, DatabaseOptions options = {});
  DatabaseWriter(const DatabaseWriter&) = delete;
  DatabaseWriter& operator=(const DatabaseWriter&) = delete;
  ~DatabaseWriter();

  // Declares a table and returns its row writer, valid until this writer is destroyed.
  // Rows of different tables may be interleaved.
  TableWriter& AddTable(const Table& table);
  // Adds a catalog entry for a table in another database.
  void AddLinkedTable(const LinkedTable& link);
  // Adds a relationship; both tables must have been added by Finish().
  void AddRelationship(const Relationship& relationship);
  // Adds a saved query (catalog type 5 and its MSysQueries rows).
  void AddQuery(const Query& query);
  // Writes the table definitions, catalog and header, and closes the file.
  void Finish();

 private:
  std::unique_ptr<internal::DatabaseState> state_;
};

// A whole database held in memory, for descriptions read from JSON or built in tests.
struct TableContent {
  Table table;
  std::vector<std::vector<Value>> rows;
  // Rows (by index into `rows`) written with AddMovedRow.
  std::vector<std::size_t> moved_rows;
  // Deleted entries, each written just before row `before` (rows.size(): after the last).
  struct Deleted {
    std::size_t before = 0;
    DeletedRow form = DeletedRow::kAtPrevious;
    std::vector<Value> values;  // DeletedRow::kKeepsBytes only
  };
  std::vector<Deleted> deleted_rows;
};

struct DatabaseDescription {
  DatabaseOptions options;
  std::vector<TableContent> tables;
  std::vector<LinkedTable> linked_tables;
  std::vector<Relationship> relationships;
  std::vector<Query> queries;
};

// Writes `description` to `path` (all tables, links and relationships, then Finish()).
void WriteDatabase(const std::filesystem::path& path, const DatabaseDescription& description);

}  // namespace accesswriter

#endif  // FERROLYTE_TOOLS_ACCESSWRITER_WRITER_H_

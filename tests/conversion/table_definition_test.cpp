#include "conversion/table_definition.h"

#include <gtest/gtest.h>

#include "conversion/literals.h"
#include "conversion_fixtures.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/text.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::FieldSpec;
using testing::IndexSpec;
using testing::ParsedTable;
using testing::TableSpec;

DefinitionOptions OptionsSelecting(const std::vector<std::string>& entries) {
  DefinitionOptions o;
  o.selection.insert(entries.begin(), entries.end());
  return o;
}

TableSpec Orders() {
  return {"Orders",
          {{.name = "ID", .type = 4, .size = 4, .autonumber = true},
           {.name = "Name", .type = 10, .size = 50, .required = true},
           {.name = "Price", .type = 5, .size = 19, .scale = 4, .default_value = "0"},
           {.name = "CustomerID", .type = 4, .size = 4}},
          {{.name = "PrimaryKey", .columns = {"ID"}, .primary = true},
           {.name = "CustomerID", .columns = {"CustomerID"}}}};
}

TableDefinition Define(const TableSpec& spec, const DefinitionOptions& options,
                       const std::string& prefix = "") {
  const SchemaTable table = ReadSchemaTable(ParsedTable(spec).node);
  TableDefinition def = BuildTableDefinition(table, spec.name, prefix + spec.name, options);
  AddIndexDefinitions(table, spec.name, prefix + spec.name, options, def);
  def.create_text += "\r\n)";
  return def;
}

// The definition of the single column of a table "T" that lists no columns.
std::string ColumnLine(const FieldSpec& field,
                       DefinitionOptions options = OptionsSelecting({"T"})) {
  TableDefinition def = BuildTableDefinition(ReadSchemaTable(ParsedTable({"T", {field}, {}}).node),
                                             "T", "T", options);
  const std::string head = "CREATE TABLE \"T\" (\r\n  ";
  EXPECT_EQ(def.create_text.substr(0, head.size()), head);
  return def.create_text.substr(head.size());
}

TEST(TableDefinitionTest, OrdersExample) {
  TableSpec spec = Orders();
  spec.fields.pop_back();
  spec.indexes.pop_back();
  TableDefinition def =
      Define(spec, OptionsSelecting({"Orders", "Orders\\ID", "Orders\\Name", "Orders\\Price"}));
  EXPECT_EQ(def.create_text,
            "CREATE TABLE \"Orders\" (\r\n"
            "  \"ID\" SERIAL NOT NULL, \r\n"
            "  \"Name\" VARCHAR(50) NOT NULL, \r\n"
            "  \"Price\" NUMERIC(19,4) DEFAULT 0, \r\n"
            "  PRIMARY KEY (\"ID\")\r\n"
            ")");
  EXPECT_EQ(def.sequence_statements,
            std::vector<std::string>{"SELECT setval(pg_get_serial_sequence(E'\"Orders\"', E'ID'), "
                                     "MAX(\"ID\")) FROM \"Orders\""});
  EXPECT_EQ(def.autonumber_column, "ID");
  EXPECT_EQ(def.source_column_list, "[ID], [Name], [Price]");
  EXPECT_EQ(def.destination_column_list, "\"ID\", \"Name\", \"Price\"");
  EXPECT_EQ(def.required, (std::vector<bool>{false, true, false}));
}

TEST(TableDefinitionTest, TypeMapping) {
  struct Case {
    int type, size, scale;
    bool required;
    const char* expected;
  } cases[] = {
      {1, 1, 0, false, "BOOLEAN"},
      {2, 1, 0, false, "SMALLINT"},
      {3, 2, 0, false, "INTEGER"},
      {4, 4, 0, false, "INTEGER"},
      {5, 19, 2, false, "NUMERIC(19,4)"},
      {6, 4, 0, false, "FLOAT NULL"},
      {6, 4, 0, true, "FLOAT NOT NULL"},
      {7, 8, 0, false, "DOUBLE PRECISION NULL"},
      {7, 8, 0, true, "DOUBLE PRECISION NOT NULL"},
      {8, 8, 0, false, "TIMESTAMP"},
      {9, 255, 0, false, "TEXT"},
      {10, 50, 0, true, "VARCHAR(50) NOT NULL"},
      {11, 0, 0, false, "TEXT"},
      {12, 0, 0, false, "TEXT"},
      {15, 16, 0, false, "VARCHAR(38)"},
      {16, 8, 0, false, "BIGINT"},
      {17, 510, 0, false, "TEXT"},
      {18, 10, 0, false, "CHAR(10)"},
      {19, 8, 0, false, "DOUBLE PRECISION"},
      {20, 28, 6, false, "DECIMAL(28,6)"},
      {21, 8, 0, false, "FLOAT"},
      {22, 8, 0, false, "TIME"},
      {23, 8, 0, false, "TIMESTAMP"},
      {101, 0, 0, false, "TEXT"},
      {102, 0, 0, false, "TEXT"},
      {109, 0, 0, false, "TEXT"},
      // Unknown codes get a type the server accepts, so the table and its rows survive.
      {13, 0, 0, true, "TEXT NOT NULL"},
      {999, 0, 0, false, "TEXT"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ColumnLine({.name = "C",
                          .type = c.type,
                          .size = c.size,
                          .scale = c.scale,
                          .required = c.required}),
              std::string("\"C\" ") + c.expected)
        << "type " << c.type;
}

TEST(TableDefinitionTest, CalculatedColumnsAreOrdinaryColumnsOfTheirResultType) {
  // A decimal result keeps a scale per value, none for the column: no fixed scale fits all.
  EXPECT_EQ(ColumnLine({.name = "D", .type = 20, .size = 28, .scale = 0, .expression = "[a]/3"}),
            "\"D\" DECIMAL");
  EXPECT_EQ(ColumnLine({.name = "T", .type = 10, .size = 255, .expression = "[a] & [b]"}),
            "\"T\" VARCHAR(255)");
  EXPECT_EQ(ColumnLine({.name = "M", .type = 5, .size = 19, .scale = 4, .expression = "[p]*2"}),
            "\"M\" NUMERIC(19,4)");
}

TEST(TableDefinitionTest, BrighthouseCapsDecimalPrecision) {
  DefinitionOptions o = OptionsSelecting({"T"});
  o.storage_engine = "brighthouse";
  EXPECT_EQ(ColumnLine({.name = "D", .type = 20, .size = 28, .scale = 6}, o),
            "\"D\" DECIMAL(18,6)");
  EXPECT_EQ(ColumnLine({.name = "D", .type = 20, .size = 12, .scale = 2}, o),
            "\"D\" DECIMAL(12,2)");
}

TEST(TableDefinitionTest, ColumnSelection) {
  TableSpec spec = Orders();
  TableDefinition all = Define(spec, OptionsSelecting({"Orders"}));
  EXPECT_EQ(all.source_column_list, "");
  EXPECT_EQ(all.destination_column_list, "");
  EXPECT_EQ(all.required.size(), 4u);
  EXPECT_NE(all.create_text.find("\"CustomerID\" INTEGER"), std::string::npos);
  // A table without column entries gets no keys and no indexes.
  EXPECT_EQ(all.create_text.find("PRIMARY KEY"), std::string::npos);
  EXPECT_TRUE(all.index_statements.empty());

  // Listed columns are defined in the table's order, not the selection's.
  TableDefinition some =
      Define(spec, OptionsSelecting({"Orders", "Orders\\Price", "Orders\\Name", "orders\\ID"}));
  EXPECT_EQ(some.source_column_list, "[Name], [Price]");
  EXPECT_EQ(some.destination_column_list, "\"Name\", \"Price\"");
  EXPECT_EQ(some.create_text,
            "CREATE TABLE \"Orders\" (\r\n  \"Name\" VARCHAR(50) NOT NULL, \r\n"
            "  \"Price\" NUMERIC(19,4) DEFAULT 0\r\n)");
  EXPECT_TRUE(some.sequence_statements.empty());
}

// Each Access default with the column it arrives as; `dropped` when the column gets none.
struct DefaultCase {
  FieldSpec field;
  const char* expected;
  bool dropped = false;
};

const std::vector<DefaultCase>& DefaultCases() {
  static const std::vector<DefaultCase> cases = {
      // The date functions, with "=", spaces and any letter case, by the column's type.
      {{.name = "C", .type = 8, .default_value = "=Date()"},
       "\"C\" TIMESTAMP DEFAULT CURRENT_DATE"},
      {{.name = "C", .type = 8, .default_value = " =  now ( ) "},
       "\"C\" TIMESTAMP DEFAULT LOCALTIMESTAMP"},
      {{.name = "C", .type = 8, .default_value = "Time$()"},
       "\"C\" TIMESTAMP DEFAULT DATE '1899-12-30' + LOCALTIME"},
      {{.name = "C", .type = 23, .default_value = "DATE$()"},
       "\"C\" TIMESTAMP DEFAULT CURRENT_DATE"},
      {{.name = "C", .type = 22, .default_value = "=Time()"}, "\"C\" TIME DEFAULT LOCALTIME"},
      {{.name = "C", .type = 22, .default_value = "Now()"}, "\"C\" TIME DEFAULT LOCALTIME"},
      {{.name = "C", .type = 22, .default_value = "Date()"}, "\"C\" TIME DEFAULT TIME '00:00:00'"},
      // In a text or number column Access would store the date in its own form: no equal.
      {{.name = "C", .type = 10, .size = 20, .default_value = "now()"}, "\"C\" VARCHAR(20)", true},
      {{.name = "C", .type = 4, .default_value = "=Date()"}, "\"C\" INTEGER", true},
      {{.name = "C", .type = 1, .default_value = "1"}, "\"C\" BOOLEAN DEFAULT E'1'"},
      {{.name = "C", .type = 1, .default_value = "0"}, "\"C\" BOOLEAN DEFAULT E'0'"},
      {{.name = "C", .type = 1, .default_value = "NULL"}, "\"C\" BOOLEAN DEFAULT NULL"},
      {{.name = "C", .type = 10, .size = 9, .default_value = "\"abc\""},
       "\"C\" VARCHAR(9) DEFAULT E'abc'"},
      {{.name = "C", .type = 10, .size = 9, .default_value = "= \"abc\" "},
       "\"C\" VARCHAR(9) DEFAULT E'abc'"},
      {{.name = "C", .type = 10, .size = 9, .default_value = "'it''s'"},
       "\"C\" VARCHAR(9) DEFAULT E'it''s'"},
      {{.name = "C", .type = 10, .size = 9, .default_value = "\"say \"\"hi\"\"\""},
       "\"C\" VARCHAR(9) DEFAULT E'say \"hi\"'"},
      {{.name = "C", .type = 12, .default_value = "\"\""}, "\"C\" TEXT DEFAULT E''"},
      {{.name = "C", .type = 10, .size = 3, .default_value = "7"}, "\"C\" VARCHAR(3) DEFAULT E'7'"},
      // Expressions and broken literals.
      {{.name = "C", .type = 10, .size = 9, .default_value = "\""}, "\"C\" VARCHAR(9)", true},
      {{.name = "C", .type = 10, .size = 9, .default_value = "\"a\" & \"b\""},
       "\"C\" VARCHAR(9)",
       true},
      {{.name = "C", .type = 10, .size = 9, .default_value = "O'Neil"}, "\"C\" VARCHAR(9)", true},
      {{.name = "C", .type = 12, .default_value = "=UCase([Name])"}, "\"C\" TEXT", true},
      {{.name = "C", .type = 15, .default_value = "GenGUID()"}, "\"C\" VARCHAR(38)", true},
      {{.name = "C", .type = 10, .size = 20, .default_value = "#1/15/2020#"},
       "\"C\" VARCHAR(20)",
       true},
      // Numbers keep their value; a whole number every digit.
      {{.name = "C", .type = 7, .default_value = "0.5"}, "\"C\" DOUBLE PRECISION NULL DEFAULT .5"},
      {{.name = "C", .type = 7, .default_value = "=0.1"}, "\"C\" DOUBLE PRECISION NULL DEFAULT .1"},
      {{.name = "C", .type = 6, .default_value = "1.5e3"}, "\"C\" FLOAT NULL DEFAULT 1500"},
      {{.name = "C", .type = 16, .default_value = "+9007199254740993"},
       "\"C\" BIGINT DEFAULT 9007199254740993"},
      {{.name = "C", .type = 4, .default_value = "\"12\""}, "\"C\" INTEGER DEFAULT 12"},
      {{.name = "C", .type = 4, .default_value = "True"}, "\"C\" INTEGER DEFAULT -1"},
      {{.name = "C", .type = 4, .default_value = "Null"}, "\"C\" INTEGER DEFAULT NULL"},
      {{.name = "C", .type = 4, .default_value = "-12abc"}, "\"C\" INTEGER", true},
      {{.name = "C", .type = 4, .default_value = "1e999"}, "\"C\" INTEGER", true},
      {{.name = "C", .type = 4, .default_value = "=x"}, "\"C\" INTEGER", true},
      {{.name = "C", .type = 5, .size = 19, .default_value = "\"none\""},
       "\"C\" NUMERIC(19,4)",
       true},
      // Access's date literals and serials become timestamps the server reads.
      {{.name = "C", .type = 8, .default_value = "#1/15/2020#"},
       "\"C\" TIMESTAMP DEFAULT E'2020-01-15 00:00:00'"},
      {{.name = "C", .type = 8, .default_value = "=#12/31/1999 3:04:05 PM#"},
       "\"C\" TIMESTAMP DEFAULT E'1999-12-31 15:04:05'"},
      {{.name = "C", .type = 23, .default_value = "#2/29/2024 12:00:00 AM#"},
       "\"C\" TIMESTAMP DEFAULT E'2024-02-29 00:00:00'"},
      {{.name = "C", .type = 8, .default_value = "#10:30:00#"},
       "\"C\" TIMESTAMP DEFAULT E'1899-12-30 10:30:00'"},
      {{.name = "C", .type = 22, .default_value = "#12:30:00 PM#"},
       "\"C\" TIME DEFAULT E'12:30:00'"},
      {{.name = "C", .type = 8, .default_value = "0"},
       "\"C\" TIMESTAMP DEFAULT '1899-12-30 00:00:00'"},
      {{.name = "C", .type = 22, .default_value = "0.5"}, "\"C\" TIME DEFAULT '12:00:00'"},
      {{.name = "C", .type = 8, .default_value = "#2/30/2020#"}, "\"C\" TIMESTAMP", true},
      {{.name = "C", .type = 8, .default_value = "#13:00:00 PM#"}, "\"C\" TIMESTAMP", true},
      {{.name = "C", .type = 8, .default_value = "\"1/1/2000\""}, "\"C\" TIMESTAMP", true},
      {{.name = "C", .type = 8, .default_value = "=DateAdd(\"d\", 1, Date())"},
       "\"C\" TIMESTAMP",
       true},
      // SERIAL brings its own default: a second one is rejected by the server.
      {{.name = "C", .type = 4, .default_value = "0", .autonumber = true}, "\"C\" SERIAL"},
  };
  return cases;
}

TEST(TableDefinitionTest, Defaults) {
  for (const DefaultCase& c : DefaultCases()) {
    TableDefinition def = BuildTableDefinition(
        ReadSchemaTable(ParsedTable({"T", {c.field}, {}}).node), "T", "T", OptionsSelecting({"T"}));
    EXPECT_EQ(def.create_text, "CREATE TABLE \"T\" (\r\n  " + std::string(c.expected))
        << c.field.default_value;
    // A default left out is named with the Access text as it was.
    using Dropped = std::vector<std::pair<std::string, std::string>>;
    const Dropped dropped = c.dropped ? Dropped{{"C", c.field.default_value}} : Dropped{};
    EXPECT_EQ(def.dropped_defaults, dropped) << c.field.default_value;
  }

  DefinitionOptions off = OptionsSelecting({"T"});
  off.transfer_default_values = false;
  EXPECT_EQ(ColumnLine({.name = "C", .type = 10, .size = 5, .default_value = "Now()"}, off),
            "\"C\" VARCHAR(5)");
  EXPECT_EQ(ColumnLine({.name = "C", .type = 8, .default_value = "=Date()"}, off),
            "\"C\" TIMESTAMP");
}

// Every DEFAULT written is one the server accepts in its CREATE TABLE and can evaluate.
TEST(TableDefinitionTest, DefaultsLoad) {
  if (!testing::HaveServer() || std::system("psql --version > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "no PostgreSQL server (PGPORT unset or no psql)";
  std::string script = "BEGIN;\n";
  int n = 0;
  for (const DefaultCase& c : DefaultCases()) {
    const std::string table = "defaults_" + std::to_string(n++);
    TableDefinition def =
        BuildTableDefinition(ReadSchemaTable(ParsedTable({"T", {c.field}, {}}).node), "T", table,
                             OptionsSelecting({"T"}));
    script += def.create_text + "\r\n);\nINSERT INTO \"" + table + "\" DEFAULT VALUES;\n";
  }
  script += "ROLLBACK;\n";
  testing::TempDir dir;
  WriteTextFile(dir.File("defaults.sql"), script);
  const std::string command = "psql -X -q -v ON_ERROR_STOP=1 -f " + dir.File("defaults.sql") +
                              " > " + dir.File("out") + " 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << ReadTextFile(dir.File("out"), "utf-8");
}

TEST(TableDefinitionTest, BooleanDefaultDoesNotLeakIntoTheNextColumn) {
  TableDefinition def = Define({"T",
                                {{.name = "Flag", .type = 1, .default_value = "1"},
                                 {.name = "Code", .type = 10, .size = 3, .default_value = "7"}},
                                {}},
                               OptionsSelecting({"T"}));
  EXPECT_NE(def.create_text.find("\"Code\" VARCHAR(3) DEFAULT E'7'"), std::string::npos);
}

TEST(TableDefinitionTest, AutonumbersOff) {
  DefinitionOptions o = OptionsSelecting({"Orders"});
  o.transfer_autonumbers = false;
  TableDefinition def = Define(Orders(), o);
  EXPECT_NE(def.create_text.find("\"ID\" INTEGER NOT NULL, "), std::string::npos);
  EXPECT_TRUE(def.sequence_statements.empty());
  EXPECT_EQ(def.autonumber_column, "");
}

TEST(TableDefinitionTest, PrimaryKeyColumnsWithMarkupCharactersStayNotNull) {
  for (std::string name : {"a&b", "x<y>", "say \"hi\"", "it's", "back\\slash", "Größe"}) {
    TableSpec spec{
        "T", {{.name = name, .type = 4}}, {{.name = "PK", .columns = {name}, .primary = true}}};
    TableDefinition def = Define(spec, OptionsSelecting({"T", "T\\" + name}));
    std::string quoted = QuoteIdentifier(name);
    EXPECT_EQ(def.create_text, "CREATE TABLE \"T\" (\r\n  " + quoted +
                                   " INTEGER NOT NULL, \r\n"
                                   "  PRIMARY KEY (" +
                                   quoted + ")\r\n)")
        << name;
  }
}

// A bad Type fails the table when its column is defined, and only then.
TEST(TableDefinitionTest, MalformedFieldsFailWhenDefined) {
  const TableSpec spec{"T", {{.name = "A", .type = 4}, {.name = "B", .type_text = "abc"}}, {}};
  EXPECT_NO_THROW(Define(spec, OptionsSelecting({"T", "T\\A"})));
  try {
    Define(spec, OptionsSelecting({"T"}));
    ADD_FAILURE() << "Type 'abc' was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 13);
  }
  ParsedTable t({"T", {{.name = "C"}}, {}});
  t.node.child("Fields").child("Field").remove_child("Type");
  try {
    BuildTableDefinition(ReadSchemaTable(t.node), "T", "T", OptionsSelecting({"T"}));
    ADD_FAILURE() << "a field without Type was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 91);
  }
}

// The server chooses the sequence's name (Order.Line_ID and Order_Line.ID both want
// Order_Line_ID_seq, and one gets a number): the statement asks it which, quoted for it.
TEST(TableDefinitionTest, SequenceStatementAsksTheServerForTheSequence) {
  const std::string long_table(50, 't');
  struct Case {
    std::string table, column, statement;
  } cases[] = {
      {"Orders", "ID",
       "SELECT setval(pg_get_serial_sequence(E'\"Orders\"', E'ID'), MAX(\"ID\")) FROM \"Orders\""},
      {"a\"b", "c",
       "SELECT setval(pg_get_serial_sequence(E'\"a\"\"b\"', E'c'), MAX(\"c\")) FROM \"a\"\"b\""},
      {"O'Hare", "I'd",
       "SELECT setval(pg_get_serial_sequence(E'\"O''Hare\"', E'I''d'), MAX(\"I'd\")) FROM "
       "\"O'Hare\""},
      {long_table, "LongColumnName",
       "SELECT setval(pg_get_serial_sequence(E'\"" + long_table +
           "\"', E'LongColumnName'), MAX(\"LongColumnName\")) FROM \"" + long_table + "\""},
  };
  for (const Case& c : cases) EXPECT_EQ(SequenceStatement(c.table, c.column), c.statement);
}

TEST(IndexDefinitionTest, KeysAndIndexes) {
  DefinitionOptions o =
      OptionsSelecting({"Orders", "Orders\\ID", "Orders\\Name", "Orders\\CustomerID"});
  TableDefinition def = Define(Orders(), o);
  EXPECT_NE(def.create_text.find("\"CustomerID\" INTEGER, \r\n  PRIMARY KEY (\"ID\")\r\n)"),
            std::string::npos);
  EXPECT_EQ(def.index_statements,
            std::vector<std::string>{
                "CREATE INDEX \"Orders_CustomerID\" ON \"Orders\" (\"CustomerID\")"});

  // With a prefix both the table and the index names carry it.
  TableDefinition prefixed = Define(Orders(), o, "x_");
  EXPECT_EQ(prefixed.index_statements,
            std::vector<std::string>{
                "CREATE INDEX \"x_Orders_CustomerID\" ON \"x_Orders\" (\"CustomerID\")"});
}

TEST(IndexDefinitionTest, WhichIndexesAreWritten) {
  TableSpec spec{"T",
                 {{.name = "A", .type = 4}, {.name = "B", .type = 4}, {.name = "M", .type = 12}},
                 {{.name = "PK", .columns = {"A"}, .primary = true, .unique = true},
                  {.name = "AB", .columns = {"A", "B"}, .unique = true},
                  {.name = "FK", .columns = {"B"}, .foreign = true},
                  {.name = "Bx", .columns = {"B"}},
                  {.name = "Mx", .columns = {"M"}},
                  {.name = "Empty", .columns = {}}}};
  TableDefinition all = Define(spec, OptionsSelecting({"T", "T\\A", "T\\B", "T\\M"}));
  EXPECT_EQ(all.create_text,
            "CREATE TABLE \"T\" (\r\n  \"A\" INTEGER NOT NULL, \r\n  \"B\" INTEGER, \r\n"
            "  \"M\" TEXT, \r\n  PRIMARY KEY (\"A\"), \r\n  UNIQUE (\"A\", \"B\")\r\n)");
  EXPECT_EQ(all.index_statements,
            (std::vector<std::string>{"CREATE INDEX \"T_Bx\" ON \"T\" (\"B\")",
                                      "CREATE INDEX \"T_Mx\" ON \"T\" (\"M\")"}));

  // An index over an unselected column is left out whole.
  TableDefinition without_b = Define(spec, OptionsSelecting({"T", "T\\A", "T\\M"}));
  EXPECT_EQ(without_b.create_text.find("UNIQUE"), std::string::npos);
  EXPECT_NE(without_b.create_text.find("PRIMARY KEY (\"A\")"), std::string::npos);
  EXPECT_EQ(without_b.index_statements,
            std::vector<std::string>{"CREATE INDEX \"T_Mx\" ON \"T\" (\"M\")"});

  for (bool brighthouse : {false, true}) {
    DefinitionOptions o = OptionsSelecting({"T", "T\\A", "T\\B", "T\\M"});
    if (brighthouse)
      o.storage_engine = "brighthouse";
    else
      o.transfer_indexes = false;
    TableDefinition none = Define(spec, o);
    EXPECT_EQ(none.create_text.find("PRIMARY KEY"), std::string::npos);
    EXPECT_TRUE(none.index_statements.empty());
  }
}

TEST(IndexDefinitionTest, DescendingColumnsKeepTheirOrderInIndexesOnly) {
  TableSpec spec{"T",
                 {{.name = "A", .type = 4}, {.name = "B", .type = 4}},
                 {{.name = "PK", .columns = {"A", "B"}, .primary = true, .descending = {true}},
                  {.name = "U", .columns = {"B"}, .unique = true, .descending = {true}},
                  {.name = "Mixed", .columns = {"A", "B"}, .descending = {false, true}},
                  {.name = "Down", .columns = {"B", "A"}, .descending = {true, true}}}};
  TableDefinition def = Define(spec, OptionsSelecting({"T", "T\\A", "T\\B"}));
  // Key constraints have no order in PostgreSQL's grammar.
  EXPECT_NE(def.create_text.find("PRIMARY KEY (\"A\", \"B\"), \r\n  UNIQUE (\"B\")\r\n)"),
            std::string::npos)
      << def.create_text;
  EXPECT_EQ(
      def.index_statements,
      (std::vector<std::string>{"CREATE INDEX \"T_Mixed\" ON \"T\" (\"A\", \"B\" DESC)",
                                "CREATE INDEX \"T_Down\" ON \"T\" (\"B\" DESC, \"A\" DESC)"}));
}

TEST(IndexDefinitionTest, IndexColumnsAreMatchedByExactName) {
  std::string name = "a&b <\"c\">";
  TableSpec spec{"T", {{.name = name, .type = 4}}, {{.name = "ix", .columns = {name}}}};
  TableDefinition def = Define(spec, OptionsSelecting({"T", "T\\" + name}));
  EXPECT_EQ(def.index_statements,
            std::vector<std::string>{"CREATE INDEX \"T_ix\" ON \"T\" (\"a&b <\"\"c\"\">\")"});
}

// The server keeps 63 bytes of a name: longer index names must stay apart within them.
TEST(IndexDefinitionTest, LongIndexNamesStayDistinctWithinTheServersLimit) {
  auto name_of = [](const std::string& statement) {
    size_t open = statement.find('"');
    return statement.substr(open + 1, statement.find("\" ON ") - open - 1);
  };
  // Umlauts put two-byte characters across the cut.
  const std::string table = "Bestellpositionen_der_Großkunden_äöü_" + std::string(10, 'x');
  const std::string common(40, 'i');
  TableSpec spec{
      table,
      {{.name = "A", .type = 4}, {.name = "B", .type = 4}},
      {{.name = common + "_A", .columns = {"A"}}, {.name = common + "_B", .columns = {"B"}}}};
  TableDefinition def = Define(spec, OptionsSelecting({table, table + "\\A", table + "\\B"}));
  ASSERT_EQ(def.index_statements.size(), 2u);
  std::string a = name_of(def.index_statements[0]);
  std::string b = name_of(def.index_statements[1]);
  EXPECT_LE(a.size(), 63u);
  EXPECT_LE(b.size(), 63u);
  EXPECT_NE(a, b);
  for (const std::string& n : {a, b}) {
    EXPECT_TRUE(n.starts_with(table.substr(0, 30))) << n;
    EXPECT_TRUE(IsValidUtf8(n)) << n;
  }

  // Names that fit keep the plain form, up to the last byte.
  const std::string fits(63 - 2, 'n');
  TableSpec short_spec{"T", {{.name = "A", .type = 4}}, {{.name = fits, .columns = {"A"}}}};
  EXPECT_EQ(name_of(Define(short_spec, OptionsSelecting({"T", "T\\A"})).index_statements.at(0)),
            "T_" + fits);
}

// Two column names that share their first 63 bytes would be one column to the server.
TEST(TableDefinitionTest, LongColumnNamesStayDistinctEverywhereTheyAreUsed) {
  // 22 CJK characters are 66 bytes; the cut must not split one.
  const std::string cjk = [] {
    std::string s;
    for (int i = 0; i < 22; ++i) s += "\xE5\x90\x8D";
    return s;
  }();
  const std::string one = std::string(60, 'c') + "_one", two = std::string(60, 'c') + "_two";
  const std::string fits(63, 'f');
  TableSpec spec{"T",
                 {{.name = one, .type = 4, .autonumber = true},
                  {.name = two, .type = 4},
                  {.name = cjk, .type = 10},
                  {.name = fits, .type = 4}},
                 {{.name = "PrimaryKey", .columns = {one}, .primary = true},
                  {.name = "ix", .columns = {two}}}};
  TableDefinition def =
      Define(spec, OptionsSelecting({"T", "T\\" + one, "T\\" + two, "T\\" + cjk, "T\\" + fits}));
  const std::string a = def.destination_columns.at(one), b = def.destination_columns.at(two);
  const std::string c = def.destination_columns.at(cjk);
  EXPECT_NE(a, b);
  for (const std::string& n : {a, b, c}) {
    EXPECT_LE(n.size(), 63u);
    EXPECT_TRUE(IsValidUtf8(n)) << n;
  }
  EXPECT_EQ(def.destination_columns.at(fits), fits);
  EXPECT_EQ(def.shortened_columns,
            (std::vector<std::pair<std::string, std::string>>{{one, a}, {two, b}, {cjk, c}}));
  // The shortened names are used in the definition, the keys, the indexes and the sequence.
  for (const std::string& n : {a, b, c, fits})
    EXPECT_NE(def.create_text.find("\r\n  " + QuoteIdentifier(n) + " "), std::string::npos) << n;
  EXPECT_EQ(def.destination_column_list, QuoteIdentifier(a) + ", " + QuoteIdentifier(b) + ", " +
                                             QuoteIdentifier(c) + ", " + QuoteIdentifier(fits));
  EXPECT_NE(def.create_text.find("PRIMARY KEY (" + QuoteIdentifier(a) + ")"), std::string::npos);
  EXPECT_EQ(def.index_statements, std::vector<std::string>{"CREATE INDEX \"T_ix\" ON \"T\" (" +
                                                           QuoteIdentifier(b) + ")"});
  EXPECT_NE(def.sequence_statements.at(0).find("MAX(" + QuoteIdentifier(a) + ")"),
            std::string::npos);

  // A name that fits is never taken by a shortened one, whatever the order.
  std::unordered_set<std::string> taken;
  const std::string shortened = ShortenedName(one);
  EXPECT_EQ(ShortenedName(shortened, &taken), shortened);
  EXPECT_NE(ShortenedName(one, &taken), shortened);
}

TEST(IndexDefinitionTest, MalformedIndexesFail) {
  TableSpec missing{"T", {{.name = "A", .type = 4}}, {{.name = "ix", .columns = {"Nope"}}}};
  try {
    Define(missing, OptionsSelecting({"T", "T\\A", "T\\Nope"}));
    ADD_FAILURE() << "an index over a missing column was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 91);
  }
  ParsedTable t({"T", {{.name = "A", .type = 4}}, {{.name = "ix", .columns = {"A"}}}});
  t.node.child("Indexes").child("Index").child("Primary").text().set("maybe");
  const SchemaTable table = ReadSchemaTable(t.node);
  TableDefinition def = BuildTableDefinition(table, "T", "T", OptionsSelecting({"T", "T\\A"}));
  try {
    AddIndexDefinitions(table, "T", "T", OptionsSelecting({"T", "T\\A"}), def);
    ADD_FAILURE() << "Primary 'maybe' was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 13);
  }
}

}  // namespace
}  // namespace ferrolyte

#include "shell/table_listing.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "conversion/conversion_fixtures.h"
#include "conversion/literals.h"
#include "conversion/table_definition.h"

namespace ferrolyte {
namespace {

using testing::FieldSpec;

// The listing must show the type CREATE TABLE really writes, for every kind of column.
TEST(TableListingTest, PostgresTypesAreTheOnesTheConversionWrites) {
  struct Case {
    FieldSpec field;
    std::string access_type;
  } cases[] = {
      {{.name = "id", .type = 4, .size = 4, .autonumber = true}, "AutoNumber"},
      {{.name = "long", .type = 4, .size = 4}, "Long Integer"},
      {{.name = "flag", .type = 1, .size = 1}, "Yes/No"},
      {{.name = "byte", .type = 2, .size = 1}, "Byte"},
      {{.name = "money", .type = 5, .size = 19, .scale = 4}, "Currency"},
      {{.name = "single", .type = 6, .size = 4}, "Single"},
      {{.name = "double", .type = 7, .size = 8}, "Double"},
      // A Now() default makes even a text column a time stamp.
      {{.name = "stamp", .type = 10, .size = 20, .default_value = "Now()"}, "Text (20)"},
      {{.name = "day", .type = 8, .size = 8, .default_value = "#1/2/2020#"}, "Date/Time"},
      {{.name = "name", .type = 10, .size = 50, .required = true}, "Text (50)"},
      {{.name = "code", .type = 18, .size = 2}, "Text (2, fixed)"},
      {{.name = "memo", .type = 12, .size = 0}, "Memo"},
      {{.name = "guid", .type = 15, .size = 16}, "Replication ID"},
      {{.name = "big", .type = 16, .size = 8}, "Large Number"},
      {{.name = "dec", .type = 20, .size = 10, .scale = 2}, "Decimal"},
      {{.name = "ole", .type = 11, .size = 0}, "OLE Object"},
      {{.name = "files", .type = 101, .size = 4}, "Attachment"},
      {{.name = "tags", .type = 109, .size = 4}, "Text (multiple values)"},
      {{.name = "newer", .type = 0, .size = 4, .stored_type = 70}, "unknown type 70"},
  };
  testing::TableSpec spec{"T", {}, {}};
  DefinitionOptions options;
  options.selection.insert("T");
  for (const Case& c : cases) spec.fields.push_back(c.field);
  const SchemaModel schema = ReadSchemaText(testing::SchemaXml({spec}));

  const std::vector<TableListing> tables = ListSchemaTables(schema);
  ASSERT_EQ(tables.size(), 1u);
  ASSERT_EQ(tables[0].column_list.size(), std::size(cases));
  EXPECT_EQ(tables[0].columns, static_cast<int>(std::size(cases)));
  const std::string create =
      BuildTableDefinition(schema.tables.at(0), "T", "T", options).create_text;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const ColumnListing& column = tables[0].column_list[i];
    SCOPED_TRACE(column.name);
    EXPECT_EQ(column.access_type, cases[i].access_type);
    EXPECT_NE(create.find("\r\n  " + QuoteIdentifier(column.name) + " " + column.postgresql_type),
              std::string::npos)
        << create;
  }
}

TEST(TableListingTest, TextLinesUpByCharactersAndJsonEscapes) {
  const std::vector<TableListing> tables = {
      {"Zoë", "table", 3, 2, {{"Ä", "Text (5)", "VARCHAR(5)"}, {"b", "Memo", "TEXT"}}},
      {"Linked \"x\"", "linked", std::nullopt, std::nullopt, {}},
  };
  EXPECT_EQ(FormatTableListing(tables, false, true),
            "Table       Rows  Columns  Kind\n"
            "Zoë            3        2  table\n"
            "Linked \"x\"     -        -  linked\n");
  EXPECT_EQ(FormatTableListing(tables, true, false),
            "Table       Rows  Columns\n"
            "  Column  Access type  PostgreSQL type\n"
            "Zoë            3        2\n"
            "  Ä       Text (5)     VARCHAR(5)\n"
            "  b       Memo         TEXT\n"
            "Linked \"x\"     -        -\n");
  // A line break in a name must not shift the lines of the tables after it.
  const std::vector<TableListing> broken = {
      {"a\nb", "table", 1, 1, {{"c\td", "Text (5)", "VARCHAR(5)"}}},
      {"z", "table", 2, 1, {{"y", "Memo", "TEXT"}}},
  };
  EXPECT_EQ(FormatTableListing(broken, true, false),
            "Table  Rows  Columns\n"
            "  Column  Access type  PostgreSQL type\n"
            "a\\nb      1        1\n"
            "  c\\td    Text (5)     VARCHAR(5)\n"
            "z         2        1\n"
            "  y       Memo         TEXT\n");
  const char* const expected = R"json({"source": "a\\b\n.mdb", "tables": [
    {"name": "Zoë", "kind": "table", "rows": 3, "column_count": 2, "columns": [
      {"name": "Ä", "access_type": "Text (5)", "postgresql_type": "VARCHAR(5)"},
      {"name": "b", "access_type": "Memo", "postgresql_type": "TEXT"}]},
    {"name": "Linked \"x\"", "kind": "linked", "rows": null, "column_count": null,
     "columns": []}]})json";
  EXPECT_EQ(nlohmann::json::parse(TableListingJson("a\\b\n.mdb", tables, true)),
            nlohmann::json::parse(expected));
  // Without columns there is no "columns" member; a name that is not UTF-8 keeps the rest.
  const nlohmann::json plain = nlohmann::json::parse(
      TableListingJson("s", {{"bad\xff", "table", 1, 1, {}}, {"ok", "table", 2, 1, {}}}, false));
  ASSERT_EQ(plain["tables"].size(), 2u);
  EXPECT_FALSE(plain["tables"][0].contains("columns"));
  EXPECT_EQ(plain["tables"][1]["rows"], 2);
}

}  // namespace
}  // namespace ferrolyte

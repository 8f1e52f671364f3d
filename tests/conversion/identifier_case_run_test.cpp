// identifiercase=SNAKE over a writer-made file whose names hold spaces, capitals, letters
// beyond ASCII and names that meet once folded: converted directly and as a dump that psql
// loads, the destination answers queries written without a single quote.
#include <gtest/gtest.h>

#include <string>

#include "accesswriter/writer.h"
#include "conversion/server_run.h"
#include "conversion/views.h"
#include "support/safe.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;

void WriteShop(const std::string& path) {
  aw::DatabaseWriter db(path, {.format = aw::Format::kAce12});
  aw::Table customers{.name = "Kunden Größe"};
  customers.columns = {{.name = "Customer ID", .type = aw::ColumnType::kLong},
                       {.name = "Full Name", .type = aw::ColumnType::kText, .size = 40}};
  customers.indexes = {{.name = "PrimaryKey", .columns = {{"Customer ID"}}, .primary_key = true}};
  aw::TableWriter& c = db.AddTable(customers);
  c.AddRow({1, "Ängström"});
  c.AddRow({2, "Bo"});
  aw::Table lines{.name = "Order Lines"};
  lines.columns = {
      {.name = "Line ID", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
      {.name = "Customer ID", .type = aw::ColumnType::kLong},
      {.name = "Weight kg", .type = aw::ColumnType::kDouble},
      {.name = "weight_kg", .type = aw::ColumnType::kText, .size = 20},
      {.name = "Tags",
       .type = aw::ColumnType::kComplex,
       .size = 20,
       .complex = aw::ComplexKind::kMultiValue,
       .value_type = aw::ColumnType::kText}};
  lines.indexes = {{.name = "PrimaryKey", .columns = {{"Line ID"}}, .primary_key = true},
                   {.name = "By Weight", .columns = {{"Weight kg"}}}};
  aw::TableWriter& l = db.AddTable(lines);
  l.AddRow({nullptr, 1, 0.5, "light", aw::Value::Items({"red"})});
  l.AddRow({nullptr, 2, 2.25, "heavy", aw::Value::Items({"blue", "green"})});
  l.AddRow({nullptr, 1, 7.0, "heavier", aw::Value::Items({})});
  // Folded, this name is the other table's: the table whose name stays keeps it.
  aw::Table plain{.name = "order_lines"};
  plain.columns = {{.name = "id", .type = aw::ColumnType::kLong},
                   {.name = "note", .type = aw::ColumnType::kText, .size = 20}};
  db.AddTable(plain).AddRow({9, "kept"});
  db.AddRelationship({.name = "Kunden Lines",
                      .primary_table = "Kunden Größe",
                      .primary_columns = {"Customer ID"},
                      .foreign_table = "Order Lines",
                      .foreign_columns = {"Customer ID"}});
  // A second key of the same table whose name folds to the first's.
  db.AddRelationship({.name = "KUNDEN-LINES",
                      .primary_table = "Kunden Größe",
                      .primary_columns = {"Customer ID"},
                      .foreign_table = "Order Lines",
                      .foreign_columns = {"Customer ID"}});
  db.AddQuery({.name = "Heavy Lines",
               .tables = {{"Order Lines", ""}},
               .columns = {{"[Line ID]", ""},
                           {"[Weight kg]", ""},
                           {"[weight_kg]", ""},
                           {"[Weight kg]*1000", "Weight g"}},
               .where = "[Weight kg]>1"});
  db.Finish();
}

std::string Text(Connection& c, const std::string& sql) {
  return SafeStr(testing::QueryValue(c, sql));
}

// What the destination holds, asked for by unquoted names.
void ExpectFoldedDestination(const std::string& database) {
  auto c = testing::ConnectTo(database);
  EXPECT_EQ(Text(*c,
                 "SELECT string_agg(table_name, ',' ORDER BY table_name) FROM "
                 "information_schema.tables WHERE table_schema = 'public'"),
            "heavy_lines,kunden_größe,order_lines,order_lines_1,order_lines_tags");
  EXPECT_EQ(Text(*c,
                 "SELECT string_agg(line_id || ':' || weight_kg_1 || ':' || weight_kg, ',' "
                 "ORDER BY line_id) FROM order_lines_1"),
            "1:0.5:light,2:2.25:heavy,3:7:heavier");
  EXPECT_EQ(Text(*c, "SELECT note FROM order_lines WHERE id = 9"), "kept");
  EXPECT_EQ(Text(*c, "SELECT full_name FROM kunden_größe WHERE customer_id = 1"), "Ängström");
  // The view reads the tables by their folded names and names its columns as they do.
  EXPECT_EQ(Text(*c,
                 "SELECT string_agg(line_id || ':' || weight_kg_1 || ':' || weight_kg || ':' || "
                 "weight_g, ',' ORDER BY line_id) FROM heavy_lines"),
            "2:2.25:heavy:2250,3:7:heavier:7000");
  EXPECT_EQ(Text(*c,
                 "SELECT string_agg(line_id || ':' || value, ',' ORDER BY value) FROM "
                 "order_lines_tags"),
            "2:blue,2:green,1:red");
  EXPECT_EQ(Text(*c,
                 "SELECT string_agg(conname, ',' ORDER BY conname) FROM pg_constraint WHERE "
                 "contype = 'f'"),
            "kunden_lines,kunden_lines_1,order_lines_tags_owner_fkey");
  EXPECT_EQ(Text(*c,
                 "SELECT string_agg(indexname, ',' ORDER BY indexname) FROM pg_indexes WHERE "
                 "schemaname = 'public'"),
            "kunden_größe_pkey,order_lines_1_by_weight,order_lines_1_pkey,order_lines_tags_owner");
  // The sequence was moved past the rows: the next line gets the next number.
  c->Execute("INSERT INTO order_lines_1 (customer_id, weight_kg_1) VALUES (2, 1)");
  EXPECT_EQ(Text(*c, "SELECT max(line_id) FROM order_lines_1"), "4");
}

TEST(IdentifierCaseRunTest, SnakeCaseNamesArriveAliveDirectAndThroughADump) {
  FERROLYTE_REQUIRE_SERVER();
  testing::TempDir dir;
  const std::string path = dir.File("shop names.accdb");
  WriteShop(path);
  testing::Source source = testing::Scan(path);
  source.selection.push_back(QueryEntry("Heavy Lines"));

  testing::ScratchDatabase direct("fold_direct", false);
  DictionaryPtr settings = testing::DirectSettings(source, direct.name());
  for (const auto& [key, value] : {std::pair{"identifiercase", "snake"},
                                   {"complexcolumns", "TABLES"},
                                   {"transferqueries", "1"},
                                   {"transferrelationships", "1"}})
    testing::Section(settings)->Set(key, value);
  auto run = testing::RunConversion(settings, source);
  ASSERT_EQ(run->code, 0) << run->report;
  // Each name that had to be numbered is named in the report, with the one it wanted.
  EXPECT_TRUE(testing::Contains(run->report, "- Table named 'order_lines_1': 'order_lines' is"))
      << run->report;
  EXPECT_TRUE(
      testing::Contains(run->report, "- Column 'Weight kg' named 'weight_kg_1': 'weight_kg'"))
      << run->report;
  EXPECT_TRUE(testing::Contains(run->report, "' named 'kunden_lines_1': 'kunden_lines' is"))
      << run->report;
  EXPECT_TRUE(
      testing::Contains(run->report, "- View 'heavy_lines' created from query 'Heavy Lines'"));
  ExpectFoldedDestination(direct.name());

  testing::ScratchDatabase dumped("fold_dump", false);
  testing::LoadDumpInto(source, settings, dumped.name(), "COPY");
  ExpectFoldedDestination(dumped.name());
}

}  // namespace
}  // namespace ferrolyte

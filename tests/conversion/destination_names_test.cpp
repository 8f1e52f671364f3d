#include "conversion/destination_names.h"

#include <gtest/gtest.h>

#include "conversion/access_sql.h"
#include "conversion/table_definition.h"
#include "conversion_fixtures.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

using testing::ParsedTable;
using testing::TableSpec;

constexpr IdentifierCase kKeep = IdentifierCase::kKeep;
constexpr IdentifierCase kLower = IdentifierCase::kLower;
constexpr IdentifierCase kSnake = IdentifierCase::kSnake;

TEST(IdentifierCaseTest, NamesFoldByTheRule) {
  struct Case {
    const char* name;
    IdentifierCase rule;
    const char* folded;
  };
  const Case cases[] = {
      {"Order Lines", kKeep, "Order Lines"},
      {"Order Lines", kLower, "order lines"},
      {"Weight kg", kSnake, "weight_kg"},
      // Letters of every script, lower-cased; ß has no lower form of its own.
      {"ÄRGER Straße", kLower, "ärger straße"},
      {"ÉCOLE Größe", kSnake, "école_größe"},
      {"ΟΔΟΣ Ω", kSnake, "οδοσ_ω"},
      {"Kunden-Nr.", kSnake, "kunden_nr"},
      {"日本語 名前", kSnake, "日本語_名前"},
      {"İSTANBUL", kSnake, "istanbul"},
      // A combining mark stays with its letter (decomposed ü).
      {"U\xCC\x88"
       "ber Ort",
       kSnake,
       "u\xCC\x88"
       "ber_ort"},
      // Runs at either end go; inside, a run of any length becomes one "_".
      {" Total (€) ", kSnake, "total"},
      {"a  -/ b", kSnake, "a_b"},
      {"Price 💶", kSnake, "price"},
      // "_" is a word character: kept where it is, and beside a run.
      {"_private", kSnake, "_private"},
      {"a__b", kSnake, "a__b"},
      {"a _b", kSnake, "a__b"},
      {"2nd Quarter", kSnake, "2nd_quarter"},
      {"%", kSnake, "_"},
      {"", kSnake, "_"},
      // A byte that is not UTF-8 is no letter; LOWER leaves it as it is.
      {"A\xFF"
       "B",
       kSnake, "a_b"},
      {"A\xFF"
       "B",
       kLower,
       "a\xFF"
       "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + IdentifierCaseText(c.rule));
    const std::string folded = FoldIdentifier(c.name, c.rule);
    EXPECT_EQ(folded, c.folded);
    // Folding what is folded changes nothing: names already in the rule's form stay.
    EXPECT_EQ(FoldIdentifier(folded, c.rule), folded);
  }
}

TEST(IdentifierCaseTest, SettingValues) {
  EXPECT_EQ(IdentifierCaseOf(""), kKeep);
  EXPECT_EQ(IdentifierCaseOf("keep"), kKeep);
  EXPECT_EQ(IdentifierCaseOf("Lower"), kLower);
  EXPECT_EQ(IdentifierCaseOf(" SNAKE "), kSnake);
  EXPECT_EQ(IdentifierCaseOf("UPPER"), std::nullopt);
  EXPECT_EQ(IdentifierCaseOf("snake_case"), std::nullopt);
  for (IdentifierCase rule : {kKeep, kLower, kSnake})
    EXPECT_EQ(IdentifierCaseOf(IdentifierCaseText(rule)), rule);
}

TEST(IdentifierCaseTest, NamesThatMeetOnceFoldedAreNumbered) {
  struct Case {
    std::vector<std::string> names;
    IdentifierCase rule;
    std::vector<std::string> given;
  };
  const std::string a63(63, 'a'), upper63(63, 'A');
  // 31 two-byte letters and one more: 63 bytes, and no room for "_1" without cutting one.
  std::string umlauts_lower, umlauts_upper;
  for (int i = 0; i < 31; ++i) umlauts_lower += "ä", umlauts_upper += "Ä";
  umlauts_lower += "x";
  umlauts_upper += "X";
  std::string thirty_umlauts;
  for (int i = 0; i < 30; ++i) thirty_umlauts += "ä";
  const Case cases[] = {
      // A name the rule leaves alone keeps it, whichever comes first.
      {{"Order Lines", "order_lines", "ORDER-LINES"},
       kSnake,
       {"order_lines_1", "order_lines", "order_lines_2"}},
      {{"Order Lines", "order_lines", "ORDER-LINES"},
       kKeep,
       {"Order Lines", "order_lines", "ORDER-LINES"}},
      {{"ID", "Id", "id"}, kLower, {"id_1", "id_2", "id"}},
      {{"ID", "Id"}, kSnake, {"id", "id_1"}},
      // The number fits in 63 bytes, cut at a character.
      {{upper63, a63}, kLower, {std::string(61, 'a') + "_1", a63}},
      {{umlauts_upper, umlauts_lower}, kLower, {thirty_umlauts + "_1", umlauts_lower}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names[0] + " " + IdentifierCaseText(c.rule));
    std::unordered_set<std::string> taken;
    EXPECT_EQ(DistinctNames(c.names, c.rule, taken), c.given);
    for (const std::string& name : c.given) {
      EXPECT_LE(name.size(), 63u);
      EXPECT_TRUE(IsValidUtf8(name));
      EXPECT_TRUE(taken.count(name));
    }
  }
  // Long names are cut with their hash, folded first: two that fold alike still differ.
  const std::string long_name = "Monthly Totals Of Every Warehouse In Every Region Of The Country";
  std::unordered_set<std::string> taken;
  const std::vector<std::string> given =
      DistinctNames({long_name, AsciiUpper(long_name)}, kSnake, taken);
  EXPECT_NE(given[0], given[1]);
  for (const std::string& name : given) {
    EXPECT_LE(name.size(), 63u);
    EXPECT_EQ(name.substr(0, 20), "monthly_totals_of_ev");
  }
  // What another scope holds already is taken too.
  std::unordered_set<std::string> schema = {"orders"};
  EXPECT_EQ(DistinctNames({"Orders"}, kLower, schema), std::vector<std::string>{"orders_1"});
}

TEST(IdentifierCaseTest, EveryNameOfATableDefinitionFoldsAlike) {
  const TableSpec spec{"Order Lines",
                       {{.name = "Line ID", .type = 4, .size = 4, .autonumber = true},
                        {.name = "Weight kg", .type = 7, .size = 8},
                        {.name = "weight_kg", .type = 10, .size = 20},
                        {.name = "Item Name", .type = 10, .size = 50}},
                       {{.name = "PrimaryKey", .columns = {"Line ID"}, .primary = true},
                        {.name = "By Weight", .columns = {"Weight kg"}},
                        {.name = "Item Name", .columns = {"Item Name"}, .unique = true}}};
  DefinitionOptions options;
  options.selection = {"Order Lines", "Order Lines\\Line ID", "Order Lines\\Weight kg",
                       "Order Lines\\weight_kg", "Order Lines\\Item Name"};
  options.identifier_case = kSnake;
  const SchemaTable table = ReadSchemaTable(ParsedTable(spec).node);
  TableDefinition def = BuildTableDefinition(table, "Order Lines", "order_lines", options);
  std::unordered_set<std::string> schema_names = {"order_lines_by_weight"};
  AddIndexDefinitions(table, "Order Lines", "order_lines", options, def, &schema_names);

  EXPECT_EQ(def.destination_column_list,
            "\"line_id\", \"weight_kg_1\", \"weight_kg\", \"item_name\"");
  EXPECT_EQ(def.source_column_list, "[Line ID], [Weight kg], [weight_kg], [Item Name]");
  EXPECT_EQ(def.renamed_columns,
            (std::vector<std::pair<std::string, std::string>>{{"Weight kg", "weight_kg_1"}}));
  EXPECT_TRUE(def.shortened_columns.empty());
  EXPECT_NE(def.create_text.find("CREATE TABLE \"order_lines\" (\r\n  \"line_id\" SERIAL NOT NULL"),
            std::string::npos)
      << def.create_text;
  EXPECT_NE(def.create_text.find("PRIMARY KEY (\"line_id\")"), std::string::npos);
  EXPECT_NE(def.create_text.find("UNIQUE (\"item_name\")"), std::string::npos);
  ASSERT_EQ(def.sequence_statements.size(), 1u);
  EXPECT_EQ(def.sequence_statements[0],
            "SELECT setval(pg_get_serial_sequence(E'\"order_lines\"', E'line_id'), "
            "MAX(\"line_id\")) FROM \"order_lines\"");
  // The index's folded name is taken in the schema: it is numbered and listed.
  ASSERT_EQ(def.index_statements.size(), 1u);
  EXPECT_EQ(def.index_statements[0],
            "CREATE INDEX \"order_lines_by_weight_1\" ON \"order_lines\" (\"weight_kg_1\")");
  EXPECT_EQ(
      def.renamed_indexes,
      (std::vector<std::pair<std::string, std::string>>{{"By Weight", "order_lines_by_weight_1"}}));
  // The names the server makes follow the folded names.
  const std::vector<std::string> generated = ServerGeneratedNames(table, "order_lines", options);
  EXPECT_EQ(generated, (std::vector<std::string>{"order_lines_line_id_seq", "order_lines_pkey",
                                                 "order_lines_item_name_key"}));
}

TEST(IdentifierCaseTest, QueryColumnsTakeTheNamesTheirTablesGave) {
  const Relation lines{"Order Lines",
                       "order_lines",
                       {{"Line ID", "line_id", SqlType::kInteger},
                        {"Weight kg", "weight_kg_1", SqlType::kFloat},
                        {"weight_kg", "weight_kg", SqlType::kText}}};
  const RelationLookup lookup = [&](const std::string& name) -> const Relation* {
    return EqualsIgnoreCase(name, lines.name) ? &lines : nullptr;
  };
  const NameRule snake = [](const std::string& name) { return FoldIdentifier(name, kSnake); };
  auto columns = [](const TranslatedSelect& t) {
    std::vector<std::string> names;
    for (const RelationColumn& c : t.columns) names.push_back(c.destination);
    return names;
  };
  const TranslatedSelect plain = TranslateSelect(
      ParseAccessSelect("SELECT [Weight kg], [weight_kg], [Line ID] * 2 AS [Twice The ID], "
                        "[Line ID] + 1 AS [twice_the_id] FROM [Order Lines]"),
      lookup, snake);
  EXPECT_EQ(columns(plain), (std::vector<std::string>{"weight_kg_1", "weight_kg", "twice_the_id",
                                                      "twice_the_id_2"}));
  EXPECT_NE(plain.sql.find("\"order_lines\".\"weight_kg_1\" AS \"weight_kg_1\""), std::string::npos)
      << plain.sql;
  const TranslatedSelect star =
      TranslateSelect(ParseAccessSelect("SELECT * FROM [Order Lines]"), lookup, snake);
  EXPECT_EQ(columns(star), (std::vector<std::string>{"line_id", "weight_kg_1", "weight_kg"}));
  // Without a rule the names are Access's, as before.
  const TranslatedSelect kept =
      TranslateSelect(ParseAccessSelect("SELECT [Line ID] AS [The ID] FROM [Order Lines]"), lookup);
  EXPECT_EQ(columns(kept), std::vector<std::string>{"The ID"});
}

}  // namespace
}  // namespace ferrolyte

// Saved queries of a writer-made database, converted into the throw-away server: each
// translatable kind becomes a view whose rows are the rows the same query, written by hand in
// PostgreSQL, gives over the converted tables; each other kind is reported with its SQL.
#include "conversion/views.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "accesswriter/writer.h"
#include "conversion/conversion_fixtures.h"
#include "conversion/conversion_run.h"
#include "platform/odbc_test_server.h"
#include "schema/access_scanner.h"
#include "schema/schema_document.h"
#include "support/safe.h"
#include "testing/temp_dir.h"
#include "wizard/table_selection.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;

aw::Query Select(std::string name, std::vector<aw::QueryTable> tables,
                 std::vector<aw::QueryColumn> columns) {
  return {.name = std::move(name), .tables = std::move(tables), .columns = std::move(columns)};
}

// Customers and their orders, with a tie among the amounts and a customer without orders.
void WriteShop(const std::string& path) {
  aw::DatabaseWriter db(path, {.format = aw::Format::kAce12});
  aw::Table customers{.name = "Customers"};
  customers.columns = {
      {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
      {.name = "Name", .type = aw::ColumnType::kText, .size = 40},
      {.name = "City", .type = aw::ColumnType::kText, .size = 40},
      {.name = "Vip", .type = aw::ColumnType::kBoolean},
      {.name = "Since", .type = aw::ColumnType::kDateTime}};
  customers.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
  aw::TableWriter& c = db.AddTable(customers);
  c.AddRow({nullptr, "Anna", "Oslo", true, aw::Value::Date({2020, 3, 1})});
  c.AddRow({nullptr, "Bert", nullptr, false, aw::Value::Date({2021, 7, 15, 9, 30})});
  c.AddRow({nullptr, "Cleo", "Rome", false, aw::Value::Date({2019, 12, 31})});
  c.AddRow({nullptr, "Dana", "Oslo", true, aw::Value::Date({2022, 1, 2})});
  aw::Table orders{.name = "Orders"};
  orders.columns = {
      {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
      {.name = "CustomerId", .type = aw::ColumnType::kLong},
      {.name = "Amount", .type = aw::ColumnType::kCurrency},
      {.name = "Note", .type = aw::ColumnType::kText, .size = 40}};
  orders.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
  aw::TableWriter& o = db.AddTable(orders);
  o.AddRow({nullptr, 1, aw::Value::Decimal("12.5"), "rush"});
  o.AddRow({nullptr, 1, aw::Value::Decimal("40"), nullptr});
  o.AddRow({nullptr, 2, aw::Value::Decimal("40"), "gift"});
  o.AddRow({nullptr, 2, aw::Value::Decimal("7.25"), nullptr});
  o.AddRow({nullptr, 3, aw::Value::Decimal("55"), "Rush"});
  o.AddRow({nullptr, 3, aw::Value::Decimal("3"), nullptr});
  o.AddRow({nullptr, 1, aw::Value::Decimal("20"), nullptr});

  // A query over another, written before it, so that the order comes from the dependency.
  db.AddQuery({.name = "qBig",
               .tables = {{"qTotals", ""}},
               .columns = {{"[Name]", ""}},
               .where = "[SumOfAmount]>50"});
  db.AddQuery({.name = "qJoin",
               .tables = {{"Customers", "C"}, {"Orders", "O"}},
               .columns = {{"[C].[Name]", ""}, {"[O].[Amount]*2", "Twice"}},
               .joins = {{"C", "O", "[C].[Id]=[O].[CustomerId]"}},
               .where = "[O].[Amount]>10"});
  db.AddQuery({.name = "qLeft",
               .tables = {{"Customers", ""}, {"Orders", ""}},
               .columns = {{"[Customers].[Name]", ""}, {"Count([Orders].[Id])", "N"}},
               .joins = {{"Customers", "Orders", "[Customers].[Id]=[Orders].[CustomerId]",
                          aw::JoinKind::kLeft}},
               .group_by = {"[Customers].[Name]"}});
  db.AddQuery({.name = "qTotals",
               .tables = {{"Customers", ""}, {"Orders", ""}},
               .columns = {{"[Customers].[Name]", ""}, {"Sum([Amount])", ""}},
               .joins = {{"Customers", "Orders", "[Customers].[Id]=[Orders].[CustomerId]"}},
               .group_by = {"[Customers].[Name]"},
               .having = "Sum([Amount])>20",
               .order_by = {{"Sum([Amount])", true}}});
  aw::Query distinct = Select("qCities", {{"Customers", ""}}, {{"[City]", ""}});
  distinct.distinct = true;
  db.AddQuery(distinct);
  aw::Query top = Select("qTop", {{"Orders", ""}}, {{"[Id]", ""}, {"[Amount]", ""}});
  top.top = "2";
  top.order_by = {{"[Amount]", true}};
  db.AddQuery(top);
  aw::Query percent = Select("qTopPercent", {{"Orders", ""}}, {{"[Id]", ""}});
  percent.top = "50";
  percent.top_percent = true;
  percent.order_by = {{"[Amount]"}};
  db.AddQuery(percent);
  db.AddQuery({.name = "qExpr",
               .tables = {{"Customers", ""}},
               .columns = {{"[Name] & \" (\" & Nz([City], \"?\") & \")\"", "Label"},
                           {"IIf([Vip], \"VIP\", \"\")", "Kind"},
                           {"Year([Since])", "Y"},
                           {"DateDiff(\"d\", [Since], #1/1/2024#)", "Days"},
                           {"Format([Since], \"yyyy-mm\")", "M"}},
               .where = "[Name] Like \"a*\" Or [City] Is Null"});
  db.AddQuery({.name = "qUnion",
               .kind = aw::QueryKind::kUnion,
               .union_parts = {"SELECT [Name] FROM Customers",
                               "SELECT [Note] FROM [Orders] WHERE [Note] Is Not Null ORDER BY "
                               "[Name]"}});
  db.AddQuery({.name = "qSub",
               .tables = {{"Customers", ""}},
               .columns = {{"[Name]", ""}},
               .where = "[Id] In (SELECT [CustomerId] FROM Orders WHERE [Amount]>40)"});
  aw::Query row = Select("qRows", {{"Orders", ""}}, {{"[CustomerId]", ""}});
  row.distinct_row = true;
  db.AddQuery(row);
  aw::Query star = Select("qStar", {{"Orders", ""}}, {});
  star.where = "[Note]=\"rush\"";
  db.AddQuery(star);

  // Kinds that never become views.
  db.AddQuery({.name = "qAppend",
               .kind = aw::QueryKind::kAppend,
               .tables = {{"Orders", ""}},
               .columns = {{"[Amount]", "Amount"}},
               .target = "Orders"});
  db.AddQuery({.name = "qUpdate",
               .kind = aw::QueryKind::kUpdate,
               .tables = {{"Orders", ""}},
               .columns = {{"0", "Amount"}}});
  db.AddQuery({.name = "qDelete",
               .kind = aw::QueryKind::kDelete,
               .tables = {{"Orders", ""}},
               .columns = {{"Orders.*", ""}}});
  db.AddQuery({.name = "qMake",
               .kind = aw::QueryKind::kMakeTable,
               .tables = {{"Orders", ""}},
               .columns = {{"[Id]", ""}},
               .target = "Copy"});
  db.AddQuery({.name = "qCross",
               .kind = aw::QueryKind::kCrosstab,
               .tables = {{"Orders", ""}},
               .columns = {{"[CustomerId]", ""}, {"Sum([Amount])", "", 1}, {"[Note]", "", 2}},
               .group_by = {"[CustomerId]", "[Note]"}});
  aw::Query param = Select("qParam", {{"Orders", ""}}, {{"[Id]", ""}});
  param.parameters = {{"[Least]", 5}};
  param.where = "[Amount]>=[Least]";
  db.AddQuery(param);
  db.AddQuery(Select("qForm", {{"Orders", ""}}, {{"[Forms]![Main]![Id]", "F"}}));
  db.AddQuery(Select("qDomain", {{"Orders", ""}}, {{"DLookup(\"Name\", \"Customers\")", "D"}}));
  db.AddQuery({.name = "qPass",
               .kind = aw::QueryKind::kPassThrough,
               .sql = "SELECT TOP 1 * FROM dbo.Orders",
               .connect = "ODBC;DSN=shop"});
  db.AddQuery(
      {.name = "qDdl", .kind = aw::QueryKind::kDataDefinition, .sql = "CREATE TABLE X (Y TEXT)"});
  db.AddQuery(Select("qOverBroken", {{"qForm", ""}}, {{"[F]", ""}}));
  db.Finish();
}

struct Expected {
  const char* view;
  const char* sql;  // the same query, by hand, over the converted tables
};

const Expected kViews[] = {
    {"qJoin",
     "SELECT c.\"Name\", o.\"Amount\" * 2 FROM \"Customers\" c JOIN \"Orders\" o ON c.\"Id\" = "
     "o.\"CustomerId\" WHERE o.\"Amount\" > 10"},
    {"qLeft",
     "SELECT c.\"Name\", count(o.\"Id\") FROM \"Customers\" c LEFT JOIN \"Orders\" o ON c.\"Id\" "
     "= o.\"CustomerId\" GROUP BY c.\"Name\""},
    {"qTotals",
     "SELECT c.\"Name\", sum(o.\"Amount\") FROM \"Customers\" c JOIN \"Orders\" o ON c.\"Id\" = "
     "o.\"CustomerId\" GROUP BY c.\"Name\" HAVING sum(o.\"Amount\") > 20"},
    {"qBig",
     "SELECT c.\"Name\" FROM \"Customers\" c JOIN \"Orders\" o ON c.\"Id\" = o.\"CustomerId\" "
     "GROUP BY c.\"Name\" HAVING sum(o.\"Amount\") > 50"},
    {"qCities", "SELECT DISTINCT \"City\" FROM \"Customers\""},
    {"qTop", "SELECT \"Id\", \"Amount\" FROM \"Orders\" WHERE \"Amount\" >= 40"},
    {"qTopPercent", "SELECT \"Id\" FROM \"Orders\" WHERE \"Amount\" <= 20"},
    {"qExpr",
     "SELECT 'Anna (Oslo)', 'VIP', 2020, DATE '2024-01-01' - DATE '2020-03-01', '2020-03' UNION "
     "ALL SELECT 'Bert (?)', '', 2021, DATE '2024-01-01' - DATE '2021-07-15', '2021-07'"},
    {"qUnion",
     "SELECT \"Name\" FROM \"Customers\" UNION SELECT \"Note\" FROM \"Orders\" WHERE \"Note\" IS "
     "NOT NULL"},
    {"qSub",
     "SELECT \"Name\" FROM \"Customers\" WHERE \"Id\" IN (SELECT \"CustomerId\" FROM \"Orders\" "
     "WHERE \"Amount\" > 40)"},
    {"qRows", "SELECT \"CustomerId\" FROM \"Orders\""},
    {"qStar", "SELECT * FROM \"Orders\" WHERE \"Note\" = 'rush'"},
};

const char* const kNotViews[] = {"qAppend", "qUpdate", "qDelete", "qMake", "qCross",     "qParam",
                                 "qForm",   "qDomain", "qPass",   "qDdl",  "qOverBroken"};

// The rows of a query as one text, in sorted order: equal texts, equal multisets.
std::string Rows(Connection& c, const std::string& sql) {
  return SafeStr(testing::QueryValue(
      c, "SELECT coalesce(string_agg(r, '|' ORDER BY r), '') FROM (SELECT t::text AS r FROM (" +
             sql + ") t) s"));
}

class ViewsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir();
    path_ = dir_->File("shop.accdb");
    WriteShop(path_);
  }
  static void TearDownTestSuite() { delete dir_; }

  // Scans the file and converts it with every table and query selected.
  RunOutcome Convert(const std::string& database, const std::string& dump = "") {
    RecordingStatus scan_status;
    const SchemaModel schema =
        ScanAccessDatabase(path_, "", "", "", testing::ContextFor(scan_status));
    DictionaryPtr settings = testing::RunSettings(dump, AllPaths(TablesOfSchema(schema)));
    DictionaryPtr s = testing::Section(settings);
    s->Set("sourcefilename", path_);
    s->Set("destinationdatabase", database);
    s->Set("transferqueries", 1);
    s->Set("transferdescriptions", 1);
    s->Set("autocommit", 0);
    if (dump.empty()) testing::SetDirectDestination(s, database);
    RecordingStatus status;
    return ConvertDatabase(settings, report_, schema, testing::ContextFor(status));
  }

  void ExpectViewsAsWrittenByHand(Connection& c) {
    for (const Expected& e : kViews) {
      SCOPED_TRACE(e.view);
      EXPECT_EQ(Rows(c, "SELECT * FROM \"" + std::string(e.view) + "\""), Rows(c, e.sql));
    }
  }

  void ExpectNotViewsReported(const RunOutcome& outcome) {
    for (const char* name : kNotViews) {
      SCOPED_TRACE(name);
      const std::string line = "- Query '" + std::string(name) + "' not created: ";
      const size_t at = report_.find(line);
      ASSERT_NE(at, std::string::npos) << report_;
      EXPECT_EQ(report_.compare(report_.find("\r\n", at) + 2, 14, "  Access SQL: "), 0)
          << report_.substr(at, 300);
      EXPECT_NE(ResultSection(outcome).find("Query " + std::string(name) + ": not created"),
                std::string::npos);
    }
    EXPECT_EQ(outcome.QueriesNotCreated(), static_cast<int>(std::size(kNotViews)));
    EXPECT_EQ(outcome.ExitStatus(), 3);
    EXPECT_EQ(outcome.TablesNotComplete(), 0);
  }

  static testing::TempDir* dir_;
  static std::string path_;
  std::string report_;
};

testing::TempDir* ViewsTest::dir_ = nullptr;
std::string ViewsTest::path_;

TEST_F(ViewsTest, DirectRunMakesEachSelectQueryAViewOfTheSameRows) {
  FERROLYTE_REQUIRE_SERVER();
  testing::ScratchDatabase db("views", false);
  const RunOutcome outcome = Convert(db.name());
  auto c = testing::ConnectTo(db.name());
  ExpectViewsAsWrittenByHand(*c);
  ExpectNotViewsReported(outcome);
  // The Access SQL stays with the view.
  EXPECT_EQ(SafeStr(testing::QueryValue(
                *c, "SELECT obj_description('\"qCities\"'::regclass, 'pg_class')")),
            "SELECT DISTINCT [City] FROM Customers");
  // A second run replaces views and tables alike.
  report_.clear();
  const RunOutcome again = Convert(db.name());
  EXPECT_EQ(again.TablesNotComplete(), 0) << report_;
  EXPECT_EQ(again.QueriesNotCreated(), static_cast<int>(std::size(kNotViews))) << report_;
}

TEST_F(ViewsTest, DumpLoadsWithTheSameViews) {
  FERROLYTE_REQUIRE_SERVER();
  if (std::system("psql --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no psql";
  testing::ScratchDatabase db("views_dump", false);
  const std::string dump = dir_->File("shop.sql");
  const RunOutcome outcome = Convert(db.name(), dump);
  ExpectNotViewsReported(outcome);
  // Queries without a view leave the dump whole.
  ASSERT_TRUE(outcome.incomplete_dump.empty());
  const std::string psql = "psql -X -q -v ON_ERROR_STOP=1 -d ";
  const std::string load = "sed '/^-- NOTICE:/q' " + dump + " | " + psql +
                           testing::MaintenanceDb() +
                           " >/dev/null 2>&1 && sed -n '/^-- NOTICE:/,$p' " + dump + " | " + psql +
                           db.name() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(load.c_str()), 0);
  auto c = testing::ConnectTo(db.name());
  ExpectViewsAsWrittenByHand(*c);
}

TEST(ViewOrderTest, QueriesComeAfterTheQueriesTheyReadAndLoopsLast) {
  auto query = [](std::string name, std::string reads) {
    QueryModel q;
    q.name = std::move(name);
    q.kind = QueryKind::kSelect;
    q.select.all_columns = true;
    q.select.from.push_back({FromItem::Kind::kTable, std::move(reads)});
    return q;
  };
  const std::vector<QueryModel> queries = {query("c", "b"), query("b", "a"), query("a", "T"),
                                           query("x", "y"), query("y", "x")};
  std::vector<std::string> names;
  for (const QueryModel& q : ViewOrder(queries, {"A", "b", "c", "x", "y"})) names.push_back(q.name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c", "y", "x"}));
  // An unselected query is no dependency to place.
  names.clear();
  for (const QueryModel& q : ViewOrder(queries, {"c"})) names.push_back(q.name);
  EXPECT_EQ(names, std::vector<std::string>{"c"});
}

}  // namespace
}  // namespace ferrolyte

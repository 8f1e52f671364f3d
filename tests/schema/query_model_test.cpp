// Saved queries read from their MSysQueries rows, as the test-database writer stores them.
#include "schema/query_model.h"

#include <gtest/gtest.h>

#include "accesswriter/writer.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;

QueryModel Read(const aw::Query& q) {
  SchemaQuery schema{q.name, static_cast<uint32_t>(aw::QueryObjectFlags(q.kind)), {}};
  for (const aw::QueryRow& r : aw::QueryRows(q))
    schema.rows.push_back({r.attribute, r.flag, r.name1, r.name2, r.expression});
  return ReadQueryModel(schema);
}

TEST(QueryModelTest, EachKindReadsBackAsItsAccessSql) {
  struct Case {
    aw::Query query;
    QueryKind kind;
    const char* sql;
  };
  const Case cases[] = {
      {{.name = "joined",
        .distinct = true,
        .top = "5",
        .top_percent = true,
        .tables = {{"Orders", "O"}, {"Customers", ""}, {"Order Lines", "L"}},
        .columns = {{"[O].[Id]", ""}, {"Sum([L].[Qty])", "Total"}},
        .joins = {{"Customers", "O", "[Customers].[Id]=[O].[CustomerId]"},
                  {"O", "L", "[O].[Id]=[L].[OrderId]", aw::JoinKind::kLeft}},
        .where = "[O].[Id]>1",
        .group_by = {"[O].[Id]"},
        .having = "Sum([L].[Qty])>2",
        .order_by = {{"Sum([L].[Qty])", true}, {"[O].[Id]"}}},
       QueryKind::kSelect,
       "SELECT DISTINCT TOP 5 PERCENT [O].[Id], Sum([L].[Qty]) AS Total FROM (Customers INNER "
       "JOIN Orders AS O ON [Customers].[Id]=[O].[CustomerId]) LEFT JOIN [Order Lines] AS L ON "
       "[O].[Id]=[L].[OrderId] WHERE [O].[Id]>1 GROUP BY [O].[Id] HAVING Sum([L].[Qty])>2 ORDER "
       "BY Sum([L].[Qty]) DESC, [O].[Id]"},
      // Two conditions between the same tables are one join.
      {{.name = "pair",
        .tables = {{"A", ""}, {"B", ""}, {"C", ""}},
        .joins = {{"A", "B", "[A].[x]=[B].[x]"}, {"A", "B", "[A].[y]=[B].[y]"}}},
       QueryKind::kSelect,
       "SELECT * FROM A INNER JOIN B ON [A].[x]=[B].[x] AND [A].[y]=[B].[y], C"},
      {{.name = "both",
        .kind = aw::QueryKind::kUnion,
        .union_parts = {"SELECT Id FROM A", "SELECT Id FROM B ORDER BY Id"},
        .union_all = true},
       QueryKind::kUnion,
       "SELECT Id FROM A UNION ALL SELECT Id FROM B ORDER BY Id"},
      {{.name = "append",
        .kind = aw::QueryKind::kAppend,
        .tables = {{"A", ""}},
        .columns = {{"[A].[x]", "y"}},
        .target = "Archive"},
       QueryKind::kAppend,
       "INSERT INTO Archive (y) SELECT [A].[x] FROM A"},
      {{.name = "cross",
        .kind = aw::QueryKind::kCrosstab,
        .tables = {{"A", ""}},
        .columns = {{"[A].[Region]", ""}, {"Sum([A].[Qty])", "", 1}, {"[A].[Year]", "", 2}},
        .group_by = {"[A].[Region]", "[A].[Year]"}},
       QueryKind::kCrosstab,
       "TRANSFORM Sum([A].[Qty]) SELECT [A].[Region] FROM A GROUP BY [A].[Region], [A].[Year] "
       "PIVOT [A].[Year]"},
      {{.name = "passed",
        .kind = aw::QueryKind::kPassThrough,
        .sql = "EXEC dbo.Totals",
        .connect = "ODBC;DSN=shop"},
       QueryKind::kPassThrough,
       "EXEC dbo.Totals"},
      {{.name = "asks",
        .parameters = {{"[From]", 8}},
        .tables = {{"A", ""}},
        .columns = {{"[A].[x]", ""}},
        .where = "[A].[d]>=[From]"},
       QueryKind::kSelect,
       "PARAMETERS [From] DateTime; SELECT [A].[x] FROM A WHERE [A].[d]>=[From]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query.name);
    const QueryModel m = Read(c.query);
    EXPECT_EQ(m.kind, c.kind);
    EXPECT_EQ(AccessSql(m), c.sql);
  }
  EXPECT_EQ(Read(cases[5].query).connect, "ODBC;DSN=shop");
}

// A catalogue flag alone still names the kind: rows written by an older Access may lack it.
TEST(QueryModelTest, KindFallsBackToTheCatalogueFlags) {
  EXPECT_EQ(QueryKindOf(48, 0), QueryKind::kUpdate);
  EXPECT_EQ(QueryKindOf(128, 0), QueryKind::kUnion);
  EXPECT_EQ(QueryKindOf(0, 0), QueryKind::kSelect);
  EXPECT_EQ(QueryKindOf(0, 5), QueryKind::kDelete);
}

}  // namespace
}  // namespace ferrolyte

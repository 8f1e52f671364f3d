// What the engine tells about relationships and descriptions, for the foreign-key and comment
// transfer: flags, column pairs in key order, Description properties.
#include <gtest/gtest.h>

#include <algorithm>

#include "accesswriter/writer.h"
#include "platform/dao.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using T = aw::ColumnType;

TEST(DaoRelationsTest, RelationsCarryTheirFlagsAndColumnPairsInKeyOrder) {
  testing::TempDir dir;
  std::string path = dir.File("relations.mdb");
  {
    aw::DatabaseWriter db(path);
    aw::Table customers{.name = "Customers", .description = "Who buys"};
    customers.columns = {
        {.name = "Region", .type = T::kText, .size = 4},
        {.name = "Code", .type = T::kLong},
        {.name = "Name", .type = T::kText, .size = 40, .description = "Full name"}};
    customers.indexes = {
        {.name = "PrimaryKey", .columns = {{"Region"}, {"Code"}}, .primary_key = true}};
    db.AddTable(customers);
    aw::Table orders{.name = "Orders"};
    orders.columns = {{.name = "Id", .type = T::kLong},
                      {.name = "CustCode", .type = T::kLong},
                      {.name = "CustRegion", .type = T::kText, .size = 4}};
    db.AddTable(orders);
    db.AddRelationship({.name = "CustomersOrders",
                        .primary_table = "Customers",
                        .primary_columns = {"Region", "Code"},
                        .foreign_table = "Orders",
                        .foreign_columns = {"CustRegion", "CustCode"},
                        .cascade_updates = true,
                        .cascade_deletes = true});
    db.AddRelationship({.name = "Loose",
                        .primary_table = "Orders",
                        .primary_columns = {"Id"},
                        .foreign_table = "Customers",
                        .foreign_columns = {"Code"},
                        .enforce = false});
    db.Finish();
  }
  auto database = CreateLibmdbEngine()->Workspaces(0)->OpenDatabase(path, false, true, "");
  std::vector<DaoRelation> relations = database->Relations();
  auto pairs = [](const DaoRelation& r) {
    std::vector<std::string> out;
    for (const DaoRelationField& f : r.fields) out.push_back(f.name + "=" + f.foreign_name);
    return out;
  };
  ASSERT_EQ(relations.size(), 2u);
  EXPECT_EQ(relations[0].name + " " + relations[0].table + " " + relations[0].foreign_table,
            "CustomersOrders Customers Orders");
  EXPECT_EQ(relations[0].attributes, kDaoRelationUpdateCascade | kDaoRelationDeleteCascade);
  EXPECT_EQ(pairs(relations[0]), (std::vector<std::string>{"Region=CustRegion", "Code=CustCode"}));
  EXPECT_EQ(relations[1].name, "Loose");
  EXPECT_EQ(relations[1].attributes, kDaoRelationDontEnforce);

  auto defs = database->TableDefs();
  auto customers = std::find_if(defs.begin(), defs.end(),
                                [](const auto& def) { return def->Name() == "Customers"; });
  ASSERT_NE(customers, defs.end());
  EXPECT_EQ((*customers)->Description(), "Who buys");
  EXPECT_EQ((*customers)->Fields()[2].description, "Full name");
  EXPECT_EQ((*customers)->Fields()[1].description, "");
}

}  // namespace
}  // namespace ferrolyte

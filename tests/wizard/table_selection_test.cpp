#include "wizard/table_selection.h"

#include <gtest/gtest.h>

#include "conversion/views.h"

namespace ferrolyte {
namespace {

// A flat tree of node paths with check marks, in node order.
class FakeTree : public CheckTree {
 public:
  explicit FakeTree(std::vector<std::string> paths)
      : checked_(paths.size(), false), paths_(std::move(paths)) {}
  int NodeCount() const override { return static_cast<int>(paths_.size()); }
  std::string NodePath(int node) const override { return paths_[node]; }
  bool IsChecked(int node) const override { return checked_[node]; }
  void SetChecked(int node, bool checked) override { checked_[node] = checked; }
  std::vector<bool> checked_;

 private:
  std::vector<std::string> paths_;
};

DictionaryPtr Paths(std::initializer_list<const char*> paths) {
  DictionaryPtr d = Dictionary::Create();
  for (const char* p : paths) d->Set(p, p);
  return d;
}

class SelectionTest : public ::testing::Test {
 protected:
  CarriedSelection carried_;
};

TEST(NodeKeysTest, KeysOfTablesAndFieldsStayApart) {
  EXPECT_EQ(TableNodeKey("Orders"),
            "TBL"
            "Orders");
  EXPECT_EQ(FieldNodeKey("Orders", "Id"), std::string("FLDOrders\0Id", 12));
  // Table AB with field C and table A with field BC: same path pieces, different keys.
  EXPECT_NE(FieldNodeKey("AB", "C"), FieldNodeKey("A", "BC"));
  EXPECT_EQ(FieldNodePath("Orders", "Id"), "Orders\\Id");
  // A table named a\b and field b of table a share one path.
  EXPECT_EQ(FieldNodePath("a", "b"), "a\\b");
}

TEST(TablesOfSchemaTest, ReadsTablesAndOwnFieldsInDocumentOrder) {
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(
      "<AccessDatabase><Tables>"
      "<Table><Name>B</Name><Fields><Field><Name>x</Name></Field><Field><Name>y</Name></Field>"
      "</Fields><Indexes><Index><Name>ix</Name><Fields><Field><Name>x</Name></Field></Fields>"
      "</Index></Indexes></Table>"
      "<Table><Name>A</Name></Table>"
      "</Tables></AccessDatabase>"));
  const std::vector<TableNodes> tables = TablesOfSchema(ReadSchemaModel(doc));
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].name, "B");
  EXPECT_EQ(tables[0].fields, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(tables[1].name, "A");
  EXPECT_TRUE(tables[1].fields.empty());
}

TEST_F(SelectionTest, CheckedPathsInNodeOrderWithoutDuplicates) {
  FakeTree tree({"a", "a\\b", "c", "a\\b", "c\\d"});
  tree.checked_ = {true, true, false, true, true};
  EXPECT_EQ(GetCheckedPaths(tree)->Keys(), (std::vector<std::string>{"a", "a\\b", "c\\d"}));
  const DictionaryPtr paths = GetCheckedPaths(tree);
  EXPECT_EQ(paths->Item("c\\d").Text(), "c\\d");
}

TEST_F(SelectionTest, ApplySelectionChecksExactlyTheListedPaths) {
  FakeTree tree({"Orders", "Orders\\Id", "Customers", "Customers\\Name"});
  tree.checked_ = {false, true, true, false};
  ApplySelection(tree, Paths({"Orders", "Customers\\Name", "Gone"}));
  EXPECT_EQ(tree.checked_, (std::vector<bool>{true, false, false, true}));
  // The lookups did not add keys.
  DictionaryPtr listed = Paths({"Orders"});
  ApplySelection(tree, listed);
  EXPECT_EQ(listed->Count(), 1);
}

TEST_F(SelectionTest, SharedPathMarksBothNodes) {
  FakeTree tree({"a", "a\\b", "a\\b"});
  ApplySelection(tree, Paths({"a\\b"}));
  EXPECT_EQ(tree.checked_, (std::vector<bool>{false, true, true}));
}

TEST_F(SelectionTest, RestoreChecksAllOnlyWhenNothingIsSelected) {
  FakeTree tree({"T", "T\\f", "U"});
  carried_.Restore(tree);
  EXPECT_EQ(tree.checked_, (std::vector<bool>{true, true, true}));

  // One empty path (an empty list in a file) is a selection: nothing is checked.
  carried_.set_paths(PathsOfList(Value::TextList({""})));
  carried_.Restore(tree);
  EXPECT_EQ(tree.checked_, (std::vector<bool>{false, false, false}));

  // A table listed without its fields.
  carried_.set_paths(PathsOfList(Value::TextList({"T"})));
  carried_.Restore(tree);
  EXPECT_EQ(tree.checked_, (std::vector<bool>{true, false, false}));
}

TEST_F(SelectionTest, CaptureCarriesMarksToTheNextTree) {
  FakeTree old_tree({"Same", "Same\\f", "OnlyOld"});
  old_tree.checked_ = {true, false, true};
  carried_.Capture(old_tree);
  FakeTree new_tree({"Same", "Same\\f", "OnlyNew"});
  carried_.Restore(new_tree);
  EXPECT_EQ(new_tree.checked_, (std::vector<bool>{true, false, false}));

  // An empty old tree captures nothing, so the new tree comes up fully checked.
  FakeTree empty({});
  carried_.Capture(empty);
  carried_.Restore(new_tree);
  EXPECT_EQ(new_tree.checked_, (std::vector<bool>{true, true, true}));
}

TEST_F(SelectionTest, StarInALoadedSelectionChecksEverything) {
  FakeTree tree({"T", "T\\f", "U"});
  carried_.set_paths(PathsOfList(Value::TextList({"*"})));
  carried_.Restore(tree);
  EXPECT_EQ(tree.checked_, (std::vector<bool>{true, true, true}));
}

TEST(ExpandAllTablesTest, StarBecomesEveryTableWithItsFields) {
  const std::vector<TableNodes> tables = {{"T", {"a", "b"}}, {"U", {}}};
  const std::vector<std::string> all = {"T", "T\\a", "T\\b", "U"};
  struct Case {
    Value given;
    Value expected;
  } cases[] = {
      {Value::TextList({"*"}), Value::TextList(all)},
      {Value("*"), Value::TextList(all)},
      // An entry listed beside "*" stays where it is and is not repeated.
      {Value::TextList({"U", "*"}), Value::TextList({"U", "T", "T\\a", "T\\b"})},
      {Value::TextList({"T", "T\\a"}), Value::TextList({"T", "T\\a"})},
      {Value("T"), Value("T")},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandAllTables(c.given, tables), c.expected);
}

// Queries and links come after the tables; a query's path can never be a table's or a field's.
TEST(TablesOfSchemaTest, LinksAndQueriesFollowTheTablesWithPathsOfTheirOwn) {
  pugi::xml_document doc;
  doc.load_string(
      "<AccessDatabase><Tables><Table><Name>T</Name><Fields><Field><Name>a</Name></Field>"
      "</Fields></Table></Tables><Queries><Query><Name>Open Orders</Name></Query></Queries>"
      "<LinkedTables><LinkedTable><Name>L</Name></LinkedTable></LinkedTables></AccessDatabase>");
  const std::vector<TableNodes> nodes = TablesOfSchema(ReadSchemaModel(doc));
  EXPECT_EQ(AllPaths(nodes), (std::vector<std::string>{"T", "T\\a", "L", "Queries!Open Orders"}));
  EXPECT_EQ(ExpandAllTables(Value::TextList({"*"}), nodes), Value::TextList(AllPaths(nodes)));
  EXPECT_EQ(QueryOfEntry("Queries!Open Orders"), "Open Orders");
  EXPECT_EQ(QueryOfEntry("queries!x"), "x");
  for (const char* not_query : {"Queries", "Queries!", "Queries\\x", "T\\Queries!x"})
    EXPECT_FALSE(QueryOfEntry(not_query)) << not_query;
}

TEST(PathsOfListTest, OnlyListsGivePaths) {
  EXPECT_EQ(PathsOfList(Value("Orders"))->Count(), 0);
  EXPECT_EQ(PathsOfList(Value())->Count(), 0);
  const DictionaryPtr paths = PathsOfList(Value::TextList({"x,\"y\"", "a\\b", "x,\"y\""}));
  EXPECT_EQ(paths->Keys(), (std::vector<std::string>{"x,\"y\"", "a\\b"}));
}

}  // namespace
}  // namespace ferrolyte

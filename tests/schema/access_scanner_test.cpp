#include "schema/access_scanner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "accesswriter/writer.h"
#include "platform/dao.h"
#include "schema/schema_document.h"
#include "support/errors.h"
#include "support/files.h"
#include "testing/run_context.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

// What a field without validation rules ends with.
#define NO_RULES "<ValidationRule/><ValidationText/><AllowZeroLength>1</AllowZeroLength>"

namespace aw = accesswriter;
using T = aw::ColumnType;

class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("shop.mdb");
    aw::DatabaseWriter db(path_);
    aw::Table customers{.name = "Customers", .description = "Who buys"};
    customers.columns = {
        {.name = "Id", .type = T::kLong, .auto_number = aw::AutoNumber::kIncrement},
        {.name = "Name",
         .type = T::kText,
         .size = 40,
         .required = true,
         .default_value = "\"none\"",
         .description = "Full name"},
        {.name = "Active", .type = T::kBoolean, .default_value = "yEs"},
        {.name = "Vip", .type = T::kBoolean, .default_value = "=Date()"},
        {.name = "Blocked", .type = T::kBoolean, .default_value = "False"},
        {.name = "Credit", .type = T::kCurrency},
        {.name = "Rate", .type = T::kDecimal, .precision = 12, .scale = 3},
        {.name = "Notes", .type = T::kMemo},
    };
    customers.indexes = {
        {.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true},
        {.name = "ByName",
         .columns = {{"Name"}, {"Active", true}},
         .unique = true,
         .ignore_nulls = true},
    };
    db.AddTable(customers);
    aw::Table orders{.name = "Orders"};
    orders.columns = {{.name = "OrderId", .type = T::kLong},
                      {.name = "CustomerId", .type = T::kLong}};
    orders.indexes = {{.name = "PrimaryKey", .columns = {{"OrderId"}}, .primary_key = true}};
    db.AddTable(orders);
    aw::Table notes{.name = "aNotes", .hidden = true};
    notes.columns = {{.name = "Text", .type = T::kText, .size = 10}};
    db.AddTable(notes);
    aw::Table system{.name = "MSysExtra", .system = true};
    system.columns = {{.name = "X", .type = T::kLong}};
    db.AddTable(system);
    db.AddLinkedTable({.name = "Linked", .database = "/nowhere/other.mdb"});
    db.AddLinkedTable({.name = "Remote", .connect = "ODBC;DSN=x"});
    db.AddRelationship({.name = "CustomersOrders",
                        .primary_table = "Customers",
                        .primary_columns = {"Id"},
                        .foreign_table = "Orders",
                        .foreign_columns = {"CustomerId"}});
    db.Finish();
  }

  testing::TempDir dir_;
  std::string path_;
};

TEST_F(ScannerTest, WritesTheWholeDocumentAndStatusLines) {
  RecordingStatus status;
  const SchemaScan scan = ScanAccessDatabase(path_, "", "", "", testing::ContextFor(status));
  const pugi::xml_document* doc = scan.document.get();
  std::string xml = SchemaXmlText(*doc);

  const std::string customers =
      "<Table><Name>Customers</Name><Attributes>0</Attributes><Indexes>"
      "<Index><Name>PrimaryKey</Name><Primary>1</Primary><Unique>1</Unique>"
      "<IgnoreNulls>0</IgnoreNulls><Foreign>0</Foreign><Fields><Field><Name>Id</Name>"
      "<Descending>0</Descending></Field></Fields></Index>"
      "<Index><Name>ByName</Name><Primary>0</Primary><Unique>1</Unique>"
      "<IgnoreNulls>1</IgnoreNulls><Foreign>0</Foreign><Fields><Field><Name>Name</Name>"
      "<Descending>0</Descending></Field><Field><Name>Active</Name><Descending>1</Descending>"
      "</Field></Fields></Index></Indexes><Fields>"
      "<Field><Name>Id</Name><Required>0</Required><DefaultValue/><Size>4</Size>"
      "<Scale>0</Scale><Type>4</Type><Attributes Bit1=\"1\" "
      "Bit5=\"1\">17</Attributes><Expression/><Description/>" NO_RULES
      "</Field>"
      "<Field><Name>Name</Name><Required>1</Required><DefaultValue>\"none\"</DefaultValue>"
      "<Size>40</Size><Scale>0</Scale><Type>10</Type>"
      "<Attributes Bit2=\"1\" Bit6=\"1\">34</Attributes><Expression/>"
      "<Description>Full name</Description>" NO_RULES
      "</Field>"
      "<Field><Name>Active</Name><Required>0</Required><DefaultValue>1</DefaultValue>"
      "<Size>1</Size><Scale>0</Scale><Type>1</Type>"
      "<Attributes Bit1=\"1\" Bit6=\"1\">33</Attributes><Expression/><Description/>" NO_RULES
      "</Field>"
      "<Field><Name>Vip</Name><Required>0</Required><DefaultValue>0</DefaultValue>"
      "<Size>1</Size><Scale>0</Scale><Type>1</Type>"
      "<Attributes Bit1=\"1\" Bit6=\"1\">33</Attributes><Expression/><Description/>" NO_RULES
      "</Field>"
      "<Field><Name>Blocked</Name><Required>0</Required><DefaultValue>0</DefaultValue>"
      "<Size>1</Size><Scale>0</Scale><Type>1</Type>"
      "<Attributes Bit1=\"1\" Bit6=\"1\">33</Attributes><Expression/><Description/>" NO_RULES
      "</Field>"
      "<Field><Name>Credit</Name><Required>0</Required><DefaultValue/><Size>19</Size>"
      "<Scale>4</Scale><Type>5</Type><Attributes Bit1=\"1\" "
      "Bit6=\"1\">33</Attributes><Expression/><Description/>" NO_RULES
      "</Field>"
      "<Field><Name>Rate</Name><Required>0</Required><DefaultValue/><Size>12</Size>"
      "<Scale>3</Scale><Type>20</Type><Attributes Bit1=\"1\" "
      "Bit6=\"1\">33</Attributes><Expression/><Description/>" NO_RULES
      "</Field>"
      "<Field><Name>Notes</Name><Required>0</Required><DefaultValue/><Size>0</Size>"
      "<Scale>0</Scale><Type>12</Type><Attributes Bit2=\"1\" "
      "Bit6=\"1\">34</Attributes><Expression/><Description/>" NO_RULES
      "</Field>"
      "</Fields><Description>Who buys</Description><ValidationRule/><ValidationText/></Table>";
  EXPECT_NE(xml.find(customers), std::string::npos) << xml;
  // Relationships, queries and links follow the tables.
  EXPECT_TRUE(xml.ends_with(
      "</Tables><Relations><Relation><Name>CustomersOrders</Name><Table>Customers</Table>"
      "<ForeignTable>Orders</ForeignTable><Attributes>0</Attributes><Fields><Field><Name>Id</Name>"
      "<ForeignName>CustomerId</ForeignName></Field></Fields></Relation></Relations><Queries/>"
      "<LinkedTables><LinkedTable><Name>Linked</Name><SourceTableName>Linked</SourceTableName>"
      "<Connect>;DATABASE=/nowhere/other.mdb</Connect></LinkedTable></LinkedTables>"
      "</AccessDatabase>"))
      << xml;
  EXPECT_EQ(xml.rfind("<AccessDatabase><Tables><Table><Name>aNotes</Name>", 0), 0u) << xml;
  EXPECT_EQ(xml.find('\n'), std::string::npos);

  // Hidden kept, system and linked skipped, order by name.
  std::vector<std::string> names;
  for (auto node : doc->select_nodes("/AccessDatabase/Tables/Table/Name"))
    names.push_back(node.node().text().get());
  EXPECT_EQ(names, (std::vector<std::string>{"aNotes", "Customers", "Orders"}));
  EXPECT_STREQ(doc->select_node("//Table[Name='aNotes']/Attributes").node().text().get(), "1");

  // The relationship's index lists its key column.
  auto foreign = doc->select_node("//Table[Name='Orders']/Indexes/Index[Foreign='1']").node();
  ASSERT_TRUE(foreign);
  EXPECT_STREQ(foreign.child("Name").text().get(), "CustomersOrders");
  EXPECT_STREQ(foreign.select_node("Fields/Field/Name").node().text().get(), "CustomerId");
  EXPECT_TRUE(
      doc->select_node("//Table[Name='Customers']/Indexes/Index[Primary=\"1\"]/Fields/"
                       "Field[Name=\"Id\"]"));
  EXPECT_TRUE(
      doc->select_node("//Table[Name='Customers']/Fields/Field[Name=\"Id\"]/Attributes/@Bit5"));
  EXPECT_FALSE(
      doc->select_node("//Table[Name='Customers']/Fields/Field[Name=\"Name\"]/Attributes/@Bit5"));

  EXPECT_EQ(status.lines,
            (std::vector<std::string>{"Connecting to source database", "Scanning table structures",
                                      "  - Reading aNotes", "  - Unable to read indexes",
                                      "  - Reading Customers", "  - Reading Orders",
                                      "Scanning completed"}));
  // Events run after every field and every table, besides the status lines.
  EXPECT_GE(status.events_processed, 7 + 10 + 3);
}

// The file copy is readable by the user alone, in the run's folder, and a scan again (the
// window scans on every change of source) replaces it.
TEST_F(ScannerTest, FileCopyIsPrivateAndReplacedByTheNextScan) {
  PrivateFolder folder(dir_.path());
  const std::string file = SchemaFilePath(folder.path());
  for (int scan = 0; scan < 2; ++scan) {
    RecordingStatus status;
    auto scanned =
        ScanAccessDatabase(path_, "", "", "", testing::ContextFor(status, folder.path()));
    EXPECT_EQ(ReadTextFile(file, "utf-8"), SchemaXmlText(*scanned.document));
  }
  struct stat st {};
  ASSERT_EQ(::lstat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0177777, S_IFREG | 0600u);
  ASSERT_EQ(::stat(folder.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(FolderPart(folder.path()), dir_.path() + "/");
}

TEST_F(ScannerTest, FailuresEndTheScanWithTheEngineError) {
  RecordingStatus status;
  PrivateFolder folder(dir_.path());
  try {
    ScanAccessDatabase(dir_.File("missing.mdb"), "", "", "",
                       testing::ContextFor(status, folder.path()));
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("Could not find file"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(SchemaFilePath(folder.path())));
}

TEST(SchemaDocumentTest, AttributeWordsAndBooleanDefaults) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("R");
  AppendAttributesElement(root, 0);
  AppendAttributesElement(root, 17);
  AppendAttributesElement(root, 0x80000002);
  EXPECT_EQ(SchemaXmlText(doc),
            "<R><Attributes>0</Attributes><Attributes Bit1=\"1\" Bit5=\"1\">17</Attributes>"
            "<Attributes Bit2=\"1\" Bit32=\"1\">-2147483646</Attributes></R>");

  struct Case {
    const char* engine;
    const char* written;
  };
  const Case cases[] = {{"TRUE", "1"},
                        {"yes", "1"},
                        {"1", "1"},
                        {"-1", "1"},
                        {"false", "0"},
                        {"No", "0"},
                        {"0", "0"},
                        {"", ""},
                        {"null", "NULL"},
                        {"=Date()", "0"},
                        {"5", "1"},
                        {" 7 ", "1"},
                        // As Access holds what the user typed with "=".
                        {"=True", "1"},
                        {" = no ", "0"},
                        {"=Null", "NULL"}};
  for (const Case& c : cases) EXPECT_EQ(NormaliseBooleanDefault(c.engine), c.written) << c.engine;
}

// Access shares a physical index among logical ones and numbers them apart from where they
// are stored: keys and flags must come from the physical index each one names.
TEST(IndexLayoutTest, EachIndexTakesKeysAndFlagsFromItsPhysicalIndex) {
  testing::TempDir dir;
  const std::string path = dir.File("indexes.mdb");
  {
    aw::DatabaseWriter db(path);
    aw::Table parent{.name = "Parent", .access_index_layout = true};
    parent.columns = {{.name = "id", .type = T::kLong},
                      {.name = "data", .type = T::kText, .size = 20},
                      {.name = "code", .type = T::kLong}};
    parent.indexes = {
        {.name = "id", .columns = {{"id"}}},
        {.name = "Again", .columns = {{"id"}}},  // shares the physical index of "id"
        {.name = "DataIndex", .columns = {{"data"}}, .unique = true, .ignore_nulls = true},
        {.name = "PrimaryKey", .columns = {{"id"}}, .primary_key = true},
        {.name = "Pair", .columns = {{"code", true}, {"data"}}, .unique = true, .required = true},
    };
    db.AddTable(parent);
    aw::Table child{.name = "Child", .access_index_layout = true};
    child.columns = {{.name = "parent", .type = T::kLong}};
    child.indexes = {{.name = "parent", .columns = {{"parent"}}}};
    db.AddTable(child);
    db.AddRelationship({.name = "ParentChild",
                        .primary_table = "Parent",
                        .primary_columns = {"id"},
                        .foreign_table = "Child",
                        .foreign_columns = {"parent"}});
    db.Finish();
  }
  auto database = CreateLibmdbEngine()->Workspaces(0)->OpenDatabase(path, false, true, "");
  std::string seen;
  for (const auto& table : database->TableDefs()) {
    if (table->Attributes() & kDaoSystemObject) continue;
    for (const DaoIndex& index : table->Indexes()) {
      seen += table->Name() + "." + index.name + ":";
      for (size_t k = 0; k < index.fields.size(); ++k)
        seen += " " + index.fields[k] + (index.descending[k] ? "-" : "");
      for (const auto& [flag, set] :
           {std::pair{" primary", index.primary}, std::pair{" unique", index.unique},
            std::pair{" ignore-nulls", index.ignore_nulls}, std::pair{" required", index.required},
            std::pair{" foreign", index.foreign}})
        if (set) seen += flag;
      seen += "\n";
    }
  }
  // In stored order: by name. The foreign key shares the child's own index on its column.
  EXPECT_EQ(seen,
            "Child.parent: parent\n"
            "Child.ParentChild: parent foreign\n"
            "Parent.Again: id\n"
            "Parent.DataIndex: data unique ignore-nulls\n"
            "Parent.id: id\n"
            "Parent.Pair: code- data unique required\n"
            "Parent.PrimaryKey: id primary unique required\n");
}
}  // namespace
}  // namespace ferrolyte

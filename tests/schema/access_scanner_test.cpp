#include "schema/access_scanner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <tuple>

#include "accesswriter/writer.h"
#include "platform/dao.h"
#include "schema/schema_document.h"
#include "support/errors.h"
#include "support/files.h"
#include "testing/run_context.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

std::string WrittenText(const SchemaModel& model) {
  pugi::xml_document document;
  WriteSchemaDocument(model, document);
  return SchemaXmlText(document);
}

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

struct FieldSeen {
  std::string name;
  int32_t type;
  int32_t size;
  int32_t scale;
  bool required;
  bool autonumber;
  std::string default_value;
  std::string description;
};

FieldSeen Seen(const SchemaField& f) {
  return {f.name.value(), f.type.value(), f.size,          f.scale,
          f.required,     f.autonumber(), f.default_value, f.description};
}

bool operator==(const FieldSeen& a, const FieldSeen& b) {
  return std::tie(a.name, a.type, a.size, a.scale, a.required, a.autonumber, a.default_value,
                  a.description) == std::tie(b.name, b.type, b.size, b.scale, b.required,
                                             b.autonumber, b.default_value, b.description);
}

std::ostream& operator<<(std::ostream& out, const FieldSeen& f) {
  return out << f.name << " type " << f.type << " " << f.size << "," << f.scale
             << (f.required ? " required" : "") << (f.autonumber ? " autonumber" : "")
             << " default [" << f.default_value << "] [" << f.description << "]";
}

// Each index as "name: column column- flags", a descending column marked with "-".
std::vector<std::string> IndexesSeen(const SchemaTable& table) {
  std::vector<std::string> seen;
  for (const SchemaIndex& index : table.indexes) {
    std::string line = index.name.value() + ":";
    for (const SchemaIndexField& field : index.fields)
      line += " " + field.name.value() + (field.descending ? "-" : "");
    if (index.primary.value()) line += " primary";
    if (index.unique.value()) line += " unique";
    if (index.ignore_nulls) line += " ignore-nulls";
    if (index.foreign) line += " foreign";
    seen.push_back(line);
  }
  return seen;
}

constexpr int32_t kLong = 4;

TEST_F(ScannerTest, ModelHoldsTheTablesKeysRelationsAndLinksOfTheCatalogue) {
  RecordingStatus status;
  const SchemaModel model = ScanAccessDatabase(path_, "", "", "", testing::ContextFor(status));

  // Hidden kept, system and linked skipped, order by name.
  std::vector<std::string> names;
  for (const SchemaTable& table : model.tables) names.push_back(table.name.value());
  ASSERT_EQ(names, (std::vector<std::string>{"aNotes", "Customers", "Orders"}));
  const SchemaTable& notes = model.tables[0];
  const SchemaTable& customers = model.tables[1];
  const SchemaTable& orders = model.tables[2];
  EXPECT_EQ(notes.attributes, uint32_t{kDaoHiddenObject});
  EXPECT_EQ(customers.attributes, 0u);
  EXPECT_EQ(customers.description, "Who buys");

  // Booleans' defaults as true/false texts; currency and decimal with their precision.
  const std::vector<FieldSeen> fields = {
      {"Id", kLong, 4, 0, false, true, "", ""},
      {"Name", kDaoText, 40, 0, true, false, "\"none\"", "Full name"},
      {"Active", kDaoBoolean, 1, 0, false, false, "1", ""},
      {"Vip", kDaoBoolean, 1, 0, false, false, "0", ""},
      {"Blocked", kDaoBoolean, 1, 0, false, false, "0", ""},
      {"Credit", kDaoCurrency, 19, 4, false, false, "", ""},
      {"Rate", kDaoDecimal, 12, 3, false, false, "", ""},
      {"Notes", kDaoMemo, 0, 0, false, false, "", ""},
  };
  std::vector<FieldSeen> seen;
  for (const SchemaField& field : customers.fields) seen.push_back(Seen(field));
  EXPECT_EQ(seen, fields);

  EXPECT_EQ(IndexesSeen(customers), (std::vector<std::string>{"PrimaryKey: Id primary unique",
                                                              "ByName: Name Active- unique "
                                                              "ignore-nulls"}));
  // The relationship's index lists its key column.
  EXPECT_EQ(IndexesSeen(orders), (std::vector<std::string>{"PrimaryKey: OrderId primary unique",
                                                           "CustomersOrders: CustomerId foreign"}));
  EXPECT_TRUE(IndexesSeen(notes).empty());

  ASSERT_EQ(model.relations.size(), 1u);
  const SchemaRelation& relation = model.relations[0];
  EXPECT_EQ(relation.name, "CustomersOrders");
  EXPECT_EQ(relation.table, "Customers");
  EXPECT_EQ(relation.foreign_table, "Orders");
  ASSERT_EQ(relation.fields.size(), 1u);
  EXPECT_EQ(relation.fields[0].name, "Id");
  EXPECT_EQ(relation.fields[0].foreign_name, "CustomerId");

  // Only the link to another Access file; the ODBC one cannot be followed.
  ASSERT_EQ(model.links.size(), 1u);
  EXPECT_EQ(model.links[0].name, "Linked");
  EXPECT_EQ(model.links[0].source_table, "Linked");
  EXPECT_EQ(model.links[0].connect, ";DATABASE=/nowhere/other.mdb");
  EXPECT_TRUE(model.queries.empty());
  EXPECT_EQ(model.relations_unreadable, "");
  EXPECT_EQ(model.queries_unreadable, "");

  EXPECT_EQ(status.lines,
            (std::vector<std::string>{"Connecting to source database", "Scanning table structures",
                                      "  - Reading aNotes", "  - Unable to read indexes",
                                      "  - Reading Customers", "  - Reading Orders",
                                      "Scanning completed"}));
  // Events run after every field and every table, besides the status lines.
  EXPECT_GE(status.events_processed, 7 + 10 + 3);
}

// The document written from a scan's model is the text earlier versions saved, byte for byte.
TEST_F(ScannerTest, DocumentWrittenFromTheModelIsTheSavedText) {
  RecordingStatus status;
  const SchemaModel model = ScanAccessDatabase(path_, "", "", "", testing::ContextFor(status));
  EXPECT_EQ(
      WrittenText(model),
      "<AccessDatabase><Tables><Table><Name>aNotes</Name><Attributes Bit1=\"1\">1</Attributes>"
      "<Indexes/><Fields><Field><Name>Text</Name><Required>0</Required><DefaultValue/><Size>10"
      "</Size><Scale>0</Scale><Type>10</Type><Attributes Bit2=\"1\" Bit6=\"1\">34</Attributes>"
      "<Expression/><Description/><ValidationRule/><ValidationText/><AllowZeroLength>1"
      "</AllowZeroLength></Field></Fields><Description/><ValidationRule/><ValidationText/>"
      "</Table><Table><Name>Customers</Name><Attributes>0</Attributes><Indexes><Index><Name>"
      "PrimaryKey</Name><Primary>1</Primary><Unique>1</Unique><IgnoreNulls>0</IgnoreNulls>"
      "<Foreign>0</Foreign><Fields><Field><Name>Id</Name><Descending>0</Descending></Field>"
      "</Fields></Index><Index><Name>ByName</Name><Primary>0</Primary><Unique>1</Unique>"
      "<IgnoreNulls>1</IgnoreNulls><Foreign>0</Foreign><Fields><Field><Name>Name</Name>"
      "<Descending>0</Descending></Field><Field><Name>Active</Name><Descending>1</Descending>"
      "</Field></Fields></Index></Indexes><Fields><Field><Name>Id</Name><Required>0</Required>"
      "<DefaultValue/><Size>4</Size><Scale>0</Scale><Type>4</Type>"
      "<Attributes Bit1=\"1\" Bit5=\"1\">17</Attributes><Expression/><Description/>"
      "<ValidationRule/><ValidationText/><AllowZeroLength>1</AllowZeroLength></Field><Field>"
      "<Name>Name</Name><Required>1</Required><DefaultValue>\"none\"</DefaultValue><Size>40"
      "</Size><Scale>0</Scale><Type>10</Type><Attributes Bit2=\"1\" Bit6=\"1\">34</Attributes>"
      "<Expression/><Description>Full name</Description><ValidationRule/><ValidationText/>"
      "<AllowZeroLength>1</AllowZeroLength></Field><Field><Name>Active</Name><Required>0"
      "</Required><DefaultValue>1</DefaultValue><Size>1</Size><Scale>0</Scale><Type>1</Type>"
      "<Attributes Bit1=\"1\" Bit6=\"1\">33</Attributes><Expression/><Description/>"
      "<ValidationRule/><ValidationText/><AllowZeroLength>1</AllowZeroLength></Field><Field>"
      "<Name>Vip</Name><Required>0</Required><DefaultValue>0</DefaultValue><Size>1</Size>"
      "<Scale>0</Scale><Type>1</Type><Attributes Bit1=\"1\" Bit6=\"1\">33</Attributes><Expression/>"
      "<Description/><ValidationRule/><ValidationText/><AllowZeroLength>1</AllowZeroLength>"
      "</Field><Field><Name>Blocked</Name><Required>0</Required><DefaultValue>0</DefaultValue>"
      "<Size>1</Size><Scale>0</Scale><Type>1</Type><Attributes Bit1=\"1\" Bit6=\"1\">33"
      "</Attributes><Expression/><Description/><ValidationRule/><ValidationText/>"
      "<AllowZeroLength>1</AllowZeroLength></Field><Field><Name>Credit</Name><Required>0"
      "</Required><DefaultValue/><Size>19</Size><Scale>4</Scale><Type>5</Type>"
      "<Attributes Bit1=\"1\" Bit6=\"1\">33</Attributes><Expression/><Description/>"
      "<ValidationRule/><ValidationText/><AllowZeroLength>1</AllowZeroLength></Field><Field>"
      "<Name>Rate</Name><Required>0</Required><DefaultValue/><Size>12</Size><Scale>3</Scale>"
      "<Type>20</Type><Attributes Bit1=\"1\" Bit6=\"1\">33</Attributes><Expression/><Description/>"
      "<ValidationRule/><ValidationText/><AllowZeroLength>1</AllowZeroLength></Field><Field>"
      "<Name>Notes</Name><Required>0</Required><DefaultValue/><Size>0</Size><Scale>0</Scale>"
      "<Type>12</Type><Attributes Bit2=\"1\" Bit6=\"1\">34</Attributes><Expression/><Description/>"
      "<ValidationRule/><ValidationText/><AllowZeroLength>1</AllowZeroLength></Field></Fields>"
      "<Description>Who buys</Description><ValidationRule/><ValidationText/></Table><Table>"
      "<Name>Orders</Name><Attributes>0</Attributes><Indexes><Index><Name>PrimaryKey</Name>"
      "<Primary>1</Primary><Unique>1</Unique><IgnoreNulls>0</IgnoreNulls><Foreign>0</Foreign>"
      "<Fields><Field><Name>OrderId</Name><Descending>0</Descending></Field></Fields></Index>"
      "<Index><Name>CustomersOrders</Name><Primary>0</Primary><Unique>0</Unique><IgnoreNulls>0"
      "</IgnoreNulls><Foreign>1</Foreign><Fields><Field><Name>CustomerId</Name><Descending>0"
      "</Descending></Field></Fields></Index></Indexes><Fields><Field><Name>OrderId</Name>"
      "<Required>0</Required><DefaultValue/><Size>4</Size><Scale>0</Scale><Type>4</Type>"
      "<Attributes Bit1=\"1\" Bit6=\"1\">33</Attributes><Expression/><Description/>"
      "<ValidationRule/><ValidationText/><AllowZeroLength>1</AllowZeroLength></Field><Field>"
      "<Name>CustomerId</Name><Required>0</Required><DefaultValue/><Size>4</Size><Scale>0"
      "</Scale><Type>4</Type><Attributes Bit1=\"1\" Bit6=\"1\">33</Attributes><Expression/>"
      "<Description/><ValidationRule/><ValidationText/><AllowZeroLength>1</AllowZeroLength>"
      "</Field></Fields><Description/><ValidationRule/><ValidationText/></Table></Tables>"
      "<Relations><Relation><Name>CustomersOrders</Name><Table>Customers</Table><ForeignTable>"
      "Orders</ForeignTable><Attributes>0</Attributes><Fields><Field><Name>Id</Name>"
      "<ForeignName>CustomerId</ForeignName></Field></Fields></Relation></Relations><Queries/>"
      "<LinkedTables><LinkedTable><Name>Linked</Name><SourceTableName>Linked</SourceTableName>"
      "<Connect>;DATABASE=/nowhere/other.mdb</Connect></LinkedTable></LinkedTables>"
      "</AccessDatabase>");
}

// Tests describe schemas as the text of a file copy: read back, a scan's copy must give the
// very model the scan gave, for the fixture and for real files alike.
TEST_F(ScannerTest, ModelReadsBackFromItsFileCopyUnchanged) {
  std::vector<std::string> files = {path_};
  const std::string shared = std::string(FERROLYTE_SOURCE_DIR) + "/../shared/access/";
  for (const char* name :
       {"jet3-v1997-indexes-relationships.mdb", "jet3-v1997-test.mdb", "jet4-rc4-encoded.mdb",
        "jet4-v2003-numeric.mdb", "ace14-v2010-indexes-relationships.accdb",
        "ace16-v2016-attachments.accdb", "ace16-v2016-bigint.accdb", "ace16-v2016-currency.accdb"})
    if (std::filesystem::exists(shared + name)) files.push_back(shared + name);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    RecordingStatus status;
    const SchemaModel model = ScanAccessDatabase(file, "", "", "", testing::ContextFor(status));
    ASSERT_FALSE(model.tables.empty());
    const std::string written = WrittenText(model);
    EXPECT_EQ(WrittenText(ReadSchemaText(written)), written);
  }
}

// The file copy is readable by the user alone, in the run's folder, and a scan again (the
// window scans on every change of source) replaces it.
TEST_F(ScannerTest, FileCopyIsPrivateAndReplacedByTheNextScan) {
  PrivateFolder folder(dir_.path());
  const std::string file = SchemaFilePath(folder.path());
  for (int scan = 0; scan < 2; ++scan) {
    RecordingStatus status;
    const SchemaModel model =
        ScanAccessDatabase(path_, "", "", "", testing::ContextFor(status, folder.path()));
    EXPECT_EQ(ReadTextFile(file, "utf-8"), WrittenText(model));
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

// What the scanned fixture lacks: line breaks in names, a column the engine gives no type,
// a saved query with the SQL its rows make, and the reasons relationships and queries could
// not be read.
TEST(SchemaDocumentTest, WritesLineBreaksQueriesAndUnreadableReasonsAsTheModelHoldsThem) {
  SchemaModel model;
  SchemaTable& table = model.tables.emplace_back();
  table.name = std::string("A\r\nB");
  SchemaField& field = table.fields.emplace_back();
  field.name = std::string("x\ry\nz");
  field.type = 0;
  field.size = 4;
  field.required = true;
  field.allow_zero_length = false;
  field.attributes = 0x8002;
  field.stored_type = 109;
  model.relations_unreadable = "page 3 < page 4 & more";
  model.queries_unreadable = "damaged";
  model.queries.push_back({"q",
                           0,
                           {{0, 0, "", "", ""},
                            {1, 1, "", "", ""},
                            {3, 0, "", "", ""},
                            {5, 0, "Parts", "", ""},
                            {6, 0, "", "", "[Id]"},
                            {255, 0, "", "", ""}}});
  model.links.push_back({"L", "There", ";DATABASE=/a/b.mdb"});

  const std::string empty_row = "<Name1/><Name2/><Expression/></Row>";
  EXPECT_EQ(WrittenText(model),
            "<AccessDatabase><Tables><Table><Name>A\r\nB</Name><Attributes>0</Attributes>"
            "<Indexes/><Fields><Field><Name>x\ry\nz</Name><Required>1</Required>"
            "<DefaultValue/><Size>4</Size><Scale>0</Scale><Type>0</Type>"
            "<Attributes Bit2=\"1\" Bit16=\"1\">32770</Attributes><Expression/><Description/>"
            "<ValidationRule/><ValidationText/><AllowZeroLength>0</AllowZeroLength>"
            "<StoredType>109</StoredType></Field></Fields><Description/><ValidationRule/>"
            "<ValidationText/></Table></Tables>"
            "<Relations><Unreadable>page 3 &lt; page 4 &amp; more</Unreadable></Relations>"
            "<Queries><Unreadable>damaged</Unreadable><Query><Name>q</Name><Flags>0</Flags><Rows>"
            "<Row><Attribute>0</Attribute><Flag>0</Flag>" +
                empty_row + "<Row><Attribute>1</Attribute><Flag>1</Flag>" + empty_row +
                "<Row><Attribute>3</Attribute><Flag>0</Flag>" + empty_row +
                "<Row><Attribute>5</Attribute><Flag>0</Flag><Name1>Parts</Name1><Name2/>"
                "<Expression/></Row><Row><Attribute>6</Attribute><Flag>0</Flag><Name1/><Name2/>"
                "<Expression>[Id]</Expression></Row><Row><Attribute>255</Attribute><Flag>0</Flag>" +
                empty_row +
                "</Rows><SQL>SELECT [Id] FROM Parts</SQL></Query></Queries>"
                "<LinkedTables><LinkedTable><Name>L</Name><SourceTableName>There</SourceTableName>"
                "<Connect>;DATABASE=/a/b.mdb</Connect></LinkedTable></LinkedTables>"
                "</AccessDatabase>");
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

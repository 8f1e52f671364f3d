#include "schema/schema_model.h"

#include <gtest/gtest.h>

#include <functional>

namespace ferrolyte {
namespace {

SchemaTable ReadTable(const std::string& table_xml) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(
      ("<AccessDatabase><Tables>" + table_xml + "</Tables></AccessDatabase>").c_str()));
  const SchemaModel model = ReadSchemaModel(doc);
  EXPECT_EQ(model.tables.size(), 1u);
  return model.tables.empty() ? SchemaTable{} : model.tables[0];
}

void ExpectError(const std::function<void()>& use, int32_t number, const std::string& description) {
  try {
    use();
    ADD_FAILURE() << "the bad value was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), number);
    EXPECT_EQ(e.description(), description);
  }
}

TEST(SchemaModelTest, StrictConversions) {
  EXPECT_EQ(DirectLong("-12"), -12);
  EXPECT_EQ(DirectLong("-2147483648"), INT32_MIN);
  const std::pair<const char*, bool> bools[] = {
      {"True", true}, {" FALSE ", false}, {"0", false}, {"-1", true}, {"0.5", true}};
  for (const auto& [text, expected] : bools) EXPECT_EQ(DirectBool(text), expected) << text;
  for (const char* text : {"abc", "4.5", "2147483648", ""}) {
    SCOPED_TRACE(text);
    ExpectError([&] { DirectLong(text); }, 13, "Type mismatch");
  }
  for (const char* text : {"maybe", ""}) {
    SCOPED_TRACE(text);
    ExpectError([&] { DirectBool(text); }, 13, "Type mismatch");
  }
}

// Reading never fails; the value that did not read raises its error when it is used.
TEST(SchemaModelTest, BadTextsRaiseWhereTheirValueIsUsed) {
  using Use = std::function<void(const SchemaTable&)>;
  const Use table_name = [](const SchemaTable& t) { t.name.value(); };
  const Use field_name = [](const SchemaTable& t) { t.fields.at(0).name.value(); };
  const Use field_type = [](const SchemaTable& t) { t.fields.at(0).type.value(); };
  const Use primary = [](const SchemaTable& t) { t.indexes.at(0).primary.value(); };
  const Use unique = [](const SchemaTable& t) { t.indexes.at(0).unique.value(); };
  const Use index_name = [](const SchemaTable& t) { t.indexes.at(0).name.value(); };
  const Use index_field = [](const SchemaTable& t) { t.indexes.at(0).fields.at(0).name.value(); };
  auto field = [](const std::string& inner) {
    return "<Table><Name>T</Name><Fields><Field>" + inner + "</Field></Fields></Table>";
  };
  auto index = [](const std::string& inner) {
    return "<Table><Name>T</Name><Indexes><Index>" + inner + "</Index></Indexes></Table>";
  };
  const std::string kNo = "The schema description has no ";
  const struct {
    std::string xml;
    Use use;
    int32_t number;
    std::string description;
  } cases[] = {
      {"<Table><Description>d</Description></Table>", table_name, 91,
       kNo + "Name element in Table ''"},
      {field("<Type>4</Type>"), field_name, 91, kNo + "Name element in Field ''"},
      {field("<Name>C</Name>"), field_type, 91, kNo + "Type element in Field 'C'"},
      {field("<Name>C</Name><Type>text</Type>"), field_type, 13, "Type mismatch"},
      {index("<Name>ix</Name><Unique>0</Unique>"), primary, 91,
       kNo + "Primary element in Index 'ix'"},
      {index("<Name>ix</Name><Primary>maybe</Primary>"), primary, 13, "Type mismatch"},
      {index("<Name>ix</Name><Primary>0</Primary>"), unique, 91,
       kNo + "Unique element in Index 'ix'"},
      {index("<Primary>0</Primary><Unique>0</Unique>"), index_name, 91,
       kNo + "Name element in Index ''"},
      {index("<Name>ix</Name><Fields><Field><Descending>1</Descending></Field></Fields>"),
       index_field, 91, kNo + "Name element in Field ''"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xml);
    SchemaTable table;
    ASSERT_NO_THROW(table = ReadTable(c.xml));
    ExpectError([&] { c.use(table); }, c.number, c.description);
  }
}

// The flags the definitions branch on; other values are covered through the definitions.
TEST(SchemaModelTest, ReadsFlags) {
  const SchemaTable t = ReadTable(
      "<Table><Name>T</Name><Fields>"
      "<Field><Name>ID</Name><Type>4</Type><Attributes Bit1=\"1\" Bit5=\"1\">17</Attributes>"
      "</Field><Field><Name>P</Name><Type>4</Type><Attributes Bit16=\"1\">32768</Attributes>"
      "</Field></Fields><Indexes>"
      "<Index><Name>PK</Name><Primary>True</Primary><Unique>False</Unique><Foreign>0</Foreign>"
      "<Fields><Field><Name>ID</Name><Descending>1</Descending></Field>"
      "<Field><Name>P</Name><Descending>0</Descending></Field><Field><Name>Q</Name></Field>"
      "</Fields></Index>"
      "<Index><Name>FK</Name><Primary>0</Primary><Unique>-1</Unique><Foreign>1</Foreign></Index>"
      "<Index><Name>Unknown</Name><Primary>0</Primary><Unique>0</Unique></Index>"
      "</Indexes></Table>");
  ASSERT_EQ(t.fields.size(), 2u);
  EXPECT_TRUE(t.fields[0].autonumber());
  EXPECT_FALSE(t.fields[1].autonumber());  // other attribute bits are no auto number
  EXPECT_TRUE(t.fields[1].hyperlink());
  EXPECT_FALSE(t.fields[0].hyperlink());
  ASSERT_EQ(t.indexes.size(), 3u);
  const SchemaIndex& pk = t.indexes[0];
  EXPECT_TRUE(pk.primary.value());
  EXPECT_FALSE(pk.unique.value());
  EXPECT_TRUE(t.indexes[1].unique.value());
  ASSERT_EQ(pk.fields.size(), 3u);
  EXPECT_EQ((std::vector<bool>{pk.fields[0].descending, pk.fields[1].descending,
                               pk.fields[2].descending}),
            (std::vector<bool>{true, false, false}));
  // Only an index that says it is its table's own is written as one.
  EXPECT_EQ((std::vector<bool>{pk.foreign, t.indexes[1].foreign, t.indexes[2].foreign}),
            (std::vector<bool>{false, true, true}));
}

}  // namespace
}  // namespace ferrolyte

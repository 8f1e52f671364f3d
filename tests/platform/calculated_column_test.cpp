// Calculated columns read as ordinary columns of their result type holding the computed
// values, through both engine interfaces.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "accesswriter/writer.h"
#include "platform/ado.h"
#include "platform/calculated_value.h"
#include "platform/dao.h"
#include "support/errors.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using T = aw::ColumnType;

TEST(CalculatedValueTest, DecimalResultsCarryTheirOwnScale) {
  struct Case {
    Bytes stored;
    const char* text;  // nullptr: malformed
  } cases[] = {
      // 96-bit magnitude: a 32-bit word, then a 64-bit word.
      {{14, 0, 3, 0, 0, 0, 0, 0, 0xdc, 0x05, 0, 0, 0, 0, 0, 0}, "1.500"},
      {{14, 0, 0, 0x80, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "-18446744073709551616"},
      {{14, 0, 2, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "0.00"},
      {{14, 0, 28, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, "0.0000000000000000000000000001"},
      // 128 bits: two 64-bit words.
      {{18, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, "18446744073709551618"},
      {{14, 0, 29, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, nullptr},  // scale beyond 28
      {{14, 0, 2, 0, 0, 0, 0, 0}, nullptr},                           // magnitude cut short
      {{1, 0, 2}, nullptr},
  };
  for (const Case& c : cases) {
    std::string text;
    bool ok = CalculatedDecimalText(c.stored.data(), c.stored.size(), text);
    EXPECT_EQ(ok, c.text != nullptr) << (c.text ? c.text : "malformed");
    if (ok && c.text) {
      EXPECT_EQ(text, c.text);
    }
  }
}

// Results as the rows' expressions give them: Name = First & " " & Last, Total =
// Price * Qty, Share = Qty / 8 (decimal), Big = Qty > 10, Due = #2024-01-01# + Qty.
class CalculatedColumnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("calc.accdb");
    aw::DatabaseWriter db(path_, {.format = aw::Format::kAce12});
    aw::Table t{.name = "Items"};
    t.columns = {{.name = "First", .type = T::kText, .size = 20},
                 {.name = "Last", .type = T::kText, .size = 20},
                 {.name = "Price", .type = T::kCurrency},
                 {.name = "Qty", .type = T::kLong},
                 {.name = "Name", .type = T::kText, .expression = "[First] & \" \" & [Last]"},
                 {.name = "Total", .type = T::kCurrency, .expression = "[Price]*[Qty]"},
                 {.name = "Share", .type = T::kDecimal, .expression = "CDec([Qty])/8"},
                 {.name = "Big", .type = T::kBoolean, .expression = "[Qty]>10"},
                 {.name = "Due", .type = T::kDateTime, .expression = "#2024-01-01#+[Qty]"},
                 {.name = "Story", .type = T::kMemo, .expression = "[Last] & [First]"},
                 {.name = "Half", .type = T::kDouble, .expression = "[Qty]/2"}};
    aw::TableWriter& rows = db.AddTable(t);
    rows.AddRow({"Ada", "Lovelace", aw::Value::Decimal("12.5"), 3, "Ada Lovelace",
                 aw::Value::Decimal("37.5"), aw::Value::Decimal("0.375"), false,
                 aw::Value::Date(45293), "LovelaceAda", 1.5});
    rows.AddRow({"Alan", "Turing", aw::Value::Decimal("-2"), 12, "Alan Turing",
                 aw::Value::Decimal("-24"), aw::Value::Decimal("1.5"), true, aw::Value::Date(45302),
                 std::string(3000, 'T'), 6.0});
    rows.AddRow({"Nobody", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                 nullptr, nullptr});
    db.Finish();
  }
  testing::TempDir dir_;
  std::string path_;
};

TEST_F(CalculatedColumnTest, ProviderGivesTheComputedValuesInTheirResultTypes) {
  Connection connection;
  connection.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path_ + ";");
  auto rs = connection.Execute("SELECT * FROM [Items]");
  const int types[] = {kAdVarWChar, kAdCurrency,     kAdNumeric, kAdBoolean,
                       kAdDate,     kAdLongVarWChar, kAdDouble};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(rs->FieldType(4 + i), types[i]) << rs->FieldName(4 + i);
  std::vector<std::vector<Value>> expected = {
      {Value("Ada Lovelace"), Value::Decimal("37.5000"), Value::Decimal("0.375"), Value(false),
       Value::Date(45293), Value("LovelaceAda"), Value(1.5)},
      {Value("Alan Turing"), Value::Decimal("-24.0000"), Value::Decimal("1.5"), Value(true),
       Value::Date(45302), Value(std::string(3000, 'T')), Value(6.0)},
      {Value::Null(), Value::Null(), Value::Null(), Value::Null(), Value::Null(), Value::Null(),
       Value::Null()}};
  for (const auto& row : expected) {
    ASSERT_FALSE(rs->Eof());
    for (int i = 0; i < 7; ++i) EXPECT_EQ(rs->FieldValue(4 + i), row[i]) << rs->FieldName(4 + i);
    rs->MoveNext();
  }
  EXPECT_TRUE(rs->Eof());

  std::map<std::string, std::vector<Value>> catalogue;
  for (auto c = connection.OpenSchema(kAdSchemaColumns); !c->Eof(); c->MoveNext())
    catalogue[c->Field("COLUMN_NAME").Text()] = {
        c->Field("DATA_TYPE"), c->Field("CHARACTER_MAXIMUM_LENGTH"), c->Field("NUMERIC_PRECISION"),
        c->Field("NUMERIC_SCALE")};
  EXPECT_EQ(catalogue["Name"],
            (std::vector<Value>{Value(kAdVarWChar), Value(255), Value::Null(), Value::Null()}));
  EXPECT_EQ(catalogue["Share"],
            (std::vector<Value>{Value(kAdNumeric), Value::Null(), Value(28), Value::Null()}));
  EXPECT_EQ(catalogue["Total"],
            (std::vector<Value>{Value(kAdCurrency), Value::Null(), Value(19), Value(4)}));
}

TEST_F(CalculatedColumnTest, EngineReportsResultTypesAndKeepsTheExpressions) {
  auto db = CreateLibmdbEngine()->Workspaces(0)->OpenDatabase(path_, false, true, "");
  std::shared_ptr<DaoTableDef> items;
  for (auto& def : db->TableDefs())
    if (def->Name() == "Items") items = def;
  ASSERT_TRUE(items);
  struct Want {
    const char* name;
    int type, size;
    const char* expression;
  } want[] = {{"Qty", 4, 4, ""},  // an ordinary Long next to them
              {"Name", kDaoText, 255, "[First] & \" \" & [Last]"},
              {"Total", kDaoCurrency, 8, "[Price]*[Qty]"},
              {"Share", kDaoDecimal, 16, "CDec([Qty])/8"},
              {"Big", kDaoBoolean, 1, "[Qty]>10"},
              {"Due", kDaoDate, 8, "#2024-01-01#+[Qty]"},
              {"Story", kDaoMemo, 0, "[Last] & [First]"}};
  for (const Want& w : want) {
    auto field = std::find_if(items->Fields().begin(), items->Fields().end(),
                              [&](const DaoField& f) { return f.name == w.name; });
    ASSERT_NE(field, items->Fields().end()) << w.name;
    EXPECT_EQ(field->type, w.type) << w.name;
    EXPECT_EQ(field->size, w.size) << w.name;
    EXPECT_EQ(field->expression, w.expression) << w.name;
    // No one writes a computed value: it is not updatable.
    if (*w.expression) {
      EXPECT_EQ(field->attributes & kDaoUpdatableField, 0u) << w.name;
    }
  }
}

TEST_F(CalculatedColumnTest, DamagedValueIsRefusedNamingTheColumn) {
  // The first decimal result: its wrapper (length 16) and its own length 14, then the scale.
  std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), {});
  const std::string share("\x10\x00\x00\x00\x0e\x00\x03\x00", 8);
  size_t at = bytes.find(share);
  ASSERT_NE(at, std::string::npos);
  file.seekp(static_cast<std::streamoff>(at + 6));
  file.put(40);
  file.close();

  Connection connection;
  connection.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path_ + ";");
  try {
    connection.Execute("SELECT [Share] FROM [Items]");
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.description(),
              "The calculated column 'Share' holds a value that is cut short or damaged.");
  }
}

}  // namespace
}  // namespace ferrolyte

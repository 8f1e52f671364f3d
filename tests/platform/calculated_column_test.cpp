// Calculated columns read as ordinary columns of their result type holding the computed
// values, through both engine interfaces.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "accesswriter/writer.h"
#include "platform/ado.h"
#include "platform/calculated_value.h"
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
      {{14, 0, 28, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, "0.0000000000000000000000000001"},
      // 128 bits: two 64-bit words.
      {{18, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, "18446744073709551618"},
      {{14, 0, 29, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, nullptr},  // scale beyond 28
      {{14, 0, 2, 0, 0, 0, 0, 0}, nullptr},                           // magnitude cut short
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

// Results as the rows' expressions give them: Name = First & " x", Total = Qty * 2.5,
// Share = Qty / 8 (decimal), Big = Qty > 10, Due = #2024-01-01# + Qty, Story = First x 3.
class CalculatedColumnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("calc.accdb");
    aw::DatabaseWriter db(path_, {.format = aw::Format::kAce12});
    aw::Table t{.name = "Items"};
    t.columns = {{.name = "First", .type = T::kText, .size = 250},
                 {.name = "Qty", .type = T::kLong},
                 {.name = "Name", .type = T::kText, .expression = "[First] & \" x\""},
                 {.name = "Total", .type = T::kCurrency, .expression = "[Qty]*2.5"},
                 {.name = "Share", .type = T::kDecimal, .expression = "CDec([Qty])/8"},
                 {.name = "Big", .type = T::kBoolean, .expression = "[Qty]>10"},
                 {.name = "Due", .type = T::kDateTime, .expression = "#2024-01-01#+[Qty]"},
                 {.name = "Story", .type = T::kMemo, .expression = "[First] & [First] & [First]"}};
    aw::TableWriter& rows = db.AddTable(t);
    const std::string long_first(250, 'T');
    rows.AddRow({"Ada", 3, "Ada x", aw::Value::Decimal("7.5"), aw::Value::Decimal("0.375"), false,
                 aw::Value::Date(45295), "AdaAdaAda"});
    rows.AddRow({long_first, -12, nullptr, aw::Value::Decimal("-30"), aw::Value::Decimal("-1.5"),
                 false, aw::Value::Date(45280), long_first + long_first + long_first});
    rows.AddRow({nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
    db.Finish();
  }
  testing::TempDir dir_;
  std::string path_;
};

TEST_F(CalculatedColumnTest, ProviderGivesTheComputedValuesInTheirResultTypes) {
  Connection connection;
  connection.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path_ + ";");
  auto rs =
      connection.OpenRows(TableRows("Items", {"Name", "Total", "Share", "Big", "Due", "Story"}));
  const int types[] = {kAdVarWChar, kAdCurrency, kAdNumeric, kAdBoolean, kAdDate, kAdLongVarWChar};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(rs->FieldType(i), types[i]) << rs->FieldName(i);
  const std::string t3(750, 'T');
  std::vector<std::vector<Value>> expected = {
      {Value("Ada x"), Value::Decimal("7.5000"), Value::Decimal("0.375"), Value(false),
       Value::Date(45295), Value("AdaAdaAda")},
      {Value::Null(), Value::Decimal("-30.0000"), Value::Decimal("-1.5"), Value(false),
       Value::Date(45280), Value(t3)},
      std::vector<Value>(6, Value::Null())};
  for (const auto& row : expected) {
    ASSERT_FALSE(rs->Eof());
    for (int i = 0; i < 6; ++i) EXPECT_EQ(rs->FieldValue(i), row[i]) << rs->FieldName(i);
    rs->MoveNext();
  }
  EXPECT_TRUE(rs->Eof());

  // The catalogue gives the scanner a decimal result's precision and a text result's length.
  for (auto c = connection.OpenSchema(kAdSchemaColumns); !c->Eof(); c->MoveNext()) {
    if (c->Field("COLUMN_NAME").Text() == "Share") {
      EXPECT_EQ(c->Field("NUMERIC_PRECISION"), Value(28));
    }
    if (c->Field("COLUMN_NAME").Text() == "Name") {
      EXPECT_EQ(c->Field("CHARACTER_MAXIMUM_LENGTH"), Value(255));
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
    connection.OpenRows(TableRows("Items", {"Share"}));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.description(),
              "The calculated column 'Share' holds a value that is cut short or damaged.");
  }
}

}  // namespace
}  // namespace ferrolyte

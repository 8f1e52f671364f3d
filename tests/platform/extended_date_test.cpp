// Date/Time Extended values: linear days and 100 ns ticks, read exactly and refused when
// they are not dates.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "accesswriter/writer.h"
#include "platform/access_rows.h"
#include "platform/ado.h"
#include "support/errors.h"
#include "support/oledate.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;

TEST(ExtendedDateTest, StoredTextGivesDaysAndTicksOrNothing) {
  const std::string nul(1, '\0');
  struct Case {
    std::string text;
    bool ok;
    int64_t day = 0, ticks = 0;
  } cases[] = {
      {"0000000000000000000:0000000000000000000:7" + nul, true, DaysFromOleEpoch(1, 1, 1), 0},
      {"0000000000000461831:0000000459001234567:7" + nul, true, DaysFromOleEpoch(1265, 6, 14),
       459001234567},
      {"0000000000003652058:0000000863999999999:7", true, DaysFromOleEpoch(9999, 12, 31),
       863999999999},
      // Beyond the calendar or the day, and digit runs that would overflow 64 bits.
      {"0000000000003652059:0000000000000000000:7", false},
      {"0000000000000000001:0000000864000000000:7", false},
      {"9999999999999999999:0000000000000000000:7", false},
      {"00000000000000000000:0000000000000000000:7", false},
      {"0000000000000000001:99999999999999999999:7", false},
      // Damaged or odd text.
      {"0000000000000000001:0000000000000000000:3", false},
      {"0000000000000000001:0000000000000000000", false},
      {"000000000000000000x:0000000000000000000:7", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int64_t day = -1, ticks = -1;
    bool ok = ExtendedDateParts(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size(), day,
                                ticks);
    EXPECT_EQ(ok, c.ok);
    if (ok) {
      EXPECT_EQ(day, c.day);
      EXPECT_EQ(ticks, c.ticks);
    }
  }
}

TEST(ExtendedDateTest, ValuesReadExactlyAndDamagedOnesAreRefused) {
  testing::TempDir dir;
  std::string path = dir.File("dates.accdb");
  {
    aw::DatabaseWriter db(path, {.format = aw::Format::kAce12});
    aw::Table t{.name = "Moments"};
    t.columns = {{.name = "At", .type = aw::ColumnType::kDateTimeExtended}};
    aw::TableWriter& rows = db.AddTable(t);
    for (const char* at : {"1265-06-14 12:45:00.1234567", "9999-12-31 23:59:59.9999999"})
      rows.AddRow({at});
    rows.AddRow({nullptr});
    db.Finish();
  }
  constexpr int64_t kSecond = 10000000;
  const std::pair<int64_t, int64_t> expected[] = {
      {DaysFromOleEpoch(1265, 6, 14), (12 * 3600 + 45 * 60) * kSecond + 1234567},
      {DaysFromOleEpoch(9999, 12, 31), 86400 * kSecond - 1}};
  Connection connection;
  connection.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path + ";");
  auto rs = connection.OpenRows(TableRows("Moments"));
  EXPECT_EQ(rs->FieldType(0), kAdDate);
  for (const auto& [day, ticks] : expected) {
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->FieldValue(0), Value::PreciseDate(day, ticks));
    rs->MoveNext();
  }
  EXPECT_TRUE(rs->FieldValue(0).IsNull());

  // A value whose days are no longer digits stops the read with the column named.
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), {});
  size_t at = bytes.find("0000000000000461831:");
  ASSERT_NE(at, std::string::npos);
  file.seekp(static_cast<std::streamoff>(at + 3));
  file.put('#');
  file.close();
  Connection damaged;
  damaged.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path + ";");
  try {
    damaged.OpenRows(TableRows("Moments"));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kAdoGenericError);
    EXPECT_EQ(e.description(),
              "The Date/Time Extended column 'At' holds a value that is not a date: "
              "'000#000000000461831:0000000459001234567:7?'.");
  }
}

}  // namespace
}  // namespace ferrolyte

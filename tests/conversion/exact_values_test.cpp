// Random values of every Access column type, written with the project's writer and moved by
// all three paths (a dump of INSERTs, a dump of COPY blocks, a direct run); on the server each
// value must equal the one written, compared with a table the test fills in forms of its own
// (17 significant digits, hexadecimal UTF-8, intervals from 1899-12-30).
#include <gtest/gtest.h>

#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "accesswriter/writer.h"
#include "conversion/server_run.h"
#include "support/files.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
using testing::TempDir;

constexpr int kRows = 400;
constexpr uint64_t kSeed = 20261209;

struct ColumnCase {
  aw::Column column;
  std::string sql_type;    // of the expected table
  std::string comparison;  // true when a (arrived) and e (expected) hold the same value
};

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

void AppendUtf8(std::vector<uint8_t>& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<uint8_t>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<uint8_t>(0xC0 | (c >> 6)));
    out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<uint8_t>(0xE0 | (c >> 12)));
    out.push_back(static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<uint8_t>(0xF0 | (c >> 18)));
    out.push_back(static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
  }
}

class Sample {
 public:
  Sample() : random_(kSeed) {}

  std::mt19937_64& random() { return random_; }
  uint64_t Below(uint64_t n) { return std::uniform_int_distribution<uint64_t>(0, n - 1)(random_); }
  bool OneIn(uint64_t n) { return Below(n) == 0; }

  double Double(int row) {
    static const double special[] = {0.0,
                                     -0.0,
                                     0.1 + 0.2,
                                     1.0 / 7,
                                     123456789.12345679,
                                     10.000000000000009,
                                     DBL_MIN,
                                     DBL_MAX,
                                     -DBL_MAX,
                                     std::numeric_limits<double>::denorm_min(),
                                     -std::numeric_limits<double>::denorm_min(),
                                     1e300,
                                     1e-300,
                                     1e20,
                                     1e21,
                                     std::numeric_limits<double>::infinity(),
                                     -std::numeric_limits<double>::infinity(),
                                     std::numeric_limits<double>::quiet_NaN()};
    if (static_cast<size_t>(row) < std::size(special)) return special[row];
    for (;;) {
      uint64_t bits = random_();
      if (row % 5 == 0) bits &= 0x800FFFFFFFFFFFFFull;  // subnormal
      double d;
      std::memcpy(&d, &bits, 8);
      if (std::isfinite(d)) return d;
    }
  }

  float Single(int row) {
    static const float special[] = {
        0.0f,     -0.0f,   16777216.0f, 2583.2092f, 0.1f,
        1.0f / 3, FLT_MIN, FLT_MAX,     -FLT_MAX,   std::numeric_limits<float>::denorm_min()};
    if (static_cast<size_t>(row) < std::size(special)) return special[row];
    for (;;) {
      auto bits = static_cast<uint32_t>(random_());
      if (row % 5 == 0) bits &= 0x807FFFFFu;
      float f;
      std::memcpy(&f, &bits, 4);
      if (std::isfinite(f)) return f;
    }
  }

  // A text of every control character, quotes, backslashes, "?" and letters beyond ASCII;
  // `nul` says whether it holds character 0.
  std::string Text(size_t max_length, bool& nul, std::vector<uint8_t>& arrived) {
    static const char32_t extra[] = {0x7F, 0xA0, 0xE9, 0x20AC, 0x4E2D, 0x1F600, 0xFFFD};
    std::vector<uint8_t> bytes;
    const size_t length = Below(max_length + 1);
    nul = false;
    arrived.clear();
    for (size_t i = 0; i < length; ++i) {
      char32_t c;
      switch (Below(4)) {
        case 0:
          c = static_cast<char32_t>(Below(32));
          break;
        case 1:
          c = extra[Below(std::size(extra))];
          break;
        default:
          c = static_cast<char32_t>(32 + Below(95));
      }
      nul = nul || c == 0;
      AppendUtf8(bytes, c);
      AppendUtf8(arrived, c == 0 ? U' ' : c);  // PostgreSQL text holds no NUL
    }
    return std::string(bytes.begin(), bytes.end());
  }

  std::vector<uint8_t> Bytes(size_t max_length) {
    std::vector<uint8_t> b(Below(max_length + 1));
    for (uint8_t& x : b) x = static_cast<uint8_t>(random_());
    return b;
  }

 private:
  std::mt19937_64 random_;
};

std::string Printf(const char* format, auto... args) {
  char buf[128];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

std::string TextExpected(const std::vector<uint8_t>& utf8) {
  return utf8.empty() ? "''" : "convert_from('\\x" + Hex(utf8) + "'::bytea, 'UTF8')";
}

std::string DoubleExpected(double d) {
  if (std::isnan(d)) return "'NaN'::float8";
  if (std::isinf(d)) return d < 0 ? "'-Infinity'::float8" : "'Infinity'::float8";
  return Printf("'%.17g'::float8", d);
}

std::string DecimalText(bool negative, uint64_t whole, uint64_t fraction, int scale) {
  return (negative ? "-" : "") + std::to_string(whole) + "." +
         Printf("%0*" PRIu64, scale, fraction);
}

const std::vector<ColumnCase>& Columns() {
  using T = aw::ColumnType;
  static const std::string same = "a.%s IS NOT DISTINCT FROM e.%s";
  static const std::vector<ColumnCase> columns = {
      {{.name = "Id", .type = T::kLong, .required = true}, "integer", same},
      {{.name = "Flag", .type = T::kBoolean}, "boolean", same},
      {{.name = "Byte", .type = T::kByte}, "smallint", same},
      {{.name = "Short", .type = T::kInteger}, "integer", same},
      {{.name = "Long", .type = T::kLong}, "integer", same},
      {{.name = "Big", .type = T::kBigInt}, "bigint", same},
      {{.name = "Money", .type = T::kCurrency}, "numeric", same},
      {{.name = "Dec", .type = T::kDecimal, .precision = 28, .scale = 6}, "numeric", same},
      {{.name = "Sgl", .type = T::kSingle},
       "float4",
       "float4send(a.%s::float4) IS NOT DISTINCT FROM float4send(e.%s)"},
      {{.name = "Dbl", .type = T::kDouble},
       "float8",
       "float8send(a.%s) IS NOT DISTINCT FROM float8send(e.%s)"},
      {{.name = "Stamp", .type = T::kDateTime}, "timestamp", same},
      {{.name = "Txt", .type = T::kText, .size = 255}, "text", same},
      {{.name = "Memo", .type = T::kMemo}, "text", same},
      {{.name = "Bin", .type = T::kBinary, .size = 255}, "text", same},
      {{.name = "BinReq", .type = T::kBinary, .size = 255, .required = true}, "text", same},
      {{.name = "Ole", .type = T::kOle}, "text", same},
      {{.name = "Guid", .type = T::kGuid}, "text", same},
      {{.name = "CalcDbl", .type = T::kDouble, .expression = "[Dbl]*1"},
       "float8",
       "float8send(a.%s) IS NOT DISTINCT FROM float8send(e.%s)"},
      {{.name = "CalcSgl", .type = T::kSingle, .expression = "[Sgl]*1"},
       "float4",
       "float4send(a.%s::float4) IS NOT DISTINCT FROM float4send(e.%s)"},
      {{.name = "CalcTxt", .type = T::kText, .size = 100, .expression = "[Txt] & \"\""},
       "text",
       same},
  };
  return columns;
}

struct Written {
  std::string expected_sql;  // CREATE TABLE expected and its rows
  int64_t nul_texts = 0, nul_memos = 0;
};

// Writes the table "Values" into the file and returns what the server must hold.
Written WriteSample(const std::string& path) {
  Sample s;
  aw::DatabaseWriter db(path, {.format = aw::Format::kAce12});
  aw::Table table{.name = "Values"};
  Written w;
  w.expected_sql = "CREATE TABLE expected (";
  for (const ColumnCase& c : Columns()) {
    table.columns.push_back(c.column);
    w.expected_sql += (c.column.name == "Id" ? "\"" : ", \"") + c.column.name + "\" " + c.sql_type;
  }
  w.expected_sql += ");\n";
  aw::TableWriter& rows = db.AddTable(table);
  for (int row = 0; row < kRows; ++row) {
    std::vector<aw::Value> values;
    std::vector<std::string> expected;
    auto put = [&](aw::Value v, std::string e) {
      values.push_back(std::move(v));
      expected.push_back(std::move(e));
    };
    // Every column but the key is null now and then.
    auto null_here = [&] { return row > 20 && s.OneIn(12); };
    put(row, std::to_string(row));
    // A Yes/No value lives in the null mask: it has no null.
    const bool on = s.OneIn(2);
    put(on, on ? "true" : "false");
    auto integer = [&](int64_t low, int64_t high) {
      if (null_here()) return put(nullptr, "NULL");
      int64_t v = row == 1   ? low
                  : row == 2 ? high
                             : std::uniform_int_distribution<int64_t>(low, high)(s.random());
      put(v, std::to_string(v));
    };
    integer(0, 255);
    integer(-32768, 32767);
    integer(INT32_MIN, INT32_MAX);
    integer(INT64_MIN, INT64_MAX);
    if (null_here()) {
      put(nullptr, "NULL");
    } else {
      // Both ends of the writer's range, -922337203685477.5807 to 922337203685477.5807.
      const uint64_t magnitude =
          row <= 2 ? 9223372036854775807ull : s.random()() >> (s.Below(60) + 1);
      const std::string text =
          DecimalText(row == 1 || (row > 2 && s.OneIn(2)), magnitude / 10000, magnitude % 10000, 4);
      put(aw::Value::Decimal(text), text);
    }
    if (null_here()) {
      put(nullptr, "NULL");
    } else {
      // Up to 22 digits before the point and 6 after it.
      uint64_t high = s.Below(10000), mid = s.Below(1000000000000000000ull);
      std::string whole =
          high ? std::to_string(high) + Printf("%018" PRIu64, mid) : std::to_string(mid);
      const std::string text =
          (s.OneIn(2) ? "-" : "") + whole + "." + Printf("%06" PRIu64, s.Below(1000000));
      put(aw::Value::Decimal(text), text);
    }
    const float sgl = s.Single(row);
    const bool sgl_null = null_here();
    if (sgl_null)
      put(nullptr, "NULL");
    else
      put(static_cast<double>(sgl), Printf("'%.9g'::float4", static_cast<double>(sgl)));
    double dbl = s.Double(row);
    const bool dbl_null = null_here();
    if (dbl_null)
      put(nullptr, "NULL");
    else
      put(dbl, DoubleExpected(dbl));
    if (null_here()) {
      put(nullptr, "NULL");
    } else {
      // Both ends of the range, midnight and the last millisecond of a day among them.
      int64_t day = row == 1   ? -693593
                    : row == 2 ? 2958465
                    : row == 3
                        ? 0
                        : std::uniform_int_distribution<int64_t>(-693593, 2958465)(s.random());
      int64_t ms = row == 1 ? 0 : row == 2 ? 86399999 : row == 4 ? 0 : s.Below(86400000);
      if (row % 3 == 0) ms -= ms % 1000;  // whole seconds
      const double fraction = static_cast<double>(ms) / 86400000.0;
      const double serial =
          day < 0 ? static_cast<double>(day) - fraction : static_cast<double>(day) + fraction;
      put(aw::Value::Date(serial),
          Printf("'1899-12-30'::timestamp + %" PRId64 " * interval '1 day' + %" PRId64
                 " * interval '1 millisecond'",
                 day, ms));
    }
    bool nul = false;
    std::vector<uint8_t> arrived;
    std::string txt;
    const bool txt_null = null_here();
    if (txt_null) {
      put(nullptr, "NULL");
    } else {
      txt = s.Text(120, nul, arrived);
      w.nul_texts += nul;
      put(txt, TextExpected(arrived));
    }
    if (null_here()) {
      put(nullptr, "NULL");
    } else {
      std::string memo = s.Text(row == 5 ? 70000 : 3000, nul, arrived);
      w.nul_memos += nul;
      put(memo, TextExpected(arrived));
    }
    // Binary columns arrive as hexadecimal text; an empty value as the empty text.
    auto binary = [&](size_t max, bool nullable) {
      if (nullable && null_here()) return put(nullptr, "NULL");
      std::vector<uint8_t> b = row % 7 == 0 ? std::vector<uint8_t>() : s.Bytes(max);
      const std::string hex = "'" + Hex(b) + "'";
      put(aw::Value::Bytes(std::move(b)), hex);
    };
    binary(255, true);
    binary(255, false);
    binary(row == 6 ? 300000 : 4000, true);
    if (null_here()) {
      put(nullptr, "NULL");
    } else {
      std::string hex;
      for (int i = 0; i < 16; ++i) hex += Printf("%02X", static_cast<unsigned>(s.Below(256)));
      const std::string guid = "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" +
                               hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" + hex.substr(20) +
                               "}";
      put(aw::Value::Guid(guid), "'" + guid + "'");
    }
    // Calculated columns: the writer stores what it is given, as Access stores its results;
    // a null is Access's empty wrapper.
    if (dbl_null || s.OneIn(6))
      put(nullptr, "NULL");
    else
      put(dbl, DoubleExpected(dbl));
    if (sgl_null || s.OneIn(6))
      put(nullptr, "NULL");
    else
      put(static_cast<double>(sgl), Printf("'%.9g'::float4", static_cast<double>(sgl)));
    if (txt_null || txt.empty() || txt.size() > 100 || s.OneIn(6)) {
      put(nullptr, "NULL");
    } else {
      std::vector<uint8_t> calculated;
      for (char c : txt) calculated.push_back(c == 0 ? ' ' : static_cast<uint8_t>(c));
      put(txt, TextExpected(calculated));
    }
    rows.AddRow(values);
    w.expected_sql += "INSERT INTO expected VALUES (" + Join(expected, ", ") + ");\n";
  }
  db.Finish();
  return w;
}

std::string Psql(const TempDir& dir, const std::string& database, const std::string& args) {
  const std::string out = dir.File("psql.out");
  const std::string command =
      "psql -X -q -At -v ON_ERROR_STOP=1 -d " + database + " " + args + " > " + out + " 2>&1";
  const int rc = std::system(command.c_str());
  const std::string said = ReadTextFile(out, "utf-8");
  EXPECT_EQ(rc, 0) << said;
  return said;
}

// Per column that differs: how many rows, and the first of them with both values.
std::string Differences(const TempDir& dir, const std::string& database) {
  std::string query = "SELECT string_agg(line, E'\\n') FROM (";
  bool first = true;
  for (const ColumnCase& c : Columns()) {
    const std::string q = "\"" + c.column.name + "\"";
    std::string same = ReplaceAll(c.comparison, "%s", q);
    query += std::string(first ? "" : " UNION ALL ") + "SELECT '" + c.column.name +
             ": ' || count(*) || ' rows differ, first Id ' || min(e.\"Id\") || ': ' || "
             "left(coalesce((array_agg(a." +
             q +
             "::text ORDER BY e.\"Id\"))[1], 'NULL'), 60) || ' instead of ' || "
             "left(coalesce((array_agg(e." +
             q +
             "::text ORDER BY e.\"Id\"))[1], 'NULL'), 60) AS line FROM expected e LEFT JOIN "
             "\"Values\" a ON a.\"Id\" = e.\"Id\" WHERE NOT (" +
             same + ") HAVING count(*) > 0";
    first = false;
  }
  query += ") d";
  WriteTextFile(dir.File("differences.sql"), query + ";\n");
  std::string differences = Psql(dir, database, "-f " + dir.File("differences.sql"));
  while (!differences.empty() && differences.back() == '\n') differences.pop_back();
  return differences;
}

TEST(ExactValuesTest, EveryValueArrivesThroughEveryPath) {
  if (!testing::HaveServer() || std::system("psql --version > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "no PostgreSQL server (PGPORT unset or no psql)";
  TempDir dir;
  const std::string path = dir.File("values.accdb");
  const Written written = WriteSample(path);
  ASSERT_GT(written.nul_texts, 0);
  WriteTextFile(dir.File("expected.sql"), written.expected_sql);
  const testing::Source source = testing::Scan(path);

  testing::ScratchDatabase direct("exact_direct", false);
  auto run = testing::RunConversion(testing::DirectSettings(source, direct.name()), source);
  ASSERT_EQ(run->code, 0) << run->report;
  // The one change on the way is named, with the number of values it touched.
  EXPECT_TRUE(testing::Contains(
      run->report, "Table 'Values', column 'Txt': " + std::to_string(written.nul_texts) +
                       " values hold the character NUL"))
      << run->report;
  EXPECT_TRUE(testing::Contains(
      run->report, "Table 'Values', column 'Memo': " + std::to_string(written.nul_memos) +
                       " values hold the character NUL"))
      << run->report;

  testing::ScratchDatabase inserts("exact_inserts", false), copies("exact_copies", false);
  testing::LoadDumpInto(source, testing::DirectSettings(source, inserts.name()), inserts.name(),
                        "INSERT");
  testing::LoadDumpInto(source, testing::DirectSettings(source, copies.name()), copies.name(),
                        "COPY");
  for (const std::string& database : {direct.name(), inserts.name(), copies.name()}) {
    SCOPED_TRACE(database);
    Psql(dir, database, "-f " + dir.File("expected.sql"));
    EXPECT_EQ(Psql(dir, database, "-c 'SELECT count(*) FROM \"Values\"'"),
              std::to_string(kRows) + "\n");
    EXPECT_EQ(Differences(dir, database), "");
  }
}

}  // namespace
}  // namespace ferrolyte

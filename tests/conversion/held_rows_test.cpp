// A held row must come back value for value: a replayed INSERT is rendered from it, and the
// report quotes that INSERT.
#include "conversion/held_rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace ferrolyte {
namespace {

std::vector<const Value*> Pointers(const std::vector<Value>& values) {
  std::vector<const Value*> out;
  for (const Value& v : values) out.push_back(&v);
  return out;
}

TEST(HeldRowsTest, EveryKindComesBackAsItWent) {
  const std::vector<std::vector<Value>> rows = {
      {Value(), Value::Null(), Value(true), Value(false)},
      {Value(int64_t{-9223372036854775807 - 1}), Value(int64_t{42}), Value::Single(0.1f),
       Value(-0.0), Value(std::numeric_limits<double>::infinity()), Value(1e-300)},
      {Value::Decimal("-12.3400"), Value::Date(40000.25), Value::PreciseDate(-5, 863999999999),
       Value::PreciseDate(45000, 1)},
      // Texts and bytes with NUL and every byte value, empty ones, a long one.
      {Value(std::string("a\0b\t\xC3\xA4", 6)), Value(""), Value(std::string(100000, 'm')),
       Value::FromBytes({0x00, 0xFF, 0x80}), Value::FromBytes({})},
      {},
      {Value(std::vector<Value>{Value(1), Value("x")})},
  };
  HeldRows held;
  for (const std::vector<Value>& row : rows) held.Add(Pointers(row));
  ASSERT_EQ(held.rows(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(held.Row(i), rows[i]) << "row " << i;
  // A NaN equals no value: its bits must survive all the same.
  const std::vector<Value> nan = {Value(std::nan(""))};
  held.Add(Pointers(nan));
  EXPECT_TRUE(std::isnan(held.Row(rows.size()).at(0).AsDouble()));
}

TEST(HeldRowsTest, TruncatingKeepsTheRowsBeforeAndTakesNewOnes) {
  HeldRows held;
  std::vector<std::vector<Value>> rows;
  for (int i = 0; i < 5; ++i) rows.push_back({Value(int64_t{i}), Value(std::string(i, 'x'))});
  for (const auto& row : rows) held.Add(Pointers(row));
  const size_t three_bytes = [&] {
    HeldRows first;
    for (int i = 0; i < 3; ++i) first.Add(Pointers(rows[i]));
    return first.bytes();
  }();
  held.Truncate(3);
  EXPECT_EQ(held.rows(), 3u);
  EXPECT_EQ(held.bytes(), three_bytes);
  const std::vector<Value> next = {Value("next"), Value::Null()};
  held.Add(Pointers(next));
  EXPECT_EQ(held.Row(2), rows[2]);
  EXPECT_EQ(held.Row(3), next);
  held.Clear();
  EXPECT_EQ(held.rows(), 0u);
  EXPECT_EQ(held.bytes(), 0u);
}

}  // namespace
}  // namespace ferrolyte

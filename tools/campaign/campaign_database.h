// The database the byte-flip campaign damages: Customers (400 rows) and Orders (50 rows),
// with memos and OLE values in the row, on long-value pages and over chains of pages. The
// same bytes every time, so that a flip found by the campaign can be replayed in a test.
#pragma once

#include <cstddef>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "accesswriter/writer.h"

namespace ferrolyte::campaign {

inline std::string Lorem(size_t n, unsigned seed) {
  static const char* kWords[] = {"damage", "page",  "row",   "memo", "chain", "Zürich",
                                 "value",  "table", "Grüße", "byte", "flip",  "order"};
  std::mt19937 random(seed);
  std::string s;
  while (s.size() < n) {
    s += kWords[random() % 12];
    s += ' ';
  }
  s.resize(n);
  while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
  if (!s.empty() && static_cast<unsigned char>(s.back()) >= 0xC0) s.pop_back();
  return s;
}

inline void WriteCampaignDatabase(const std::filesystem::path& path, bool encrypted) {
  namespace aw = accesswriter;
  aw::DatabaseOptions options;
  if (encrypted) {
    options.format = aw::Format::kAce12;
    options.password = "campaign";
    options.encrypt = true;
    options.spin_count = 1000;  // a fast open; the cipher is the same
  }
  aw::DatabaseWriter db(path, options);
  aw::Table customers{.name = "Customers"};
  customers.columns = {
      {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
      {.name = "Name", .type = aw::ColumnType::kText, .size = 40, .required = true},
      {.name = "City", .type = aw::ColumnType::kText, .size = 30},
      {.name = "Balance", .type = aw::ColumnType::kCurrency},
      {.name = "Since", .type = aw::ColumnType::kDateTime},
      {.name = "Active", .type = aw::ColumnType::kBoolean},
      {.name = "Score", .type = aw::ColumnType::kDouble},
      {.name = "Notes", .type = aw::ColumnType::kMemo}};
  customers.indexes = {{.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true}};
  aw::TableWriter& c = db.AddTable(customers);
  for (int i = 0; i < 400; ++i) {
    // Mostly short notes in the row, some on long-value pages, a few over several pages.
    aw::Value notes = nullptr;
    if (i % 200 == 7) {
      notes = Lorem(6000, i);
    } else if (i % 40 == 3) {
      notes = Lorem(300 + i, i);
    } else if (i % 3 == 0) {
      notes = Lorem(20, i);
    }
    c.AddRow({nullptr, "Customer " + std::to_string(i), i % 7 ? aw::Value("Bern") : nullptr,
              aw::Value::Decimal(std::to_string(i * 17) + ".25"), aw::Value::Date(40000.5 + i),
              i % 2 == 0, i * 0.5, notes});
  }
  aw::Table orders{.name = "Orders"};
  orders.columns = {
      {.name = "OrderId", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
      {.name = "CustomerId", .type = aw::ColumnType::kLong},
      {.name = "Placed", .type = aw::ColumnType::kDateTime},
      {.name = "Total", .type = aw::ColumnType::kDecimal, .precision = 10, .scale = 2},
      {.name = "Comment", .type = aw::ColumnType::kMemo},
      {.name = "Scan", .type = aw::ColumnType::kOle}};
  orders.indexes = {{.name = "PrimaryKey", .columns = {{"OrderId"}}, .primary_key = true}};
  aw::TableWriter& o = db.AddTable(orders);
  for (int i = 0; i < 50; ++i) {
    std::vector<uint8_t> scan(i % 25 == 0 ? 5000 : 40, static_cast<uint8_t>(i));
    o.AddRow({nullptr, i * 8, aw::Value::Date(44000.25 + i),
              aw::Value::Decimal(std::to_string(i) + ".50"),
              i % 10 == 0 ? aw::Value(Lorem(1500, 1000 + i)) : aw::Value(Lorem(30, i)),
              aw::Value::Bytes(scan)});
  }
  db.Finish();
}

}  // namespace ferrolyte::campaign

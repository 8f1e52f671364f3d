// Damaged Access files: each structure the reader decodes, broken on purpose in a writer-made
// file, must raise an error that names the table and the page, never crash, hang or lose rows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "accesswriter/writer.h"
#include "platform/access_rows.h"
#include "platform/ado.h"
#include "platform/dao.h"
#include "platform/libmdb_handle.h"
#include "support/errors.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
constexpr size_t kPage = 4096;

uint16_t Get16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}
uint32_t Get32(const std::string& s, size_t at) {
  return Get16(s, at) | static_cast<uint32_t>(Get16(s, at + 2)) << 16;
}
void Set16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
void Set32(std::string& s, size_t at, uint32_t v) {
  Set16(s, at, static_cast<uint16_t>(v));
  Set16(s, at + 2, static_cast<uint16_t>(v >> 16));
}

// Where the structures of the written file lie.
struct Layout {
  uint32_t definition = 0;  // the definition page of Orders
  uint32_t data = 0;        // its first data page
  uint32_t chain = 0;       // the first page of its memo that spans three pages
  uint32_t catalog_data = 0;
  size_t map_row = 0;              // file offset of Orders' usage-map row
  std::pair<uint32_t, int> moved;  // the entry of its moved row: page and row
};

class DamagedFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("damaged.mdb");
    aw::DatabaseWriter db(path_);
    aw::Table t{.name = "Orders"};
    t.columns = {{.name = "Id", .type = aw::ColumnType::kLong},
                 {.name = "Name", .type = aw::ColumnType::kText, .size = 30},
                 {.name = "Notes", .type = aw::ColumnType::kMemo}};
    aw::TableWriter& rows = db.AddTable(t);
    rows.AddRow({0, "first", std::string(12000, 'n')});
    for (int i = 1; i < 30; ++i) rows.AddRow({i, "order " + std::to_string(i), "short"});
    rows.AddMovedRow({30, "moved", "short"});
    db.Finish();
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    image_ = s.str();

    auto file = AccessFile::Open(path_, EngineErrorStyle::kAdo);
    layout_.definition = static_cast<uint32_t>(file->OpenTable("Orders")->entry->table_pg);
    for (uint32_t p = 1; p < image_.size() / kPage; ++p) {
      const size_t at = p * kPage;
      if (image_[at] != 0x01) continue;
      const uint32_t owner = Get32(image_, at + 4);
      if (owner == layout_.definition && !layout_.data) layout_.data = p;
      for (int row = 0; owner == layout_.definition && row < Get16(image_, at + 12); ++row)
        if ((Get16(image_, at + 14 + 2 * row) & 0xC000) == 0x4000) layout_.moved = {p, row};
      if (owner == 2 && !layout_.catalog_data) layout_.catalog_data = p;
      // A chain's first row links to row 0 of the next page.
      const size_t row0 = at + (Get16(image_, at + 14) & 0x1FFF);
      if (image_.compare(at + 4, 4, "LVAL") == 0 && Get32(image_, row0) == (p + 1) << 8 &&
          !layout_.chain)
        layout_.chain = p;
    }
    const uint32_t map = Get32(image_, layout_.definition * kPage + 55);
    layout_.map_row =
        (map >> 8) * kPage + (Get16(image_, (map >> 8) * kPage + 14 + 2 * (map & 0xFF)) & 0x1FFF);
    ASSERT_TRUE(layout_.data && layout_.chain && layout_.catalog_data && layout_.moved.first);
  }

  // Writes the damaged image and reads every row of Orders through the provider; the error.
  Error ReadAll(const std::string& image) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << image;
    try {
      Connection c;
      c.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path_ + ";");
      for (auto rs = c.OpenRows(TableRows("Orders")); !rs->Eof(); rs->MoveNext()) {
      }
    } catch (const Error& e) {
      return e;
    }
    return Error(0, "no error");
  }

  testing::TempDir dir_;
  std::string path_;
  std::string image_;
  Layout layout_;
};

// Offset of row `row` of page `page` in the image.
size_t RowAt(const std::string& image, uint32_t page, int row) {
  return page * kPage + (Get16(image, page * kPage + 14 + 2 * row) & 0x1FFF);
}

TEST_F(DamagedFileTest, EachDamagedStructureNamesItsTableAndPage) {
  const Layout& l = layout_;
  const size_t data = l.data * kPage;
  const std::string data_page = "data page " + std::to_string(l.data);
  struct Case {
    const char* structure;
    std::function<void(std::string&)> damage;
    std::string table;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"row count", [&](std::string& s) { Set16(s, data + 12, 0xFFFF); }, "Orders",
       data_page + ": the row count does not fit the page"},
      {"row offset", [&](std::string& s) { Set16(s, data + 14, 0x1FFF); }, "Orders",
       data_page + ", row 0: the row runs past the end of the page"},
      {"row inside the offset table", [&](std::string& s) { Set16(s, data + 14, 20); }, "Orders",
       data_page + ", row 0: the row overlaps the row offset table"},
      {"row order", [&](std::string& s) { Set16(s, data + 16, Get16(s, data + 14) + 8); }, "Orders",
       data_page + ", row 1: the row ends before it starts"},
      {"column count", [&](std::string& s) { Set16(s, RowAt(s, l.data, 0), 0xFFFF); }, "Orders",
       data_page + ", row 0: the null mask runs past the start of the row"},
      {"variable-length offsets",
       [&](std::string& s) {
         // Row 0 ends the page: its first variable-length offset, then their count and the
         // one-byte null mask close it.
         Set16(s, l.data * kPage + kPage - 5, 0x0FFF);
       },
       "Orders", data_page + ", row 0: the variable-length offsets are out of order"},
      {"deleted entry past the page's end",
       [&](std::string& s) { Set16(s, data + 16, 0xC000 | 0x1FFF); }, "Orders",
       data_page + ", row 1: a deleted row's entry points past the end of the page"},
      {"moved row's page",
       [&](std::string& s) { Set32(s, RowAt(s, l.moved.first, l.moved.second), l.chain << 8); },
       "Orders",
       "data page " + std::to_string(l.moved.first) + ", row " + std::to_string(l.moved.second) +
           ": the row was moved to page " + std::to_string(l.chain) +
           ", row 0, which is no data page of the table"},
      {"moved row's row", [&](std::string& s) { s[RowAt(s, l.moved.first, l.moved.second)] = 7; },
       "Orders", "which holds no moved row"},
      {"a live row taken for a moved one",
       [&](std::string& s) { Set16(s, data + 16, Get16(s, data + 16) | 0x4000); }, "Orders",
       data_page + ", row 1: the row was moved to page"},
      {"page kind", [&](std::string& s) { s[data] = 0x04; }, "Orders",
       data_page + ": not a data page"},
      {"page owner", [&](std::string& s) { Set32(s, data + 4, l.definition + 1); }, "Orders",
       data_page + ": the page belongs to another table"},
      {"long value chain loop",
       [&](std::string& s) { Set32(s, RowAt(s, l.chain, 0), l.chain << 8); }, "Orders",
       "long-value page " + std::to_string(l.chain) + ", row 0: the long-value chain returns to"},
      {"long value chain out of the file",
       [&](std::string& s) { Set32(s, RowAt(s, l.chain, 0), 0x00FFFF00); }, "Orders",
       "long-value page 65535, row 0: no such page"},
      {"long value chain cut short", [&](std::string& s) { Set32(s, RowAt(s, l.chain, 0), 0); },
       "Orders", "the long-value chain ends after"},
      {"definition page kind", [&](std::string& s) { s[l.definition * kPage] = 0x01; }, "Orders",
       "definition page " + std::to_string(l.definition) + ": not a table definition page"},
      {"definition column count",
       [&](std::string& s) { Set16(s, l.definition * kPage + 45, 0x7FFF); }, "Orders",
       "the column entries run past the end of the definition"},
      {"definition chain loop",
       [&](std::string& s) { Set32(s, l.definition * kPage + 4, l.definition); }, "Orders",
       "the definition's page chain loops"},
      {"usage map kind", [&](std::string& s) { s[l.map_row] = 7; }, "Orders",
       "the usage map is of an unknown kind"},
      {"catalogue row count",
       [&](std::string& s) { Set16(s, l.catalog_data * kPage + 12, 0xFFFF); }, "MSysObjects",
       "data page " + std::to_string(l.catalog_data) + ": the row count does not fit the page"},
      {"catalogue column entry",
       // The Name column's entry in MSysObjects' definition: its value is found nowhere.
       [&](std::string& s) { s[2 * kPage + 144] = static_cast<char>(s[2 * kPage + 144] ^ 0xFF); },
       "MSysObjects", "an object has no id, name or type"},
      {"truncated file", [&](std::string& s) { s.resize(3 * kPage); }, "MSysObjects",
       "the page is not in the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.structure);
    std::string image = image_;
    c.damage(image);
    Error e = ReadAll(image);
    EXPECT_EQ(e.number(), kAdoGenericError);
    EXPECT_EQ(e.description().rfind("The table '" + c.table + "' is damaged: ", 0), 0u)
        << e.description();
    EXPECT_NE(e.description().find(c.expected), std::string::npos) << e.description();
  }
  EXPECT_EQ(ReadAll(image_).number(), 0) << "the intact file reads without error";
}

TEST_F(DamagedFileTest, EngineReportsADamagedDefinitionWithTheJetNumber) {
  std::string image = image_;
  Set16(image, layout_.definition * kPage + 45, 0x7FFF);
  std::ofstream(path_, std::ios::binary | std::ios::trunc) << image;
  auto db = CreateLibmdbEngine()->Workspaces(0)->OpenDatabase(path_, false, true, "");
  std::shared_ptr<DaoTableDef> orders;
  for (auto& def : db->TableDefs())
    if (def->Name() == "Orders") orders = def;
  ASSERT_TRUE(orders);
  try {
    orders->Fields();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 3049);
    EXPECT_NE(e.description().find("The table 'Orders' is damaged: definition page"),
              std::string::npos);
  }
}

std::string Blob(std::initializer_list<std::string> records) {
  std::string s("KKD\0", 4);
  for (const std::string& r : records) s += r;
  return s;
}
// A record: its 32-bit length (header included), its type, its body.
std::string Record(uint16_t type, const std::string& body) {
  std::string r(6, '\0');
  Set32(r, 0, static_cast<uint32_t>(6 + body.size()));
  Set16(r, 4, type);
  return r + body;
}
std::string Le16Text(uint16_t v) {
  std::string s(2, '\0');
  Set16(s, 0, v);
  return s;
}

TEST(PropertyBlobTest, OnlyBlobsLibmdbCanParseSafelyPass) {
  const std::string names = Record(0x80, Le16Text(4) + std::string("R\0q\0", 4));
  // One boolean property: entry length 9, type 1, name 0, one byte of value.
  const std::string value =
      Le16Text(9) + std::string("\0\x01", 2) + Le16Text(0) + Le16Text(1) + "\x01";
  const std::string values = Record(0, Le16Text(0) + Le16Text(0) + Le16Text(0) + value);
  std::string zero_length = Record(0x80, "");
  Set32(zero_length, 0, 0);  // libmdb would step by 0 for ever
  const struct {
    std::string blob;
    bool readable;
  } cases[] = {
      {Blob({names, values}), true},
      {Blob({zero_length}), false},
      {Blob({values}), false},                             // values before names
      {Blob({Record(0x80, Le16Text(40) + "ab")}), false},  // name past its block
      {Blob({names, Record(0, Le16Text(0) + Le16Text(0) + Le16Text(0) + Le16Text(9) +
                                  std::string("\0\x01", 2) + Le16Text(5) + Le16Text(1) + "\x01")}),
       false},                                       // names a property that is not in the list
      {Blob({names, values}).substr(0, 30), false},  // cut inside a record
      {std::string("XYZ\0", 4), false},
  };
  for (const auto& c : cases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.blob.data());
    EXPECT_EQ(CheckPropertyBlob({bytes, c.blob.size()}) == nullptr, c.readable)
        << ::testing::PrintToString(c.blob);
  }
}

}  // namespace
}  // namespace ferrolyte

// Byte flips the campaign (tools/campaign) found on the campaign database before the reader
// checked its input: each crashed the program or lost rows without a word. Replayed here, each
// must raise an error or read every row.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "../../tools/campaign/campaign_database.h"
#include "platform/ado.h"
#include "support/errors.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

struct Flip {
  int page;
  int offset;
};

// Rows of each table read, or the error that stopped the reading.
std::string ReadBothTables(const std::string& path) {
  std::string counts;
  try {
    Connection c;
    c.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path + ";");
    for (const char* table : {"Customers", "Orders"}) {
      int rows = 0;
      for (auto rs = c.OpenRows(TableRows(table)); !rs->Eof(); rs->MoveNext()) {
        for (int i = 0; i < rs->FieldCount(); ++i) rs->FieldValue(i);
        ++rows;
      }
      counts += std::to_string(rows) + " ";
    }
  } catch (const Error&) {
    return "error";
  }
  return counts;
}

TEST(FormerCrashersTest, EachFlipIsRefusedOrReadsEveryRow) {
  testing::TempDir dir;
  const std::string path = dir.File("campaign.mdb");
  campaign::WriteCampaignDatabase(path, false);
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  const std::string intact = s.str();
  ASSERT_EQ(ReadBothTables(path), "400 50 ");
  const Flip crashed[] = {{4, 12},    {4, 315},   {4, 1165},  {4, 1166}, {4, 1591}, {4, 3890},
                          {9, 1980},  {9, 3405},  {10, 2129}, {11, 908}, {15, 273}, {15, 3822},
                          {16, 1156}, {16, 2375}, {17, 3760}, {19, 3726}};
  const Flip lost_rows[] = {{4, 25},  {4, 1589},  {9, 14},  {9, 76},    {10, 0},  {10, 3756},
                            {11, 20}, {11, 914},  {15, 60}, {15, 4089}, {16, 22}, {16, 3941},
                            {17, 26}, {19, 3879}, {24, 52}, {30, 2727}};
  for (const auto* flips : {&crashed, &lost_rows}) {
    for (const Flip& f : *flips) {
      SCOPED_TRACE("page " + std::to_string(f.page) + " offset " + std::to_string(f.offset));
      std::string image = intact;
      const size_t at = static_cast<size_t>(f.page) * 4096 + static_cast<size_t>(f.offset);
      image[at] = static_cast<char>(image[at] ^ 0xFF);
      std::ofstream(path, std::ios::binary | std::ios::trunc) << image;
      const std::string result = ReadBothTables(path);
      EXPECT_TRUE(result == "error" || result == "400 50 ") << result;
    }
  }
}

}  // namespace
}  // namespace ferrolyte

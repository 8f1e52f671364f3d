// The two forms of a dump's rows: INSERT statements (the default, unchanged by the setting)
// and COPY blocks as pg_dump writes them.
#include <gtest/gtest.h>

#include <string>

#include "conversion/conversion_run.h"
#include "conversion_fixtures.h"
#include "support/files.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::FakeAccess;
using testing::FakeTable;
using testing::Section;

class DumpFormatTest : public ::testing::Test {
 protected:
  DumpFormatTest() {
    source_.tables["Orders"] = {{"ID", "Name", "Paid"},
                                {3, 202, 11},
                                {{Value(1), Value("Anna"), Value(true)},
                                 {Value(2), Value("O'Brien \\ a\tb\r\n?"), Value::Null()}}};
    source_.tables["Empty"] = {{"ID"}, {3}, {}};
    schema_ = testing::SchemaXml({{"Orders",
                                   {{.name = "ID", .type = 4, .size = 4},
                                    {.name = "Name", .type = 10, .size = 50},
                                    {.name = "Paid", .type = 1, .size = 1}},
                                   {}},
                                  {"Empty", {{.name = "ID", .type = 4, .size = 4}}, {}}});
  }

  // The dump of both tables with the given dumpformat (none: the key is left out).
  std::string Dump(const char* format, bool column_list = true) {
    DictionaryPtr settings = testing::RunSettings(
        path_, {"Orders", "Orders\\ID", "Orders\\Name", "Orders\\Paid", "Empty", "Empty\\ID"});
    if (format) Section(settings)->Set("dumpformat", format);
    Section(settings)->Set("columnlist", column_list ? 1 : 0);
    auto open = [this](const std::string&) {
      auto c = std::make_shared<Connection>();
      c->AttachBackend(std::make_unique<FakeAccess>(source_));
      return c;
    };
    std::string report;
    RecordingStatus status;
    const RunOutcome outcome = ConvertDatabase(settings, report, ReadSchemaText(schema_),
                                               testing::ContextFor(status), open);
    EXPECT_EQ(outcome.ExitStatus(), 0) << report;
    return ReadTextFile(path_, "");
  }

  testing::TempDir dir_;
  std::string path_ = dir_.File("dump.sql");
  FakeAccess source_;
  std::string schema_;
};

TEST_F(DumpFormatTest, CopyFormWritesOneBlockPerTableAsPgDumpDoes) {
  const std::string dump = Dump("COPY");
  EXPECT_NE(dump.find("\r\n--   dumpformat=COPY\r\n"), std::string::npos) << dump;
  EXPECT_EQ(dump.find("INSERT INTO"), std::string::npos) << dump;
  EXPECT_NE(dump.find("-- Dumping data for table 'Orders'\r\n--\r\n\r\n"
                      "COPY \"Orders\" (\"ID\", \"Name\", \"Paid\") FROM stdin;\r\n"
                      "1\tAnna\t1\r\n"
                      "2\tO'Brien \\\\ a\\tb\\r\\n?\t0\r\n"
                      "\\.\r\n"
                      "-- 2 records\r\n\r\n"),
            std::string::npos)
      << dump;
  // A table without rows still has its block, so that the file says it is empty.
  EXPECT_NE(dump.find("COPY \"Empty\" (\"ID\") FROM stdin;\r\n\\.\r\n-- 0 records\r\n"),
            std::string::npos)
      << dump;
  // Without the column list the rows go in the table's column order, as INSERTs would.
  EXPECT_NE(Dump("copy", false).find("\r\nCOPY \"Orders\" FROM stdin;\r\n1\tAnna\t1\r\n"),
            std::string::npos);
}

TEST_F(DumpFormatTest, InsertFormIsTheDumpWithoutTheSetting) {
  const std::string without = Dump(nullptr);
  EXPECT_NE(without.find("INSERT INTO \"Orders\" (\"ID\", \"Name\", \"Paid\") VALUES (1, E'Anna', "
                         "E'1');\r\n"),
            std::string::npos)
      << without;
  EXPECT_EQ(without.find("dumpformat"), std::string::npos);
  EXPECT_EQ(Dump("INSERT"), without);
  EXPECT_EQ(Dump("insert"), without);
}

}  // namespace
}  // namespace ferrolyte

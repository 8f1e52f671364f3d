#include "conversion/connections.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "conversion/conversion_run.h"
#include "platform/source_connection.h"
#include "support/errors.h"
#include "support/files.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

TEST(ConnectionsTest, SourceStringByExtensionAndCredentials) {
  struct Case {
    const char *file, *sysdb, *user, *password, *expected;
  } cases[] = {
      {"/db/Shop.ACCDB", "", "", "pw",
       "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/db/Shop.ACCDB;Jet OLEDB:Database "
       "Password=pw;"},
      {"/db/a.accde", "/db/s.mdw", "me", "",
       "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/db/a.accde;Persist Security Info=False;"},
      {"/db/a.mdb", "/db/s.mdw", "me", "pw",
       "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/db/a.mdb;Jet OLEDB:System "
       "database=/db/s.mdw;User Id=me;Password=pw;"},
      {"/db/a.mdb", "", "me", "pw",
       "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/db/a.mdb;Jet OLEDB:Database Password=pw;"},
      {"/db/a.mdb", "", "", "", "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/db/a.mdb;"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BuildSourceConnectionString(c.file, c.sysdb, c.user, c.password), c.expected);
}

class DriverTest : public ::testing::Test {
 protected:
  void WithDrivers(const std::string& ini) {
    WriteTextFile(dir_.File("odbcinst.ini"), ini);
    WriteTextFile(dir_.File("odbc.ini"), "");
  }
  TempDir dir_;
  ScopedEnv sysini_{"ODBCSYSINI", dir_.path().c_str()};
  ScopedEnv odbcini_{"ODBCINI", dir_.File("odbc.ini").c_str()};
  ScopedEnv home_{"HOME", dir_.path().c_str()};
};

// The driver manager keeps the driver folder of its first use for the whole process, so each
// check runs in a child process and leaves this one's driver list alone.
#define EXPECT_IN_CHILD(body) \
  EXPECT_EXIT(std::exit((body) ? 0 : 1), ::testing::ExitedWithCode(0), "")

TEST_F(DriverTest, PrefersPostgreSqlUnicode) {
  EXPECT_IN_CHILD([&] {
    WithDrivers(
        "[PostgreSQL ODBC Driver(UNICODE)]\nDriver=/x.so\n[PostgreSQL Unicode]\nDriver=/y.so\n");
    bool both = BuildDestinationConnectionString("localhost", "db", "5432", "u", "pw") ==
                "Driver={PostgreSQL UNICODE};Server=localhost;Port=5432;Database=db;Uid=u;Pwd=pw;";
    WithDrivers("[PostgreSQL ODBC Driver(UNICODE)]\nDriver=/x.so\n");
    bool second =
        BuildDestinationConnectionString("h", "d", "1", "u", "p") ==
        "Driver={PostgreSQL ODBC Driver(UNICODE)};Server=h;Port=1;Database=d;Uid=u;Pwd=p;";
    return both && second;
  }());
}

TEST_F(DriverTest, NoDriverRaises1004) {
  EXPECT_IN_CHILD([&] {
    WithDrivers("[PostgreSQL ANSI]\nDriver=/x.so\n");
    try {
      BuildDestinationConnectionString("h", "d", "1", "u", "p");
      return false;
    } catch (const Error& e) {
      return e.number() == 1004 &&
             e.description() ==
                 "No 32 bit PostgreSQL Unicode ODBC driver was found on your computer.";
    }
  }());
}

TEST(ConnectionsTest, HidePasswordHidesTheWholeValue) {
  const std::string head = "Driver={PostgreSQL UNICODE};Server=h;Port=1;Database=d;Uid=";
  struct Case {
    std::string uid_and_pwd, shown;
  } cases[] = {
      {"u;Pwd=secret;", "u;Pwd=** HIDDEN **;"},
      {"u;Pwd=;", "u;Pwd=;"},
      {"u;Pwd={a;Pwd=b}}};", "u;Pwd=** HIDDEN **;"},
      {"u;Pwd=unquoted;x;", "u;Pwd=** HIDDEN **;"},
      // A user name that looks like a password part is not mistaken for one.
      {"{x;Pwd=y};Pwd=z;", "{x;Pwd=y};Pwd=** HIDDEN **;"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(HidePassword(head + c.uid_and_pwd), head + c.shown) << c.uid_and_pwd;
}

TEST(DumpFileTest, WritesUtf8LinesWithCrLfAndReportsAMissingFolder) {
  TempDir dir;
  {
    DumpFile dump(dir.File("out.sql"));
    dump.WriteDumpLine("--");
    dump.WriteDumpLine("");
    dump.WriteDumpLine("CREATE TABLE \"Zo\xC3\xAB\" (\r\n  x\r\n);\r\n");
    dump.Close();
  }
  auto bytes = ReadFile(dir.File("out.sql"));
  std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text, "--\r\n\r\nCREATE TABLE \"Zo\xC3\xAB\" (\r\n  x\r\n);\r\n\r\n");
  EXPECT_THROW(DumpFile(dir.File("no/such/folder/out.sql")), Error);
}

}  // namespace
}  // namespace ferrolyte

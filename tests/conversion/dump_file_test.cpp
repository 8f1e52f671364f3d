#include "conversion/dump_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "conversion/conversion_run.h"
#include "platform/source_connection.h"
#include "support/errors.h"
#include "support/files.h"
#include "testing/run_context.h"
#include "testing/temp_dir.h"
#include "testing/tls_server.h"

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

// The driver passes SSLmode itself and hands pqopt to libpq; the password stays last.
TEST_F(DriverTest, OptionsGoToSslModeAndPqoptBeforeThePassword) {
  EXPECT_IN_CHILD([&] {
    WithDrivers("[PostgreSQL Unicode]\nDriver=/y.so\n");
    const std::string built =
        BuildDestinationConnectionString(PgParameters{"h;x",
                                                      "5432",
                                                      "d",
                                                      "u",
                                                      "p;w",
                                                      {{"sslrootcert", "/a b/ca}.crt"},
                                                       {"sslmode", "verify-full"},
                                                       {"application_name", "it's"}}});
    return built ==
               "Driver={PostgreSQL UNICODE};Server=;Port=5432;Database=d;Uid=u;"
               "SSLmode=verify-full;pqopt={host='h;x' sslrootcert='/a b/ca}}.crt' "
               "application_name='it\\'s'};Pwd={p;w};" &&
           HidePassword(built).ends_with("application_name='it\\'s'};Pwd=** HIDDEN **;");
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

TEST(ConnectionsTest, DestinationParametersComeFromTheSettings) {
  ScopedEnv timeout("PGCONNECT_TIMEOUT", nullptr);
  struct Case {
    std::map<std::string, std::string> settings;
    PgParameterList options;
  } cases[] = {
      {{}, {{"fallback_application_name", "ferrolyte"}, {"connect_timeout", "15"}}},
      {{{"destinationsslmode", "Verify-Full"},
        {"destinationsslrootcert", "/ca.crt"},
        {"destinationparameters", "connect_timeout=3 application_name=mine"}},
       {{"sslmode", "verify-full"},
        {"sslrootcert", "/ca.crt"},
        {"connect_timeout", "3"},
        {"application_name", "mine"},
        {"fallback_application_name", "ferrolyte"}}},
      {{{"destinationparameters", "fallback_application_name=x service=s"}},
       {{"service", "s"}, {"fallback_application_name", "x"}, {"connect_timeout", "15"}}},
  };
  for (const Case& c : cases) {
    const DictionaryPtr section = Dictionary::Create();
    section->Set("destinationserver", "h");
    section->Set("destinationusername", "u");
    section->Set("destinationpassword", "pw");
    for (const auto& [key, value] : c.settings) section->Set(key, value);
    const PgParameters where = DestinationParameters(*section, "shop");
    EXPECT_EQ((std::vector<std::string>{where.server, where.port, where.database, where.user,
                                        where.password}),
              (std::vector<std::string>{"h", "", "shop", "u", "pw"}));
    EXPECT_EQ(where.options, c.options);
  }
  // The destination page's shorter wait, where nothing else says how long.
  EXPECT_EQ(
      DestinationParameters(*Dictionary::Create(), "shop", 5).options,
      (PgParameterList{{"fallback_application_name", "ferrolyte"}, {"connect_timeout", "5"}}));
  // libpq's own variable says how long to wait, in both sessions.
  ScopedEnv given("PGCONNECT_TIMEOUT", "4");
  EXPECT_EQ(DestinationParameters(*Dictionary::Create(), "shop").options,
            (PgParameterList{{"fallback_application_name", "ferrolyte"}}));
}

// The destination page's check reaches a server that takes TLS only as a run does: the
// SSL mode, root certificate and parameters of the settings (or libpq's variables) apply to
// both sessions, and a refusal reads as libpq words it.
TEST(TryServerConnectionTest, OpensWhatTheRunOpens) {
  testing::TlsServer server;
  if (!server.started()) GTEST_SKIP() << "no TLS test server: " << server.problem();
  ScopedEnv mode("PGSSLMODE", nullptr), root("PGSSLROOTCERT", nullptr),
      service("PGSERVICE", nullptr), timeout("PGCONNECT_TIMEOUT", nullptr);
  struct Case {
    const char* name;
    std::map<std::string, std::string> settings;
    std::vector<std::pair<const char*, std::string>> environment;
    std::string error_part;  // empty: it opens
  };
  const std::string quoted_ca = "'" + server.ca() + "'";
  const Case cases[] = {
      {"verify-full with its CA",
       {{"destinationsslmode", "verify-full"}, {"destinationsslrootcert", server.ca()}},
       {},
       ""},
      {"require", {{"destinationsslmode", "require"}}, {}, ""},
      {"the mode among the parameters",
       {{"destinationparameters", "sslmode=verify-full sslrootcert=" + quoted_ca}},
       {},
       ""},
      {"the mode from libpq's variables",
       {},
       {{"PGSSLMODE", "verify-full"}, {"PGSSLROOTCERT", server.ca()}},
       ""},
      {"another CA",
       {{"destinationsslmode", "verify-full"}, {"destinationsslrootcert", server.other_ca()}},
       {},
       "certificate verify failed"},
      {"no TLS", {{"destinationsslmode", "disable"}}, {}, "no encryption"},
      {"wrong password",
       {{"destinationsslmode", "require"}, {"destinationpassword", "wrong"}},
       {},
       "password authentication failed for user \"postgres\""},
      {"unreadable parameters", {{"destinationparameters", "sslmode"}}, {}, "missing \"=\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DictionaryPtr section = Dictionary::Create();
    section->Set("destinationserver", "localhost");
    section->Set("destinationport", std::to_string(server.port()));
    section->Set("destinationusername", testing::TlsServer::kUser);
    section->Set("destinationpassword", testing::TlsServer::kPassword);
    section->Set("maintenancedb", "postgres");
    for (const auto& [key, value] : c.settings) section->Set(key, value);
    std::vector<std::unique_ptr<ScopedEnv>> environment;
    for (const auto& [name, value] : c.environment)
      environment.push_back(std::make_unique<ScopedEnv>(name, value.c_str()));
    const std::string error = TryServerConnection(section, testing::TestComponents(), 5);
    if (c.error_part.empty())
      EXPECT_EQ(error, "");
    else
      EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
  }
}

TEST(DumpFileTest, WritesUtf8LinesWithCrLfAndReportsAMissingFolder) {
  TempDir dir;
  {
    DumpFile dump(SystemEnv(), dir.File("out.sql"));
    dump.WriteDumpLine("--");
    dump.WriteDumpLine("");
    dump.WriteDumpLine("CREATE TABLE \"Zo\xC3\xAB\" (\r\n  x\r\n);\r\n");
    dump.Close();
  }
  auto bytes = ReadFile(dir.File("out.sql"));
  std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text, "--\r\n\r\nCREATE TABLE \"Zo\xC3\xAB\" (\r\n  x\r\n);\r\n\r\n");
  EXPECT_THROW(DumpFile(SystemEnv(), dir.File("no/such/folder/out.sql")), Error);
}

}  // namespace
}  // namespace ferrolyte

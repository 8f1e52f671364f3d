#include "platform/pg_connection.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/ado.h"
#include "platform/odbc_test_server.h"
#include "support/errors.h"
#include "testing/error_of.h"

namespace ferrolyte {
namespace {

using testing::ConnectTo;
using testing::ScratchDatabase;

PgParameters To(const std::string& database) {
  return {testing::ServerHost(), testing::ServerPort(), database, testing::ServerUser(),
          testing::ServerPassword()};
}

using testing::ErrorOf;

int64_t Rows(PgConnection& c, const std::string& table) {
  return std::stoll(c.QueryValue("SELECT count(*) FROM " + table).value_or("-1"));
}

TEST(PgConnectionTest, OpensFromTheDestinationValuesWhateverTheyHold) {
  FERROLYTE_REQUIRE_SERVER();
  // Quotes, backslashes, ";" and "=" would each break a keyword=value string built by hand.
  ScratchDatabase plain("pgopen", false);
  const std::string name = plain.name() + " a;b='c' \\d";
  ConnectTo(testing::MaintenanceDb())->Execute("CREATE DATABASE \"" + name + "\"");
  {
    PgConnection c(To(name));
    EXPECT_EQ(c.QueryValue("SELECT current_database()"), name);
    EXPECT_EQ(c.QueryValue("SHOW client_encoding"), "UTF8");
    EXPECT_FALSE(c.InTransaction());
  }
  testing::DropDatabase(name);

  Error missing = ErrorOf([&] { PgConnection c(To(plain.name())); });
  EXPECT_EQ(missing.number(), kAdoGenericError);
  EXPECT_NE(missing.description().find("database \"" + plain.name() + "\" does not exist"),
            std::string::npos)
      << missing.description();
  EXPECT_EQ(missing.description().find('\n'), std::string::npos);

  PgParameters closed = To("postgres");
  closed.server = "127.0.0.1";
  closed.port = "1";
  Error refused = ErrorOf([&] { PgConnection c(closed); });
  EXPECT_EQ(refused.number(), kAdoGenericError);
  EXPECT_NE(refused.description().find("port 1 failed"), std::string::npos)
      << refused.description();
}

TEST(PgConnectionTest, RejectedStatementReadsAsTheOdbcPathReportsIt) {
  FERROLYTE_REQUIRE_SERVER();
  ScratchDatabase db("pgreject");
  auto odbc = ConnectTo(db.name());
  PgConnection c(To(db.name()));
  c.Execute("CREATE TABLE t (id int PRIMARY KEY, n varchar(3) CHECK (n <> 'bad'))");
  c.Execute("INSERT INTO t VALUES (1, E'a')");
  for (const char* sql :
       {"INSERT INTO t VALUES (1, E'b')", "INSERT INTO t VALUES (2, E'bad')",
        "INSERT INTO t VALUES (3, E'abcd')", "INSERT INTO t VALUES (E'x', NULL)", "SELEC 1"}) {
    Error ours = ErrorOf([&] { c.Execute(sql); });
    Error driver = ErrorOf([&] { odbc->Execute(sql); });
    EXPECT_EQ(ours.number(), kAdoRejectedStatement) << sql;
    EXPECT_EQ(ours.number(), driver.number()) << sql;
    // The driver's text is the server's message and detail plus a note of its own.
    const std::string suffix = "; Error while executing the query";
    std::string server_part = driver.description();
    if (server_part.ends_with(suffix)) server_part.resize(server_part.size() - suffix.size());
    EXPECT_EQ(ours.description().substr(0, server_part.size()), server_part) << sql;
  }
  // Several statements in one text stand or fall together; the session stays usable.
  EXPECT_EQ(ErrorOf([&] {
              c.Execute("INSERT INTO t VALUES (5, E'e'); INSERT INTO t VALUES (1, E'x')");
            }).number(),
            kAdoRejectedStatement);
  EXPECT_EQ(Rows(c, "t"), 1);
  EXPECT_EQ(c.QueryValue("SELECT n FROM t WHERE id = 99"), std::nullopt);
  EXPECT_EQ(c.QueryValue("SELECT NULL::text"), std::nullopt);
  EXPECT_EQ(ErrorOf([&] { c.QueryValue("SELECT nothing FROM t"); }).number(),
            kAdoRejectedStatement);
}

TEST(PgConnectionTest, CopyCommitsWholeOrLeavesNothing) {
  FERROLYTE_REQUIRE_SERVER();
  ScratchDatabase db("pgcopy");
  PgConnection c(To(db.name()));
  c.Execute("CREATE TABLE t (id int PRIMARY KEY, n text)");

  // Pieces split anywhere, even inside a field, join into the rows.
  c.BeginCopy("COPY t (id, n) FROM STDIN");
  EXPECT_TRUE(c.in_copy());
  for (const char* piece : {"1\ta\\tb\n2\t", "\\N\n3", "\tc\n"}) c.PutCopyData(piece);
  c.EndCopy();
  EXPECT_FALSE(c.in_copy());
  EXPECT_EQ(Rows(c, "t"), 3);
  EXPECT_EQ(c.QueryValue("SELECT n FROM t WHERE id = 1"), "a\tb");
  EXPECT_EQ(c.QueryValue("SELECT count(*) FROM t WHERE id = 2 AND n IS NULL"), "1");

  // A rejected line undoes the whole COPY and is named in the description.
  c.BeginCopy("COPY t (id, n) FROM STDIN");
  c.PutCopyData("4\td\n5\te\n1\tduplicate\n");
  Error rejected = ErrorOf([&] { c.EndCopy(); });
  EXPECT_EQ(rejected.number(), kAdoRejectedStatement);
  EXPECT_NE(rejected.description().find("ERROR: duplicate key value violates unique constraint"),
            std::string::npos)
      << rejected.description();
  EXPECT_NE(rejected.description().find("CONTEXT: COPY t, line 3"), std::string::npos)
      << rejected.description();
  EXPECT_EQ(Rows(c, "t"), 3);

  // Abandoned, nothing of it stays.
  c.BeginCopy("COPY t (id, n) FROM STDIN");
  c.PutCopyData("6\tf\n");
  c.AbandonCopy();
  EXPECT_EQ(Rows(c, "t"), 3);

  Error refused = ErrorOf([&] { c.BeginCopy("COPY nosuch FROM STDIN"); });
  EXPECT_EQ(refused.number(), kAdoRejectedStatement);
  EXPECT_FALSE(c.in_copy());
  EXPECT_EQ(Rows(c, "t"), 3);
}

}  // namespace
}  // namespace ferrolyte

#include "platform/odbc_connection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "platform/ado.h"
#include "platform/odbc_test_server.h"
#include "support/errors.h"
#include "support/oledate.h"
#include "testing/error_of.h"

namespace ferrolyte {
namespace {

using testing::ConnectTo;
using testing::MaintenanceDb;
using testing::QueryValue;
using testing::ScratchDatabase;
using testing::ServerConnectionString;
using testing::SessionsOn;

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[3];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

using testing::ErrorOf;

TEST(OdbcConnectionTest, ExecutesStatementsAndReadsTheCountAsANumber) {
  FERROLYTE_REQUIRE_SERVER();
  ScratchDatabase db("exec");
  auto c = ConnectTo(db.name());
  EXPECT_EQ(c->Execute("CREATE TABLE t (id int, name varchar(20))"), nullptr);
  EXPECT_EQ(c->Execute("INSERT INTO t VALUES (1, E'a'), (2, E'b')"), nullptr);
  // An UPDATE that touches nothing is not a failure.
  EXPECT_EQ(c->Execute("UPDATE t SET id = 3 WHERE id = 99"), nullptr);
  // The run commits after every table although autocommit already did.
  EXPECT_EQ(c->Execute("COMMIT"), nullptr);

  auto rs =
      c->Execute("SELECT COUNT(*) FROM pg_catalog.pg_database WHERE datname=E'" + db.name() + "'");
  ASSERT_NE(rs, nullptr);
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->FieldCount(), 1);
  EXPECT_EQ(rs->FieldType(0), kAdBigInt);
  EXPECT_EQ(rs->FieldValue(0), Value(int64_t{1}));
  EXPECT_EQ(SafeLng(rs->FieldValue(0)), 1);
  rs->MoveNext();
  EXPECT_TRUE(rs->Eof());
  EXPECT_EQ(ErrorOf([&] { rs->FieldValue(0); }).number(), 3021);
  rs->Close();

  // Rows arrive in order, several per result, and autocommit made them visible elsewhere.
  auto other = ConnectTo(db.name());
  rs = other->Execute("SELECT id, name FROM t ORDER BY id");
  std::vector<std::string> seen;
  for (; !rs->Eof(); rs->MoveNext())
    seen.push_back(std::to_string(rs->FieldValue(0).AsInteger()) + rs->Field("NAME").Text());
  EXPECT_EQ(seen, (std::vector<std::string>{"1a", "2b"}));
}

TEST(OdbcConnectionTest, ReadsEachServerTypeAsTheAdoTypeAndValue) {
  FERROLYTE_REQUIRE_SERVER();
  auto c = ConnectTo(MaintenanceDb());
  Bytes long_bytes;
  for (int i = 0; i < 50000; ++i) long_bytes.insert(long_bytes.end(), {0x00, 0xff});
  struct Case {
    const char* expression;
    int ado_type;
    Value expected;
  } cases[] = {
      {"7::int2", kAdSmallInt, Value(int64_t{7})},
      {"(-2147483648)::int4", kAdInteger, Value(int64_t{-2147483648LL})},
      {"9007199254740993::int8", kAdBigInt, Value(int64_t{9007199254740993LL})},
      {"1.5::float4", kAdSingle, Value::Single(1.5f)},
      {"0.1::float8", kAdDouble, Value(0.1)},
      {"-12.3400::numeric(10,4)", kAdNumeric, Value::Decimal("-12.3400")},
      {"12345678901234567890.123456789::numeric", kAdNumeric,
       Value::Decimal("12345678901234567890.123456789")},
      {"DATE '2003-02-01'", 133, Value::Date(DaysFromOleEpoch(2003, 2, 1))},
      {"TIME '06:00:00'", 134, Value::Date(0.25)},
      {"TIMESTAMP '2003-02-01 04:05:06'", kAdDBTimeStamp,
       Value::Date(FieldsToOleDate({2003, 2, 1, 4, 5, 6}))},
      {"TIMESTAMP '1899-12-29 06:00:00'", kAdDBTimeStamp, Value::Date(-1.25)},
      {"'x'::varchar(5)", kAdVarWChar, Value("x")},
      {"''::text", kAdLongVarWChar, Value("")},
      {"'\\x0aff00'::bytea", kAdLongVarBinary, Value::FromBytes({0x0a, 0xff, 0x00})},
      {"decode(repeat('00ff', 50000), 'hex')", kAdLongVarBinary, Value::FromBytes(long_bytes)},
      {"NULL::int4", kAdInteger, Value::Null()},
      {"NULL::text", kAdLongVarWChar, Value::Null()},
      {"NULL::bytea", kAdLongVarBinary, Value::Null()},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.expression);
    auto rs = c->Execute(std::string("SELECT ") + k.expression + " AS v");
    ASSERT_NE(rs, nullptr);
    EXPECT_EQ(rs->FieldName(0), "v");
    EXPECT_EQ(rs->FieldType(0), k.ado_type);
    EXPECT_EQ(rs->FieldValue(0), k.expected);
  }
}

TEST(OdbcConnectionTest, TextRoundTripsExactlyThroughTheServer) {
  FERROLYTE_REQUIRE_SERVER();
  ScratchDatabase db("text");
  auto c = ConnectTo(db.name());
  c->Execute("CREATE TABLE t (id int, v text)");
  // Latin, Greek, CJK, an emoji outside the Basic Multilingual Plane, and the characters that
  // the literals escape.
  const std::string samples[] = {
      "Zo\xC3\xAB",
      "\xCE\xB1\xCE\xB2\xCE\xB3 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\xF0\x9F\x91\x8D",
      "O''Brien \\\\ \\x3f ? \\t",
  };
  const std::string stored[] = {samples[0], samples[1], "O'Brien \\ ? ? \t"};
  for (int i = 0; i < 3; ++i)
    c->Execute("INSERT INTO t VALUES (" + std::to_string(i) + ", E'" + samples[i] + "')");
  // A long text with emoji across the driver's read pieces.
  std::string long_text;
  for (int i = 0; i < 20000; ++i) long_text += i % 7 ? "ab\xC3\xA9" : "\xF0\x9F\x98\x80";
  c->Execute("INSERT INTO t VALUES (3, E'" + long_text + "')");

  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    // The server holds the very bytes: checked on its side, not only on the way back.
    EXPECT_EQ(QueryValue(*c, "SELECT encode(convert_to(v, 'UTF8'), 'hex') FROM t WHERE id=" +
                                 std::to_string(i))
                  .Text(),
              Hex(stored[i]));
    EXPECT_EQ(QueryValue(*c, "SELECT v FROM t WHERE id=" + std::to_string(i)).Text(), stored[i]);
  }
  EXPECT_EQ(QueryValue(*c, "SELECT octet_length(v) FROM t WHERE id=3").AsInteger(),
            static_cast<int64_t>(long_text.size()));
  EXPECT_EQ(QueryValue(*c, "SELECT v FROM t WHERE id=3").Text(), long_text);
  // Names come back the same way.
  auto rs = c->Execute("SELECT 1 AS \"Zo\xC3\xAB \xF0\x9F\x98\x80\"");
  EXPECT_EQ(rs->FieldName(0), "Zo\xC3\xAB \xF0\x9F\x98\x80");
}

TEST(OdbcConnectionTest, RejectedStatementCarriesTheAdoNumberAndTheDriverText) {
  FERROLYTE_REQUIRE_SERVER();
  auto c = ConnectTo(MaintenanceDb());
  struct Case {
    const char* sql;
    const char* text;
  } cases[] = {
      {"SELECT * FROM no_such_table", "relation \"no_such_table\" does not exist"},
      {"CREATE TABLE x (a NOSUCHTYPE)", "type \"nosuchtype\" does not exist"},
      {"INSERT INTO", "syntax error"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.sql);
    Error e = ErrorOf([&] { c->Execute(k.sql); });
    EXPECT_EQ(e.number(), kAdoRejectedStatement);
    EXPECT_EQ(HexNumber(e.number()), "80040E14");
    EXPECT_EQ(e.source(), kOdbcErrorSource);
    EXPECT_NE(e.description().find(k.text), std::string::npos) << e.description();
    EXPECT_EQ(e.description().find('\n'), std::string::npos) << e.description();
  }
  // The connection stays usable after a rejected statement.
  EXPECT_EQ(QueryValue(*c, "SELECT 41 + 1").AsInteger(), 42);
}

TEST(OdbcConnectionTest, FailedOpenCarriesTheConnectionNumberAndTheDriverText) {
  FERROLYTE_REQUIRE_SERVER();
  using testing::ServerHost;
  using testing::ServerPassword;
  using testing::ServerPort;
  using testing::ServerUser;
  struct Case {
    const char* what;
    std::string connection_string;
    const char* text;
  } cases[] = {
      {"wrong password",
       BuildDestinationConnectionString(ServerHost(), MaintenanceDb(), ServerPort(), ServerUser(),
                                        ServerPassword() + "-wrong"),
       "password authentication failed"},
      {"wrong port",
       BuildDestinationConnectionString(ServerHost(), MaintenanceDb(), "1", ServerUser(),
                                        ServerPassword()),
       "onnect"},
      {"missing database",
       BuildDestinationConnectionString(ServerHost(), "no_such_db_here", ServerPort(), ServerUser(),
                                        ServerPassword()),
       "database \"no_such_db_here\" does not exist"},
      {"unknown driver", "Driver={No Such Driver};Server=x;", "Driver Manager"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    Connection c;
    Error e = ErrorOf([&] { c.Open(k.connection_string); });
    EXPECT_EQ(e.number(), kAdoGenericError);
    EXPECT_EQ(HexNumber(e.number()), "80004005");
    EXPECT_NE(e.description().find(k.text), std::string::npos) << e.description();
    if (!ServerPassword().empty()) {
      EXPECT_EQ(e.description().find(ServerPassword()), std::string::npos);
    }
    EXPECT_FALSE(c.IsOpen());
  }
}

// Names and passwords holding the connection string's own characters, edge spaces, or what
// the driver would read as URL encoding reach the server as they are.
TEST(OdbcConnectionTest, AnyNameAndPasswordReachTheServerUnchanged) {
  FERROLYTE_REQUIRE_SERVER();
  const std::string pid = std::to_string(::getpid());
  struct Case {
    std::string database_stem, role, password;
  } cases[] = {
      {"a;b", " ferro role}" + pid + " ", " pa;ss}w{rd= "},
      {"x}y{z", "{ferro;role's\\" + pid, "a+b%41"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.role);
    ScratchDatabase db(c.database_stem);
    auto admin = ConnectTo(MaintenanceDb());
    admin->Execute("CREATE ROLE \"" + c.role + "\" LOGIN PASSWORD '" + c.password + "'");
    auto open = [&](const std::string& password) {
      Connection connection;
      connection.Open(BuildDestinationConnectionString(testing::ServerHost(), db.name(),
                                                       testing::ServerPort(), c.role, password));
      return QueryValue(connection, "SELECT current_user || '|' || current_database()").Text();
    };
    EXPECT_EQ(open(c.password), c.role + "|" + db.name());
    Error refused = ErrorOf([&] { open(c.password + "x"); });
    EXPECT_NE(refused.description().find("password authentication failed"), std::string::npos);
    admin->Execute("DROP ROLE \"" + c.role + "\"");
  }
}

TEST(OdbcConnectionTest, LostConnectionIsAConnectionFailure) {
  FERROLYTE_REQUIRE_SERVER();
  auto c = ConnectTo(MaintenanceDb());
  int64_t pid = QueryValue(*c, "SELECT pg_backend_pid()").AsInteger();
  ConnectTo(MaintenanceDb())->Execute("SELECT pg_terminate_backend(" + std::to_string(pid) + ")");
  Error e = ErrorOf([&] { c->Execute("SELECT 1"); });
  EXPECT_EQ(e.number(), kAdoGenericError) << e.description();
  EXPECT_NE(e.description().find("terminating connection"), std::string::npos);
}

TEST(OdbcConnectionTest, ReleasesEverySessionOnEveryPath) {
  FERROLYTE_REQUIRE_SERVER();
  ScratchDatabase db("release");
  {
    auto c = ConnectTo(db.name());
    EXPECT_EQ(SessionsOn(db.name()), 1);
    c->Execute("CREATE TABLE t (id int)");
    EXPECT_THROW(c->Execute("INSERT INTO t VALUES ('x')"), Error);
    auto rs = c->Execute("SELECT generate_series(1, 5)");
    // A record set kept past the connection's close reads on and releases the session last.
    c->Close();
    EXPECT_EQ(SessionsOn(db.name()), 1);
    rs->MoveNext();
    EXPECT_EQ(rs->FieldValue(0).AsInteger(), 2);
    rs.reset();
    EXPECT_EQ(SessionsOn(db.name()), 0);

    // A connection dropped while a statement fails, and one reopened in place.
    auto d = ConnectTo(db.name());
    d->Open(ServerConnectionString(db.name()));
    EXPECT_EQ(SessionsOn(db.name()), 1);
    try {
      d->Execute("SELECT 1/0");
    } catch (const Error&) {
      d.reset();
    }
    EXPECT_EQ(SessionsOn(db.name()), 0);
  }
  EXPECT_EQ(SessionsOn(db.name()), 0);
}

}  // namespace
}  // namespace ferrolyte

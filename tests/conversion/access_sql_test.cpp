// Access expressions and statements translated to PostgreSQL, judged by what the server
// computes from the translation against what Access computes, and the reasons given for
// what has no translation.
#include "conversion/access_sql.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/odbc_test_server.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// A table "t" (one row: n 5, s Null, d 2020-01-15, b True) as queries see it.
const Relation kT{"T",
                  "t",
                  {{"N", "n", SqlType::kInteger},
                   {"S", "s", SqlType::kText},
                   {"D", "d", SqlType::kDate},
                   {"B", "b", SqlType::kBoolean}}};

const RelationLookup kLookup = [](const std::string& name) -> const Relation* {
  return EqualsIgnoreCase(name, "T") ? &kT : nullptr;
};

SelectModel OneValue(const std::string& expression, bool from_t) {
  SelectModel s;
  s.columns.push_back({expression, "r"});
  if (from_t) s.from.push_back({FromItem::Kind::kTable, "T"});
  return s;
}

struct Case {
  const char* access;
  const char* expected;  // the value as text; nullptr for Null
};

// What Access gives for each expression, as text (PostgreSQL's text of booleans and dates).
const Case kCases[] = {
    {"\"a\" & Null & \"b\"", "ab"},
    {"Null & Null", nullptr},
    {"[S] & \"x\"", "x"},
    {"[S] + \"x\"", nullptr},
    {"\"ab\" + \"cd\"", "abcd"},
    {"5 / 2", "2.5"},
    {"[N] / 2", "2.5"},
    {"5 \\ 2", "2"},
    {"7 Mod 3", "1"},
    {"5 / 0", nullptr},
    {"2 ^ 3", "8"},
    {"-2 ^ 2", "-4"},
    {"[B] + 1", "0"},
    {"[B] = True", "true"},
    {"True = -1", "true"},
    {"5 And 3", "1"},
    {"Not 0", "-1"},
    {"Not (1 > 2)", "true"},
    {"[N] =< 5", "true"},
    {"[N] =< 4", "false"},
    {"[N] => 5", "true"},
    {"[N] => 6", "false"},
    {"[N] <> 5", "false"},
    {"5 Between 10 And 1", "true"},
    {"3 In (1, 2, 3)", "true"},
    {"[S] Is Null", "true"},
    {"IIf(1 > 2, \"yes\", \"no\")", "no"},
    {"IIf([N], \"set\", \"zero\")", "set"},
    {"Switch(1 = 2, \"a\", 2 = 2, \"b\")", "b"},
    {"Choose(2, \"a\", \"b\")", "b"},
    {"Nz(Null, 5)", "5"},
    {"Nz([S], \"none\")", "none"},
    {"Nz([S])", ""},
    {"Round(2.5)", "2"},
    {"Round(3.5)", "4"},
    {"Round(-2.5)", "-2"},
    {"Round(2.345, 2)", "2.34"},
    {"Round(2.355, 2)", "2.36"},
    {"CInt(2.5)", "2"},
    {"CLng(3.5)", "4"},
    {"Int(-2.5)", "-3"},
    {"Fix(-2.5)", "-2"},
    {"CCur(1.23456)", "1.2346"},
    {"CStr(12)", "12"},
    {"Sgn(-5)", "-1"},
    {"Val(\"12abc\")", "12"},
    {"Left(\"abcdef\", 2)", "ab"},
    {"Right(\"abcdef\", 2)", "ef"},
    {"Mid(\"abcdef\", 2, 3)", "bcd"},
    {"Mid(\"abcdef\", 3)", "cdef"},
    {"Len(\"abc\")", "3"},
    {"Trim(\"  a  \")", "a"},
    {"UCase(\"aB\") & LCase(\"Cd\")", "ABcd"},
    {"InStr(\"Hello\", \"L\")", "3"},
    {"InStr(4, \"Hello\", \"l\")", "4"},
    {"InStr(\"abc\", \"z\")", "0"},
    {"Replace(\"a.b.A\", \"a\", \"x\")", "x.b.x"},
    {"Replace(\"a.b\", \".\", \"-\")", "a-b"},
    {"\"abc\" Like \"a*\"", "true"},
    {"\"ABC\" Like \"a?c\"", "true"},
    {"\"a1\" Like \"a#\"", "true"},
    {"\"ab\" Like \"a#\"", "false"},
    {"\"b\" Like \"[a-c]\"", "true"},
    {"\"d\" Like \"[!a-c]\"", "true"},
    {"\"a*\" Like \"a[*]\"", "true"},
    {"\"ab\" Like \"a%\"", "false"},
    {"\"abc\" Not Like \"*z*\"", "true"},
    {"Year(#3/15/2021#) & \"-\" & Month(#3/15/2021#) & \"-\" & Day(#3/15/2021#)", "2021-3-15"},
    {"Weekday(#3/14/2021#)", "1"},
    {"#1/15/2020# + 1", "2020-01-16 00:00:00"},
    {"[D] - #1/14/2020#", "1"},
    {"#3:04 PM#", "1899-12-30 15:04:00"},
    {"DateAdd(\"m\", 1, #1/31/2020#)", "2020-02-29 00:00:00"},
    {"DateAdd(\"d\", -1, #3/1/2020#)", "2020-02-29 00:00:00"},
    {"DateAdd(\"h\", 3, [D])", "2020-01-15 03:00:00"},
    {"DateDiff(\"d\", #1/1/2020#, #3/1/2020#)", "60"},
    {"DateDiff(\"m\", #1/31/2020#, #2/1/2020#)", "1"},
    {"DateDiff(\"yyyy\", #12/31/2019#, #1/1/2020#)", "1"},
    {"DateDiff(\"q\", #3/31/2020#, #4/1/2020#)", "1"},
    {"DateDiff(\"ww\", #1/4/2020#, #1/5/2020#)", "1"},
    {"DateDiff(\"w\", #1/1/2020#, #1/14/2020#)", "1"},
    {"DateDiff(\"h\", #1/1/2020 10:59:00#, #1/1/2020 11:00:00#)", "1"},
    {"DatePart(\"q\", #5/1/2020#)", "2"},
    {"DatePart(\"ww\", #1/5/2020#)", "2"},
    {"DatePart(\"y\", #2/1/2020#)", "32"},
    {"DatePart(\"w\", #1/5/2020#)", "1"},
    {"DateSerial(2020, 13, 1)", "2021-01-01 00:00:00"},
    {"CDate(\"2020-01-15\")", "2020-01-15 00:00:00"},
    {"Format(#3/5/2021#, \"yyyy-mm-dd\")", "2021-03-05"},
    {"Format(#3/5/2021 14:07:09#, \"hh:nn:ss\")", "14:07:09"},
    {"Format(#3/5/2021#, \"dd/mm/yyyy\")", "05/03/2021"},
    {"Format(#3/5/2021#, \"mmmm d, yyyy\")", "March 5, 2021"},
    {"Format(#3/5/2021 14:07:00#, \"h:nn AM/PM\")", "2:07 PM"},
    {"Format(1234.5, \"#,##0.00\")", "1,234.50"},
    {"Format(0.5, \"0.0\")", "0.5"},
    {"MonthName(2)", "February"},
};

TEST(AccessSqlTest, ExpressionsComputeWhatAccessComputes) {
  FERROLYTE_REQUIRE_SERVER();
  auto server = testing::ConnectTo(testing::MaintenanceDb());
  server->Execute(
      "CREATE TEMPORARY TABLE t AS SELECT 5 AS n, CAST(NULL AS TEXT) AS s, "
      "TIMESTAMP '2020-01-15 00:00:00' AS d, TRUE AS b");
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.access);
    const bool column = std::string(c.access).find('[') != std::string::npos;
    std::string sql;
    ASSERT_NO_THROW(sql = TranslateSelect(OneValue(c.access, column), kLookup).sql);
    SCOPED_TRACE(sql);
    const Value v = testing::QueryValue(*server, "SELECT CAST(r AS TEXT) FROM (" + sql + ") q");
    if (!c.expected) {
      EXPECT_TRUE(v.IsNull()) << SafeStr(v);
    } else {
      EXPECT_EQ(SafeStr(v), c.expected);
    }
  }
}

// Each has no PostgreSQL form; the reason names what stands in the way.
TEST(AccessSqlTest, WhatCannotBeTranslatedSaysWhy) {
  const std::pair<const char*, const char*> expressions[] = {
      {"[Forms]![frmMain]![txtId]", "form"},
      {"[Enter a date]", "asks for [Enter a date]"},
      {"DLookUp(\"x\", \"y\")", "domain function"},
      {"MyVbaFunction(1)", "MyVbaFunction has no equivalent"},
      {"Format(#1/1/2020#, \"xyz\")", "pattern"},
      {"\"a\" Like \"[a\"", "open ["},
      {"DateAdd(\"zz\", 1, #1/1/2020#)", "interval"},
      {"#Jan 15 2020#", "date"},
      {"[N] +", "ends too early"},
      {"[T].[Missing]", "no column 'Missing'"},
  };
  auto refused = [](const char* what, const char* reason, auto translate) {
    SCOPED_TRACE(what);
    try {
      translate();
      ADD_FAILURE() << "translated";
    } catch (const Untranslatable& e) {
      EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
    }
  };
  for (const auto& [access, reason] : expressions)
    refused(access, reason, [&] { TranslateSelect(OneValue(access, true), kLookup); });
  const std::pair<const char*, const char*> statements[] = {
      {"PARAMETERS [x] Text; SELECT * FROM T", "parameters"},
      {"TRANSFORM Sum(N) SELECT S FROM T GROUP BY S PIVOT B", "crosstab"},
      {"SELECT * INTO X FROM T", "makes a table"},
      {"SELECT * FROM T IN 'c:\\other.mdb'", "another database"},
      {"SELECT * FROM Missing", "not converted"},
      {"SELECT DISTINCTROW T.N FROM T INNER JOIN T AS U ON T.N = U.N", "DISTINCTROW"},
      {"SELECT U.* FROM T", "reads no table 'U'"},
  };
  for (const auto& [sql, reason] : statements)
    refused(sql, reason, [&] { TranslateSelect(ParseAccessSelect(sql), kLookup); });
}

// The rows of whole statements over a table of several rows: TOP keeps the ties of its last
// row, TOP PERCENT rounds up, and the clauses keep Access's meaning.
TEST(AccessSqlTest, StatementsReturnTheRowsAccessReturns) {
  FERROLYTE_REQUIRE_SERVER();
  const std::pair<const char*, const char*> statements[] = {
      {"SELECT TOP 2 N FROM T ORDER BY N", "1,2,2"},
      {"SELECT TOP 30 PERCENT N FROM T ORDER BY N DESC", "4,3"},
      {"SELECT TOP 40 PERCENT N FROM T ORDER BY N", "1,2,2"},
      {"SELECT DISTINCT N FROM T WHERE N > 1 ORDER BY N", "2,3,4"},
      {"SELECT N FROM T GROUP BY N HAVING Count(*) > 1", "2"},
      {"SELECT N * 10 AS X FROM T WHERE X > 30 ORDER BY X DESC", "40"},
  };
  auto server = testing::ConnectTo(testing::MaintenanceDb());
  server->Execute(
      "CREATE TEMPORARY TABLE t AS SELECT n, CAST(NULL AS TEXT) AS s, "
      "TIMESTAMP '2020-01-15 00:00:00' AS d, TRUE AS b FROM (VALUES (3), (1), (4), (2), (2)) "
      "AS v (n)");
  for (const auto& [access, rows] : statements) {
    SCOPED_TRACE(access);
    TranslatedSelect t;
    ASSERT_NO_THROW(t = TranslateSelect(ParseAccessSelect(access), kLookup));
    SCOPED_TRACE(t.sql);
    ASSERT_FALSE(t.columns.empty());
    const Value v =
        testing::QueryValue(*server, "SELECT string_agg(CAST(\"" + t.columns[0].destination +
                                         "\" AS TEXT), ',') FROM (" + t.sql + ") q");
    EXPECT_EQ(SafeStr(v), rows);
  }
}

// Output names Access would show twice are told apart at the destination: expanded columns
// by their table, others by a number, letter case aside.
TEST(AccessSqlTest, OutputColumnsGetDistinctDestinationNames) {
  struct Naming {
    const char* access;
    std::vector<std::string> destinations;
  };
  const Naming namings[] = {
      {"SELECT N, S FROM T", {"N", "S"}},
      {"SELECT N AS X, S AS x FROM T", {"X", "x_2"}},
      {"SELECT T.N, U.N FROM T, T AS U", {"N", "N_2"}},
      {"SELECT * FROM T, T AS U", {"t.N", "t.S", "t.D", "t.B", "u.N", "u.S", "u.D", "u.B"}},
      {"SELECT N + 1, N + 2 FROM T", {"Expr1000", "Expr1001"}},
      {"SELECT Sum(N), Max(N) FROM T", {"SumOfN", "MaxOfN"}},
  };
  for (const Naming& naming : namings) {
    SCOPED_TRACE(naming.access);
    std::vector<std::string> destinations;
    for (const RelationColumn& c :
         TranslateSelect(ParseAccessSelect(naming.access), kLookup).columns)
      destinations.push_back(c.destination);
    EXPECT_EQ(destinations, naming.destinations);
  }
}

// A field's rule leaves the field out; the CHECK made of it takes and refuses what Access does.
TEST(AccessSqlTest, FieldRulesBecomeChecksThatRefuseWhatAccessRefuses) {
  FERROLYTE_REQUIRE_SERVER();
  struct Rule {
    const char* rule;
    const char* type;
    const char* accepted;
    const char* refused;
  };
  const Rule rules[] = {
      {">0 And <100", "integer", "5", "150"},
      {"Is Null Or >=10", "integer", "NULL", "5"},
      {"Between 1 And 10", "integer", "10", "11"},
      {"Like \"A*\"", "text", "'apple'", "'Banana'"},
      {"In (\"x\",\"y\")", "text", "'x'", "'z'"},
      {"<>\"\"", "text", "'a'", "''"},
      {"Not Like \"*[0-9]*\"", "text", "'abc'", "'a1'"},
      {">=#1/1/2000#", "timestamp", "'2001-01-01'", "'1999-12-31'"},
      {"=<10", "integer", "10", "11"},
      {"=>10", "integer", "10", "9"},
  };
  auto server = testing::ConnectTo(testing::MaintenanceDb());
  int n = 0;
  for (const Rule& r : rules) {
    SCOPED_TRACE(r.rule);
    const std::string table = "rule_" + std::to_string(++n);
    const SqlType type = std::string(r.type) == "integer" ? SqlType::kInteger
                         : std::string(r.type) == "text"  ? SqlType::kText
                                                          : SqlType::kDate;
    const Relation relation{"R", table, {{"V", "v", type}}};
    std::string check;
    ASSERT_NO_THROW(check = TranslateRule(r.rule, relation, &relation.columns[0]));
    server->Execute("CREATE TEMPORARY TABLE " + table + " (v " + r.type + " CHECK (" + check +
                    "))");
    EXPECT_NO_THROW(server->Execute("INSERT INTO " + table + " VALUES (" + r.accepted + ")"));
    EXPECT_THROW(server->Execute("INSERT INTO " + table + " VALUES (" + r.refused + ")"), Error);
  }
}

}  // namespace
}  // namespace ferrolyte

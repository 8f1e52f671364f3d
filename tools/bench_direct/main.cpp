// Measures how fast single-row INSERT statements (alone, and several per round trip) reach a
// PostgreSQL server through our ODBC connection, one statement per round trip as a direct run sends
// them, and how fast psql replays the very same statements on the same server. Run it against a
// throw-away cluster:
//
//   pg_virtualenv build/tools/bench_direct/bench_direct [--rows N]
//
// Server, port, user and password come from PGHOST, PGPORT, PGUSER, PGPASSWORD.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "conversion/destination.h"
#include "conversion/dump_file.h"
#include "conversion/typed_row.h"
#include "platform/ado.h"
#include "support/errors.h"
#include "support/safe.h"

namespace ferrolyte {
namespace {

const char* kDatabase = "ferrolyte_bench_direct";
const char* kTable = "Orders";
const char* kColumnList =
    "\"ID\", \"Customer\", \"City\", \"Amount\", \"Ordered\", \"Paid\", \"Note\"";

std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

std::string ConnectionString(const std::string& database) {
  return BuildDestinationConnectionString(Env("PGHOST", "localhost"), database,
                                          Env("PGPORT", "5432"), Env("PGUSER", "postgres"),
                                          Env("PGPASSWORD", ""));
}

// Rows shaped like a typical Access table: auto-number, texts (some non-ASCII), currency,
// a date, a boolean as the run writes it, and a memo now and then.
const std::vector<ColumnSpec> kColumns = {
    {ColumnKind::kNumber},   {ColumnKind::kString},  {ColumnKind::kString}, {ColumnKind::kNumber},
    {ColumnKind::kDateTime}, {ColumnKind::kBoolean}, {ColumnKind::kText}};

std::vector<std::vector<Value>> BuildRows(int rows) {
  std::vector<std::vector<Value>> out;
  out.reserve(rows);
  char amount[32];
  for (int i = 1; i <= rows; ++i) {
    std::snprintf(amount, sizeof amount, "%d.%04d", i * 7 % 100000, i % 10000);
    out.push_back({Value(int64_t{i}), Value("Customer " + std::to_string(i)),
                   Value(i % 3 ? "K\xC3\xB6ln" : "O'Brien\\Town"), Value::Decimal(amount),
                   Value::Date(36526.0 + i % 9000 + (i % 86400) / 86400.0), Value(i % 2 == 1),
                   i % 5 ? Value::Null() : Value("Delivered late\r\nsee ticket ?")});
  }
  return out;
}

// The rows' INSERTs as a direct run renders them.
std::vector<std::string> BuildInserts(const std::vector<std::vector<Value>>& rows) {
  const std::string prefix = InsertPrefix(std::string("\"") + kTable + "\"", kColumnList);
  std::vector<std::string> out;
  out.reserve(rows.size());
  std::vector<const Value*> values(kColumns.size());
  for (const std::vector<Value>& row : rows) {
    for (size_t i = 0; i < values.size(); ++i) values[i] = &row[i];
    out.emplace_back();
    AppendInsertRow(out.back(), prefix, {kColumns, values});
  }
  return out;
}

void Prepare(Connection& maintenance) {
  maintenance.Execute(std::string("DROP DATABASE IF EXISTS \"") + kDatabase + "\"");
  maintenance.Execute(std::string("CREATE DATABASE \"") + kDatabase + "\"");
}

void CreateTable(Connection& db) {
  db.Execute(std::string("DROP TABLE IF EXISTS \"") + kTable + "\"");
  db.Execute(std::string("CREATE TABLE \"") + kTable +
             "\" (\"ID\" SERIAL NOT NULL, \"Customer\" VARCHAR(50), \"City\" VARCHAR(50), "
             "\"Amount\" NUMERIC(19,4), \"Ordered\" TIMESTAMP, \"Paid\" VARCHAR(1), "
             "\"Note\" TEXT, PRIMARY KEY (\"ID\"))");
}

int64_t CountRows(Connection& db) {
  auto rs = db.Execute(std::string("SELECT COUNT(*) FROM \"") + kTable + "\"");
  return rs->FieldValue(0).AsInteger();
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int Run(int rows) {
  const std::vector<std::vector<Value>> typed = BuildRows(rows);
  const std::vector<std::string> inserts = BuildInserts(typed);
  Connection maintenance;
  maintenance.Open(ConnectionString(Env("PGDATABASE", "postgres")));
  Prepare(maintenance);
  maintenance.Close();

  Connection db;
  db.Open(ConnectionString(kDatabase));
  CreateTable(db);
  auto start = std::chrono::steady_clock::now();
  for (const std::string& sql : inserts) db.Execute(sql);
  double ours = Seconds(start);
  if (CountRows(db) != rows) {
    std::cerr << "connection: expected " << rows << " rows, found " << CountRows(db) << "\n";
    return 1;
  }

  // The same rows through a Destination, several per round trip.
  std::vector<std::pair<size_t, double>> batched;
  for (size_t per_trip : {size_t{1}, size_t{10}, size_t{50}, size_t{100}}) {
    CreateTable(db);
    ServerDestination destination(&db);
    destination.set_rows_per_round_trip(per_trip);
    std::vector<const Value*> values(kColumns.size());
    start = std::chrono::steady_clock::now();
    destination.BeginRows(std::string("\"") + kTable + "\"", kColumnList);
    for (const std::vector<Value>& row : typed) {
      for (size_t i = 0; i < values.size(); ++i) values[i] = &row[i];
      destination.WriteRow({kColumns, values});
    }
    destination.FlushRows();
    batched.emplace_back(per_trip, Seconds(start));
    if (CountRows(db) != rows) {
      std::cerr << "destination: expected " << rows << " rows, found " << CountRows(db) << "\n";
      return 1;
    }
  }

  // psql sends each statement of a script as its own query: one round trip per INSERT.
  std::string script = "/tmp/ferrolyte_bench_direct.sql";
  {
    std::ofstream out(script, std::ios::binary);
    for (const std::string& sql : inserts) out << sql << ";\n";
  }
  CreateTable(db);
  std::string command = std::string("psql -X -q -v ON_ERROR_STOP=1 -d ") + kDatabase + " -f " +
                        script + " > /dev/null";
  start = std::chrono::steady_clock::now();
  int rc = std::system(command.c_str());
  double theirs = Seconds(start);
  std::remove(script.c_str());
  if (rc != 0 || CountRows(db) != rows) {
    std::cerr << "psql: failed (exit " << rc << ") or wrong row count\n";
    return 1;
  }
  db.Execute(std::string("DROP TABLE \"") + kTable + "\"");
  db.Close();
  maintenance.Open(ConnectionString(Env("PGDATABASE", "postgres")));
  maintenance.Execute(std::string("DROP DATABASE IF EXISTS \"") + kDatabase + "\"");

  std::printf("rows                      %d\n", rows);
  std::printf("Connection (ODBC)         %10.0f rows/s  (%.2f s)\n", rows / ours, ours);
  std::printf("psql, one per round trip  %10.0f rows/s  (%.2f s)\n", rows / theirs, theirs);
  std::printf("ratio ODBC / psql         %10.2f\n", theirs / ours);
  for (auto [per_trip, seconds] : batched)
    std::printf("Destination, %3zu per trip %10.0f rows/s  (%.2f s)  %.2fx psql\n", per_trip,
                rows / seconds, seconds, theirs / seconds);
  return 0;
}

}  // namespace
}  // namespace ferrolyte

int main(int argc, char** argv) {
  int rows = 100000;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--rows" && i + 1 < argc) {
      rows = std::atoi(argv[++i]);
    } else {
      std::cerr << "usage: bench_direct [--rows N]\n";
      return 2;
    }
  }
  if (rows <= 0) rows = 1;
  try {
    return ferrolyte::Run(rows);
  } catch (const ferrolyte::Error& e) {
    std::cerr << "error " << e.number() << ": " << e.description() << "\n";
    return 1;
  }
}

// The throw-away PostgreSQL server of a pg_virtualenv run, for tests that talk to a server.
// Tests skip when PGPORT is not set.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "conversion/dump_file.h"
#include "platform/ado.h"
#include "support/errors.h"
#include "support/safe.h"

namespace ferrolyte::testing {

#define FERROLYTE_REQUIRE_SERVER() \
  if (!::ferrolyte::testing::HaveServer()) GTEST_SKIP() << "no PostgreSQL server (PGPORT unset)"

inline std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

inline bool HaveServer() {
  return std::getenv("PGPORT") != nullptr;
}
inline std::string ServerHost() {
  return EnvOr("PGHOST", "localhost");
}
inline std::string ServerPort() {
  return EnvOr("PGPORT", "5432");
}
inline std::string ServerUser() {
  return EnvOr("PGUSER", "postgres");
}
inline std::string ServerPassword() {
  return EnvOr("PGPASSWORD", "");
}
inline std::string MaintenanceDb() {
  return EnvOr("PGDATABASE", "postgres");
}

// The connection string the run would build for that database on the test server.
inline std::string ServerConnectionString(const std::string& database) {
  return BuildDestinationConnectionString(ServerHost(), database, ServerPort(), ServerUser(),
                                          ServerPassword());
}

// Opens a connection to that database on the test server.
inline std::shared_ptr<Connection> ConnectTo(const std::string& database) {
  auto connection = std::make_shared<Connection>();
  connection->Open(ServerConnectionString(database));
  return connection;
}

// The first column of the first row of a query.
inline Value QueryValue(Connection& connection, const std::string& sql) {
  auto rs = connection.Execute(sql);
  if (!rs || rs->Eof()) throw Error(0, "no row from: " + sql);
  return rs->FieldValue(0);
}

// A database name no other test uses, valid as an unquoted identifier.
inline std::string UniqueDatabaseName(const std::string& stem) {
  static std::atomic<int> counter{0};
  return "ferro_" + stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

// Sessions the server has open to that database (our own connections included).
inline int64_t SessionsOn(const std::string& database) {
  auto admin = ConnectTo(MaintenanceDb());
  return QueryValue(*admin, "SELECT COUNT(*) FROM pg_stat_activity WHERE datname='" + database +
                                "' AND pid <> pg_backend_pid()")
      .AsInteger();
}

// Drops the database, ending whatever sessions are still on it.
inline void DropDatabase(const std::string& database) {
  auto admin = ConnectTo(MaintenanceDb());
  admin->Execute("DROP DATABASE IF EXISTS \"" + database + "\" WITH (FORCE)");
}

// A database created for one test and dropped after it.
class ScratchDatabase {
 public:
  explicit ScratchDatabase(const std::string& stem, bool create = true)
      : name_(UniqueDatabaseName(stem)) {
    if (create) ConnectTo(MaintenanceDb())->Execute("CREATE DATABASE \"" + name_ + "\"");
  }
  ~ScratchDatabase() {
    try {
      DropDatabase(name_);
    } catch (const Error&) {
      // The server may be gone already at the end of a failing test.
    }
  }
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

}  // namespace ferrolyte::testing

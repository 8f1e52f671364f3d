// A PostgreSQL cluster of one test's own that accepts TLS connections only (hostssl with a
// password, no local socket), its CA and server certificate made by openssl in its folder,
// and every connection logged. Needs initdb (pg_config --bindir) and openssl; as root it runs
// the server as the postgres user.
#pragma once

#include <string>

#include "testing/temp_dir.h"

namespace ferrolyte::testing {

class TlsServer {
 public:
  // Starts the cluster; problem() says why when it could not.
  TlsServer();
  // Stops the cluster.
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;

  bool started() const { return problem_.empty(); }
  const std::string& problem() const { return problem_; }

  static constexpr char kUser[] = "postgres";
  static constexpr char kPassword[] = "tls only, pw";
  int port() const { return port_; }
  // The CA that signed the server's certificate (for "localhost" and 127.0.0.1), and one
  // that did not.
  std::string ca() const { return dir_.File("ca.crt"); }
  std::string other_ca() const { return dir_.File("other.crt"); }
  // A folder the test may use, the cluster's own beside it.
  const TempDir& dir() const { return dir_; }
  // The server's log so far.
  std::string Log() const;
  // Runs the statement as the superuser over TLS (verify-full) and returns the first column
  // of every row, one line each; raises std::runtime_error with libpq's reason.
  std::string Query(const std::string& sql, const std::string& database = "postgres") const;

 private:
  bool Run(const std::string& command, bool as_server);
  TempDir dir_;
  std::string bin_, data_;
  int port_ = 0;
  bool running_ = false;
  std::string problem_;
};

}  // namespace ferrolyte::testing

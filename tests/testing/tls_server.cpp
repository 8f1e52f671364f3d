#include "testing/tls_server.h"

#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "support/files.h"
#include "support/text.h"

namespace ferrolyte::testing {
namespace {

std::string Quoted(const std::string& text) {
  return "'" + ReplaceAll(text, "'", "'\\''") + "'";
}

std::string CommandOutput(const std::string& command) {
  std::unique_ptr<FILE, decltype(&::pclose)> pipe(::popen(command.c_str(), "r"), &::pclose);
  if (!pipe) return "";
  std::string out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// A port nobody listens on now; the kernel hands out each only once in a while.
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

}  // namespace

bool TlsServer::Run(const std::string& command, bool as_server) {
  // initdb and the server refuse to run as root.
  const std::string prefix = as_server && ::geteuid() == 0 ? "runuser -u postgres -- " : "";
  const std::string full = prefix + command + " >>" + Quoted(dir_.File("setup.log")) + " 2>&1";
  if (std::system(full.c_str()) == 0) return true;
  problem_ = "failed: " + command + "\n" + ReadTextFile(dir_.File("setup.log"), "");
  return false;
}

TlsServer::TlsServer() {
  bin_ = CommandOutput("pg_config --bindir 2>/dev/null");
  if (bin_.empty() || !FileExists(bin_ + "/initdb")) {
    problem_ = "no initdb (pg_config --bindir)";
    return;
  }
  if (CommandOutput("command -v openssl").empty()) {
    problem_ = "no openssl";
    return;
  }
  const std::string d = dir_.path();
  const std::string req = "openssl req -new -nodes -subj ";
  if (!Run(req + "/CN=Ferrolyte-test-CA -x509 -days 2 -keyout " + Quoted(d + "/ca.key") + " -out " +
               Quoted(d + "/ca.crt"),
           false) ||
      !Run(req + "/CN=Another-CA -x509 -days 2 -keyout " + Quoted(d + "/other.key") + " -out " +
               Quoted(d + "/other.crt"),
           false) ||
      !Run(req + "/CN=localhost -keyout " + Quoted(d + "/server.key") + " -out " +
               Quoted(d + "/server.csr"),
           false))
    return;
  WriteTextFile(d + "/san.cnf", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1\n");
  if (!Run("openssl x509 -req -days 2 -in " + Quoted(d + "/server.csr") + " -CA " +
               Quoted(d + "/ca.crt") + " -CAkey " + Quoted(d + "/ca.key") +
               " -CAcreateserial -extfile " + Quoted(d + "/san.cnf") + " -out " +
               Quoted(d + "/server.crt"),
           false))
    return;
  WriteTextFile(d + "/password", std::string(kPassword) + "\n");
  data_ = d + "/data";
  std::filesystem::permissions(d, std::filesystem::perms::owner_all |
                                      std::filesystem::perms::group_exec |
                                      std::filesystem::perms::others_exec);
  if (::geteuid() == 0 && !Run("chown -R postgres " + Quoted(d), false)) return;
  if (!Run(Quoted(bin_ + "/initdb") + " -D " + Quoted(data_) + " -U " + kUser +
               " --auth=scram-sha-256 --pwfile=" + Quoted(d + "/password") +
               " -E UTF8 --locale=C --no-sync",
           true))
    return;
  port_ = FreePort();
  WriteTextFile(data_ + "/postgresql.auto.conf",
                "port = " + std::to_string(port_) +
                    "\nlisten_addresses = 'localhost'\nunix_socket_directories = '" + d +
                    "'\nssl = on\nssl_cert_file = '" + d + "/server.crt'\nssl_key_file = '" + d +
                    "/server.key'\nlog_connections = on\nfsync = off\n");
  WriteTextFile(data_ + "/pg_hba.conf",
                "hostssl all all 127.0.0.1/32 scram-sha-256\n"
                "hostssl all all ::1/128 scram-sha-256\n");
  std::filesystem::permissions(
      d + "/server.key", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  if (::geteuid() == 0 && !Run("chown -R postgres " + Quoted(d), false)) return;
  running_ = Run(Quoted(bin_ + "/pg_ctl") + " -D " + Quoted(data_) + " -l " +
                     Quoted(d + "/server.log") + " -w -t 60 start",
                 true);
}

TlsServer::~TlsServer() {
  if (running_)
    Run(Quoted(bin_ + "/pg_ctl") + " -D " + Quoted(data_) + " -m immediate -w stop", true);
}

std::string TlsServer::Log() const {
  return FileExists(dir_.File("server.log")) ? ReadTextFile(dir_.File("server.log"), "") : "";
}

std::string TlsServer::Query(const std::string& sql, const std::string& database) const {
  const char* keywords[] = {"host",   "port",    "user",        "password",
                            "dbname", "sslmode", "sslrootcert", nullptr};
  const std::string port = std::to_string(port_), root = ca();
  const char* values[] = {"localhost",      port.c_str(),  kUser,        kPassword,
                          database.c_str(), "verify-full", root.c_str(), nullptr};
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdbParams(keywords, values, 0),
                                                    &PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(conn.get()));
  std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(conn.get(), sql.c_str()), &PQclear);
  const ExecStatusType status = PQresultStatus(r.get());
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
    throw std::runtime_error(PQresultErrorMessage(r.get()));
  std::string out;
  for (int row = 0; row < PQntuples(r.get()); ++row)
    out += std::string(PQgetvalue(r.get(), row, 0)) + "\n";
  return out;
}

}  // namespace ferrolyte::testing

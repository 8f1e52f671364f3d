// The connection string of the PostgreSQL destination, and the dump file writer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/pg_connection.h"
#include "support/components.h"
#include "support/env.h"
#include "support/value.h"

namespace ferrolyte {

// The parameters of a direct run's sessions to that database: destinationserver,
// destinationport, destinationusername, destinationpassword, destinationsslmode and
// destinationsslrootcert of the settings section, then the libpq parameters of
// destinationparameters; fallback_application_name "ferrolyte" (so a DBA sees the run,
// unless application_name or PGAPPNAME name it otherwise) and connect_timeout
// connect_seconds unless they or PGCONNECT_TIMEOUT give one. Raises std::invalid_argument
// when libpq cannot read destinationparameters (SettingsProblem refuses that before a run).
PgParameters DestinationParameters(const Dictionary& section, const std::string& database,
                                   int connect_seconds = 15);

// The SSL mode to give the ODBC session so that it connects as the libpq session did: the
// mode that session settled on (none: the parameters', libpq's default, "prefer"). The
// driver would otherwise put its own "disable" in place of a service file's or PGSSLMODE.
std::string DriverSslMode(const PgParameters& where, const PgConnection* settled);

// The ODBC string for the PostgreSQL Unicode driver, the same parameters as libpq gets:
// "Driver={...};Server=;Port=;Database=;Uid=;" with plain values as they are, "SSLmode=;"
// when the options give sslmode, every other option in "pqopt={keyword='value' ...}" (which
// the driver hands to libpq), and "Pwd=;" last. A password that holds ";", braces, edge
// spaces, "+" or "%" goes in braces; a server, port, database or user name that holds ";" or
// begins with "{" is left empty there and given in pqopt. Detects the driver anew each call;
// raises 1004 when neither driver name is installed.
std::string BuildDestinationConnectionString(const PgParameters& where);
// The same without options.
std::string BuildDestinationConnectionString(const std::string& server, const std::string& database,
                                             const std::string& port, const std::string& user_name,
                                             const std::string& password);

// Opens and closes the sessions a direct run opens first (libpq, then ODBC, to the
// maintenance database of the settings section, with its parameters), waiting
// timeout_seconds for the server unless the settings or PGCONNECT_TIMEOUT say how long.
// Returns the whole reason when it cannot (the missing-driver text and unreadable
// destinationparameters included), empty when both opened.
std::string TryServerConnection(const DictionaryPtr& section, const ComponentRegistry& components,
                                int timeout_seconds);

// True when both paths name the same file (same device and inode), however they spell it:
// "./", symbolic links and hard links included; when neither exists yet, when both lead to
// the same place.
bool IsSameFile(const std::string& a, const std::string& b);

// The dump file, written through a buffer with CR LF line ends. A regular file (or a name
// not yet taken) is written under a temporary name in its own folder and takes its name only
// at Close, so that a dump that did not complete never sits under the name of one; anything
// else (a device, a pipe) is written as it is.
// The dump file name that writes the dump to standard output, as it is.
inline constexpr char kDumpToStandardOutput[] = "-";

class DumpFile {
 public:
  // Opens the file for output through env; raises 75/76 with the platform's text when it
  // cannot.
  DumpFile(Env& env, const std::string& path);
  // Abandons a file that was neither closed nor abandoned.
  ~DumpFile();
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  // Appends the text (may hold CR LF) and CR LF. Raises 61 "Disk full" (ENOSPC) or 57 with
  // the system's reason when the write fails; once one has failed, every later one raises too.
  void WriteDumpLine(const std::string& text);
  // Flushes, syncs, closes and gives the file its name; raises as a write does when that
  // fails (the file is then still there to abandon). Closing twice does nothing.
  void Close();
  // Ends the file with a comment line giving the reason and leaves it as path + ".incomplete".
  // Returns that name; empty when the file was written as it is or could not be kept. Never
  // raises.
  std::string Abandon(const std::string& reason);
  // True once a write has failed.
  bool failed() const { return failed_; }

 private:
  void Flush();
  [[noreturn]] void Fail(int err);
  Env& env_;
  std::string path_;    // as given, for error texts
  std::string target_;  // what the finished file is called
  std::string temp_;    // where it is written until then; empty when written as it is
  int fd_ = -1;
  bool failed_ = false;
  bool done_ = false;
  std::string buffer_;
};

}  // namespace ferrolyte

// The PostgreSQL server a command-line conversion goes to, from the --to text: a
// postgresql:// URL or key=value parameters, read by libpq's own parser as psql reads them.
#pragma once

#include <string>
#include <vector>

namespace ferrolyte {

// What the --to text gives, each part for the settings key the run reads.
struct PgTarget {
  std::string host, port, user, password, dbname, sslmode, sslrootcert;
  std::string parameters;  // every other parameter, as key=value text
};

// The parts the text gives; what it leaves out stays empty, for libpq to find when it
// connects (the service file, PGHOST and the other variables, the password file, its
// defaults). The database is the one exception, as the run creates it: the text's, else the
// service's, else PGDATABASE's, else fallback_dbname. Raises std::invalid_argument with
// libpq's reason (an unknown parameter, a broken URL, a service that is not there).
PgTarget ParsePgTarget(const std::string& text, const std::string& fallback_dbname);

// The words of a command line with the password in the value of --to and of
// --set destinationparameters=... replaced by "****", found as libpq reads it, whatever the
// spelling; a value libpq cannot read is not shown at all.
std::vector<std::string> HideCommandLinePasswords(const std::vector<std::string>& words);

}  // namespace ferrolyte

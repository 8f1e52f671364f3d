// The PostgreSQL server a command-line conversion goes to: a postgresql:// URL, completed from
// the PG* environment variables and the password file the way libpq (and so psql) does it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ferrolyte {

// The parts a URL names; a part it leaves out stays unset.
struct PgUrl {
  std::optional<std::string> host, port, user, password, dbname;
};

// Parses "postgresql://[user[:password]@][host][:port][/dbname][?name=value&...]" (also
// "postgres://"), percent-decoding every part; a host may be "[IPv6]". The parameters host,
// port, user, password and dbname replace the parts. Raises std::invalid_argument naming what
// is wrong: another scheme, several hosts, a port that is no number, another parameter.
PgUrl ParsePgUrl(const std::string& url);

// The text with the password of a postgresql:// URL replaced by "****"; anything else as is.
std::string HideUrlPassword(const std::string& text);

// An environment variable's value; unset and empty read alike (as libpq reads them).
using EnvLookup = std::function<std::optional<std::string>(const char* name)>;
EnvLookup ProcessEnvironment();

struct PgTarget {
  std::string host, port, user, password, dbname;
};

// libpq's socket folder on this system; an empty host means it.
inline constexpr char kDefaultSocketFolder[] = "/var/run/postgresql";

// What the URL leaves out, from PGHOST, PGPORT, PGUSER, PGPASSWORD and PGDATABASE, then
// libpq's defaults: the socket folder, 5432 and the login name. The database falls back to
// fallback_dbname (the database to create, not libpq's user name). The password stays empty
// when neither the URL nor PGPASSWORD gives one.
PgTarget ResolvePgTarget(const PgUrl& url, const EnvLookup& env,
                         const std::string& fallback_dbname);

// The password of the first line of a password file that matches: fields
// host:port:database:user:password, a field of "*" alone matching anything, "\" escaping
// ":" and "\". An empty host or the socket folder matches "localhost", an empty port 5432.
// Lines starting with "#" are comments.
std::optional<std::string> MatchPgPass(std::string_view file_text, const std::string& host,
                                       const std::string& port, const std::string& dbname,
                                       const std::string& user);

// The password file's password for the target: PGPASSFILE, else ~/.pgpass. A missing file
// gives nothing; one that is not a plain file or that group or others may access is ignored
// (as libpq ignores it) and warning says so.
std::optional<std::string> PgPassPassword(const PgTarget& target, const EnvLookup& env,
                                          std::string& warning);

}  // namespace ferrolyte

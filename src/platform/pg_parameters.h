// libpq's connection parameters, read by libpq's own parser: the one reading of a
// postgresql:// URL or a key=value text for everything that connects, shows or saves it.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ferrolyte {

struct PgParameter {
  std::string keyword, value;
  bool operator==(const PgParameter&) const = default;
};
using PgParameterList = std::vector<PgParameter>;
// keyword='value', as in PgParametersText.
std::ostream& operator<<(std::ostream& out, const PgParameter& parameter);

// The parameters the text gives, as libpq parses a postgresql:// (or postgres://) URL or a
// key=value text: percent-decoded, unquoted, a later value replacing an earlier one, in
// libpq's keyword order. Raises std::invalid_argument with libpq's reason; a quoted part of
// it is left out unless it is a keyword the text gives a value to, as it may be a password.
PgParameterList ParsePgParameters(const std::string& text);

// The value the list gives the keyword, or nullopt.
std::optional<std::string> FindPgParameter(const PgParameterList& parameters,
                                           std::string_view keyword);
// The list with the keyword set to the value: replaced where it is, else appended.
void SetPgParameter(PgParameterList& parameters, const std::string& keyword,
                    const std::string& value);

// The parameters as a key=value text that ParsePgParameters reads back as they are: every
// value in single quotes, "\" before "'" and "\".
std::string PgParametersText(const PgParameterList& parameters);

// What libpq takes for the keyword when the parameters leave it out: its environment
// variable (or the service PGSERVICE names), else its built-in default; nullopt for neither.
std::optional<std::string> PgDefault(std::string_view keyword);

// The database name the service of pg_service.conf that the parameters name gives, or
// nullopt when they name no service or it gives none. Reaches no server (a service that gives
// hostaddr is the exception: libpq starts a connection there, which is closed at once).
// Raises std::invalid_argument with libpq's reason when the service cannot be read.
std::optional<std::string> ServiceDatabase(const PgParameterList& parameters);

}  // namespace ferrolyte

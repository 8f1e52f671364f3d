#include "shell/pg_target.h"

#include <stdexcept>

#include "platform/pg_parameters.h"

namespace ferrolyte {
namespace {

constexpr char kSetParameters[] = "destinationparameters=";

std::string Hidden(const std::string& text) {
  PgParameterList parameters;
  try {
    parameters = ParsePgParameters(text);
  } catch (const std::invalid_argument&) {
    return "(not shown: libpq cannot read it)";
  }
  if (!FindPgParameter(parameters, "password")) return text;
  SetPgParameter(parameters, "password", "****");
  return PgParametersText(parameters);
}

}  // namespace

PgTarget ParsePgTarget(const std::string& text, const std::string& fallback_dbname) {
  PgTarget target;
  PgParameterList others;
  const PgParameterList parameters = ParsePgParameters(text);
  for (const PgParameter& p : parameters) {
    std::string* part = p.keyword == "host"          ? &target.host
                        : p.keyword == "port"        ? &target.port
                        : p.keyword == "user"        ? &target.user
                        : p.keyword == "password"    ? &target.password
                        : p.keyword == "dbname"      ? &target.dbname
                        : p.keyword == "sslmode"     ? &target.sslmode
                        : p.keyword == "sslrootcert" ? &target.sslrootcert
                                                     : nullptr;
    if (part)
      *part = p.value;
    else
      others.push_back(p);
  }
  target.parameters = PgParametersText(others);
  if (target.dbname.empty())
    target.dbname =
        ServiceDatabase(parameters).value_or(PgDefault("dbname").value_or(fallback_dbname));
  return target;
}

std::vector<std::string> HideCommandLinePasswords(const std::vector<std::string>& words) {
  std::vector<std::string> shown = words;
  for (size_t i = 0; i < shown.size(); ++i) {
    std::string& word = shown[i];
    if (word == "--") break;
    if ((word == "--to" || word == "--set") && i + 1 < shown.size()) {
      std::string& value = shown[++i];
      if (word == "--to")
        value = Hidden(value);
      else if (value.starts_with(kSetParameters))
        value = kSetParameters + Hidden(value.substr(sizeof kSetParameters - 1));
    } else if (word.starts_with("--to=")) {
      word = "--to=" + Hidden(word.substr(5));
    } else if (word.starts_with(std::string("--set=") + kSetParameters)) {
      const size_t at = 6 + sizeof kSetParameters - 1;
      word = word.substr(0, at) + Hidden(word.substr(at));
    }
  }
  return shown;
}

}  // namespace ferrolyte

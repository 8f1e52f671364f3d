#include "conversion/run_settings.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "conversion/destination_names.h"
#include "platform/pg_parameters.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// The parameters with a settings key of their own, and the one the sessions fix themselves.
constexpr const char* kKeyedParameters[][2] = {
    {"host", "destinationserver"},
    {"port", "destinationport"},
    {"dbname", "destinationdatabase"},
    {"user", "destinationusername"},
    {"password", "destinationpassword"},
    {"sslmode", "destinationsslmode"},
    {"sslrootcert", "destinationsslrootcert"},
    {"client_encoding", ""},
};

// The driver hands at most 29 parameters to libpq and drops the rest without a word; it
// takes up to 6 itself and the run adds up to 3.
constexpr size_t kMostParameters = 20;

// Never quotes the value: it could hold a password.
std::string ParametersProblem(const std::string& value) {
  const std::string head = "The setting destinationparameters is not valid: ";
  PgParameterList parameters;
  try {
    parameters = ParsePgParameters(value);
  } catch (const std::invalid_argument& e) {
    return head + e.what() + ".";
  }
  for (const PgParameter& p : parameters)
    for (const auto& [keyword, key] : kKeyedParameters)
      if (p.keyword == keyword)
        return head + (*key ? std::string(keyword) + " is the setting " + key + "."
                            : std::string(keyword) + " is always UTF8.");
  if (parameters.size() > kMostParameters)
    return head + "give at most " + std::to_string(kMostParameters) + " parameters.";
  return "";
}

}  // namespace

std::string SettingsProblem(const DictionaryPtr& section) {
  if (!section) return "";
  auto text = [&](const char* key) { return SafeStr(section->Item(key)); };
  auto problem = [&](const char* key, const std::string& expected) {
    return std::string("The setting ") + key + "=" + text(key) + " is not valid: " + expected;
  };
  const std::string method = text("destinationmethod");
  const bool direct = EqualsIgnoreCase(method, "DIRECT");
  if (!direct && !EqualsIgnoreCase(method, "DUMP"))
    return problem("destinationmethod", "use DIRECT or DUMP.");
  if (Trim(text("destinationdatabase")).empty())
    return problem("destinationdatabase", "name the database to create or fill.");
  // The server takes names in UTF-8 only, and a dump holding other bytes does not load.
  if (!IsValidUtf8(text("destinationdatabase")))
    return std::string(
        "The setting destinationdatabase is not valid: the name is not UTF-8 "
        "text; name the database in UTF-8.");
  if (!direct && Trim(text("destinationdumpfilename")).empty())
    return problem("destinationdumpfilename", "name the dump file to write.");
  const std::string port = text("destinationport");
  if (direct && !port.empty() && !IsPortList(port))
    return problem("destinationport", "use a port number from 1 to 65535.");
  const std::string sslmode = text("destinationsslmode");
  if (direct && !sslmode.empty() &&
      std::none_of(std::begin(kSslModes), std::end(kSslModes),
                   [&](const char* mode) { return EqualsIgnoreCase(sslmode, mode); }))
    return problem("destinationsslmode",
                   "use disable, allow, prefer, require, verify-ca or verify-full.");
  if (direct) {
    if (std::string why = ParametersProblem(text("destinationparameters")); !why.empty())
      return why;
  }
  const std::string format = text("dumpformat");
  if (!format.empty() && !EqualsIgnoreCase(format, kDumpFormatInsert) &&
      !EqualsIgnoreCase(format, kDumpFormatCopy))
    return problem("dumpformat", "use INSERT or COPY.");
  const std::string complex = text("complexcolumns");
  if (!complex.empty() && !EqualsIgnoreCase(complex, kComplexColumnsText) &&
      !EqualsIgnoreCase(complex, kComplexColumnsTables))
    return problem("complexcolumns", "use TEXT or TABLES.");
  if (!IdentifierCaseOf(text("identifiercase")))
    return problem("identifiercase", "use KEEP, LOWER or SNAKE.");
  return "";
}

bool IsPortList(const std::string& text) {
  // libpq takes one port per host of a list.
  for (const std::string& one : Split(text, ",")) {
    bool digits = !one.empty() && one.size() <= 5;
    for (char c : one) digits = digits && c >= '0' && c <= '9';
    if (!digits || std::stoi(one) < 1 || std::stoi(one) > 65535) return false;
  }
  return true;
}

}  // namespace ferrolyte

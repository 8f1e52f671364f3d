#include "conversion/run_settings.h"

#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {

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
  if (direct && !port.empty()) {
    bool digits = port.size() <= 5;
    for (char c : port) digits = digits && c >= '0' && c <= '9';
    if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535)
      return problem("destinationport", "use a port number from 1 to 65535.");
  }
  const std::string format = text("dumpformat");
  if (!format.empty() && !EqualsIgnoreCase(format, kDumpFormatInsert) &&
      !EqualsIgnoreCase(format, kDumpFormatCopy))
    return problem("dumpformat", "use INSERT or COPY.");
  const std::string complex = text("complexcolumns");
  if (!complex.empty() && !EqualsIgnoreCase(complex, kComplexColumnsText) &&
      !EqualsIgnoreCase(complex, kComplexColumnsTables))
    return problem("complexcolumns", "use TEXT or TABLES.");
  return "";
}

}  // namespace ferrolyte

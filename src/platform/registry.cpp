#include "platform/registry.h"

#include <odbcinst.h>

#include <vector>

#include "support/text.h"

namespace ferrolyte {
namespace {

enum class Hive { kNone, kClassesRoot, kCurrentUser, kLocalMachine, kUsers };

Hive ParseHive(const std::string& name) {
  std::string n = AsciiUpper(name);
  if (n == "HKEY_CLASSES_ROOT" || n == "HKCR") return Hive::kClassesRoot;
  if (n == "HKEY_CURRENT_USER" || n == "HKCU") return Hive::kCurrentUser;
  if (n == "HKEY_LOCAL_MACHINE" || n == "HKLM") return Hive::kLocalMachine;
  if (n == "HKEY_USERS" || n == "HKUR") return Hive::kUsers;
  return Hive::kNone;
}

// The driver names the driver manager knows (odbcinst.ini, honouring ODBCSYSINI).
std::vector<std::string> InstalledOdbcDrivers() {
  std::vector<char> buf(16384);
  std::vector<std::string> names;
  if (!SQLGetInstalledDrivers(buf.data(), static_cast<WORD>(buf.size()), nullptr)) return names;
  // A list of zero-terminated names ended by an empty one.
  const char* p = buf.data();
  while (*p && p < buf.data() + buf.size()) {
    names.emplace_back(p);
    p += names.back().size() + 1;
  }
  return names;
}

}  // namespace

Value RegRead(const std::string& path, bool /*use_wide*/) {
  size_t first = path.find('\\');
  size_t last = path.rfind('\\');
  if (first == std::string::npos || last == first) return Value::Null();
  Hive hive = ParseHive(path.substr(0, first));
  std::string subkey = path.substr(first + 1, last - first - 1);
  std::string name = path.substr(last + 1);
  if (hive == Hive::kLocalMachine &&
      EqualsIgnoreCase(subkey, "SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers")) {
    for (const std::string& driver : InstalledOdbcDrivers())
      if (EqualsIgnoreCase(driver, name)) return Value("Installed");
  }
  return Value::Null();
}

}  // namespace ferrolyte

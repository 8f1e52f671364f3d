// Reading one registry value by path. This platform has no registry: the one key the system
// reads, the ODBC driver list, is answered by the ODBC driver manager.
#pragma once

#include <string>

#include "support/value.h"

namespace ferrolyte {

// The value at "HIVE\subkey\...\name" (hives HKEY_CLASSES_ROOT/HKCR, HKEY_CURRENT_USER/HKCU,
// HKEY_LOCAL_MACHINE/HKLM, HKEY_USERS/HKUR, any letter case), or null when it is missing.
// "HKLM\SOFTWARE\ODBC\ODBCINST.INI\ODBC Drivers\NAME" reads "Installed" when the driver
// manager lists a driver NAME (letter case ignored); every other path reads null.
// use_wide (the 64-bit view) changes nothing here.
Value RegRead(const std::string& path, bool use_wide);

}  // namespace ferrolyte

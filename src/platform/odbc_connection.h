// The server end of Connection: unixODBC with the PostgreSQL Unicode driver, spoken through
// the wide-character API so that UTF-8 text reaches the server unchanged.
//
// Errors carry the numbers an ADO client sees: kAdoGenericError when the connection cannot
// be made, kAdoRejectedStatement when the server or driver rejects a statement; the
// description is the driver's diagnostic text.
#pragma once

namespace ferrolyte {

// The source an ODBC error carries, as ADO names its ODBC provider.
inline constexpr const char* kOdbcErrorSource = "Microsoft OLE DB Provider for ODBC Drivers";

}  // namespace ferrolyte

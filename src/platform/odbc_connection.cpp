#include "platform/ado.h"
#include "support/errors.h"

namespace ferrolyte {

// Not built yet: no provider is installed for this kind of connection string.
std::unique_ptr<ConnectionBackend> OpenOdbcBackend(const std::string&) {
  throw Error(3706, "ADODB.Connection",
              "Provider cannot be found. It may not be properly installed.");
}

}  // namespace ferrolyte

#include "platform/ado.h"
#include "support/components.h"

namespace ferrolyte {

void RegisterPlatformComponents(ComponentRegistry& registry) {
  registry.Register("ADODB.Connection", [] { return std::make_shared<Connection>(); });
  registry.Register("ADODB.RecordSet", [] { return std::make_shared<Recordset>(); });
}

}  // namespace ferrolyte

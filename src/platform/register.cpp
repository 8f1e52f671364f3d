#include "support/components.h"

namespace ferrolyte {

// The platform layer's classes register here as they arrive.
void RegisterPlatformComponents(ComponentRegistry& /*registry*/) {}

}  // namespace ferrolyte

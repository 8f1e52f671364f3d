// Every class this build creates by name: the support layer's dictionary and the platform's
// engines, connections, record sets, XML document and file system object.
#pragma once

#include "support/components.h"

namespace ferrolyte {

ComponentRegistry PlatformComponents();

}  // namespace ferrolyte

#include "shell/program_flags.h"

namespace ferrolyte {

ProgramFlags& Flags() {
  static ProgramFlags flags;
  return flags;
}

}  // namespace ferrolyte

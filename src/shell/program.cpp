#include "shell/program.h"

#include "support/version.h"

namespace ferrolyte {

std::string Program::VersionText() const {
  return options.unit_test ? "UNITTEST" : ProgramVersion();
}

}  // namespace ferrolyte

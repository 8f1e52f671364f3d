// Writes the schema file copy (access.xml) a scan of an Access file leaves, so that the copies
// of two builds can be compared byte for byte:
//
//   ferrolyte-schema-xml FILE FOLDER [PASSWORD]
#include <iostream>

#include "platform/register.h"
#include "schema/access_scanner.h"
#include "support/env.h"
#include "support/errors.h"
#include "support/status.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::cerr << "usage: ferrolyte-schema-xml FILE FOLDER [PASSWORD]\n";
    return 2;
  }
  ferrolyte::RecordingStatus quiet;
  const ferrolyte::CancelToken never{false};
  const ferrolyte::ComponentRegistry components = ferrolyte::PlatformComponents();
  try {
    ferrolyte::ScanAccessDatabase(argv[1], argc > 3 ? argv[3] : "", "", "",
                                  {quiet, never, components, ferrolyte::SystemEnv(), "", argv[2]});
  } catch (const ferrolyte::Error& e) {
    std::cerr << e.description() << "\n";
    return 1;
  }
  return 0;
}

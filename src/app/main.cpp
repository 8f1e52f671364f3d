#include <cstdio>

#include "support/version.h"

int main() {
  std::printf("Ferrolyte %d.%d.%d\n", ferrolyte::kVersionMajor, ferrolyte::kVersionMinor,
              ferrolyte::kVersionRevision);
  return 0;
}

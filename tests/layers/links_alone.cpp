// A program on the support layer alone: it formats one date.
#include <cstdio>

#include "support/oledate.h"

int main() {
  const ferrolyte::DateTimeFields fields{2024, 3, 5, 14, 7, 9};
  std::printf("%s\n", ferrolyte::FormatIsoDateTime(fields).c_str());
  return 0;
}

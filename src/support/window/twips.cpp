#include "support/window/twips.h"

#include <cmath>

namespace ferrolyte {

int TwipsToPixels(int twips, double dots_per_inch) {
  return static_cast<int>(std::lround(twips * dots_per_inch / kTwipsPerInch));
}

int PixelsToTwips(int pixels, double dots_per_inch) {
  if (dots_per_inch <= 0) return 0;
  return static_cast<int>(std::lround(pixels * kTwipsPerInch / dots_per_inch));
}

}  // namespace ferrolyte

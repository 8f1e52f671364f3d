// Twips (1/1440 inch), the unit the forms are measured in, and screen pixels.
#pragma once

namespace ferrolyte {

inline constexpr int kTwipsPerInch = 1440;

// Pixels for a length in twips at the given logical resolution (dots per inch), rounded
// to the nearest pixel, halves away from zero.
int TwipsToPixels(int twips, double dots_per_inch);
// Twips for a length in pixels at the given logical resolution, rounded the same way.
int PixelsToTwips(int pixels, double dots_per_inch);

}  // namespace ferrolyte

// The line an unattended run keeps redrawing on a terminal while a table's rows move.
#pragma once

#include <cstddef>
#include <string>

#include "support/run_progress.h"

namespace ferrolyte {

// "  shop.mdb - Orders -> shop (1500/4000)  37%  Table 2 of 5, 52,300 rows/s, about 0:35 left".
// With a width (the terminal's columns; 0: unknown) the line stays shorter than it, so that
// it never wraps: the text before the percentage gives way first, ending in "...".
std::string ProgressLine(const std::string& text, int percent, const ProgressFigures& figures,
                         size_t width);

}  // namespace ferrolyte

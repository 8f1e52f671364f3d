// The product's name and its maker's web address, shown in the window and written into dumps.
#pragma once

namespace ferrolyte {

inline constexpr char kProductTitle[] = "Ferrolyte";
inline constexpr char kMakerWebAddress[] = "https://www.quorvane.example/ferrolyte";

}  // namespace ferrolyte

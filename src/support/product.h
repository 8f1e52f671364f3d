// The product's name and its maker's web address, shown in the window and written into dumps.
#pragma once

namespace ferrolyte {

inline constexpr char kProductTitle[] = "Ferrolyte";
inline constexpr char kMakerWebAddress[] = "https://www.quorvane.example/ferrolyte";
// How the server's sessions of a direct run are named (application_name).
inline constexpr char kApplicationName[] = "ferrolyte";

}  // namespace ferrolyte

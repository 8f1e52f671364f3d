// File-dialog filters: the "description|patterns|description|patterns" form the forms are
// written with, turned into the "description (patterns);;..." form that Qt's dialogs take.
#pragma once

#include <string>

namespace ferrolyte {

// "(*.ini) Wizard Settings|*.ini|(*.*) All Files|*.*" gives
// "(*.ini) Wizard Settings (*.ini);;(*.*) All Files (*)". Patterns separated by ";" are
// listed with spaces; "*.*" becomes "*" (on this platform "*.*" misses names without a dot).
// A description without its pattern part keeps "*" as its pattern.
std::string QtFileFilter(const std::string& filter);

}  // namespace ferrolyte

// Tables linked from other Access files: where their back-end is on this machine.
#pragma once

#include <string>
#include <vector>

namespace ferrolyte {

// The value of a part of a link's Connect (";DATABASE=C:\data\back.mdb;PWD=x"), or empty.
std::string LinkConnectPart(const std::string& connect, const std::string& key);

struct BackEnd {
  std::string path;                    // empty when no candidate exists
  std::vector<std::string> looked_at;  // every place tried, in order
};

// The back-end of a link: the stored path as it is, then with "\" read as "/", then a file of
// the same name in the folder of the source file (stored paths are often Windows paths to a
// share that this machine does not have).
BackEnd FindBackEnd(const std::string& connect, const std::string& source_file);

}  // namespace ferrolyte

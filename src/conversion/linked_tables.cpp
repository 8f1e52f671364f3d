#include "conversion/linked_tables.h"

#include <sys/stat.h>

#include "support/text.h"

namespace ferrolyte {
namespace {

bool IsFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string LinkConnectPart(const std::string& connect, const std::string& key) {
  size_t at = 0;
  while (at <= connect.size()) {
    size_t end = connect.find(';', at);
    if (end == std::string::npos) end = connect.size();
    const std::string part = connect.substr(at, end - at);
    const size_t eq = part.find('=');
    if (eq != std::string::npos && EqualsIgnoreCase(Trim(part.substr(0, eq)), key))
      return part.substr(eq + 1);
    at = end + 1;
  }
  return "";
}

BackEnd FindBackEnd(const std::string& connect, const std::string& source_file) {
  BackEnd found;
  const std::string stored = LinkConnectPart(connect, "DATABASE");
  if (stored.empty()) return found;
  const std::string slashed = ReplaceAll(stored, "\\", "/");
  const size_t name_at = slashed.find_last_of('/');
  const std::string name = name_at == std::string::npos ? slashed : slashed.substr(name_at + 1);
  const size_t folder_at = source_file.find_last_of('/');
  const std::string beside =
      (folder_at == std::string::npos ? std::string() : source_file.substr(0, folder_at + 1)) +
      name;
  for (const std::string& candidate : {stored, slashed, beside}) {
    if (candidate.empty()) continue;
    bool tried = false;
    for (const std::string& t : found.looked_at) tried = tried || t == candidate;
    if (tried) continue;
    found.looked_at.push_back(candidate);
    if (IsFile(candidate)) {
      found.path = candidate;
      return found;
    }
  }
  return found;
}

}  // namespace ferrolyte

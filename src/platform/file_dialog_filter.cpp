#include "platform/file_dialog_filter.h"

#include <vector>

namespace ferrolyte {
namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::string QtPatterns(const std::string& patterns) {
  std::string out;
  for (const std::string& pattern : Split(patterns, ';')) {
    if (pattern.empty()) continue;
    if (!out.empty()) out += ' ';
    out += pattern == "*.*" ? "*" : pattern;
  }
  return out.empty() ? "*" : out;
}

}  // namespace

std::string QtFileFilter(const std::string& filter) {
  if (filter.empty()) return "";
  const std::vector<std::string> parts = Split(filter, '|');
  std::string out;
  for (size_t i = 0; i < parts.size(); i += 2) {
    const std::string patterns = i + 1 < parts.size() ? parts[i + 1] : "";
    if (parts[i].empty() && patterns.empty()) continue;  // a trailing "|"
    if (!out.empty()) out += ";;";
    out += parts[i] + " (" + QtPatterns(patterns) + ")";
  }
  return out;
}

}  // namespace ferrolyte

#include "support/connection_string.h"

#include "support/text.h"

namespace ferrolyte {

std::string ConnectionValue(const std::string& value) {
  if (value.find_first_of(";{}") == std::string::npos && Trim(value) == value) return value;
  return BracedConnectionValue(value);
}

std::string BracedConnectionValue(const std::string& value) {
  return "{" + ReplaceAll(value, "}", "}}") + "}";
}

std::vector<ConnectionPart> SplitConnectionString(const std::string& text) {
  std::vector<ConnectionPart> parts;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eq = text.find_first_of("=;", pos);
    if (eq == std::string::npos) break;
    if (text[eq] == ';') {
      pos = eq + 1;
      continue;
    }
    ConnectionPart part;
    part.key = Trim(std::string_view(text).substr(pos, eq - pos));
    size_t at = eq + 1;
    size_t next;
    if (at < text.size() && text[at] == '{') {
      size_t i = at + 1;
      while (i < text.size()) {
        if (text[i] == '}') {
          if (i + 1 < text.size() && text[i + 1] == '}') {
            part.value += '}';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        part.value += text[i++];
      }
      part.value_begin = at;
      part.value_end = i;
      next = text.find(';', i);
    } else {
      next = text.find(';', at);
      size_t end = next == std::string::npos ? text.size() : next;
      part.value = Trim(std::string_view(text).substr(at, end - at));
      part.value_begin = at;
      part.value_end = end;
    }
    parts.push_back(std::move(part));
    if (next == std::string::npos) break;
    pos = next + 1;
  }
  return parts;
}

}  // namespace ferrolyte

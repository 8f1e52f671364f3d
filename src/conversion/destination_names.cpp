#include "conversion/destination_names.h"

#include <glib.h>

#include "conversion/table_definition.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr size_t kMaxName = 63;  // PostgreSQL keeps this many bytes of a name

std::string CutToBytes(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return text.substr(0, bytes);
}

void AppendUtf8(std::string& out, gunichar c) {
  char bytes[6];
  out.append(bytes, static_cast<size_t>(g_unichar_to_utf8(c, bytes)));
}

}  // namespace

std::optional<IdentifierCase> IdentifierCaseOf(const std::string& value) {
  const std::string trimmed = Trim(value);
  if (trimmed.empty() || EqualsIgnoreCase(trimmed, "KEEP")) return IdentifierCase::kKeep;
  if (EqualsIgnoreCase(trimmed, "LOWER")) return IdentifierCase::kLower;
  if (EqualsIgnoreCase(trimmed, "SNAKE")) return IdentifierCase::kSnake;
  return std::nullopt;
}

const char* IdentifierCaseText(IdentifierCase rule) {
  switch (rule) {
    case IdentifierCase::kLower:
      return "LOWER";
    case IdentifierCase::kSnake:
      return "SNAKE";
    case IdentifierCase::kKeep:
      break;
  }
  return "KEEP";
}

std::string FoldIdentifier(const std::string& name, IdentifierCase rule) {
  if (rule == IdentifierCase::kKeep) return name;
  std::string out;
  bool gap = false;  // a run of other characters since the last word character
  for (size_t at = 0; at < name.size();) {
    const gunichar c =
        g_utf8_get_char_validated(name.data() + at, static_cast<gssize>(name.size() - at));
    const bool valid = c != static_cast<gunichar>(-1) && c != static_cast<gunichar>(-2);
    const size_t length =
        valid ? static_cast<size_t>(g_utf8_next_char(name.data() + at) - (name.data() + at)) : 1;
    const bool word = valid && (c == '_' || g_unichar_isalnum(c) || g_unichar_ismark(c));
    if (rule == IdentifierCase::kLower) {
      if (valid)
        AppendUtf8(out, g_unichar_tolower(c));
      else
        out += name[at];
    } else if (word) {
      if (gap && !out.empty()) out += '_';
      gap = false;
      AppendUtf8(out, g_unichar_tolower(c));
    } else {
      gap = true;
    }
    at += length;
  }
  if (rule == IdentifierCase::kSnake && out.empty()) return "_";
  return out;
}

std::string NumberedName(const std::string& wanted, std::unordered_set<std::string>& taken) {
  std::string name = wanted;
  for (int n = 1; taken.count(name); ++n) {
    const std::string suffix = "_" + std::to_string(n);
    name = CutToBytes(wanted, kMaxName - suffix.size()) + suffix;
  }
  taken.insert(name);
  return name;
}

std::vector<std::string> DistinctNames(const std::vector<std::string>& names, IdentifierCase rule,
                                       std::unordered_set<std::string>& taken) {
  std::vector<std::string> given(names.size());
  std::vector<std::string> folded;
  for (const std::string& name : names) folded.push_back(FoldIdentifier(name, rule));
  // Three rounds: names that stay as they are, folded names that fit, long names.
  for (int round = 0; round < 3; ++round)
    for (size_t i = 0; i < names.size(); ++i) {
      const bool fits = folded[i].size() <= kMaxName;
      const bool same = folded[i] == names[i];
      if ((round == 0 && fits && same) || (round == 1 && fits && !same)) {
        given[i] = NumberedName(folded[i], taken);
      } else if (round == 2 && !fits) {
        given[i] = ShortenedName(folded[i], &taken);
      }
    }
  return given;
}

}  // namespace ferrolyte

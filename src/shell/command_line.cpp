#include "shell/command_line.h"

#include "support/text.h"

namespace ferrolyte {
namespace {

// Reads a quoted word from the start of rest (which begins with the opening quote).
std::string ReadQuoted(std::string_view& rest) {
  std::string out;
  rest.remove_prefix(1);
  while (!rest.empty()) {
    char c = rest.front();
    if (c != '"') {
      out += c;
      rest.remove_prefix(1);
    } else if (rest.size() >= 2 && rest[1] == '"') {
      out += '"';
      rest.remove_prefix(2);
    } else {
      rest.remove_prefix(1);
      break;
    }
  }
  return out;
}

std::string ReadUntil(std::string_view& rest, std::string_view stops) {
  size_t end = rest.find_first_of(stops);
  if (end == std::string_view::npos) end = rest.size();
  std::string out(rest.substr(0, end));
  rest.remove_prefix(end);
  return out;
}

std::string Quoted(const std::string& text) {
  return "\"" + ReplaceAll(text, "\"", "\"\"") + "\"";
}

bool NeedsQuotes(const std::string& text) {
  return text.empty() || text.find_first_of(" ,") != std::string::npos;
}

}  // namespace

DictionaryPtr ParseCommandLine(const std::string& text, bool keep_case) {
  DictionaryPtr options = Dictionary::Create();
  std::string rest_text = text;
  for (;;) {
    rest_text = TrimSpaces(rest_text);
    if (rest_text.empty()) break;
    std::string_view rest = rest_text;
    std::string name = rest.front() == '"' ? ReadQuoted(rest) : ReadUntil(rest, "=, ");
    name = TrimSpaces(name);
    if (!name.empty() && (name.front() == '/' || name.front() == '-')) name.erase(0, 1);
    std::string value;
    if (!rest.empty() && rest.front() == '=') {
      rest.remove_prefix(1);
      value = !rest.empty() && rest.front() == '"' ? ReadQuoted(rest) : ReadUntil(rest, ", ");
      value = TrimSpaces(value);
    }
    if (!rest.empty() && (rest.front() == ',' || rest.front() == ' ')) rest.remove_prefix(1);
    if (!keep_case) name = AsciiLower(name);
    options->Set(name, value);
    rest_text = std::string(rest);
  }
  return options;
}

std::string JoinCommandLine(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& arg : args) {
    std::string word = arg;
    if (!arg.empty() && arg.front() != '"' && NeedsQuotes(arg)) {
      size_t eq = arg.find('=');
      std::string name = eq == std::string::npos ? "" : arg.substr(0, eq);
      std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
      // Quote only the value of name=value, so that the name stays an option name.
      if (eq != std::string::npos && !name.empty() && !NeedsQuotes(name) &&
          name.find('"') == std::string::npos && (value.empty() || value.front() != '"'))
        word = name + "=" + Quoted(value);
      else if (eq == std::string::npos || name.empty() || NeedsQuotes(name))
        word = Quoted(arg);
    }
    if (!out.empty()) out += ' ';
    out += word;
  }
  return out;
}

bool HasOption(const DictionaryPtr& options, const std::string& name) {
  return options && options->Exists(name);
}

bool IsScreenshotMode(const std::string& raw_command_line) {
  return AsciiLower(raw_command_line).find("screenshotmode") != std::string::npos;
}

}  // namespace ferrolyte

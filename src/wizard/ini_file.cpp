#include "wizard/ini_file.h"

#include <algorithm>

#include "support/files.h"
#include "support/safe.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

// Drops the first and last character and turns each doubled quote into one.
std::string Unquote(const std::string& text) {
  std::string inner = text.size() >= 2 ? text.substr(1, text.size() - 2) : "";
  return ReplaceAll(inner, "\"\"", "\"");
}

std::string Quote(const std::string& text) {
  return "\"" + ReplaceAll(text, "\"", "\"\"") + "\"";
}

// A value that ReadIniFile would trim or unquote must be quoted to survive the round trip.
std::string ValueText(const std::string& text) {
  if (text.empty()) return text;
  if (text.front() == ' ' || text.back() == ' ' || text.front() == '"') return Quote(text);
  return text;
}

// A value with a line break would end its line early and the rest would read as a key of
// its own. Such values go percent-encoded under the key with kEncodedMark appended; files
// without line breaks in values stay as they always were.
constexpr char kEncodedMark = '%';

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

std::string PercentEncode(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%')
      out += "%25";
    else if (c == '\r')
      out += "%0D";
    else if (c == '\n')
      out += "%0A";
    else
      out += c;
  }
  return out;
}

// Every "%" with two hex digits becomes that byte; any other "%" stays.
std::string PercentDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A line ends at LF; a CR before it, or at the very end of the text, belongs to the line end.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    const size_t stop = lf == std::string_view::npos ? text.size() : lf;
    const size_t end = stop > start && text[stop - 1] == '\r' ? stop - 1 : stop;
    lines.push_back(text.substr(start, end - start));
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return lines;
}

bool IsSectionLine(std::string_view line, bool lenient) {
  if (lenient) return !line.empty() && line.front() == '[';
  return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

// A settings file's entry into the dictionary: the key unquoted and lower-case, "[]" making a
// list, kEncodedMark a percent-encoded value.
void SetSettingsEntry(Dictionary& target, const IniEntry& entry) {
  std::string key = entry.key;
  if (!key.empty() && key.front() == '"') key = Unquote(key);
  const bool list = key.size() >= 2 && key.ends_with("[]");
  if (list) key.resize(key.size() - 2);
  const bool encoded = key.size() >= 2 && key.back() == kEncodedMark;
  if (encoded) key.pop_back();
  auto decoded = [encoded](std::string text) { return encoded ? PercentDecode(text) : text; };
  const std::string& raw_value = entry.value;
  Value value;
  if (list) {
    std::vector<std::string> items = SplitQuoted(raw_value, ',', '"');
    for (std::string& item : items) item = decoded(item);
    value = Value::TextList(items);
  } else if (!raw_value.empty() && raw_value.front() == '"') {
    value = Value(decoded(Unquote(raw_value)));
  } else {
    value = Value(decoded(raw_value));
  }
  target.Set(AsciiLower(key), std::move(value));
}

// A settings value as its entry: lists as key[]= with quoted items, a line break anywhere
// sending the whole value percent-encoded under key%.
IniEntry SettingsEntry(const std::string& key, const Value& item) {
  if (item.IsList()) {
    std::vector<Value> items = item.List();
    const bool encode = std::any_of(items.begin(), items.end(),
                                    [](const Value& v) { return HasLineBreak(SafeStr(v)); });
    if (encode)
      for (Value& v : items) v = Value(PercentEncode(SafeStr(v)));
    return {key + (encode ? std::string(1, kEncodedMark) : "") + "[]", JoinQuoted(items, ',', '"')};
  }
  const std::string text = SafeStr(item);
  if (HasLineBreak(text)) return {key + kEncodedMark, ValueText(PercentEncode(text))};
  return {key, ValueText(text)};
}

}  // namespace

std::string JoinQuoted(const std::vector<Value>& items, char separator, char quote) {
  const std::string q(1, quote), qq(2, quote);
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += q + ReplaceAll(SafeStr(items[i]), q, qq) + q;
  }
  return out;
}

std::vector<std::string> SplitQuoted(const std::string& text, char separator, char quote) {
  std::vector<std::string> items;
  size_t pos = 0;
  for (;;) {
    std::string item;
    if (pos < text.size() && text[pos] == quote) {
      ++pos;
      while (pos < text.size()) {
        if (text[pos] == quote) {
          if (pos + 1 < text.size() && text[pos + 1] == quote) {
            item += quote;
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        item += text[pos++];
      }
      items.push_back(item);
      // Whatever follows the closing quote is taken as the separator.
      if (pos >= text.size()) break;
      ++pos;
    } else {
      size_t sep = text.find(separator, pos);
      if (sep == std::string::npos) {
        items.push_back(text.substr(pos));
        break;
      }
      items.push_back(text.substr(pos, sep - pos));
      pos = sep + 1;
    }
    if (pos >= text.size()) {
      items.emplace_back();
      break;
    }
  }
  return items;
}

IniDocument ParseIni(std::string_view text, const IniLayout& layout) {
  IniDocument document;
  for (std::string_view raw : SplitLines(text)) {
    const std::string line = layout.lenient ? TrimSpaces(raw) : std::string(raw);
    if (IsSectionLine(line, layout.lenient)) {
      document.sections.push_back({line.size() >= 2 ? line.substr(1, line.size() - 2) : "", {}});
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    IniEntry entry{line.substr(0, eq), line.substr(eq + 1)};
    if (layout.lenient) entry = {TrimSpaces(entry.key), TrimSpaces(entry.value)};
    (document.sections.empty() ? document.before_sections : document.sections.back().entries)
        .push_back(std::move(entry));
  }
  return document;
}

std::string FormatIni(const IniDocument& document, const IniLayout& layout) {
  std::string out;
  auto append = [&](const std::vector<IniEntry>& entries) {
    for (const IniEntry& e : entries) {
      out += layout.indent;
      out += e.key;
      out += '=';
      out += e.value;
      out += layout.line_end;
    }
  };
  append(document.before_sections);
  for (const IniSection& section : document.sections) {
    out += "[" + section.name + "]";
    out += layout.line_end;
    append(section.entries);
  }
  return out;
}

DictionaryPtr ReadIniFile(const std::string& path) {
  const std::string text = ReadTextFile(path, "", kMaxSettingsFileBytes);
  const IniDocument document = ParseIni(text, kSettingsFileLayout);
  DictionaryPtr top = Dictionary::Create();
  for (const IniEntry& entry : document.before_sections) SetSettingsEntry(*top, entry);
  for (const IniSection& s : document.sections) {
    DictionaryPtr section = Dictionary::Create();
    top->Set(s.name, Value(section));
    for (const IniEntry& entry : s.entries) SetSettingsEntry(*section, entry);
  }
  return top;
}

void WriteIniFile(const DictionaryPtr& sections, const std::string& path) {
  IniDocument document;
  if (sections) {
    for (const std::string& name : sections->Keys()) {
      IniSection& written = document.sections.emplace_back(IniSection{name, {}});
      DictionaryPtr section = sections->Section(name);
      if (!section) continue;
      for (const std::string& key : section->Keys())
        written.entries.push_back(SettingsEntry(key, section->Item(key)));
    }
  }
  // A settings file may hold passwords.
  WritePrivateTextFile(path, FormatIni(document, kSettingsFileLayout));
}

}  // namespace ferrolyte

// INI files: the one reader and writer of their lines, and the settings files built on it
// (sections of keys and values, list values written as quoted items).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/value.h"

namespace ferrolyte {

// A key and its value as they stand on their line, neither decoded.
struct IniEntry {
  std::string key;
  std::string value;
};
struct IniSection {
  std::string name;
  std::vector<IniEntry> entries;
};
// The lines of an INI text: the entries above the first section line, then each section.
struct IniDocument {
  std::vector<IniEntry> before_sections;
  std::vector<IniSection> sections;
};

// How one kind of INI file lays out its lines.
struct IniLayout {
  std::string_view line_end;  // written after every line
  std::string_view indent;    // written before every entry
  // Read leniently: spaces around a line, its key and its value are dropped, and a line that
  // starts with "[" is a section line whatever its end. Otherwise a line is taken as it stands
  // and a section line is "[" NAME "]".
  bool lenient;
};
// Settings files (run settings, autorun files): they are also written by hand.
inline constexpr IniLayout kSettingsFileLayout{"\r\n", "  ", true};
// The per-user store: only ever written by the program itself.
inline constexpr IniLayout kStoreFileLayout{"\n", "", false};

// The sections and entries of the text, in file order. A line ends at LF, and a CR at its end
// belongs to the line end. Lines that are neither a section line nor hold "=" are skipped; an
// entry's key runs to the first "=".
IniDocument ParseIni(std::string_view text, const IniLayout& layout);

// The text of the document: each entry as indent, key, "=", value; each section as its line
// "[" NAME "]" and then its entries; every line ended by layout.line_end.
std::string FormatIni(const IniDocument& document, const IniLayout& layout);

// Settings are a few kilobytes; anything far larger is not a settings file.
inline constexpr uint64_t kMaxSettingsFileBytes = 16 * 1024 * 1024;

// Reads the file into a dictionary of sections (each a dictionary of lower-case keys).
// Keys before the first section line land in the top level. Lines may end in CR LF or LF.
// A key written as key%= or key%[]= is stored without the "%", its value or items
// percent-decoded. The path names one file (no wildcards). Raises 53 when the file does not
// exist, 75 for what is not a regular file or is over kMaxSettingsFileBytes.
DictionaryPtr ReadIniFile(const std::string& path);

// Writes every section of the dictionary, lines ending in CR LF, replacing the file. List
// values go as key[]= with quoted items; a text that would not read back as it stands
// (leading or trailing spaces, a leading double quote) is written quoted. A value, or a list
// with an item, that holds CR or LF goes as key%= (key%[]=) with "%", CR and LF written as
// %25, %0D and %0A, so that no line break is ever written inside a value. The file is
// private to the user (0600), since it may hold passwords.
void WriteIniFile(const DictionaryPtr& sections, const std::string& path);

// Each item as text with every quote doubled, wrapped in quotes, joined by the separator.
// An empty list gives the empty text.
std::string JoinQuoted(const std::vector<Value>& items, char separator, char quote);

// The items of a JoinQuoted text; unquoted items run to the next separator. Always at least
// one item: the empty text gives one empty item.
std::vector<std::string> SplitQuoted(const std::string& text, char separator, char quote);

}  // namespace ferrolyte

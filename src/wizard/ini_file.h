// INI settings files: sections of keys and values, list values written as quoted items.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/value.h"

namespace ferrolyte {

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

// The command line: options as words, optionally with a value, in one text.
#pragma once

#include <string>
#include <vector>

#include "support/value.h"

namespace ferrolyte {

// Parses name[=value] options separated by spaces or commas. Names and values may be
// double-quoted (a doubled quote stands for one); a leading "/" or "-" of a name is dropped;
// names are lower-cased unless keep_case. A later option replaces an earlier one.
DictionaryPtr ParseCommandLine(const std::string& text, bool keep_case);

// Rebuilds the command-line text from the words the shell split: joined with single spaces,
// a value (or word) holding a space or a comma wrapped in double quotes, so that
// settings=/home/me/My Files/a.ini reaches the parser as one value.
std::string JoinCommandLine(const std::vector<std::string>& args);

// True when the option was given, whatever its value (also an empty one).
bool HasOption(const DictionaryPtr& options, const std::string& name);

// True when the lower-cased command line contains "screenshotmode" anywhere.
bool IsScreenshotMode(const std::string& raw_command_line);

}  // namespace ferrolyte

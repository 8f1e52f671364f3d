// The command-line forms beside `settings=FILE autorun`: --help, --version, `tables` (what an
// Access file holds) and `convert` (a whole conversion without a settings file).
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ferrolyte {

// A command line that cannot mean what it says; ends the program with exit status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  std::string name;  // without the leading "--"
  bool takes_value = false;
  bool repeatable = false;
};

struct ParsedOptions {
  std::vector<std::string> operands;
  // Each given option's values in order; a flag has one empty value.
  std::map<std::string, std::vector<std::string>> values;

  bool Has(const std::string& name) const { return values.count(name) != 0; }
  // The value of a non-repeatable option, or nothing.
  std::optional<std::string> Get(const std::string& name) const;
};

// Reads "--name value", "--name=value" and flags; words after "--" are operands. Raises
// UsageError naming an unknown option, a missing value, a value given to a flag, or a second
// use of an option that may be given once.
ParsedOptions ParseOptions(const std::vector<std::string>& words,
                           const std::vector<OptionSpec>& specs);

// Every form, the exit statuses and where the log is.
std::string UsageText();

// "unknown option '--verison'" or "unknown word 'tabels'" for the first word that is none of
// the wizard's start options (settings=, autorun, hide, ...); nothing when all are.
std::optional<std::string> UnknownStartWord(const std::vector<std::string>& args);

// Runs the form the first word names and returns its exit status (a conversion ends the
// process itself, as autorun does); nothing when the words are not one of these forms, and
// start-up goes on as before.
std::optional<int> RunCommandLineForm(const std::vector<std::string>& args);

}  // namespace ferrolyte

// Connection strings: "key=value" parts separated by ";". A value that holds ";", "{" or "}",
// or begins or ends with a space or tab, is put in braces with each "}" in it doubled, the
// form ODBC drivers read; every other value stands as it is.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ferrolyte {

// The value as a connection string holds it: in braces when it needs them, else unchanged.
std::string ConnectionValue(const std::string& value);
// The value in braces, each "}" in it doubled, whatever it holds.
std::string BracedConnectionValue(const std::string& value);

// One "key=value" part of a connection string.
struct ConnectionPart {
  std::string key;    // without surrounding spaces and tabs; letter case kept
  std::string value;  // a braced value without its braces, any other without edge spaces
  size_t value_begin = 0, value_end = 0;  // where the value stands, braces included
};

// The parts in order. A value that begins with "{" runs to its closing brace ("}}" is one
// "}"; without a closing brace, to the end), and what follows it up to the next ";" is
// ignored. Parts without "=" (the "MS Access" of a DAO connect string) are left out.
std::vector<ConnectionPart> SplitConnectionString(const std::string& text);

}  // namespace ferrolyte

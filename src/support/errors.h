// The one exception type of the system: a number, a source and a description, as the
// platform components raise them.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace ferrolyte {

class Error : public std::runtime_error {
 public:
  // Creates an error with the given number, source and description.
  Error(int32_t number, std::string source, std::string description);
  // Creates an error with an empty source.
  Error(int32_t number, std::string description) : Error(number, "", std::move(description)) {}

  int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
};

// The number as upper-case hexadecimal without prefix or leading zeros; negative numbers as
// their 32-bit two's complement (-2147217900 gives "80040E14").
std::string HexNumber(int32_t number);

// "number (0xHEX)", as error messages show a number: -2147221005 gives
// "-2147221005 (0x800401F3)".
std::string NumberWithHex(int32_t number);

// What an error number means: a symbolic name where the platform has one (HRESULTs:
// "DB_SEC_E_AUTH_FAILED"), else empty; and the platform's text for it.
struct ErrorMeaning {
  std::string name;
  std::string text;
};
// Nothing for a number the table does not know.
std::optional<ErrorMeaning> MeaningOfError(int32_t number);

// The number as a Linux user can read it: "DB_SEC_E_AUTH_FAILED: Authentication failed.",
// "3043: Disk or network error."; an unknown number as NumberWithHex.
std::string NamedError(int32_t number);

}  // namespace ferrolyte

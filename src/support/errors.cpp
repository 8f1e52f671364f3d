#include "support/errors.h"

#include <cstdio>

namespace ferrolyte {

Error::Error(int32_t number, std::string source, std::string description)
    : std::runtime_error(description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

std::string HexNumber(int32_t number) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<uint32_t>(number));
  return buf;
}

std::string NumberWithHex(int32_t number) {
  return std::to_string(number) + " (0x" + HexNumber(number) + ")";
}

}  // namespace ferrolyte

// Feeds doubles and texts to the date conversions: a serial either converts to fields whose
// serial gives the same fields again, or raises; never undefined behaviour. A parsed text is
// always a convertible serial.
#include <cstdint>
#include <cstring>
#include <string>

#include "support/errors.h"
#include "support/oledate.h"

using namespace ferrolyte;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 8) {
    double serial;
    std::memcpy(&serial, data, 8);
    try {
      DateTimeFields f = OleDateToFields(serial);
      if (!OleDateInRange(serial)) __builtin_trap();
      if (!(OleDateToFields(FieldsToOleDate(f)) == f)) __builtin_trap();
      (void)FormatIsoDateTime(f);
    } catch (const Error&) {
      if (OleDateInRange(serial)) __builtin_trap();
    }
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (auto parsed = ParseDateText(text)) {
    if (!OleDateInRange(*parsed)) __builtin_trap();
    (void)OleDateToFields(*parsed);
  }
  return 0;
}

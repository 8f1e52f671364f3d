// The OLE automation date (days since 1899-12-30 as a double, the time as the fraction) and
// its calendar fields. Every conversion between the two goes through here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ferrolyte {

struct DateTimeFields {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  int millisecond = 0;  // only OleDateToMillisecondFields sets it
  bool operator==(const DateTimeFields&) const = default;
};

// True when the serial names a day of the years 1 to 9999 (false for NaN and infinities).
bool OleDateInRange(double serial);
// Calendar fields of a serial, rounded to the nearest second (never "24:00:00"). A negative
// serial counts whole days backwards and its fraction forwards, as OLE dates do. A serial
// outside the years 1 to 9999 raises error 6 "Overflow" naming the value.
DateTimeFields OleDateToFields(double serial);
// The same rounded to the nearest millisecond instead.
DateTimeFields OleDateToMillisecondFields(double serial);
// The serial of calendar fields (proleptic Gregorian calendar).
double FieldsToOleDate(const DateTimeFields& fields);
// Days from 1899-12-30 to the given date.
int64_t DaysFromOleEpoch(int year, int month, int day);
// The calendar date that many days from 1899-12-30; the time fields stay 0.
DateTimeFields OleDayToFields(int64_t day);
// "yyyy-mm-dd hh:mm:ss", the year zero-padded to four digits.
std::string FormatIsoDateTime(const DateTimeFields& fields);
// Parses the date and time texts a user or a settings file writes: "yyyy-mm-dd[ hh:mm[:ss]]",
// "yyyy/mm/dd", "mm/dd/yyyy", "dd.mm.yyyy" (each optionally followed by a time) or a time
// "hh:mm[:ss]" alone. Nothing when the text is none of these or names no real date.
std::optional<double> ParseDateText(const std::string& text);

}  // namespace ferrolyte

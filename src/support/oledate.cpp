#include "support/oledate.h"

#include <cmath>
#include <cstdio>
#include <regex>

#include "support/errors.h"

namespace ferrolyte {
namespace {

constexpr int32_t kOverflow = errc::kOverflow.number;

// Howard Hinnant's days_from_civil / civil_from_days, relative to 1970-01-01.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const int64_t kOleEpoch = DaysFromCivil(1899, 12, 30);
// 0001-01-01 and 9999-12-31, the first and last day a date can name.
const int64_t kFirstDay = -693593;
const int64_t kLastDay = 2958465;

bool ValidDate(int y, int m, int d) {
  if (m < 1 || m > 12 || d < 1 || y < 1 || y > 9999) return false;
  int yy, mm, dd;
  CivilFromDays(DaysFromCivil(y, m, d), yy, mm, dd);
  return yy == y && mm == m && dd == d;
}

}  // namespace

int64_t DaysFromOleEpoch(int year, int month, int day) {
  return DaysFromCivil(year, month, day) - kOleEpoch;
}

DateTimeFields OleDayToFields(int64_t day) {
  DateTimeFields f;
  CivilFromDays(day + kOleEpoch, f.year, f.month, f.day);
  return f;
}

bool OleDateInRange(double serial) {
  // Also false for NaN and infinities: every comparison with them fails.
  return serial > static_cast<double>(kFirstDay - 1) && serial < static_cast<double>(kLastDay + 1);
}

namespace {

// The fields of a serial rounded to the nearest 1/units_per_second of a second.
DateTimeFields SplitSerial(double serial, int64_t units_per_second) {
  if (!OleDateInRange(serial)) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", serial);
    throw Error(kOverflow, std::string("Overflow: the date/time value ") + text +
                               " lies outside the years 1 to 9999.");
  }
  const int64_t units_per_day = 86400 * units_per_second;
  double whole = std::trunc(serial);
  double fraction = std::fabs(serial - whole);
  auto days = static_cast<int64_t>(whole);
  auto units = static_cast<int64_t>(std::llround(fraction * static_cast<double>(units_per_day)));
  if (units >= units_per_day) {
    // Rounding reached midnight: the next day (time runs forwards also before the epoch).
    units -= units_per_day;
    days += 1;
    if (days > kLastDay) days = kLastDay, units = units_per_day - 1;
  }
  DateTimeFields f;
  CivilFromDays(days + kOleEpoch, f.year, f.month, f.day);
  const int64_t seconds = units / units_per_second;
  f.hour = static_cast<int>(seconds / 3600);
  f.minute = static_cast<int>(seconds / 60 % 60);
  f.second = static_cast<int>(seconds % 60);
  f.millisecond = static_cast<int>((units % units_per_second) * 1000 / units_per_second);
  return f;
}

}  // namespace

DateTimeFields OleDateToFields(double serial) {
  return SplitSerial(serial, 1);
}

DateTimeFields OleDateToMillisecondFields(double serial) {
  return SplitSerial(serial, 1000);
}

double FieldsToOleDate(const DateTimeFields& f) {
  double days = static_cast<double>(DaysFromOleEpoch(f.year, f.month, f.day));
  double time = (f.hour * 3600.0 + f.minute * 60.0 + f.second) / 86400.0;
  // Before the epoch the fraction still counts forwards from the day's start.
  return days < 0 ? days - time : days + time;
}

std::string FormatIsoDateTime(const DateTimeFields& f) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour,
                f.minute, f.second);
  return buf;
}

std::optional<double> ParseDateText(const std::string& text) {
  static const std::regex kTime(R"((\d{1,2}):(\d{2})(?::(\d{2}))?)");
  static const std::regex kIso(R"((\d{4})[-/](\d{1,2})[-/](\d{1,2})(?:[ T](.+))?)");
  static const std::regex kUs(R"((\d{1,2})/(\d{1,2})/(\d{4})(?: (.+))?)");
  static const std::regex kEu(R"((\d{1,2})\.(\d{1,2})\.(\d{4})(?: (.+))?)");
  std::smatch m;
  DateTimeFields f;
  auto parse_time = [&f](const std::string& t) {
    std::smatch tm;
    if (!std::regex_match(t, tm, kTime)) return false;
    f.hour = std::stoi(tm[1]);
    f.minute = std::stoi(tm[2]);
    f.second = tm[3].matched ? std::stoi(tm[3]) : 0;
    return f.hour < 24 && f.minute < 60 && f.second < 60;
  };
  std::string t = text;
  while (!t.empty() && t.back() == ' ') t.pop_back();
  while (!t.empty() && t.front() == ' ') t.erase(0, 1);
  int y, mo, d;
  std::string rest;
  if (std::regex_match(t, m, kIso)) {
    y = std::stoi(m[1]), mo = std::stoi(m[2]), d = std::stoi(m[3]);
    rest = m[4];
  } else if (std::regex_match(t, m, kUs)) {
    mo = std::stoi(m[1]), d = std::stoi(m[2]), y = std::stoi(m[3]);
    rest = m[4];
  } else if (std::regex_match(t, m, kEu)) {
    d = std::stoi(m[1]), mo = std::stoi(m[2]), y = std::stoi(m[3]);
    rest = m[4];
  } else {
    if (!parse_time(t)) return std::nullopt;
    return FieldsToOleDate(f);
  }
  if (!ValidDate(y, mo, d)) return std::nullopt;
  f.year = y, f.month = mo, f.day = d;
  if (!rest.empty() && !parse_time(rest)) return std::nullopt;
  return FieldsToOleDate(f);
}

}  // namespace ferrolyte

#include <cstring>

#include "conversion/access_sql_tokens.h"
#include "conversion/access_sql_translator.h"
#include "support/text.h"
#include "support/value.h"

namespace ferrolyte::access_sql {
namespace {

std::string IntervalOf(const std::string& code) {
  const std::string c = Lower(code);
  if (c == "yyyy") return "1 year";
  if (c == "q") return "3 months";
  if (c == "m") return "1 month";
  if (c == "y" || c == "d" || c == "w") return "1 day";
  if (c == "ww") return "7 days";
  if (c == "h") return "1 hour";
  if (c == "n") return "1 minute";
  if (c == "s") return "1 second";
  Refuse("the interval \"" + code + "\" is none Access knows");
}

// Format's date patterns in to_char's words; what it does not know makes the format
// untranslatable rather than wrong.
std::optional<std::string> DatePattern(const std::string& pattern) {
  static const std::map<std::string, std::string> kNamed = {
      {"general date", "FMMM/FMDD/YYYY FMHH12:MI:SS AM"},
      {"long date", "FMDay, FMMonth FMDD, YYYY"},
      {"medium date", "DD-Mon-YY"},
      {"short date", "FMMM/FMDD/YYYY"},
      {"long time", "FMHH12:MI:SS AM"},
      {"medium time", "FMHH12:MI AM"},
      {"short time", "HH24:MI"}};
  if (auto named = kNamed.find(Lower(pattern)); named != kNamed.end()) return named->second;
  struct Word {
    const char* access;
    const char* pg;
  };
  static const Word kWords[] = {
      {"yyyy", "YYYY"}, {"yy", "YY"},      {"mmmm", "FMMonth"}, {"mmm", "Mon"}, {"mm", "MM"},
      {"m", "FMMM"},    {"dddd", "FMDay"}, {"ddd", "Dy"},       {"dd", "DD"},   {"d", "FMDD"},
      {"hh", "HH24"},   {"h", "FMHH24"},   {"nn", "MI"},        {"n", "FMMI"},  {"ss", "SS"},
      {"s", "FMSS"},    {"q", "Q"}};
  std::string out;
  bool any = false, after_hour = false, twelve = false;
  std::string lower = Lower(pattern);
  for (size_t i = 0; i < pattern.size();) {
    if (lower.compare(i, 5, "am/pm") == 0) {
      out += "AM";
      twelve = true;
      i += 5;
      continue;
    }
    bool matched = false;
    for (const Word& w : kWords) {
      const size_t len = std::strlen(w.access);
      if (lower.compare(i, len, w.access) != 0) continue;
      std::string pg = w.pg;
      // m after an hour means minutes, as in "hh:mm".
      if ((lower.compare(i, 2, "mm") == 0 || (len == 1 && lower[i] == 'm')) && after_hour)
        pg = len == 1 ? "FMMI" : "MI";
      after_hour = lower[i] == 'h';
      out += pg;
      i += len;
      any = matched = true;
      break;
    }
    if (matched) continue;
    const char c = pattern[i];
    if (c == '"') {
      const size_t close = pattern.find('"', i + 1);
      if (close == std::string::npos) return std::nullopt;
      out += "\"" + pattern.substr(i + 1, close - i - 1) + "\"";
      i = close + 1;
    } else if (c == '\\' && i + 1 < pattern.size()) {
      out += "\"" + pattern.substr(i + 1, 1) + "\"";
      i += 2;
    } else if (std::string("/-:., ").find(c) != std::string::npos) {
      out += c;
      ++i;
    } else {
      return std::nullopt;
    }
  }
  if (!any) return std::nullopt;
  if (twelve) out = ReplaceAll(out, "HH24", "HH12");
  return out;
}

std::optional<std::string> NumberPattern(const std::string& pattern) {
  const std::string p = Lower(pattern);
  if (p == "fixed") return "FM999999999999990.00";
  if (p == "standard") return "FM999,999,999,999,990.00";
  if (p == "general number") return std::nullopt;
  const size_t dot = pattern.find('.');
  const std::string whole = pattern.substr(0, dot);
  const std::string decimals = dot == std::string::npos ? "" : pattern.substr(dot + 1);
  if (whole.empty() || whole.find_first_not_of("0#,") != std::string::npos ||
      decimals.find_first_not_of("0#") != std::string::npos)
    return std::nullopt;
  const bool grouped = whole.find(',') != std::string::npos;
  const size_t zeros = std::count(whole.begin(), whole.end(), '0');
  std::string digits(std::max<size_t>(15, zeros), '9');
  for (size_t i = 0; i < zeros; ++i) digits[digits.size() - 1 - i] = '0';
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (grouped && i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  if (!decimals.empty()) {
    out += '.';
    for (char c : decimals) out += c == '0' ? '0' : '9';
  }
  return "FM" + out;
}

// Refuses a call of `f` given fewer than `low` or more than `high` arguments.
void CheckArity(const std::string& f, size_t count, size_t low, size_t high) {
  if (count < low || count > high)
    Refuse("the function " + f + " is given " + std::to_string(count) + " arguments");
}

// The interval code (yyyy, q, m ...) a date function gets as its first argument, lower case.
std::string IntervalCode(const Node& n) {
  if (n.args[0]->kind != Node::Kind::kString) Refuse(n.text + " has an interval that is no text");
  return Lower(n.args[0]->text);
}

}  // namespace

const std::map<std::string, std::string> kAggregates = {{"sum", "SUM"},
                                                        {"avg", "AVG"},
                                                        {"count", "COUNT"},
                                                        {"min", "MIN"},
                                                        {"max", "MAX"},
                                                        {"stdev", "STDDEV_SAMP"},
                                                        {"stdevp", "STDDEV_POP"},
                                                        {"var", "VAR_SAMP"},
                                                        {"varp", "VAR_POP"},
                                                        {"first", ""},
                                                        {"last", ""}};

R Translator::Aggregate(const std::string& name, const Node& n, const Scope& scope) {
  if (n.args.size() != 1) Refuse(name + " takes one argument");
  if (n.args[0]->kind == Node::Kind::kStar) {
    if (name != "count") Refuse(name + "(*) has no meaning");
    return {"COUNT(*)", SqlType::kInteger, true};
  }
  R a = Expr(*n.args[0], scope);
  if (name == "count") return {"COUNT(" + a.sql + ")", SqlType::kInteger, true};
  if (name == "first") return {"(ARRAY_AGG(" + a.sql + "))[1]", a.type};
  if (name == "last") return {"(ARRAY_AGG(" + a.sql + "))[COUNT(*)]", a.type};
  const std::string fn = kAggregates.at(name);
  if (name == "min" || name == "max") return {fn + "(" + a.sql + ")", a.type};
  const std::string value = AsNumber(a);
  if (name == "sum")
    return {fn + "(" + value + ")", a.type == SqlType::kFloat     ? SqlType::kFloat
                                    : a.type == SqlType::kDecimal ? SqlType::kDecimal
                                                                  : SqlType::kDecimal};
  return {fn + "(" + value + ")", SqlType::kFloat};
}

R Translator::Format(const std::vector<R>& args, const Node& n) {
  if (args.size() == 1) return {AsText(args[0]), SqlType::kText};
  if (n.args[1]->kind != Node::Kind::kString)
    Refuse("Format has a pattern that is no text literal");
  const std::string pattern = n.args[1]->text;
  const R& value = args[0];
  if (Lower(pattern) == "percent")
    return {"(TO_CHAR(" + AsNumber(value) + " * 100, 'FM999999999999990.00') || '%')",
            SqlType::kText};
  const bool prefer_number = IsNumeric(value.type);
  std::optional<std::string> number = NumberPattern(pattern);
  std::optional<std::string> date = DatePattern(pattern);
  if (number && (prefer_number || !date))
    return {"TO_CHAR(" + AsNumber(value) + ", " + SqlString(Value(*number)) + ")", SqlType::kText};
  if (date)
    return {"TO_CHAR(" + AsTimestamp(value) + ", " + SqlString(Value(*date)) + ")", SqlType::kText};
  Refuse("Format with the pattern \"" + pattern + "\" has no equivalent in PostgreSQL");
}

// Left, Right, Mid, Len, the Trims, UCase, LCase, InStr and Replace.
R Translator::SubstringCall(const Node& n, const std::vector<R>& a) {
  const std::string& f = n.text;
  const auto arity = [&](size_t low, size_t high) { CheckArity(f, a.size(), low, high); };
  if (f == "left" || f == "right") {
    arity(2, 2);
    return R{(f == "left" ? "LEFT(" : "RIGHT(") + AsText(a[0]) + ", " + AsInteger(a[1]) + ")",
             SqlType::kText};
  }
  if (f == "mid") {
    arity(2, 3);
    return R{"SUBSTR(" + AsText(a[0]) + ", " + AsInteger(a[1]) +
                 (a.size() == 3 ? ", " + AsInteger(a[2]) : "") + ")",
             SqlType::kText};
  }
  if (f == "len") {
    arity(1, 1);
    return R{"LENGTH(" + AsText(a[0]) + ")", SqlType::kInteger};
  }
  if (f == "trim" || f == "ltrim" || f == "rtrim") {
    arity(1, 1);
    return R{(f == "trim"    ? "BTRIM("
              : f == "ltrim" ? "LTRIM("
                             : "RTRIM(") +
                 AsText(a[0]) + ")",
             SqlType::kText};
  }
  if (f == "ucase" || f == "lcase") {
    arity(1, 1);
    return R{(f == "ucase" ? "UPPER(" : "LOWER(") + AsText(a[0]) + ")", SqlType::kText};
  }
  if (f == "instr") {
    arity(2, 4);
    const bool has_start = a.size() >= 3;
    const R& s1 = has_start ? a[1] : a[0];
    const R& s2 = has_start ? a[2] : a[1];
    // A compare argument of 0 compares binary; otherwise Access ignores letter case.
    const bool binary =
        a.size() == 4 && n.args[3]->kind == Node::Kind::kNumber && n.args[3]->text == "0";
    auto fold = [&](const std::string& s) { return binary ? s : "LOWER(" + s + ")"; };
    if (!has_start)
      return R{"STRPOS(" + fold(AsText(s1)) + ", " + fold(AsText(s2)) + ")", SqlType::kInteger};
    const std::string start = AsInteger(a[0]);
    const std::string found = "STRPOS(" + fold("SUBSTR(" + AsText(s1) + ", " + start + ")") + ", " +
                              fold(AsText(s2)) + ")";
    return R{"(CASE WHEN " + found + " > 0 THEN " + found + " + " + start + " - 1 ELSE " + found +
                 " END)",
             SqlType::kInteger};
  }
  if (f == "replace") {
    arity(3, 3);
    if (n.args[1]->kind == Node::Kind::kString && n.args[2]->kind == Node::Kind::kString) {
      std::string find;
      for (char c : n.args[1]->text) {
        if (std::string("\\.^$|()[]{}*+?").find(c) != std::string::npos) find += '\\';
        find += c;
      }
      return R{"REGEXP_REPLACE(" + AsText(a[0]) + ", " + SqlString(Value(find)) + ", " +
                   SqlString(Value(ReplaceAll(n.args[2]->text, "\\", "\\\\"))) + ", 'gi')",
               SqlType::kText};
    }
    return R{"REPLACE(" + AsText(a[0]) + ", " + AsText(a[1]) + ", " + AsText(a[2]) + ")",
             SqlType::kText};
  }
  return {};
}

// Space, String, StrReverse, Chr, Asc, StrComp and Format.
R Translator::CharacterCall(const Node& n, const std::vector<R>& a) {
  const std::string& f = n.text;
  const auto arity = [&](size_t low, size_t high) { CheckArity(f, a.size(), low, high); };
  if (f == "space") {
    arity(1, 1);
    return R{"REPEAT(' ', " + AsInteger(a[0]) + ")", SqlType::kText};
  }
  if (f == "string") {
    arity(2, 2);
    const std::string c =
        IsNumeric(a[1].type) ? "CHR(" + AsInteger(a[1]) + ")" : "LEFT(" + AsText(a[1]) + ", 1)";
    return R{"REPEAT(" + c + ", " + AsInteger(a[0]) + ")", SqlType::kText};
  }
  if (f == "strreverse") {
    arity(1, 1);
    return R{"REVERSE(" + AsText(a[0]) + ")", SqlType::kText};
  }
  if (f == "chr" || f == "chrw") {
    arity(1, 1);
    return R{"CHR(" + AsInteger(a[0]) + ")", SqlType::kText};
  }
  if (f == "asc" || f == "ascw") {
    arity(1, 1);
    return R{"ASCII(" + AsText(a[0]) + ")", SqlType::kInteger};
  }
  if (f == "strcomp") {
    arity(2, 3);
    const std::string x = "LOWER(" + AsText(a[0]) + ")", y = "LOWER(" + AsText(a[1]) + ")";
    return R{"(CASE WHEN " + x + " < " + y + " THEN -1 WHEN " + x + " > " + y + " THEN 1 WHEN " +
                 x + " = " + y + " THEN 0 END)",
             SqlType::kInteger};
  }
  if (f == "format") {
    arity(1, 2);
    return Format(a, n);
  }
  return {};
}

// Nz: COALESCE with the fallback Access gives for the value's type when none is given.
R Translator::NzCall(const std::vector<R>& a) {
  R fallback;
  if (a.size() == 2) {
    fallback = a[1];
  } else if (IsNumeric(a[0].type) || a[0].type == SqlType::kBoolean) {
    fallback = {a[0].type == SqlType::kBoolean ? "FALSE" : "0", a[0].type};
  } else if (a[0].type == SqlType::kText) {
    fallback = {"''", SqlType::kText};
  } else {
    Refuse("Nz without its second argument has no value of the right type here");
  }
  R value = a[0];
  if (fallback.type == SqlType::kText && value.type != SqlType::kText)
    value = {AsText(value), SqlType::kText};
  if (value.type == SqlType::kText && fallback.type != SqlType::kText &&
      fallback.type != SqlType::kNull)
    fallback = {AsText(fallback), SqlType::kText};
  Align(value, fallback);
  return R{"COALESCE(" + value.sql + ", " + fallback.sql + ")",
           value.type == SqlType::kNull ? fallback.type : value.type, fallback.never_null};
}

// IIf and Switch: a CASE whose values share the type Access gives the result.
R Translator::ConditionCall(const std::string& f, const std::vector<R>& a) {
  if (f == "iif") CheckArity(f, a.size(), 3, 3);
  if (f == "switch" && (a.size() < 2 || a.size() % 2))
    Refuse("Switch needs pairs of condition and value");
  std::vector<R> values;
  for (size_t i = 1; i < a.size(); i += 2) values.push_back(a[i]);
  if (f == "iif") values.push_back(a[2]);
  SqlType type = SqlType::kNull;
  bool text = false, number = false;
  for (const R& v : values) {
    if (v.type == SqlType::kNull) continue;
    text = text || v.type == SqlType::kText;
    number = number || IsNumeric(v.type);
    type = type == SqlType::kNull ? v.type : type == v.type ? type : SqlType::kUnknown;
  }
  auto value = [&](const R& v) {
    if (text && v.type != SqlType::kText) return AsText(v);
    if (number && v.type == SqlType::kBoolean) return AsNumber(v);
    return v.sql;
  };
  if (text)
    type = SqlType::kText;
  else if (number && type == SqlType::kUnknown)
    type = SqlType::kFloat;
  std::string sql = "(CASE";
  if (f == "iif") {
    sql += " WHEN " + AsBool(a[0]) + " THEN " + value(a[1]) + " ELSE " + value(a[2]);
  } else {
    for (size_t i = 0; i < a.size(); i += 2)
      sql += " WHEN " + AsBool(a[i]) + " THEN " + value(a[i + 1]);
  }
  return R{sql + " END)", type};
}

// Nz, IIf, Switch, Choose, IsNull, IsNumeric and Val.
R Translator::ChoiceCall(const Node& n, const std::vector<R>& a) {
  const std::string& f = n.text;
  const auto arity = [&](size_t low, size_t high) { CheckArity(f, a.size(), low, high); };
  if (f == "nz") {
    arity(1, 2);
    return NzCall(a);
  }
  if (f == "iif" || f == "switch") return ConditionCall(f, a);
  if (f == "choose") {
    if (a.size() < 2) Refuse("Choose needs an index and a value");
    std::string sql = "(CASE " + AsInteger(a[0]);
    for (size_t i = 1; i < a.size(); ++i) sql += " WHEN " + std::to_string(i) + " THEN " + a[i].sql;
    return R{sql + " END)", a[1].type};
  }
  if (f == "isnull") {
    arity(1, 1);
    return R{"(" + a[0].sql + " IS NULL)", SqlType::kBoolean, true};
  }
  if (f == "isnumeric") {
    arity(1, 1);
    return R{"COALESCE(" + AsText(a[0]) +
                 " ~ '^\\s*[-+]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][-+]?[0-9]+)?\\s*$', FALSE)",
             SqlType::kBoolean, true};
  }
  if (f == "val") {
    arity(1, 1);
    return R{"COALESCE(CAST(SUBSTRING(" + AsText(a[0]) +
                 " FROM '^\\s*[-+]?[0-9]*\\.?[0-9]+(?:[eE][-+]?[0-9]+)?') AS DOUBLE PRECISION), 0)",
             SqlType::kFloat};
  }
  return {};
}

// The math functions, Round and the conversions (CInt, CDbl, CStr ...).
R Translator::NumberCall(const Node& n, const std::vector<R>& a) {
  const std::string& f = n.text;
  const auto arity = [&](size_t low, size_t high) { CheckArity(f, a.size(), low, high); };
  static const std::map<std::string, std::pair<const char*, SqlType>> kMath = {
      {"abs", {"ABS", SqlType::kUnknown}},  {"sgn", {"SIGN", SqlType::kInteger}},
      {"sqr", {"SQRT", SqlType::kFloat}},   {"exp", {"EXP", SqlType::kFloat}},
      {"log", {"LN", SqlType::kFloat}},     {"sin", {"SIN", SqlType::kFloat}},
      {"cos", {"COS", SqlType::kFloat}},    {"tan", {"TAN", SqlType::kFloat}},
      {"atn", {"ATAN", SqlType::kFloat}},   {"int", {"FLOOR", SqlType::kUnknown}},
      {"fix", {"TRUNC", SqlType::kUnknown}}};
  if (auto m = kMath.find(f); m != kMath.end()) {
    arity(1, 1);
    SqlType type = m->second.second == SqlType::kUnknown ? a[0].type : m->second.second;
    if (f == "sgn") return R{"CAST(SIGN(" + AsNumber(a[0]) + ") AS INTEGER)", type};
    return R{std::string(m->second.first) + "(" + AsNumber(a[0]) + ")", type};
  }
  if (f == "round") {
    arity(1, 2);
    // Access rounds a half to the even neighbour.
    const std::string places = a.size() == 2 ? AsInteger(a[1]) : "0";
    const std::string scale = "POWER(10::NUMERIC, " + places + ")";
    const std::string v = "(CAST(" + AsNumber(a[0]) + " AS NUMERIC) * " + scale + ")";
    const std::string rounded = "(CASE WHEN ABS(" + v + " - TRUNC(" + v +
                                ")) = 0.5 THEN 2 * ROUND(" + v + " / 2) ELSE ROUND(" + v + ") END)";
    if (a.size() == 1) return R{rounded, SqlType::kDecimal};
    return R{"ROUND(" + rounded + " / " + scale + ", " + places + ")", SqlType::kDecimal};
  }
  // Conversions; integer ones round a half to even as Access does, through a double.
  static const std::map<std::string, std::pair<const char*, SqlType>> kIntegers = {
      {"cint", {"SMALLINT", SqlType::kInteger}},
      {"clng", {"INTEGER", SqlType::kInteger}},
      {"cbyte", {"SMALLINT", SqlType::kInteger}}};
  if (auto c = kIntegers.find(f); c != kIntegers.end()) {
    arity(1, 1);
    return R{"CAST(CAST(" + AsNumber(a[0]) + " AS DOUBLE PRECISION) AS " + c->second.first + ")",
             SqlType::kInteger};
  }
  if (f == "cdbl" || f == "csng") {
    arity(1, 1);
    return R{"CAST(" + AsNumber(a[0]) + (f == "cdbl" ? " AS DOUBLE PRECISION)" : " AS REAL)"),
             SqlType::kFloat};
  }
  if (f == "ccur" || f == "cdec") {
    arity(1, 1);
    return R{"CAST(" + AsNumber(a[0]) + (f == "ccur" ? " AS NUMERIC(19,4))" : " AS NUMERIC)"),
             SqlType::kDecimal};
  }
  if (f == "cstr") {
    arity(1, 1);
    return R{AsText(a[0]), SqlType::kText};
  }
  if (f == "cdate" || f == "cvdate") {
    arity(1, 1);
    return R{AsTimestamp(a[0]), SqlType::kDate};
  }
  if (f == "cbool") {
    arity(1, 1);
    if (a[0].type == SqlType::kBoolean) return a[0];
    return R{"(" + AsNumber(a[0]) + " <> 0)", SqlType::kBoolean};
  }
  if (f == "cvar") {
    arity(1, 1);
    return a[0];
  }
  return {};
}

// The date parts (Year, Month ...), Weekday, Date, Now, Time, the serials, DateValue and DateAdd.
R Translator::DateCall(const Node& n, const std::vector<R>& a) {
  const std::string& f = n.text;
  const auto arity = [&](size_t low, size_t high) { CheckArity(f, a.size(), low, high); };
  const auto interval_code = [&]() { return IntervalCode(n); };
  static const std::map<std::string, const char*> kParts = {
      {"year", "YEAR"}, {"month", "MONTH"},   {"day", "DAY"},
      {"hour", "HOUR"}, {"minute", "MINUTE"}, {"second", "SECOND"}};
  if (auto p = kParts.find(f); p != kParts.end()) {
    arity(1, 1);
    return R{"CAST(FLOOR(EXTRACT(" + std::string(p->second) + " FROM " + AsTimestamp(a[0]) +
                 ")) AS INTEGER)",
             SqlType::kInteger};
  }
  if (f == "weekday") {
    arity(1, 2);
    const std::string dow = "CAST(EXTRACT(DOW FROM " + AsTimestamp(a[0]) + ") AS INTEGER)";
    if (a.size() == 1) return R{"(" + dow + " + 1)", SqlType::kInteger};
    return R{"(MOD(" + dow + " - (" + AsInteger(a[1]) + " - 1) + 7, 7) + 1)", SqlType::kInteger};
  }
  if (f == "date") {
    arity(0, 0);
    return R{"CAST(CURRENT_DATE AS TIMESTAMP)", SqlType::kDate, true};
  }
  if (f == "now") {
    arity(0, 0);
    return R{"LOCALTIMESTAMP(0)", SqlType::kDate, true};
  }
  if (f == "time") {
    arity(0, 0);
    return R{"(TIMESTAMP '1899-12-30 00:00:00' + CAST(LOCALTIME(0) AS INTERVAL))", SqlType::kDate,
             true};
  }
  if (f == "dateserial") {
    arity(3, 3);
    // Access carries months and days over: DateSerial(2020, 13, 1) is 2021-01-01.
    return R{"(CAST(MAKE_DATE(" + AsInteger(a[0]) + ", 1, 1) AS TIMESTAMP) + (" + AsInteger(a[1]) +
                 " - 1) * INTERVAL '1 month' + (" + AsInteger(a[2]) + " - 1) * INTERVAL '1 day')",
             SqlType::kDate};
  }
  if (f == "timeserial") {
    arity(3, 3);
    return R{"(TIMESTAMP '1899-12-30 00:00:00' + " + AsInteger(a[0]) + " * INTERVAL '1 hour' + " +
                 AsInteger(a[1]) + " * INTERVAL '1 minute' + " + AsInteger(a[2]) +
                 " * INTERVAL '1 second')",
             SqlType::kDate};
  }
  if (f == "datevalue") {
    arity(1, 1);
    return R{"DATE_TRUNC('day', " + AsTimestamp(a[0]) + ")", SqlType::kDate};
  }
  if (f == "dateadd") {
    arity(3, 3);
    return R{"(" + AsTimestamp(a[2]) + " + " + AsNumber(a[1]) + " * INTERVAL '" +
                 IntervalOf(interval_code()) + "')",
             SqlType::kDate};
  }
  return {};
}

// DateDiff, DatePart, MonthName and WeekdayName.
R Translator::IntervalCall(const Node& n, const std::vector<R>& a) {
  const std::string& f = n.text;
  const auto arity = [&](size_t low, size_t high) { CheckArity(f, a.size(), low, high); };
  const auto interval_code = [&]() { return IntervalCode(n); };
  if (f == "datediff") {
    arity(3, 4);
    const std::string code = interval_code();
    const std::string d1 = AsTimestamp(a[1]), d2 = AsTimestamp(a[2]);
    auto part = [](const char* p, const std::string& d) {
      return "EXTRACT(" + std::string(p) + " FROM " + d + ")";
    };
    auto days = [&](const std::string& d) { return "CAST(" + d + " AS DATE)"; };
    std::string sql;
    if (code == "yyyy") {
      sql = part("YEAR", d2) + " - " + part("YEAR", d1);
    } else if (code == "q") {
      sql = "(" + part("YEAR", d2) + " - " + part("YEAR", d1) + ") * 4 + " + part("QUARTER", d2) +
            " - " + part("QUARTER", d1);
    } else if (code == "m") {
      sql = "(" + part("YEAR", d2) + " - " + part("YEAR", d1) + ") * 12 + " + part("MONTH", d2) +
            " - " + part("MONTH", d1);
    } else if (code == "d" || code == "y") {
      sql = days(d2) + " - " + days(d1);
    } else if (code == "w") {
      sql = "(" + days(d2) + " - " + days(d1) + ") / 7";
    } else if (code == "ww") {
      // Sundays passed: each day moved back to the Sunday before it.
      sql = "((" + days(d2) + " - CAST(" + part("DOW", d2) + " AS INTEGER)) - (" + days(d1) +
            " - CAST(" + part("DOW", d1) + " AS INTEGER))) / 7";
    } else if (code == "h" || code == "n" || code == "s") {
      const char* unit = code == "h" ? "hour" : code == "n" ? "minute" : "second";
      const char* seconds = code == "h" ? "3600" : code == "n" ? "60" : "1";
      sql = "(EXTRACT(EPOCH FROM DATE_TRUNC('" + std::string(unit) + "', " + d2 +
            ")) - EXTRACT(EPOCH FROM DATE_TRUNC('" + unit + "', " + d1 + "))) / " + seconds;
      return R{"CAST(" + sql + " AS BIGINT)", SqlType::kInteger};
    } else {
      IntervalOf(code);
    }
    return R{"CAST(" + sql + " AS INTEGER)", SqlType::kInteger};
  }
  if (f == "datepart") {
    arity(2, 4);
    const std::string code = interval_code();
    const std::string d = AsTimestamp(a[1]);
    static const std::map<std::string, const char*> kDateParts = {
        {"yyyy", "YEAR"}, {"q", "QUARTER"}, {"m", "MONTH"},  {"y", "DOY"},
        {"d", "DAY"},     {"h", "HOUR"},    {"n", "MINUTE"}, {"s", "SECOND"}};
    if (auto p = kDateParts.find(code); p != kDateParts.end())
      return R{"CAST(FLOOR(EXTRACT(" + std::string(p->second) + " FROM " + d + ")) AS INTEGER)",
               SqlType::kInteger};
    if (code == "w")
      return R{"(CAST(EXTRACT(DOW FROM " + d + ") AS INTEGER) + 1)", SqlType::kInteger};
    if (code == "ww")
      // The week holding January 1 is week 1; weeks begin on Sunday.
      return R{"((CAST(EXTRACT(DOY FROM " + d +
                   ") AS INTEGER) + CAST(EXTRACT(DOW FROM DATE_TRUNC('year', " + d +
                   ")) AS INTEGER) - 1) / 7 + 1)",
               SqlType::kInteger};
    IntervalOf(code);
  }
  if (f == "monthname") {
    arity(1, 2);
    const bool short_name =
        a.size() == 2 && n.args[1]->kind == Node::Kind::kBoolean && n.args[1]->text == "true";
    return R{"TO_CHAR(MAKE_DATE(2000, " + AsInteger(a[0]) + ", 1), '" +
                 (short_name ? "Mon" : "FMMonth") + "')",
             SqlType::kText};
  }
  if (f == "weekdayname") {
    arity(1, 2);
    const bool short_name =
        a.size() == 2 && n.args[1]->kind == Node::Kind::kBoolean && n.args[1]->text == "true";
    // 2000-01-02 was a Sunday, weekday 1.
    return R{"TO_CHAR(DATE '2000-01-01' + " + AsInteger(a[0]) + ", '" +
                 (short_name ? "Dy" : "FMDay") + "')",
             SqlType::kText};
  }
  return {};
}

R Translator::Call(const Node& n, const Scope& scope) {
  const std::string& f = n.text;
  if (kAggregates.count(f)) return Aggregate(f, n, scope);
  std::vector<R> a;
  for (const NodePtr& arg : n.args) {
    if (arg->kind == Node::Kind::kStar) Refuse(f + "(*) has no meaning");
    a.push_back(Expr(*arg, scope));
  }
  for (R (Translator::*group)(const Node&, const std::vector<R>&) :
       {&Translator::SubstringCall, &Translator::CharacterCall, &Translator::ChoiceCall,
        &Translator::NumberCall, &Translator::DateCall, &Translator::IntervalCall})
    if (R r = (this->*group)(n, a); !r.sql.empty()) return r;
  if (f.size() > 1 && f[0] == 'd' &&
      (f == "dlookup" || f == "dsum" || f == "dcount" || f == "davg" || f == "dmin" ||
       f == "dmax" || f == "dfirst" || f == "dlast"))
    Refuse("the domain function " + n.parts[0] +
           " reads tables by a text Access evaluates when it runs");
  Refuse("the function " + n.parts[0] + " has no equivalent in PostgreSQL");
}

}  // namespace ferrolyte::access_sql

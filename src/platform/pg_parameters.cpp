#include "platform/pg_parameters.h"

#include <libpq-fe.h>

#include <memory>
#include <ostream>
#include <stdexcept>

#include "support/text.h"

namespace ferrolyte {
namespace {

struct OptionsDeleter {
  void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using Options = std::unique_ptr<PQconninfoOption, OptionsDeleter>;

PgParameterList ListOf(const PQconninfoOption* options) {
  PgParameterList list;
  for (const PQconninfoOption* o = options; o && o->keyword; ++o)
    if (o->val) list.push_back({o->keyword, o->val});
  return list;
}

// libpq's messages end in a line break.
std::string WithoutLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.remove_suffix(1);
  return std::string(text);
}

bool IsWord(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!(c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
      return false;
  return true;
}

// True when the text gives the word a value: "word=" or "word =".
bool GivesValueTo(std::string_view text, std::string_view word) {
  for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
    size_t next = at + word.size();
    while (next < text.size() && text[next] == ' ') ++next;
    const bool starts = at == 0 || !IsWord(text.substr(at - 1, 1));
    if (starts && next < text.size() && text[next] == '=') return true;
  }
  return false;
}

// libpq quotes the part it stumbled on, which may be a piece of the password (a broken
// %-escape in it, a word after an unquoted space).
std::string WithoutSecrets(std::string_view message, std::string_view text) {
  std::string out;
  size_t at = 0;
  while (at < message.size()) {
    const size_t open = message.find('"', at);
    const size_t close = open == std::string_view::npos ? open : message.find('"', open + 1);
    if (close == std::string_view::npos) {
      out += message.substr(at);
      break;
    }
    const std::string_view quoted = message.substr(open + 1, close - open - 1);
    out += message.substr(at, open + 1 - at);
    const bool sign = quoted.size() == 1 && !IsWord(quoted);  // the "=" libpq looked for
    out += sign || (IsWord(quoted) && GivesValueTo(text, quoted)) ? std::string(quoted) : "...";
    out += '"';
    at = close + 1;
  }
  return WithoutLineEnd(out);
}

}  // namespace

PgParameterList ParsePgParameters(const std::string& text) {
  char* error = nullptr;
  Options options(PQconninfoParse(text.c_str(), &error));
  if (!options) {
    std::string why = error ? WithoutSecrets(error, text) : "out of memory";
    PQfreemem(error);
    throw std::invalid_argument(why);
  }
  return ListOf(options.get());
}

std::optional<std::string> FindPgParameter(const PgParameterList& parameters,
                                           std::string_view keyword) {
  for (const PgParameter& p : parameters)
    if (p.keyword == keyword) return p.value;
  return std::nullopt;
}

void SetPgParameter(PgParameterList& parameters, const std::string& keyword,
                    const std::string& value) {
  for (PgParameter& p : parameters)
    if (p.keyword == keyword) {
      p.value = value;
      return;
    }
  parameters.push_back({keyword, value});
}

std::ostream& operator<<(std::ostream& out, const PgParameter& parameter) {
  return out << PgParametersText({parameter});
}

std::string PgParametersText(const PgParameterList& parameters) {
  std::string text;
  for (const PgParameter& p : parameters) {
    if (!text.empty()) text += ' ';
    text += p.keyword + "='" + ReplaceAll(ReplaceAll(p.value, "\\", "\\\\"), "'", "\\'") + "'";
  }
  return text;
}

std::optional<std::string> PgDefault(std::string_view keyword) {
  Options defaults(PQconndefaults());
  for (const PQconninfoOption* o = defaults.get(); o && o->keyword; ++o)
    if (keyword == o->keyword && o->val) return std::string(o->val);
  return std::nullopt;
}

std::optional<std::string> ServiceDatabase(const PgParameterList& parameters) {
  if (!FindPgParameter(parameters, "service")) return std::nullopt;
  // libpq reads the service file only on its way to connecting. A socket folder that does
  // not exist ends the attempt before any server, and a user of our own shows whether the
  // database name was given or is libpq's fallback to the user name.
  constexpr const char* kNoUser = "\x01 no user";
  PgParameterList probe = parameters;
  SetPgParameter(probe, "host", "/nonexistent/ferrolyte");
  SetPgParameter(probe, "port", "1");
  SetPgParameter(probe, "user", kNoUser);
  SetPgParameter(probe, "passfile", "/nonexistent/ferrolyte");
  std::vector<const char*> keywords, values;
  for (const PgParameter& p : probe) {
    keywords.push_back(p.keyword.c_str());
    values.push_back(p.value.c_str());
  }
  keywords.push_back(nullptr);
  values.push_back(nullptr);
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn(
      PQconnectStartParams(keywords.data(), values.data(), 0), &PQfinish);
  if (!conn) throw std::invalid_argument("out of memory");
  Options resolved(PQconninfo(conn.get()));
  const PgParameterList list = ListOf(resolved.get());
  if (FindPgParameter(list, "user") != kNoUser)
    throw std::invalid_argument(WithoutLineEnd(PQerrorMessage(conn.get())));
  std::optional<std::string> dbname = FindPgParameter(list, "dbname");
  if (dbname == kNoUser) return std::nullopt;
  return dbname;
}

}  // namespace ferrolyte

#include "shell/pg_target.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "support/files.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

constexpr std::string_view kSchemes[] = {"postgresql://", "postgres://"};

[[noreturn]] void Invalid(const std::string& what) {
  throw std::invalid_argument(what);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
    const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
    if (low < 0) Invalid("a broken %-escape in the URL: " + std::string(text.substr(i, 3)));
    // A NUL would cut the value short wherever it is passed on.
    if (high == 0 && low == 0) Invalid("%00 is not allowed in the URL");
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

size_t SchemeLength(std::string_view url) {
  for (std::string_view scheme : kSchemes)
    if (url.size() >= scheme.size() && EqualsIgnoreCase(url.substr(0, scheme.size()), scheme))
      return scheme.size();
  return 0;
}

void ValidatePort(const std::string& port) {
  bool digits = !port.empty() && port.size() <= 5;
  for (char c : port) digits = digits && c >= '0' && c <= '9';
  if (!digits || std::stoi(port) < 1 || std::stoi(port) > 65535)
    Invalid("the port '" + port + "' in the URL is not a port number");
}

void StoreParameters(std::string_view query, PgUrl& url) {
  for (const std::string& pair : Split(query, "&")) {
    if (pair.empty()) continue;
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) Invalid("the URL parameter '" + pair + "' has no value");
    const std::string name = PercentDecode(pair.substr(0, eq));
    std::string value = PercentDecode(pair.substr(eq + 1));
    if (name == "host" || name == "hostaddr")
      url.host = value;
    else if (name == "port")
      url.port = value;
    else if (name == "user")
      url.user = value;
    else if (name == "password")
      url.password = value;
    else if (name == "dbname")
      url.dbname = value;
    else
      Invalid("the URL parameter '" + name + "' is not supported");
  }
}

std::string LoginName() {
  const struct passwd* pw = ::getpwuid(::geteuid());
  return pw && pw->pw_name ? pw->pw_name : "";
}

std::string HomeFolder(const EnvLookup& env) {
  if (auto home = env("HOME")) return *home;
  const struct passwd* pw = ::getpwuid(::geteuid());
  return pw && pw->pw_dir ? pw->pw_dir : "";
}

// One field of a password file line against the value; on a match, returns where the next
// field starts. A field of "*" alone matches anything.
std::optional<size_t> MatchField(std::string_view line, size_t at, std::string_view value) {
  if (line.substr(at, 2) == "*:") return at + 2;
  size_t v = 0;
  while (at < line.size()) {
    char c = line[at];
    bool escaped = false;
    if (c == '\\' && at + 1 < line.size()) {
      c = line[++at];
      escaped = true;
    }
    if (c == ':' && !escaped) {
      if (v == value.size()) return at + 1;
      return std::nullopt;
    }
    if (v >= value.size() || value[v] != c) return std::nullopt;
    ++v;
    ++at;
  }
  return std::nullopt;  // no password field follows
}

}  // namespace

PgUrl ParsePgUrl(const std::string& url) {
  const size_t scheme = SchemeLength(url);
  if (scheme == 0)
    Invalid("'" + url + "' is not a postgresql:// URL (postgresql://user@host:port/dbname)");
  std::string_view rest = std::string_view(url).substr(scheme);
  PgUrl parts;

  // As libpq reads it: credentials end at an "@" that comes before the first "/".
  const size_t at = rest.find_first_of("@/");
  if (at != std::string_view::npos && rest[at] == '@') {
    std::string_view credentials = rest.substr(0, at);
    const size_t colon = credentials.find(':');
    const std::string user = PercentDecode(credentials.substr(0, colon));
    if (!user.empty()) parts.user = user;
    if (colon != std::string_view::npos) {
      const std::string password = PercentDecode(credentials.substr(colon + 1));
      if (!password.empty()) parts.password = password;
    }
    rest.remove_prefix(at + 1);
  }

  std::string host, port;
  size_t end;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) Invalid("the URL's IPv6 address has no closing ']'");
    host = std::string(rest.substr(1, close - 1));
    if (host.empty()) Invalid("the URL's IPv6 address is empty");
    end = close + 1;
    if (end < rest.size() && std::string_view(":/?,").find(rest[end]) == std::string_view::npos)
      Invalid("unexpected '" + std::string(1, rest[end]) + "' after the URL's IPv6 address");
  } else {
    end = std::min(rest.find_first_of(":/?,"), rest.size());
    host = PercentDecode(rest.substr(0, end));
  }
  if (end < rest.size() && rest[end] == ':') {
    const size_t port_end = std::min(rest.find_first_of("/?,", end + 1), rest.size());
    port = PercentDecode(rest.substr(end + 1, port_end - end - 1));
    end = port_end;
  }
  if (end < rest.size() && rest[end] == ',') Invalid("the URL names several hosts; give one");
  if (!host.empty()) parts.host = host;
  if (!port.empty()) parts.port = port;

  if (end < rest.size() && rest[end] == '/') {
    const size_t query = std::min(rest.find('?', end + 1), rest.size());
    const std::string dbname = PercentDecode(rest.substr(end + 1, query - end - 1));
    if (!dbname.empty()) parts.dbname = dbname;
    end = query;
  }
  if (end < rest.size()) StoreParameters(rest.substr(end + 1), parts);
  if (parts.port) ValidatePort(*parts.port);
  return parts;
}

std::string HideUrlPassword(const std::string& text) {
  std::string lower = AsciiLower(text);
  size_t start = std::string::npos;
  for (std::string_view scheme : kSchemes) {
    const size_t found = lower.find(scheme);
    if (found != std::string::npos && found < start) start = found + scheme.size();
  }
  if (start == std::string::npos) return text;
  std::string out = text;
  const size_t at = out.find_first_of("@/", start);
  if (at != std::string::npos && out[at] == '@') {
    const size_t colon = out.find(':', start);
    if (colon < at) out.replace(colon + 1, at - colon - 1, "****");
  }
  for (const char* key : {"?password=", "&password="}) {
    const size_t found = out.find(key, start);
    if (found == std::string::npos) continue;
    const size_t value = found + std::char_traits<char>::length(key);
    out.replace(value, std::min(out.find('&', value), out.size()) - value, "****");
  }
  return out;
}

EnvLookup ProcessEnvironment() {
  return [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
  };
}

PgTarget ResolvePgTarget(const PgUrl& url, const EnvLookup& env,
                         const std::string& fallback_dbname) {
  auto pick = [&](const std::optional<std::string>& part, const char* variable) {
    return part ? part : env(variable);
  };
  PgTarget target;
  target.host = pick(url.host, "PGHOST").value_or(kDefaultSocketFolder);
  target.port = pick(url.port, "PGPORT").value_or("5432");
  target.user = pick(url.user, "PGUSER").value_or(LoginName());
  target.password = pick(url.password, "PGPASSWORD").value_or("");
  target.dbname = pick(url.dbname, "PGDATABASE").value_or(fallback_dbname);
  return target;
}

std::optional<std::string> MatchPgPass(std::string_view file_text, const std::string& host,
                                       const std::string& port, const std::string& dbname,
                                       const std::string& user) {
  if (dbname.empty() || user.empty()) return std::nullopt;
  const std::string match_host = host.empty() || host == kDefaultSocketFolder ? "localhost" : host;
  const std::string match_port = port.empty() ? "5432" : port;
  for (std::string line : Split(file_text, "\n")) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    std::optional<size_t> at = 0;
    for (const std::string* value : {&match_host, &match_port, &dbname, &user})
      if (at) at = MatchField(line, *at, *value);
    if (!at) continue;
    std::string password;
    for (size_t i = *at; i < line.size() && line[i] != ':'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      password += line[i];
    }
    return password;
  }
  return std::nullopt;
}

std::optional<std::string> PgPassPassword(const PgTarget& target, const EnvLookup& env,
                                          std::string& warning) {
  std::string file = env("PGPASSFILE").value_or("");
  if (file.empty()) {
    const std::string home = HomeFolder(env);
    if (home.empty()) return std::nullopt;
    file = home + "/.pgpass";
  }
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return std::nullopt;
  if (!S_ISREG(st.st_mode)) {
    warning = "password file \"" + file + "\" is not a plain file";
    return std::nullopt;
  }
  if (st.st_mode & (S_IRWXG | S_IRWXO)) {
    warning = "password file \"" + file +
              "\" has group or world access; permissions should be u=rw (0600) or less";
    return std::nullopt;
  }
  const std::vector<uint8_t> bytes = ReadFile(file, 1 << 20);
  return MatchPgPass(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                     target.host, target.port, target.dbname, target.user);
}

}  // namespace ferrolyte

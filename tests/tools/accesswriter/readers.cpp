#include "readers.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace readers {

namespace {

std::filesystem::path SourceDir() {
  if (const char* env = std::getenv("FERROLYTE_SOURCE_DIR")) return env;
  return FERROLYTE_SOURCE_DIR;
}

// mdb-export output: comma separated, text in double quotes (doubled inside), rows ended by
// the record separator so memo line breaks survive; an unquoted '@' is NULL.
std::vector<std::vector<std::optional<std::string>>> ParseExport(const std::string& s) {
  std::vector<std::vector<std::optional<std::string>>> rows;
  std::vector<std::optional<std::string>> row;
  std::size_t i = 0;
  while (i < s.size()) {
    std::optional<std::string> field;
    if (s[i] == '"') {
      std::string v;
      ++i;
      while (i < s.size()) {
        if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') {
          v.push_back('"');
          i += 2;
        } else if (s[i] == '"') {
          ++i;
          break;
        } else {
          v.push_back(s[i++]);
        }
      }
      field = v;
    } else {
      std::string v;
      while (i < s.size() && s[i] != ',' && s[i] != '\x1e') v.push_back(s[i++]);
      if (v != "@") field = v;
    }
    row.push_back(field);
    if (i < s.size() && s[i] == ',') {
      ++i;
    } else {
      if (i < s.size()) ++i;
      rows.push_back(std::move(row));
      row.clear();
    }
  }
  return rows;
}

}  // namespace

std::string Quote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

Result Run(const std::string& command) {
  Result r;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("cannot run " + command);
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int status = ::pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

nlohmann::json MdbReaderDump(const std::filesystem::path& file, const std::string& password) {
  std::filesystem::path node_dir = SourceDir() / "tests" / "node";
  if (!std::filesystem::exists(node_dir / "node_modules" / "mdb-reader")) {
    throw std::runtime_error("mdb-reader is not installed: run \"npm ci\" in " + node_dir.string() +
                             " (the test script does this)");
  }
  const char* node_env = std::getenv("FERROLYTE_NODE");
  std::string node = node_env ? node_env : "node";
  std::string cmd =
      Quote(node) + " " + Quote((node_dir / "dump.mjs").string()) + " " + Quote(file.string());
  if (!password.empty()) cmd += " --password " + Quote(password);
  Result r = Run(cmd + " 2>&1");
  if (r.status != 0) {
    throw std::runtime_error("mdb-reader could not read " + file.string() + " (exit " +
                             std::to_string(r.status) + "): " + r.out);
  }
  return nlohmann::json::parse(r.out);
}

std::vector<Row> LibmdbRows(const std::filesystem::path& file, const std::string& table) {
  Result r = Run("mdb-export -b hex -0 @ -R \"$(printf '\\036')\" -T '%Y-%m-%d %H:%M:%S' " +
                 Quote(file.string()) + " " + Quote(table) + " 2>/dev/null");
  if (r.status != 0) throw std::runtime_error("mdb-export failed on " + table);
  auto raw = ParseExport(r.out);
  std::vector<Row> rows;
  if (raw.empty()) return rows;
  for (std::size_t i = 1; i < raw.size(); ++i) {
    Row row;
    for (std::size_t c = 0; c < raw[0].size() && c < raw[i].size(); ++c) {
      row[raw[0][c].value_or("")] = raw[i][c];
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string LibmdbSchema(const std::filesystem::path& file) {
  Result r = Run("mdb-schema " + Quote(file.string()) + " postgres 2>&1");
  if (r.status != 0) throw std::runtime_error("mdb-schema failed: " + r.out);
  return r.out;
}

std::string LibmdbProps(const std::filesystem::path& file, const std::string& table) {
  Result r = Run("mdb-prop " + Quote(file.string()) + " " + Quote(table) + " 2>&1");
  if (r.status != 0) throw std::runtime_error("mdb-prop failed: " + r.out);
  return r.out;
}

std::vector<std::string> LibmdbTables(const std::filesystem::path& file, bool system) {
  Result r =
      Run(std::string("mdb-tables -1 ") + (system ? "-S " : "") + Quote(file.string()) + " 2>&1");
  if (r.status != 0) throw std::runtime_error("mdb-tables failed: " + r.out);
  std::vector<std::string> names;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

}  // namespace readers

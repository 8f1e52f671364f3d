#include "wizard/settings_store.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/errors.h"
#include "support/files.h"
#include "support/text.h"

namespace ferrolyte {
namespace {

struct Entry {
  std::string name, value;
};
struct Section {
  std::string name;
  std::vector<Entry> entries;
};

// Values may hold any text; backslash escapes keep each one on its own line.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

std::vector<Section> Load(const std::string& file) {
  std::vector<Section> sections;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      sections.push_back({line.substr(1, line.size() - 2), {}});
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || sections.empty()) continue;
    sections.back().entries.push_back({line.substr(0, eq), Unescape(line.substr(eq + 1))});
  }
  return sections;
}

}  // namespace

std::string SettingsStoreFile(const std::string& app) {
  std::string base = SpecialFolder(SpecialFolderId::kConfig).value_or("/tmp");
  return base + "/Quorvane/" + app + "/" + app + ".ini";
}

std::string GetSetting(const std::string& app, const std::string& section, const std::string& name,
                       const std::string& default_value) {
  for (const Section& s : Load(SettingsStoreFile(app))) {
    if (!EqualsIgnoreCase(s.name, section)) continue;
    for (const Entry& e : s.entries)
      if (EqualsIgnoreCase(e.name, name)) return e.value;
  }
  return default_value;
}

void SaveSetting(const std::string& app, const std::string& section, const std::string& name,
                 const std::string& value) {
  const std::string file = SettingsStoreFile(app);
  std::vector<Section> sections = Load(file);
  Section* target = nullptr;
  for (Section& s : sections)
    if (EqualsIgnoreCase(s.name, section)) target = &s;
  if (!target) {
    sections.push_back({section, {}});
    target = &sections.back();
  }
  bool stored = false;
  for (Entry& e : target->entries) {
    if (EqualsIgnoreCase(e.name, name)) {
      e.value = value;
      stored = true;
    }
  }
  if (!stored) target->entries.push_back({name, value});

  std::ostringstream out;
  for (const Section& s : sections) {
    out << "[" << s.name << "]\n";
    for (const Entry& e : s.entries) out << e.name << "=" << Escape(e.value) << "\n";
  }
  MkDirRecurse(FolderPart(file));
  const std::string temp = file + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f << out.str();
    f.close();
    if (!f) {
      std::remove(temp.c_str());
      throw Error(errc::kFileAccess, "Path/File access error: " + file);
    }
  }
  if (std::rename(temp.c_str(), file.c_str()) != 0) {
    std::string reason = std::strerror(errno);
    std::remove(temp.c_str());
    throw Error(errc::kFileAccess, "Path/File access error: " + file + " (" + reason + ")");
  }
}

}  // namespace ferrolyte

#include "wizard/settings_store.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "support/errors.h"
#include "support/files.h"
#include "support/text.h"
#include "wizard/ini_file.h"

namespace ferrolyte {
namespace {

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

// The store's sections; a missing or unreadable file has none.
IniDocument Load(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return ParseIni(text, kStoreFileLayout);
}

}  // namespace

std::string SettingsStoreFile(Env& env, const std::string& app) {
  std::string base = env.Folder(UserFolder::kConfig).value_or("/tmp");
  return base + "/Quorvane/" + app + "/" + app + ".ini";
}

std::string GetSetting(Env& env, const std::string& app, const std::string& section,
                       const std::string& name, const std::string& default_value) {
  for (const IniSection& s : Load(SettingsStoreFile(env, app)).sections) {
    if (!EqualsIgnoreCase(s.name, section)) continue;
    for (const IniEntry& e : s.entries)
      if (EqualsIgnoreCase(e.key, name)) return Unescape(e.value);
  }
  return default_value;
}

void SaveSetting(Env& env, const std::string& app, const std::string& section,
                 const std::string& name, const std::string& value) {
  const std::string file = SettingsStoreFile(env, app);
  // Lines above the first section are no values of the store; a rewrite leaves them out.
  IniDocument store{{}, Load(file).sections};
  IniSection* target = nullptr;
  for (IniSection& s : store.sections)
    if (EqualsIgnoreCase(s.name, section)) target = &s;
  if (!target) target = &store.sections.emplace_back(IniSection{section, {}});
  bool stored = false;
  for (IniEntry& e : target->entries) {
    if (EqualsIgnoreCase(e.key, name)) {
      e.value = Escape(value);
      stored = true;
    }
  }
  if (!stored) target->entries.push_back({name, Escape(value)});

  const std::string text = FormatIni(store, kStoreFileLayout);
  MkDirRecurse(FolderPart(file));
  const std::string temp = file + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    if (!f) {
      env.Remove(temp);
      throw Error(errc::kFileAccess, "Path/File access error: " + file);
    }
  }
  if (const int err = env.Rename(temp, file); err != 0) {
    env.Remove(temp);
    throw Error(errc::kFileAccess,
                "Path/File access error: " + file + " (" + std::strerror(err) + ")");
  }
}

}  // namespace ferrolyte

#include "wizard/settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
IniDocument Load(Env& env, const std::string& file) {
  std::string text;
  int fd = -1;
  if (env.Open(file, O_RDONLY | O_CLOEXEC, 0, fd) == 0) {
    char buf[16384];
    size_t got = 0;
    while (env.ReadAt(fd, text.size(), buf, sizeof buf, got) == 0 && got > 0) text.append(buf, got);
    env.Close(fd);
  }
  return ParseIni(text, kStoreFileLayout);
}

// Writes the whole text to a new file through the env; 0 or the errno of the call that failed.
int WriteWhole(Env& env, const std::string& path, const std::string& text) {
  int fd = -1;
  if (const int err = env.Open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666, fd))
    return err;
  size_t done = 0;
  int err = 0;
  while (err == 0 && done < text.size()) {
    size_t written = 0;
    err = env.Write(fd, text.data() + done, text.size() - done, written);
    if (err == 0 && written == 0) err = EIO;
    done += written;
  }
  // Synced before the rename, so that a crash leaves the old store or the new one, never an
  // empty file under its name.
  if (err == 0) err = env.Sync(fd);
  const int closed = env.Close(fd);
  return err != 0 ? err : closed;
}

}  // namespace

std::string SettingsStoreFile(Env& env, const std::string& app) {
  std::string base = env.Folder(UserFolder::kConfig).value_or("/tmp");
  return base + "/Quorvane/" + app + "/" + app + ".ini";
}

std::string GetSetting(Env& env, const std::string& app, const std::string& section,
                       const std::string& name, const std::string& default_value) {
  for (const IniSection& s : Load(env, SettingsStoreFile(env, app)).sections) {
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
  IniDocument store{{}, Load(env, file).sections};
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
  int err = WriteWhole(env, temp, text);
  if (err == 0) err = env.Rename(temp, file);
  if (err != 0) {
    env.Remove(temp);
    throw Error(errc::kFileAccess,
                "Path/File access error: " + file + " (" + std::strerror(err) + ")");
  }
}

}  // namespace ferrolyte

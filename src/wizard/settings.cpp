#include "wizard/settings.h"

#include "conversion/destination_names.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/text.h"
#include "wizard/settings_store.h"

namespace ferrolyte {

std::string DatabaseNameOf(const std::string& source) {
  std::string name = FileNamePart(source);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  // A file name is bytes; one that is not UTF-8 was written on a Windows-1252 system, as a
  // settings file that is not UTF-8 is read.
  if (!IsValidUtf8(name)) name = Windows1252ToUtf8(name);
  return name.empty() ? "velkan" : name;
}

std::string DefaultDumpFileName(Env& env) {
  std::string folder = env.Folder(UserFolder::kDocuments).value_or("");
  for (const char* var : {"APPDATA", "TEMP", "TMP"})
    if (folder.empty()) folder = env.Variable(var).value_or("");
  if (folder.empty()) folder = "/tmp";
  return CollapseSeparators(folder + "/dump.sql");
}

DictionaryPtr DefaultSettings(Env& env) {
  DictionaryPtr section = Dictionary::Create();
  section->Set("sourcefilename",
               GetSetting(env, kSettingsAppName, "Settings", "LastLoadedSource", ""));
  section->Set("sourceusername", "");
  section->Set("sourcepassword", "");
  section->Set("destinationmethod", "DIRECT");
  section->Set("destinationserver", "localhost");
  section->Set("destinationport", "5432");
  section->Set("destinationusername", "postgres");
  section->Set("destinationpassword", "");
  section->Set("maintenancedb", "postgres");
  section->Set("destinationsslmode", "prefer");
  section->Set("destinationsslrootcert", "");
  section->Set("destinationparameters", "");
  section->Set("destinationdumpfilename", DefaultDumpFileName(env));
  section->Set("destinationdatabase", "velkan");
  section->Set("dropdatabase", 0);
  for (const char* key :
       {"createtables", "unicode", "autocommit", "transferdefaultvalues", "transferindexes",
        "transferautonumbers", "transferrecords", "columnlist"})
    section->Set(key, 1);
  section->Set("tableprefix", "");
  section->Set("negativeboolean", 0);
  section->Set("ignorelargeblobs", 0);
  section->Set("memotype", "TEXT");
  section->Set("datetimetype", "TIMESTAMP");
  DictionaryPtr settings = Dictionary::Create();
  settings->Set(kSettingsSection, Value(section));
  return settings;
}

DictionaryPtr SettingsSection(const DictionaryPtr& settings) {
  return settings ? settings->Section(kSettingsSection) : nullptr;
}

void NormalizeSettings(const DictionaryPtr& settings) {
  DictionaryPtr section = SettingsSection(settings);
  if (!section) return;
  for (const SettingRow& row : SettingsTable()) {
    const std::string value = SafeStr(section->Item(row.key));
    const bool present = section->Exists(row.key);
    switch (row.normalisation) {
      case Normalisation::kNone:
        break;
      case Normalisation::kOffUnlessOne:
        section->Set(row.key, value == "1" ? "1" : "0");
        break;
      case Normalisation::kOnUnlessZero:
        section->Set(row.key, value == "0" ? "0" : "1");
        break;
      case Normalisation::kOffWhenPresent:
        // A file written before these existed must give the dump it gave then, whose header
        // lists the keys the settings hold.
        if (!present) break;
        [[fallthrough]];
      case Normalisation::kOffWhenEmpty:
        // Switching one on where the file says nothing could lose data.
        section->Set(row.key, value.empty() || value == "0" ? "0" : "1");
        break;
      case Normalisation::kFixed:
        section->Set(row.key, row.default_value);
        break;
      case Normalisation::kChoiceSpelling:
        // A value of no known kind stays, for the run to refuse.
        if (!present) break;
        if (const char* spelling = ChoiceSpelling(row, value)) section->Set(row.key, spelling);
        break;
    }
  }
}

}  // namespace ferrolyte

#include "wizard/settings.h"

#include <cstdlib>

#include "conversion/destination_names.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/text.h"
#include "wizard/settings_store.h"

namespace ferrolyte {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

std::string DatabaseNameOf(const std::string& source) {
  std::string name = FileNamePart(source);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  // A file name is bytes; one that is not UTF-8 was written on a Windows-1252 system, as a
  // settings file that is not UTF-8 is read.
  if (!IsValidUtf8(name)) name = Windows1252ToUtf8(name);
  return name.empty() ? "velkan" : name;
}

std::string DefaultDumpFileName() {
  std::string folder = SpecialFolder(SpecialFolderId::kDocuments).value_or("");
  for (const char* var : {"APPDATA", "TEMP", "TMP"})
    if (folder.empty()) folder = Env(var);
  if (folder.empty()) folder = "/tmp";
  return CollapseSeparators(folder + "/dump.sql");
}

DictionaryPtr DefaultSettings() {
  DictionaryPtr section = Dictionary::Create();
  section->Set("sourcefilename", GetSetting(kSettingsAppName, "Settings", "LastLoadedSource", ""));
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
  section->Set("destinationdumpfilename", DefaultDumpFileName());
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
  auto text = [&](const char* key) { return SafeStr(section->Item(key)); };
  section->Set("dropdatabase", text("dropdatabase") == "1" ? "1" : "0");
  for (const char* key :
       {"createtables", "unicode", "autocommit", "transferdefaultvalues", "transferindexes",
        "transferautonumbers", "transferrecords", "columnlist"})
    section->Set(key, text(key) == "0" ? "0" : "1");
  // A file that does not mention these must not switch them on: skipping large BLOBs loses
  // data, and negative booleans change every boolean value.
  for (const char* key : {"negativeboolean", "ignorelargeblobs"}) {
    const std::string value = text(key);
    section->Set(key, value.empty() || value == "0" ? "0" : "1");
  }
  section->Set("memotype", "TEXT");
  section->Set("datetimetype", "TIMESTAMP");
  // Normalised only when present: a file written before these existed must give the dump it
  // gave then, whose header lists the keys the settings hold.
  for (const char* key : {"transferrelationships", "transferdescriptions", "transferqueries",
                          "transfervalidation", "followlinks"}) {
    if (!section->Exists(key)) continue;
    const std::string value = text(key);
    section->Set(key, value.empty() || value == "0" ? "0" : "1");
  }
  if (section->Exists("complexcolumns")) {
    const std::string complex = text("complexcolumns");
    if (complex.empty() || EqualsIgnoreCase(complex, kComplexColumnsText)) {
      section->Set("complexcolumns", kComplexColumnsText);
    } else if (EqualsIgnoreCase(complex, kComplexColumnsTables)) {
      section->Set("complexcolumns", kComplexColumnsTables);
    }
  }
  if (section->Exists("identifiercase"))
    if (const auto rule = IdentifierCaseOf(text("identifiercase")))
      section->Set("identifiercase", IdentifierCaseText(*rule));
  // The same for dumpformat; a value of neither kind stays, for the run to refuse.
  if (section->Exists("dumpformat")) {
    const std::string format = text("dumpformat");
    if (format.empty() || EqualsIgnoreCase(format, kDumpFormatInsert)) {
      section->Set("dumpformat", kDumpFormatInsert);
    } else if (EqualsIgnoreCase(format, kDumpFormatCopy)) {
      section->Set("dumpformat", kDumpFormatCopy);
    }
  }
}

}  // namespace ferrolyte

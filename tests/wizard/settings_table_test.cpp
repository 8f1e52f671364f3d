// The settings table against the window that saves the keys and the loader that reads them.
#include <gtest/gtest.h>

#include "conversion/run_settings.h"
#include "support/safe.h"
#include "wizard/form_settings.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

DictionaryPtr SavedBy(const FormSettings& form) {
  return SettingsSection(BuildSettingsFrom(form));
}

// Every key the window saves has a row, with the window's own default; every row but
// storageengine and jobs (which the window never saves) is a key the window saves.
TEST(SettingsTableTest, HoldsWhatTheWindowSavesWithItsDefaults) {
  const DictionaryPtr saved = SavedBy(FormSettings{});
  for (const std::string& key : saved->Keys()) {
    SCOPED_TRACE(key);
    const SettingRow* row = FindSetting(key);
    ASSERT_TRUE(row);
    if (row->type != SettingType::kList) {
      EXPECT_EQ(SafeStr(saved->Item(key)), row->default_value);
    }
  }
  for (const SettingRow& row : SettingsTable())
    EXPECT_TRUE(saved->Exists(row.key) || std::string(row.key) == "storageengine" ||
                std::string(row.key) == "jobs")
        << row.key;
}

// A file the window saved loads as it was saved, whatever the choices.
TEST(SettingsTableTest, LoadingKeepsWhatTheWindowSaved) {
  FormSettings chosen;
  chosen.drop_database = 1;
  chosen.create_tables = 0;
  chosen.transfer_indexes = 0;
  chosen.ignore_large_blobs = 1;
  chosen.transfer_queries = 1;
  chosen.dump_format = "COPY";
  chosen.complex_columns = "TABLES";
  chosen.identifier_case = "SNAKE";
  for (const FormSettings& form : {FormSettings{}, chosen}) {
    const DictionaryPtr settings = BuildSettingsFrom(form);
    const DictionaryPtr before = SavedBy(form);
    NormalizeSettings(settings);
    const DictionaryPtr after = SettingsSection(settings);
    ASSERT_EQ(after->Keys(), before->Keys());
    for (const std::string& key : before->Keys())
      EXPECT_EQ(SafeStr(after->Item(key)), SafeStr(before->Item(key))) << key;
  }
}

// What a run is refused for, named by key and value; the same settings otherwise run.
TEST(SettingsTableTest, RefusesWhatCannotMeanWhatItSays) {
  const std::pair<std::vector<std::pair<const char*, Value>>, std::string> cases[] = {
      {{{"storageengine", Value("Brighthouse")}},
       "The setting storageengine=Brighthouse is not valid: it leaves out every key and index"},
      {{{"storageengine", Value("BRIGHTHOUSE")}, {"transferindexes", Value("True")}},
       "The setting storageengine=BRIGHTHOUSE is not valid"},
      {{{"storageengine", Value("brighthouse")}, {"transferindexes", Value("0")}}, ""},
      {{{"storageengine", Value("InnoDB")}}, ""},
      {{{"createtables", Value("maybe")}},
       "The setting createtables=maybe is not valid: use 0 or 1."},
      {{{"transferrecords", Value::Null()}}, "The setting transferrecords= is not valid"},
      {{{"dropdatabase", Value(2)}}, ""},
      // Read without strictness: a word reads as off.
      {{{"columnlist", Value("maybe")}}, ""},
  };
  for (const auto& [values, expected] : cases) {
    DictionaryPtr section = SavedBy(FormSettings{});
    section->Set("destinationmethod", "DUMP");
    section->Set("destinationdatabase", "shop");
    section->Set("destinationdumpfilename", "/tmp/shop.sql");
    for (const auto& [key, value] : values) section->Set(key, value);
    const std::string problem = SettingsProblem(section);
    SCOPED_TRACE(problem);
    if (expected.empty())
      EXPECT_EQ(problem, "");
    else
      EXPECT_EQ(problem.rfind(expected, 0), 0u);
  }
}

}  // namespace
}  // namespace ferrolyte

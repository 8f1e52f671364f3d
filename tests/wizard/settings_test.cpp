#include "wizard/settings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "support/files.h"
#include "support/safe.h"
#include "testing/error_of.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"
#include "wizard/ini_file.h"
#include "wizard/settings_store.h"

namespace ferrolyte {
namespace {

using testing::TempDir;

DictionaryPtr WithSection(DictionaryPtr section) {
  DictionaryPtr settings = Dictionary::Create();
  settings->Set(kSettingsSection, Value(std::move(section)));
  return settings;
}

// The settings folder and the default dump file follow the variables and folders of the env
// the program is given, not the process's.
TEST(SettingsFolderTest, FollowsTheEnvsConfigFolder) {
  struct Case {
    std::optional<std::string> appdata, xdg_config, home;
    std::string expected;
  } cases[] = {
      {"/srv/cfg", "/home/u/.cfg", "/home/u", "/srv/cfg/Quorvane/Ferrolyte"},
      {std::nullopt, "/home/u/.cfg", "/home/u", "/home/u/.cfg/Quorvane/Ferrolyte"},
      {std::nullopt, std::nullopt, "/home/u", "/home/u/.config/Quorvane/Ferrolyte"},
      {std::nullopt, std::nullopt, std::nullopt, "/tmp/Quorvane/Ferrolyte"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    testing::FaultEnv env;
    env.SetVariable("APPDATA", c.appdata);
    env.SetVariable("XDG_CONFIG_HOME", c.xdg_config);
    env.SetHome(c.home);
    EXPECT_EQ(SettingsFolder(env), c.expected);
    EXPECT_EQ(DefaultSettingsFile(env), c.expected + "/wizard.ini");
    EXPECT_EQ(SettingsStoreFile(env, "Ferrolyte"), c.expected + "/Ferrolyte.ini");
  }
}

TEST(DefaultDumpFileNameTest, UsesTheDocumentsFolderElseTheVariables) {
  TempDir dir;
  testing::FaultEnv env;
  env.SetHome(dir.path());
  env.SetVariable("XDG_CONFIG_HOME", dir.path());
  EXPECT_EQ(DefaultDumpFileName(env), dir.path() + "/dump.sql");
  WriteTextFile(dir.File("user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"$HOME/Docs/\"\n");
  EXPECT_EQ(DefaultDumpFileName(env), dir.path() + "/Docs/dump.sql");
  testing::FaultEnv homeless;
  EXPECT_EQ(DefaultDumpFileName(homeless), "/tmp/dump.sql");
  homeless.SetVariable("TEMP", "/scratch");
  EXPECT_EQ(DefaultDumpFileName(homeless), "/scratch/dump.sql");
  homeless.SetVariable("APPDATA", "/app");
  EXPECT_EQ(DefaultDumpFileName(homeless), "/app/dump.sql");
}

TEST(DefaultSettingsTest, HoldsTheStartupDefaultsInOrder) {
  TempDir dir;
  testing::FaultEnv env;
  env.SetFolder(UserFolder::kConfig, dir.path());
  SaveSetting(env, "Ferrolyte", "Settings", "LastLoadedSource", "/data/last.accdb");
  DictionaryPtr settings = DefaultSettings(env);
  EXPECT_EQ(settings->Keys(), std::vector<std::string>{kSettingsSection});
  DictionaryPtr s = SettingsSection(settings);
  ASSERT_TRUE(s);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"sourcefilename", "/data/last.accdb"},
      {"sourceusername", ""},
      {"sourcepassword", ""},
      {"destinationmethod", "DIRECT"},
      {"destinationserver", "localhost"},
      {"destinationport", "5432"},
      {"destinationusername", "postgres"},
      {"destinationpassword", ""},
      {"maintenancedb", "postgres"},
      {"destinationsslmode", "prefer"},
      {"destinationsslrootcert", ""},
      {"destinationparameters", ""},
      {"destinationdumpfilename", DefaultDumpFileName(env)},
      {"destinationdatabase", "velkan"},
      {"dropdatabase", "0"},
      {"createtables", "1"},
      {"unicode", "1"},
      {"autocommit", "1"},
      {"transferdefaultvalues", "1"},
      {"transferindexes", "1"},
      {"transferautonumbers", "1"},
      {"transferrecords", "1"},
      {"columnlist", "1"},
      {"tableprefix", ""},
      {"negativeboolean", "0"},
      {"ignorelargeblobs", "0"},
      {"memotype", "TEXT"},
      {"datetimetype", "TIMESTAMP"},
  };
  std::vector<std::pair<std::string, std::string>> actual;
  for (const std::string& key : s->Keys()) actual.emplace_back(key, SafeStr(s->Item(key)));
  EXPECT_EQ(actual, expected);
  // On/off values are numbers, as a check box gives them.
  EXPECT_TRUE(s->Item("dropdatabase").IsNumeric());
  EXPECT_FALSE(s->Exists("sourcetables"));
  EXPECT_FALSE(s->Exists("sourcesystemdatabase"));
}

TEST(NormalizeSettingsTest, OnOffKeysAndFixedTypes) {
  struct Case {
    std::string key;
    Value in;  // empty: key missing
    std::string out;
  };
  const Case cases[] = {
      {"dropdatabase", Value("1"), "1"},       {"dropdatabase", Value(1), "1"},
      {"dropdatabase", Value("yes"), "0"},     {"dropdatabase", Value(), "0"},
      {"createtables", Value("0"), "0"},       {"createtables", Value(0), "0"},
      {"createtables", Value("no"), "1"},      {"createtables", Value(), "1"},
      {"negativeboolean", Value(), "0"},       {"ignorelargeblobs", Value(), "0"},
      {"negativeboolean", Value(""), "0"},     {"ignorelargeblobs", Value("x"), "1"},
      {"negativeboolean", Value("1"), "1"},    {"ignorelargeblobs", Value(1), "1"},
      {"negativeboolean", Value("0"), "0"},    {"columnlist", Value(""), "1"},
      {"memotype", Value("LONGTEXT"), "TEXT"}, {"datetimetype", Value("DATE"), "TIMESTAMP"},
      {"memotype", Value(), "TEXT"},
  };
  for (const Case& c : cases) {
    DictionaryPtr section = Dictionary::Create();
    if (!c.in.IsEmpty()) section->Set(c.key, c.in);
    NormalizeSettings(WithSection(section));
    EXPECT_EQ(section->Item(c.key), Value(c.out)) << c.key << " from " << SafeStr(c.in);
  }
}

TEST(NormalizeSettingsTest, DumpFormatInUpperCaseOrKeptForTheRunToRefuse) {
  const std::pair<Value, std::string> cases[] = {
      {Value(""), "INSERT"},
      {Value("copy"), "COPY"},
      {Value("Insert"), "INSERT"},
      {Value("CSV"), "CSV"},
  };
  for (const auto& [in, out] : cases) {
    DictionaryPtr section = Dictionary::Create();
    section->Set("dumpformat", in);
    NormalizeSettings(WithSection(section));
    EXPECT_EQ(section->Item("dumpformat"), Value(out)) << SafeStr(in);
  }
}

// A file that does not name them leaves them out (the run reads them as off and TEXT).
TEST(NormalizeSettingsTest, QueriesRulesLinksAndComplexColumnsOnlyWhenNamed) {
  DictionaryPtr absent = Dictionary::Create();
  NormalizeSettings(WithSection(absent));
  for (const char* key :
       {"transferqueries", "transfervalidation", "followlinks", "complexcolumns", "identifiercase"})
    EXPECT_FALSE(absent->Exists(key)) << key;
  const std::pair<const char*, const char*> cases[][2] = {
      {{"transferqueries", ""}, {"transferqueries", "0"}},
      {{"followlinks", "yes"}, {"followlinks", "1"}},
      {{"complexcolumns", "tables"}, {"complexcolumns", "TABLES"}},
      {{"complexcolumns", ""}, {"complexcolumns", "TEXT"}},
      {{"complexcolumns", "Blob"}, {"complexcolumns", "Blob"}},
      {{"identifiercase", " snake"}, {"identifiercase", "SNAKE"}},
      {{"identifiercase", ""}, {"identifiercase", "KEEP"}},
      {{"identifiercase", "Upper"}, {"identifiercase", "Upper"}},
  };
  for (const auto& c : cases) {
    DictionaryPtr section = Dictionary::Create();
    section->Set(c[0].first, c[0].second);
    NormalizeSettings(WithSection(section));
    EXPECT_EQ(SafeStr(section->Item(c[1].first)), c[1].second) << c[0].second;
  }
  DictionaryPtr refused = Dictionary::Create();
  refused->Set("destinationmethod", "DUMP");
  refused->Set("destinationdatabase", "x");
  refused->Set("destinationdumpfilename", "/tmp/x.sql");
  refused->Set("complexcolumns", "Blob");
  EXPECT_EQ(SettingsProblem(refused),
            "The setting complexcolumns=Blob is not valid: use TEXT or TABLES.");
  refused->Set("complexcolumns", "TEXT");
  refused->Set("identifiercase", "Upper");
  EXPECT_EQ(SettingsProblem(refused),
            "The setting identifiercase=Upper is not valid: use KEEP, LOWER or SNAKE.");
  refused->Set("identifiercase", "lower");
  EXPECT_EQ(SettingsProblem(refused), "");
}

TEST(NormalizeSettingsTest, KeepsOtherKeysAndAppendsMissingOnes) {
  DictionaryPtr section = Dictionary::Create();
  section->Set("sourcefilename", "/a.mdb");
  section->Set("unicode", "0");
  section->Set("sourcetables", Value::TextList({"T"}));
  NormalizeSettings(WithSection(section));
  std::vector<std::string> keys = section->Keys();
  ASSERT_GE(keys.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 3),
            (std::vector<std::string>{"sourcefilename", "unicode", "sourcetables"}));
  EXPECT_EQ(keys.size(), 3u + 13u - 1u);  // 13 normalised keys, unicode was present
  // Not added: a file without them keeps the dump header it gave before they existed.
  EXPECT_FALSE(section->Exists("transferrelationships"));
  EXPECT_FALSE(section->Exists("transferdescriptions"));
  EXPECT_FALSE(section->Exists("dumpformat"));
  EXPECT_EQ(section->Item("sourcefilename").Text(), "/a.mdb");
  EXPECT_TRUE(section->Item("sourcetables").IsList());
}

TEST(NormalizeSettingsTest, LeavesDictionariesWithoutSettingsAlone) {
  DictionaryPtr other = Dictionary::Create();
  other->Set("Other", Value(Dictionary::Create()));
  NormalizeSettings(other);
  EXPECT_EQ(other->Section("Other")->Count(), 0);

  DictionaryPtr not_a_section = Dictionary::Create();
  not_a_section->Set(kSettingsSection, "text");
  NormalizeSettings(not_a_section);
  EXPECT_EQ(not_a_section->Item(kSettingsSection).Text(), "text");
  NormalizeSettings(nullptr);
}

TEST(NormalizeSettingsTest, ReadFileLackingKeysGetsLoadedFileDefaults) {
  TempDir dir;
  WriteTextFile(dir.File("s.ini"), "[Velkan Ferrolyte]\r\n  sourcefilename=/a.mdb\r\n");
  DictionaryPtr settings = ReadIniFile(dir.File("s.ini"));
  NormalizeSettings(settings);
  DictionaryPtr s = SettingsSection(settings);
  EXPECT_EQ(s->Item("createtables").Text(), "1");
  EXPECT_EQ(s->Item("dropdatabase").Text(), "0");
  // Switched on only by the file itself: a missing key keeps its start-up default.
  EXPECT_EQ(s->Item("negativeboolean").Text(), "0");
  EXPECT_EQ(s->Item("ignorelargeblobs").Text(), "0");
}

TEST(SettingsStoreTest, StoresTextValuesPerSection) {
  TempDir dir;
  testing::FaultEnv env;
  env.SetFolder(UserFolder::kConfig, dir.path());
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "Usage", "RunCount", "0"), "0");
  SaveSetting(env, "Ferrolyte", "Usage", "RunCount", "7");
  SaveSetting(env, "Ferrolyte", "Settings", "SaveFolder", "/home/u/My Files\\odd\nline=x");
  SaveSetting(env, "Ferrolyte", "settings", "savepasswords", "1");
  SaveSetting(env, "Ferrolyte", "Usage", "RUNCOUNT", "8");
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "usage", "runcount", "0"), "8");
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "Settings", "SaveFolder", ""),
            "/home/u/My Files\\odd\nline=x");
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "Settings", "SavePasswords", "0"), "1");
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "Settings", "RunCount", "none"), "none");
  EXPECT_EQ(GetSetting(env, "Other", "Usage", "RunCount", "none"), "none");
  EXPECT_TRUE(FileExists(dir.path() + "/Quorvane/Ferrolyte/Ferrolyte.ini"));
}

// Each env's configuration folder holds its own store; the process's variables name none.
TEST(SettingsStoreTest, ReadsAndWritesUnderTheFolderTheEnvNames) {
  TempDir dir;
  testing::ScopedEnv appdata("APPDATA", dir.File("process").c_str());
  testing::FaultEnv first, second;
  first.SetFolder(UserFolder::kConfig, dir.File("one"));
  second.SetFolder(UserFolder::kConfig, dir.File("two"));
  SaveSetting(first, "Ferrolyte", "Usage", "RunCount", "1");
  SaveSetting(second, "Ferrolyte", "Usage", "RunCount", "2");
  EXPECT_EQ(ReadTextFile(dir.File("one/Quorvane/Ferrolyte/Ferrolyte.ini"), ""),
            "[Usage]\nRunCount=1\n");
  EXPECT_EQ(GetSetting(first, "Ferrolyte", "Usage", "RunCount", ""), "1");
  EXPECT_EQ(GetSetting(second, "Ferrolyte", "Usage", "RunCount", ""), "2");
  MkDirRecurse(dir.File("two/Quorvane/Other"));
  WriteTextFile(dir.File("two/Quorvane/Other/Other.ini"), "[Window]\nWidth=9000\n");
  EXPECT_EQ(GetSetting(second, "Other", "Window", "Width", ""), "9000");
  EXPECT_EQ(GetSetting(first, "Other", "Window", "Width", "none"), "none");
  EXPECT_FALSE(FileExists(dir.File("process")));
}

// A store that cannot be replaced, whichever call of the replace fails, keeps the values it
// had, leaves no partial file behind and says why.
TEST(SettingsStoreTest, AFailedReplaceKeepsTheValuesAndNamesTheReason) {
  using testing::FileCall;
  const struct {
    FileCall call;
    int err;
  } cases[] = {{FileCall::kOpen, EACCES},
               {FileCall::kWrite, ENOSPC},
               {FileCall::kSync, EIO},
               {FileCall::kClose, EDQUOT},
               {FileCall::kRename, EXDEV}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::strerror(c.err));
    TempDir dir;
    testing::FaultEnv env;
    env.SetFolder(UserFolder::kConfig, dir.path());
    SaveSetting(env, "Ferrolyte", "Usage", "RunCount", "1");
    env.FailCall(c.call, 1, c.err, ".tmp.");
    const Error e =
        testing::ErrorOf([&] { SaveSetting(env, "Ferrolyte", "Usage", "RunCount", "2"); });
    EXPECT_TRUE(e.Is(errc::kFileAccess));
    EXPECT_NE(e.description().find(SettingsStoreFile(env, "Ferrolyte")), std::string::npos);
    EXPECT_NE(e.description().find(std::strerror(c.err)), std::string::npos);
    EXPECT_EQ(GetSetting(env, "Ferrolyte", "Usage", "RunCount", ""), "1");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("Quorvane/Ferrolyte")))
      left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"Ferrolyte.ini"});
  }
}

// The store is read through the env: a store that cannot be read reads as empty.
TEST(SettingsStoreTest, AnUnreadableStoreGivesTheDefaults) {
  TempDir dir;
  testing::FaultEnv env;
  env.SetFolder(UserFolder::kConfig, dir.path());
  SaveSetting(env, "Ferrolyte", "Usage", "RunCount", "3");
  const int reads = env.Calls(testing::FileCall::kRead);
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "Usage", "RunCount", ""), "3");
  EXPECT_GT(env.Calls(testing::FileCall::kRead), reads);
  env.FailCall(testing::FileCall::kRead, 1, EIO);
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "Usage", "RunCount", "none"), "none");
}

// Stores written before stay readable and are rewritten as they always were: LF lines, no
// indent, backslash escapes, sections in the order they were first saved.
TEST(SettingsStoreTest, KeepsTheStoreFileForm) {
  TempDir dir;
  testing::FaultEnv env;
  env.SetFolder(UserFolder::kConfig, dir.path());
  SaveSetting(env, "Ferrolyte", "Usage", "RunCount", "7");
  SaveSetting(env, "Ferrolyte", "Settings", "SaveFolder", "C:\\x\nnext\r=y");
  SaveSetting(env, "Ferrolyte", "usage", "runcount", " 8 ");
  const std::string file = SettingsStoreFile(env, "Ferrolyte");
  EXPECT_EQ(ReadTextFile(file, ""),
            "[Usage]\nRunCount= 8 \n[Settings]\nSaveFolder=C:\\\\x\\nnext\\r=y\n");

  // Written by hand or elsewhere: CR LF lines, lines above any section, other lines.
  WriteTextFile(file,
                "stray=1\r\n[Settings]\r\nLastLoadedSource=/a b.mdb \r\nnote\r\n"
                "[Window]\r\nWidth=9000");
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "Settings", "LastLoadedSource", ""), "/a b.mdb ");
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "Window", "Width", ""), "9000");
  EXPECT_EQ(GetSetting(env, "Ferrolyte", "Settings", "stray", "none"), "none");
  SaveSetting(env, "Ferrolyte", "Window", "Height", "7000");
  EXPECT_EQ(ReadTextFile(file, ""),
            "[Settings]\nLastLoadedSource=/a b.mdb \n[Window]\nWidth=9000\nHeight=7000\n");
}

}  // namespace
}  // namespace ferrolyte

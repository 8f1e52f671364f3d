#include "wizard/form_settings.h"

#include <gtest/gtest.h>

#include "support/errors.h"
#include "support/safe.h"
#include "testing/temp_dir.h"
#include "wizard/ini_file.h"
#include "wizard/settings.h"

namespace ferrolyte {
namespace {

FormSettings Sample() {
  FormSettings f;
  f.source_file = "/data/shop, \"old\".mdb";
  f.source_user = "admin";
  f.source_password = "s3cret";
  f.source_system_database = "/data/system.mdw";
  f.direct = false;
  f.server = "db.example";
  f.port = "6543";
  f.user = "pg";
  f.password = "pw";
  f.database = "shop";
  f.maintenance_db = "template1";
  f.dump_file = "/out/dump.sql";
  f.source_tables = {"Orders", "Orders\\Order Date", "A, \"B\"", "C\\\\D", ""};
  f.drop_database = 1;
  f.create_tables = 0;
  f.column_list = 0;
  f.table_prefix = " pre_";
  f.negative_boolean = 1;
  f.ignore_large_blobs = 1;
  f.transfer_relationships = 1;
  f.dump_format = "COPY";
  f.identifier_case = "SNAKE";
  f.ssl_mode = "verify-full";
  f.ssl_root_cert = "/home/me/My CA.crt";
  f.connection_parameters = "connect_timeout='5' sslcert='/home/me/client.crt'";
  return f;
}

TEST(BuildSettingsTest, EveryKeyInKeyOrder) {
  const DictionaryPtr section = SettingsSection(BuildSettingsFrom(Sample()));
  ASSERT_TRUE(section);
  EXPECT_EQ(section->Keys(), (std::vector<std::string>{"sourcefilename",
                                                       "sourceusername",
                                                       "sourcepassword",
                                                       "sourcesystemdatabase",
                                                       "destinationmethod",
                                                       "destinationserver",
                                                       "destinationport",
                                                       "destinationusername",
                                                       "destinationpassword",
                                                       "destinationdatabase",
                                                       "maintenancedb",
                                                       "destinationsslmode",
                                                       "destinationsslrootcert",
                                                       "destinationparameters",
                                                       "destinationdumpfilename",
                                                       "sourcetables",
                                                       "dropdatabase",
                                                       "createtables",
                                                       "unicode",
                                                       "autocommit",
                                                       "transferdefaultvalues",
                                                       "transferindexes",
                                                       "transferautonumbers",
                                                       "transferrecords",
                                                       "columnlist",
                                                       "tableprefix",
                                                       "negativeboolean",
                                                       "ignorelargeblobs",
                                                       "memotype",
                                                       "datetimetype",
                                                       "transferrelationships",
                                                       "transferdescriptions",
                                                       "dumpformat",
                                                       "transferqueries",
                                                       "complexcolumns",
                                                       "transfervalidation",
                                                       "followlinks",
                                                       "identifiercase"}));
  EXPECT_EQ(section->Item("destinationmethod").Text(), "DUMP");
  EXPECT_EQ(section->Item("dropdatabase").AsInteger(), 1);
  EXPECT_EQ(section->Item("createtables").AsInteger(), 0);
  ASSERT_TRUE(section->Item("sourcetables").IsList());
  EXPECT_EQ(section->Item("sourcetables").List().size(), 5u);
  EXPECT_FALSE(section->Exists("storageengine"));
}

TEST(ApplySettingsMappingTest, FileRoundTripRestoresEveryKey) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/saved.ini";
  const FormSettings written = Sample();
  WriteIniFile(BuildSettingsFrom(written), path);
  const DictionaryPtr read = ReadIniFile(path);
  NormalizeSettings(read);
  const std::optional<FormSettings> back = FormSettingsOf(read);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->source_file, written.source_file);
  EXPECT_EQ(back->source_user, written.source_user);
  EXPECT_EQ(back->source_password, written.source_password);
  EXPECT_EQ(back->source_system_database, written.source_system_database);
  EXPECT_FALSE(back->direct);
  EXPECT_EQ(back->destination_method, "DUMP");
  EXPECT_EQ(back->server, written.server);
  EXPECT_EQ(back->port, written.port);
  EXPECT_EQ(back->user, written.user);
  EXPECT_EQ(back->password, written.password);
  EXPECT_EQ(back->database, written.database);
  EXPECT_EQ(back->maintenance_db, written.maintenance_db);
  EXPECT_EQ(back->dump_file, written.dump_file);
  EXPECT_EQ(back->source_tables, written.source_tables);
  EXPECT_EQ(back->drop_database, 1);
  EXPECT_EQ(back->create_tables, 0);
  EXPECT_EQ(back->unicode, 1);
  EXPECT_EQ(back->column_list, 0);
  EXPECT_EQ(back->table_prefix, written.table_prefix);
  EXPECT_EQ(back->negative_boolean, 1);
  EXPECT_EQ(back->ignore_large_blobs, 1);
  EXPECT_EQ(back->transfer_relationships, 1);
  EXPECT_EQ(back->transfer_descriptions, 0);
  EXPECT_EQ(back->memo_type, "TEXT");
  EXPECT_EQ(back->datetime_type, "TIMESTAMP");
  EXPECT_EQ(back->dump_format, "COPY");
  EXPECT_EQ(back->identifier_case, "SNAKE");
  EXPECT_EQ(back->ssl_mode, written.ssl_mode);
  EXPECT_EQ(back->ssl_root_cert, written.ssl_root_cert);
  EXPECT_EQ(back->connection_parameters, written.connection_parameters);
}

TEST(ApplySettingsMappingTest, MethodIsCaseSensitiveAndMissingKeysReadEmpty) {
  DictionaryPtr section = Dictionary::Create();
  section->Set("destinationmethod", "direct");
  section->Set("storageengine", "InnoDB");
  DictionaryPtr settings = Dictionary::Create();
  settings->Set(kSettingsSection, section);
  const std::optional<FormSettings> f = FormSettingsOf(settings);
  ASSERT_TRUE(f);
  EXPECT_FALSE(f->direct);
  EXPECT_EQ(f->destination_method, "direct");
  EXPECT_EQ(f->server, "");
  EXPECT_EQ(f->create_tables, 0);
  EXPECT_TRUE(f->source_tables.empty());
  EXPECT_EQ(f->storage_engine, "InnoDB");

  section->Set("destinationmethod", "DIRECT");
  EXPECT_TRUE(FormSettingsOf(settings)->direct);
}

TEST(ApplySettingsMappingTest, DefaultsApplyAsStartUpShows) {
  const std::optional<FormSettings> f = FormSettingsOf(DefaultSettings(SystemEnv()));
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->direct);
  EXPECT_EQ(f->server, "localhost");
  EXPECT_EQ(f->port, "5432");
  EXPECT_EQ(f->user, "postgres");
  EXPECT_EQ(f->database, "velkan");
  EXPECT_EQ(f->drop_database, 0);
  EXPECT_EQ(f->transfer_records, 1);
  EXPECT_TRUE(f->source_tables.empty());
}

TEST(ApplySettingsMappingTest, NoSectionOrABadCheckValue) {
  DictionaryPtr settings = Dictionary::Create();
  EXPECT_FALSE(FormSettingsOf(settings));
  settings->Set(kSettingsSection, "not a dictionary");
  EXPECT_FALSE(FormSettingsOf(settings));
  EXPECT_FALSE(FormSettingsOf(nullptr));

  DictionaryPtr section = Dictionary::Create();
  settings->Set(kSettingsSection, section);
  section->Set("unicode", "yes");
  try {
    FormSettingsOf(settings);
    FAIL() << "a text check value was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 13);
  }
  section->Set("unicode", 7);
  try {
    FormSettingsOf(settings);
    FAIL() << "a check value of 7 was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 380);
  }
}

TEST(ListEntryTest, FirstEntryOrTheLastEqualOne) {
  EXPECT_EQ(ListEntryFor({"TEXT"}, "LONGTEXT"), 0);
  EXPECT_EQ(ListEntryFor({"A", "B", "A"}, "A"), 2);
  EXPECT_EQ(ListEntryFor({"a", "A"}, "A"), 1);
  EXPECT_EQ(ListEntryFor({"a", "b"}, "A"), 0);
  EXPECT_EQ(ListEntryFor({}, "A"), -1);
}

TEST(BlankPasswordsTest, EmptiesOnlyThePasswords) {
  const DictionaryPtr settings = BuildSettingsFrom(Sample());
  BlankPasswords(settings);
  const DictionaryPtr section = SettingsSection(settings);
  EXPECT_EQ(section->Item("sourcepassword").Text(), "");
  EXPECT_EQ(section->Item("destinationpassword").Text(), "");
  EXPECT_EQ(section->Item("sourceusername").Text(), "admin");
  EXPECT_EQ(section->Keys().size(), 38u);
  EXPECT_EQ(section->Item("destinationparameters").Text(), Sample().connection_parameters);
  for (const auto& [given, kept] : std::vector<std::pair<std::string, std::string>>{
           {"connect_timeout=5 password=s3cret", "connect_timeout='5'"},
           {"password='s3cret", ""}}) {
    section->Set("destinationparameters", given);
    BlankPasswords(settings);
    EXPECT_EQ(section->Item("destinationparameters").Text(), kept) << given;
  }
}

}  // namespace
}  // namespace ferrolyte

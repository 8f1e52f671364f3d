// Password-protected sources: the right password opens and reads everything, any other is
// refused before a single row or table is seen, and files without password ignore it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "accesswriter/writer.h"
#include "platform/ado.h"
#include "platform/dao.h"
#include "platform/source_connection.h"
#include "schema/access_scanner.h"
#include "schema/schema_document.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/safe.h"
#include "support/status.h"
#include "testing/parts_database.h"
#include "testing/run_context.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

namespace aw = accesswriter;
namespace fs = std::filesystem;

std::string SharedFile(const std::string& name) {
  return std::string(FERROLYTE_SOURCE_DIR) + "/../shared/access/" + name;
}

struct ProtectedFile {
  std::string file;
  std::string password;
  std::string table;
  int64_t rows;
};

// The password-protected files Access itself made.
const ProtectedFile kSharedFiles[] = {
    {"jet4-v2000-password.mdb", "password", "Table1", 3},
    {"ace14-v2010-password.accdb", "password", "Table1", 3},
    {"ace14-agile-4.4-password.accdb", "password", "Table1", 3},
    {"ace15-v2013-password.accdb", "1234", "Customers", 7},
    {"ace12-v2007-rc4-password.accdb", "Test123", "Table1", 1},
};

// Passwords near the right one: letter case, a prefix, an extension, none at all.
std::vector<std::string> WrongPasswords(const std::string& right) {
  std::string upper = right;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::vector<std::string> wrong = {"", right + "x", right.substr(0, right.size() - 1)};
  if (upper != right) wrong.push_back(upper);
  return wrong;
}

Error AdoOpenError(const std::string& file, const std::string& password) {
  Connection c;
  try {
    c.Open(BuildSourceConnectionString(file, "", "", password));
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error");
}

Error DaoOpenError(const std::string& file, const std::string& password) {
  auto engine = CreateLibmdbEngine();
  try {
    engine->Workspaces(0)->OpenDatabase(file, false, true,
                                        password.empty() ? "" : "MS Access;PWD=" + password);
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "no error");
}

// Rows of the table, by walking the record set and by COUNT(*).
std::pair<int64_t, int64_t> AdoRowCounts(const std::string& file, const std::string& password,
                                         const std::string& table) {
  Connection c;
  c.Open(BuildSourceConnectionString(file, "", "", password));
  int64_t walked = 0;
  for (auto rs = c.OpenRows(TableRows(table)); !rs->Eof(); rs->MoveNext()) ++walked;
  return {walked, c.CountRows(TableRows(table))};
}

std::vector<std::string> DaoTableNames(const std::string& file, const std::string& password) {
  auto engine = CreateLibmdbEngine();
  auto db = engine->Workspaces(0)->OpenDatabase(
      file, false, true, password.empty() ? "" : "MS Access;PWD=" + password);
  std::vector<std::string> names;
  for (const auto& def : db->TableDefs())
    if (!def->Name().starts_with("MSys")) names.push_back(def->Name());
  return names;
}

void ExpectRefused(const Error& e, int32_t number, const std::string& what) {
  EXPECT_EQ(e.number(), number) << what;
  EXPECT_EQ(e.description(), "Not a valid password.") << what;
}

bool HaveSharedFiles() {
  return fs::is_directory(SharedFile(""));
}

TEST(ProtectedSharedFileTest, RightPasswordReadsEveryRowThroughTheProvider) {
  if (!HaveSharedFiles()) GTEST_SKIP() << "no shared Access files";
  for (const ProtectedFile& f : kSharedFiles) {
    SCOPED_TRACE(f.file);
    auto [walked, counted] = AdoRowCounts(SharedFile(f.file), f.password, f.table);
    EXPECT_EQ(walked, f.rows);
    EXPECT_EQ(counted, f.rows);
  }
}

TEST(ProtectedSharedFileTest, WrongPasswordIsRefusedByBothInterfaces) {
  if (!HaveSharedFiles()) GTEST_SKIP() << "no shared Access files";
  for (const ProtectedFile& f : kSharedFiles) {
    for (const std::string& wrong : WrongPasswords(f.password)) {
      std::string what = f.file + " with '" + wrong + "'";
      ExpectRefused(AdoOpenError(SharedFile(f.file), wrong), kAdoInvalidPassword, what);
      ExpectRefused(DaoOpenError(SharedFile(f.file), wrong), 3031, what);
    }
  }
}

TEST(ProtectedSharedFileTest, RightPasswordOpensTheDaoEngineWithItsTables) {
  if (!HaveSharedFiles()) GTEST_SKIP() << "no shared Access files";
  for (const ProtectedFile& f : kSharedFiles) {
    SCOPED_TRACE(f.file);
    EXPECT_EQ(DaoTableNames(SharedFile(f.file), f.password), std::vector<std::string>{f.table});
  }
}

TEST(ProtectedSharedFileTest, Rc4CryptoApiFileHoldsItsOneRow) {
  std::string file = SharedFile("ace12-v2007-rc4-password.accdb");
  if (!fs::exists(file)) GTEST_SKIP() << "no shared Access files";
  Connection c;
  c.Open(BuildSourceConnectionString(file, "", "", "Test123"));
  auto rs = c.OpenRows(TableRows("Table1"));
  ASSERT_FALSE(rs->Eof());
  EXPECT_EQ(rs->Field("ID"), Value(int64_t{1}));
  bool found = false;
  for (int i = 0; i < rs->FieldCount(); ++i) found = found || rs->FieldValue(i) == Value("foo");
  EXPECT_TRUE(found) << "no column holds \"foo\"";
}

TEST(ProtectedSharedFileTest, RecordSetOutlivesItsConnectionOnADecryptedImage) {
  std::string file = SharedFile("ace15-v2013-password.accdb");
  if (!fs::exists(file)) GTEST_SKIP() << "no shared Access files";
  std::shared_ptr<Recordset> rs;
  {
    Connection c;
    c.Open(BuildSourceConnectionString(file, "", "", "1234"));
    rs = c.OpenRows(TableRows("Customers"));
    c.Close();
  }
  // The image lives as long as any handle on it; reading must not touch freed memory.
  int rows = 0;
  for (; !rs->Eof(); rs->MoveNext()) {
    for (int i = 0; i < rs->FieldCount(); ++i) (void)rs->FieldValue(i);
    ++rows;
  }
  EXPECT_EQ(rows, 7);
}

TEST(UnprotectedFileTest, AnyPasswordOpens) {
  if (!HaveSharedFiles()) GTEST_SKIP() << "no shared Access files";
  struct Case {
    std::string file;
    std::string table;
    int64_t rows;
  };
  const Case cases[] = {
      {"jet4-rc4-encoded.mdb", "Table1", 2},
      {"ace14-v2010-test.accdb", "", -1},
      {"jet4-v2003-test.mdb", "", -1},
  };
  for (const Case& c : cases) {
    for (const char* pw : {"", "whatever", "password"}) {
      std::string what = c.file + " with '" + std::string(pw) + "'";
      EXPECT_NO_THROW(DaoTableNames(SharedFile(c.file), pw)) << what;
      Connection conn;
      EXPECT_NO_THROW(conn.Open(BuildSourceConnectionString(SharedFile(c.file), "", "", pw)))
          << what;
      if (c.rows >= 0) {
        EXPECT_EQ(AdoRowCounts(SharedFile(c.file), pw, c.table).second, c.rows);
      }
    }
  }
}

// Writer-made files, with and without a database password, in both formats, and encrypted.
class WrittenFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, aw::Format format, const std::string& password,
                    bool encrypt = false, aw::Encryption method = aw::Encryption::kAgile) {
    return testing::WritePartsDatabase(dir_.File(name), format, password, encrypt, method);
  }
  testing::TempDir dir_;
};

TEST_F(WrittenFileTest, PasswordIsEnforcedInEveryForm) {
  struct Case {
    std::string name;
    aw::Format format;
    bool encrypt;
    aw::Encryption method = aw::Encryption::kAgile;
  };
  for (const Case& c :
       {Case{"locked.mdb", aw::Format::kJet4, false},
        Case{"locked.accdb", aw::Format::kAce12, false},
        Case{"agile.accdb", aw::Format::kAce12, true},
        Case{"standard.accdb", aw::Format::kAce12, true, aw::Encryption::kStandard},
        Case{"nonstandard.accdb", aw::Format::kAce12, true, aw::Encryption::kNonStandard},
        Case{"rc4-cryptoapi.accdb", aw::Format::kAce12, true, aw::Encryption::kRc4CryptoApi},
        Case{"rc4-office.accdb", aw::Format::kAce12, true, aw::Encryption::kOfficeRc4}}) {
    SCOPED_TRACE(c.name);
    std::string path = Write(c.name, c.format, "Geheim9", c.encrypt, c.method);
    EXPECT_EQ(AdoRowCounts(path, "Geheim9", "Parts"), (std::pair<int64_t, int64_t>{2, 2}));
    EXPECT_EQ(DaoTableNames(path, "Geheim9"), std::vector<std::string>{"Parts"});
    for (const std::string& wrong : WrongPasswords("Geheim9")) {
      ExpectRefused(AdoOpenError(path, wrong), kAdoInvalidPassword, wrong);
      ExpectRefused(DaoOpenError(path, wrong), 3031, wrong);
    }

    if (c.encrypt) continue;
    std::string open = Write("open-" + c.name, c.format, "");
    for (const char* pw : {"", "Geheim9"}) {
      EXPECT_EQ(AdoRowCounts(open, pw, "Parts"), (std::pair<int64_t, int64_t>{2, 2})) << pw;
      EXPECT_EQ(DaoTableNames(open, pw), std::vector<std::string>{"Parts"}) << pw;
    }
  }
}

TEST_F(WrittenFileTest, WorkgroupFileIsCheckedAndTheDatabasePasswordStillApplies) {
  std::string workgroup = Write("system.mdw", aw::Format::kJet4, "");
  std::string open = Write("open.mdb", aw::Format::kJet4, "");
  std::string locked = Write("locked.mdb", aw::Format::kJet4, "Geheim9");
  auto open_with = [&](const std::string& system_db, const std::string& file) -> Error {
    auto engine = CreateLibmdbEngine();
    engine->SetSystemDB(system_db);
    try {
      auto db =
          engine->CreateWorkspace("", "admin", "user secret")->OpenDatabase(file, false, true, "");
      if (db->TableDefs().empty()) return Error(-1, "no tables");
    } catch (const Error& e) {
      return e;
    }
    return Error(0, "no error");
  };
  // User names and their passwords are not enforced by the workgroup file format.
  EXPECT_EQ(open_with(workgroup, open).number(), 0);
  EXPECT_EQ(open_with(dir_.File("missing.mdw"), open).number(), 3028);
  EXPECT_EQ(open_with(workgroup, locked).number(), 3031);

  // The provider string a workgroup run builds carries the user's password, not the
  // database's.
  Connection c;
  EXPECT_NO_THROW(c.Open(BuildSourceConnectionString(open, workgroup, "admin", "user secret")));
  ExpectRefused(AdoOpenError(locked, ""), kAdoInvalidPassword, "locked without password");
  try {
    Connection d;
    d.Open(BuildSourceConnectionString(open, dir_.File("missing.mdw"), "admin", ""));
    ADD_FAILURE() << "missing workgroup file accepted";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("workgroup information file"), std::string::npos)
        << e.description();
  }
}

// The scan opens the column catalogue through the provider before the engine, so a wrong
// password ends it with the provider's refusal, and no schema file is written.
TEST(ProtectedScanTest, ScansWithTheRightPasswordAndRefusesAnyOther) {
  testing::TempDir dir;
  testing::ScopedEnv temp("TEMP", dir.path().c_str());
  std::vector<ProtectedFile> files = {
      {testing::WritePartsDatabase(dir.File("locked.mdb"), aw::Format::kJet4, "Geheim9"), "Geheim9",
       "Parts", testing::kPartsRows},
      {testing::WritePartsDatabase(dir.File("encrypted.accdb"), aw::Format::kAce12, "Geheim9",
                                   true),
       "Geheim9", "Parts", testing::kPartsRows}};
  if (HaveSharedFiles())
    for (const ProtectedFile& f : kSharedFiles)
      files.push_back({SharedFile(f.file), f.password, f.table, f.rows});
  for (const ProtectedFile& f : files) {
    SCOPED_TRACE(f.file);
    RecordingStatus status;
    const SchemaModel model =
        ScanAccessDatabase(f.file, f.password, "", "", testing::ContextFor(status));
    std::vector<std::string> names;
    for (const SchemaTable& table : model.tables)
      if (!table.fields.empty()) names.push_back(table.name.value());
    EXPECT_NE(std::find(names.begin(), names.end(), f.table), names.end());
    fs::remove(dir.File("access.xml"));

    RecordingStatus refused;
    try {
      ScanAccessDatabase(f.file, f.password + "!", "", "", testing::ContextFor(refused));
      ADD_FAILURE() << "wrong password accepted";
    } catch (const Error& e) {
      ExpectRefused(e, kAdoInvalidPassword, "scan");
    }
    EXPECT_FALSE(FileExists(dir.File("access.xml")));
    EXPECT_EQ(refused.lines, std::vector<std::string>{"Connecting to source database"});
  }
}

}  // namespace
}  // namespace ferrolyte

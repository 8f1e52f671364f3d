#include "platform/jet_password.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "crypto_test_support.h"
#include "platform/ado.h"
#include "platform/crypto_primitives.h"
#include "platform/office_crypto.h"
#include "support/text.h"
#include "testing/temp_dir.h"

#if __has_include(<accesswriter/writer.h>)
#include <accesswriter/writer.h>
#define FERROLYTE_HAVE_ACCESSWRITER 1
#endif

namespace ferrolyte {
namespace {

using testing::CaughtError;
using testing::RealAccessFolder;

constexpr PasswordErrorStyle kAdo = PasswordErrorStyle::kAdo;
constexpr PasswordErrorStyle kDao = PasswordErrorStyle::kDao;

// A definition page built by hand: version byte, creation date and password field written
// in the clear, then masked as the engine stores them.
Bytes MakeDefinitionPage(uint8_t version, double created, const Bytes& password_field) {
  Bytes page(version == 0 ? 2048 : 4096, 0);
  std::memcpy(page.data() + 4, "Standard Jet DB", 15);
  page[kJetVersionOffset] = version;
  if (version != 0) std::memcpy(page.data() + 0x72, &created, sizeof created);
  std::memcpy(page.data() + 0x42, password_field.data(), password_field.size());
  ToggleHeaderMask(page);
  return page;
}

// The Jet 4 field of a UTF-16 text under the creation-date mask.
Bytes Jet4Field(const Bytes& utf16, int32_t date_whole) {
  Bytes field(40, 0);
  std::copy_n(utf16.begin(), std::min<size_t>(utf16.size(), 40), field.begin());
  uint32_t mask = static_cast<uint32_t>(date_whole);
  for (size_t i = 0; i < field.size(); ++i) field[i] ^= static_cast<uint8_t>(mask >> (8 * (i % 4)));
  return field;
}

// The text with ASCII letter case swapped.
std::string FlipCase(std::string text) {
  for (char& ch : text) {
    if (ch >= 'a' && ch <= 'z')
      ch = static_cast<char>(ch - 'a' + 'A');
    else if (ch >= 'A' && ch <= 'Z')
      ch = static_cast<char>(ch - 'A' + 'a');
  }
  return text;
}

TEST(JetPasswordTest, RealJet4FileHoldsItsPasswordAndRefusesOthers) {
  std::string folder = RealAccessFolder();
  if (folder.empty()) GTEST_SKIP() << "shared/access is not present";
  std::string path = folder + "/jet4-v2000-password.mdb";
  Bytes page0 = ReadDefinitionPage(path, kAdo);

  EXPECT_EQ(ReadJetDatabasePassword(page0), "password");
  EXPECT_NO_THROW(CheckJetPassword(page0, "password", kAdo));
  EXPECT_NO_THROW(CheckJetPassword(page0, "password", kDao));
  // Letter case, a missing or extra character and no password at all are all refused.
  for (const char* wrong : {"", "Password", "PASSWORD", "passwor", "password ", "password1"}) {
    SCOPED_TRACE(wrong);
    Error ado = CaughtError([&] { CheckJetPassword(page0, wrong, kAdo); });
    EXPECT_EQ(ado.number(), kAdoInvalidPassword);
    EXPECT_EQ(ado.description(), "Not a valid password.");
    Error dao = CaughtError([&] { CheckJetPassword(page0, wrong, kDao); });
    EXPECT_EQ(dao.number(), 3031);
    EXPECT_EQ(dao.description(), "Not a valid password.");
  }
}

TEST(JetPasswordTest, RealFilesWithoutPasswordAcceptAnyPassword) {
  std::string folder = RealAccessFolder();
  if (folder.empty()) GTEST_SKIP() << "shared/access is not present";
  // jet4-rc4-encoded.mdb has an encoding key but no password: it must not look encrypted.
  for (const char* name : {"jet3-v1997-test.mdb", "jet4-v2003-test.mdb", "jet4-rc4-encoded.mdb",
                           "ace12-v2007-test.accdb", "ace16-v2016-bigint.accdb"}) {
    SCOPED_TRACE(name);
    Bytes page0 = ReadDefinitionPage(folder + "/" + name, kAdo);
    EXPECT_EQ(ReadJetDatabasePassword(page0), "");
    for (const char* given : {"", "password", "anything at all"})
      EXPECT_NO_THROW(CheckJetPassword(page0, given, kDao)) << given;
  }
}

TEST(JetPasswordTest, EncryptedAccdbIsCheckedAgainstItsEncryptionHeader) {
  std::string folder = RealAccessFolder();
  if (folder.empty()) GTEST_SKIP() << "shared/access is not present";
  Bytes page0 = ReadDefinitionPage(folder + "/ace12-v2007-rc4-password.accdb", kAdo);
  // The header password field of an encrypted file is not a password.
  EXPECT_EQ(ReadJetDatabasePassword(page0), "");
  EXPECT_NO_THROW(CheckJetPassword(page0, "Test123", kAdo));
  EXPECT_EQ(CaughtError([&] { CheckJetPassword(page0, "", kAdo); }).number(), kAdoInvalidPassword);
  EXPECT_EQ(CaughtError([&] { CheckJetPassword(page0, "test123", kDao); }).number(), 3031);
}

TEST(JetPasswordTest, DecodesHandBuiltHeaders) {
  struct Case {
    const char* what;
    Bytes page;
    std::string expected;
  };
  const Bytes abc_utf16 = Utf8ToUtf16Le("abc");
  std::vector<Case> cases = {
      {"Jet 4 with a positive creation date",
       MakeDefinitionPage(1, 45000.75, Jet4Field(abc_utf16, 45000)), "abc"},
      // floor, not truncation toward zero: -1.5 masks with -2.
      {"Jet 4 with a negative creation date",
       MakeDefinitionPage(1, -1.5, Jet4Field(Utf8ToUtf16Le("Zoë€"), -2)), "Zoë€"},
      {"Jet 4 with twenty characters",
       MakeDefinitionPage(1, 100.0, Jet4Field(Utf8ToUtf16Le("ABCDEFGHIJKLMNOPQRST"), 100)),
       "ABCDEFGHIJKLMNOPQRST"},
      {"Jet 4 in compressed text form",
       MakeDefinitionPage(1, 7.0, Jet4Field(Bytes{0xff, 0xfe, 'x', 'y', 0, 0xac, 0x20}, 7)), "xy€"},
      {"ACE without encryption uses the Jet 4 layout",
       MakeDefinitionPage(2, 40000.1, Jet4Field(abc_utf16, 40000)), "abc"},
      {"Jet 3 in the code page, unmasked by the date",
       MakeDefinitionPage(0, 0, Bytes{'P', 0xe8, 'r', 'e'}), "Père"},
      {"Jet 4 without password", MakeDefinitionPage(1, 45000.5, Jet4Field({}, 45000)), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ReadJetDatabasePassword(c.page), c.expected);
    if (c.expected.empty()) continue;
    EXPECT_NO_THROW(CheckJetPassword(c.page, c.expected, kAdo));
    EXPECT_EQ(CaughtError([&] { CheckJetPassword(c.page, FlipCase(c.expected), kAdo); }).number(),
              kAdoInvalidPassword);
  }
}

TEST(JetPasswordTest, RefusesWhatIsNotADefinitionPage) {
  Bytes good = MakeDefinitionPage(1, 1.0, Jet4Field({}, 1));
  Bytes wrong_type = good;
  wrong_type[0] = 1;  // a data page
  Bytes wrong_name = good;
  wrong_name[4] = 'X';
  Bytes too_short(good.begin(), good.begin() + 100);
  for (const Bytes* page : {&wrong_type, &wrong_name, &too_short}) {
    Error e = CaughtError([&] { CheckJetPassword(*page, "", kDao); });
    EXPECT_EQ(e.number(), 3343);
    EXPECT_NE(e.description().find("Unrecognized database format"), std::string::npos);
  }
}

TEST(JetPasswordTest, ReadDefinitionPageReportsMissingAndForeignFiles) {
  testing::TempDir dir;
  std::string text = dir.File("notes.txt");
  std::ofstream(text) << "not a database";

  Error missing = CaughtError([&] { ReadDefinitionPage(dir.File("gone.mdb"), kDao); });
  EXPECT_EQ(missing.number(), 3024);
  EXPECT_EQ(missing.description(), "Could not find file '" + dir.File("gone.mdb") + "'.");
  EXPECT_EQ(CaughtError([&] { ReadDefinitionPage(dir.File("gone.mdb"), kAdo); }).number(),
            kAdoGenericError);
  Error foreign = CaughtError([&] { ReadDefinitionPage(text, kDao); });
  EXPECT_EQ(foreign.number(), 3343);
  EXPECT_EQ(foreign.description(), "Unrecognized database format '" + text + "'.");
}

TEST(JetPasswordTest, WorkgroupFileMustExistAndBeAnAccessFile) {
  testing::TempDir dir;
  std::string text = dir.File("system.mdw");
  std::ofstream(text) << "plain text, not a workgroup file";
  std::string jet = dir.File("real.mdw");
  {
    Bytes page = MakeDefinitionPage(1, 1.0, Jet4Field({}, 1));
    std::ofstream(jet, std::ios::binary)
        .write(reinterpret_cast<const char*>(page.data()),
               static_cast<std::streamsize>(page.size()));
  }

  EXPECT_NO_THROW(CheckWorkgroupFile(jet, kDao));
  Error missing = CaughtError([&] { CheckWorkgroupFile(dir.File("none.mdw"), kDao); });
  EXPECT_EQ(missing.number(), 3028);
  EXPECT_EQ(missing.description(),
            "Cannot start your application. The workgroup information file is missing or "
            "opened exclusively by another user.");
  EXPECT_EQ(CaughtError([&] { CheckWorkgroupFile(dir.File("none.mdw"), kAdo); }).number(),
            kAdoGenericError);
  Error foreign = CaughtError([&] { CheckWorkgroupFile(text, kDao); });
  EXPECT_EQ(foreign.number(), 3343);
  EXPECT_EQ(foreign.description(), "Unrecognized database format '" + text + "'.");
  // A folder is not a file.
  EXPECT_EQ(CaughtError([&] { CheckWorkgroupFile(dir.path(), kDao); }).number(), 3028);

  std::string folder = RealAccessFolder();
  if (folder.empty()) return;
  EXPECT_EQ(CaughtError([&] {
              CheckWorkgroupFile(folder + "/ace14-v2010-password.accdb", kDao);
            }).number(),
            3343);
}

#ifdef FERROLYTE_HAVE_ACCESSWRITER
TEST(JetPasswordTest, RoundTripsPasswordsTheWriterStores) {
  struct Case {
    accesswriter::Format format;
    std::string password;
    double created;
  };
  const Case cases[] = {
      {accesswriter::Format::kJet4, "Geheim", 45000.5},
      {accesswriter::Format::kJet4, "Zoë € 20 characters.", 12345.99},
      {accesswriter::Format::kJet4, "", 45000.5},
      {accesswriter::Format::kAce12, "AceSecret", 44000.25},
  };
  testing::TempDir dir;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    std::string path = dir.File("db" + std::to_string(n++) + ".mdb");
    {
      accesswriter::DatabaseWriter db(
          path, {.format = c.format, .password = c.password, .creation_date = c.created});
      accesswriter::Table t{.name = "Items"};
      t.columns.push_back({.name = "Name", .type = accesswriter::ColumnType::kText, .size = 20});
      db.AddTable(t).AddRow({"one"});
      db.Finish();
    }
    Bytes page0 = ReadDefinitionPage(path, kAdo);
    EXPECT_FALSE(IsEncryptedAccdb(page0));
    EXPECT_EQ(ReadJetDatabasePassword(page0), c.password);
    EXPECT_NO_THROW(CheckJetPassword(page0, c.password, kDao));
    if (c.password.empty()) {
      EXPECT_NO_THROW(CheckJetPassword(page0, "whatever", kDao));
    } else {
      EXPECT_EQ(
          CaughtError([&] { CheckJetPassword(page0, AsciiLower(c.password), kDao); }).number(),
          3031);
      EXPECT_EQ(CaughtError([&] { CheckJetPassword(page0, "", kAdo); }).number(),
                kAdoInvalidPassword);
    }
  }
}
#endif

}  // namespace
}  // namespace ferrolyte

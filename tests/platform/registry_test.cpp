#include "platform/registry.h"

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/safe.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

const char kDriversKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers\\";

TEST(RegistryTest, OdbcDriverKeyFollowsTheDriverManager) {
  TempDir dir;
  WriteTextFile(dir.File("odbcinst.ini"),
                "[PostgreSQL Unicode]\nDescription=test\nDriver=/nonexistent/psqlodbcw.so\n");
  WriteTextFile(dir.File("odbc.ini"), "");
  ScopedEnv sysini("ODBCSYSINI", dir.path().c_str());
  ScopedEnv odbcini("ODBCINI", dir.File("odbc.ini").c_str());
  ScopedEnv home("HOME", dir.path().c_str());
  EXPECT_EQ(SafeStr(RegRead(std::string(kDriversKey) + "PostgreSQL UNICODE", false)), "Installed");
  EXPECT_EQ(SafeStr(RegRead("hklm\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers\\postgresql "
                            "unicode",
                            true)),
            "Installed");
  EXPECT_TRUE(
      RegRead(std::string(kDriversKey) + "PostgreSQL ODBC Driver(UNICODE)", false).IsNull());
  // The short name of the users hive is HKUR; HKU and unknown hives read nothing.
  EXPECT_TRUE(RegRead("HKU\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers\\PostgreSQL Unicode", false)
                  .IsNull());
  EXPECT_TRUE(RegRead("HKCU\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers\\PostgreSQL Unicode", false)
                  .IsNull());
  EXPECT_TRUE(RegRead("nonsense", false).IsNull());
}

TEST(RegistryTest, NoDriverReadsNothing) {
  TempDir dir;
  WriteTextFile(dir.File("odbcinst.ini"), "");
  WriteTextFile(dir.File("odbc.ini"), "");
  ScopedEnv sysini("ODBCSYSINI", dir.path().c_str());
  ScopedEnv odbcini("ODBCINI", dir.File("odbc.ini").c_str());
  ScopedEnv home("HOME", dir.path().c_str());
  EXPECT_TRUE(RegRead(std::string(kDriversKey) + "PostgreSQL Unicode", false).IsNull());
}

}  // namespace
}  // namespace ferrolyte

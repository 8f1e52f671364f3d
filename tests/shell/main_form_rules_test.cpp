#include "shell/main_form_rules.h"

#include <gtest/gtest.h>

#include "support/version.h"

namespace ferrolyte {
namespace {

TEST(MainFormRulesTest, CaptionCarriesTheVersionOutsideScreenshotMode) {
  EXPECT_EQ(WindowCaption(true), "Ferrolyte");
  // The version --version, dumps and the error reports show.
  EXPECT_EQ(WindowCaption(false), "Ferrolyte (" + std::to_string(kVersionMajor) + "." +
                                      std::to_string(kVersionMinor) + "." +
                                      std::to_string(kVersionRevision) + ")");
}

TEST(MainFormRulesTest, WelcomeText) {
  EXPECT_EQ(WelcomeText(),
            "Welcome to the Ferrolyte conversion wizard. This wizard will collect information "
            "about the following topics:\r\n\r\n1. The source database\r\n2. The destination "
            "database\r\n3. The set of tables to be transfered\r\n4. A set of transfer options");
}

TEST(MainFormRulesTest, WebAddressesUseTheSiteRootAndTheFixedQueries) {
  EXPECT_EQ(SiteRoot("https://www.example.org/a/b"), "https://www.example.org");
  EXPECT_EQ(SiteRoot("https://www.example.org"), "https://www.example.org");
  const std::string root = SiteRoot(HelpPageAddress());
  EXPECT_EQ(HelpPageAddress().substr(root.size()),
            "/dispatch/?action=Doc&productid=ferrolyte&variant=PostgreSQL");
  EXPECT_EQ(DonationPageAddress(), root + "/dispatch/?action=Donate&ref=ferrolyte");
  EXPECT_EQ(root.rfind("https://", 0), 0u);
}

TEST(MainFormRulesTest, AuthenticationAndEngines) {
  EXPECT_EQ(AuthenticationName(0), "Windows Authentication");
  EXPECT_EQ(AuthenticationName(1), "SQL Server Authentication");
  EXPECT_EQ(AuthenticationName(2), "");
  EXPECT_EQ(AuthenticationName(-1), "");
  EXPECT_EQ(AuthenticationCode(0), "Windows");
  EXPECT_EQ(AuthenticationCode(1), "SQL");
  EXPECT_EQ(AuthenticationCode(2), "");
  EXPECT_EQ(StorageEngines().front(), "ARCHIVE");
  EXPECT_EQ(StorageEngines().back(), "MyISAM");
  EXPECT_EQ(StorageEngines().size(), 8u);
  EXPECT_TRUE(EngineBlocksKeys("BrightHouse"));
  EXPECT_FALSE(EngineBlocksKeys("InnoDB"));
}

TEST(MainFormRulesTest, EnclosingQuotes) {
  EXPECT_EQ(StripEnclosingQuotes("\"/home/a b/x.mdb\""), "/home/a b/x.mdb");
  EXPECT_EQ(StripEnclosingQuotes("\""), "\"");
  EXPECT_EQ(StripEnclosingQuotes("\"\""), "");
  EXPECT_EQ(StripEnclosingQuotes("\"x.mdb"), "\"x.mdb");
  EXPECT_EQ(StripEnclosingQuotes("x\"y\""), "x\"y\"");
}

TEST(MainFormRulesTest, SystemDatabaseFilterNamesThePatternItSelects) {
  EXPECT_EQ(SystemDatabaseFilter(), "(*.mdw) MS Access|*.mdw|(*.*) All Files|*.*");
  EXPECT_EQ(DumpFileFilter(), "(*.sql) PostgreSQL Dump File|*.sql|(*.*) All Files|*.*");
}

}  // namespace
}  // namespace ferrolyte

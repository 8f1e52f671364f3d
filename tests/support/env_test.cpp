#include "support/env.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"
#include "testing/fault_env.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::FaultEnv;

// The user's folders are told from the variables the env gives, never from the process's.
TEST(EnvFolderTest, FoldersFollowTheVariablesInOrder) {
  using Vars = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    Vars variables;
    std::optional<std::string> home;
    UserFolder folder;
    std::optional<std::string> expected;
  } cases[] = {
      {{{"APPDATA", "/srv/app/"}, {"XDG_CONFIG_HOME", "/x"}},
       "/h",
       UserFolder::kConfig,
       "/srv/app"},
      {{{"APPDATA", ""}, {"XDG_CONFIG_HOME", "/x//"}}, "/h", UserFolder::kConfig, "/x"},
      {{}, "/h/", UserFolder::kConfig, "/h/.config"},
      {{}, std::nullopt, UserFolder::kConfig, std::nullopt},
      {{{"XDG_DATA_HOME", "/d"}}, "/h", UserFolder::kData, "/d"},
      {{}, "/h", UserFolder::kData, "/h/.local/share"},
      {{{"XDG_CACHE_HOME", "/c"}}, "/h", UserFolder::kCache, "/c"},
      {{}, "/h", UserFolder::kCache, "/h/.cache"},
      {{{"TEMP", "/t1"}, {"TMPDIR", "/t2"}}, "/h", UserFolder::kTemp, "/t1"},
      {{{"TMPDIR", "/var/tmp/"}}, "/h", UserFolder::kTemp, "/var/tmp"},
      {{}, std::nullopt, UserFolder::kTemp, "/tmp"},
      {{}, "/h//", UserFolder::kHome, "/h"},
      {{}, std::nullopt, UserFolder::kHome, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.folder));
    FaultEnv env;
    for (const auto& [name, value] : c.variables) env.SetVariable(name, value);
    env.SetHome(c.home);
    EXPECT_EQ(env.Folder(c.folder), c.expected);
  }
}

// The documents folder comes from user-dirs.dirs, read through the env; one equal to home
// means none is set.
TEST(EnvFolderTest, DocumentsFolderComesFromUserDirs) {
  testing::TempDir dir;
  struct Case {
    std::string user_dirs;  // empty: no file
    std::string expected;   // under the test's home
  } cases[] = {
      {"", ""},
      {"XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "/Dokumente"},
      {"# a comment\n  XDG_DOCUMENTS_DIR=\"$HOME/Docs/\"  \n", "/Docs"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/\"\n", ""},
      {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user_dirs);
    FaultEnv env;
    env.SetHome(dir.path());
    env.SetVariable("XDG_CONFIG_HOME", dir.File("cfg"));
    MkDirRecurse(dir.File("cfg"));
    if (c.user_dirs.empty())
      std::remove(dir.File("cfg/user-dirs.dirs").c_str());
    else
      WriteTextFile(dir.File("cfg/user-dirs.dirs"), c.user_dirs);
    EXPECT_EQ(env.Folder(UserFolder::kDocuments), dir.path() + c.expected);
  }
}

// A folder the test gives wins over what the variables would tell.
TEST(EnvFolderTest, AGivenFolderWins) {
  FaultEnv env;
  env.SetVariable("APPDATA", "/from/variable");
  env.SetFolder(UserFolder::kConfig, "/given");
  EXPECT_EQ(env.Folder(UserFolder::kConfig), "/given");
  EXPECT_EQ(SystemEnv().Variable("FERROLYTE_NO_SUCH_VARIABLE_EVER"), std::nullopt);
}

// The fault env fails exactly the call it was told to, on the path it was told to.
// The system env tells the folders from the process's own variables.
TEST(SystemEnvTest, FoldersFollowTheProcessVariables) {
  testing::TempDir dir;
  testing::ScopedEnv home("HOME", dir.path().c_str());
  testing::ScopedEnv xdg("XDG_CONFIG_HOME", dir.File("cfg").c_str());
  testing::ScopedEnv appdata("APPDATA", nullptr);
  testing::ScopedEnv temp("TEMP", nullptr);
  testing::ScopedEnv tmpdir("TMPDIR", "/var/tmp/");
  EXPECT_EQ(SystemEnv().Folder(UserFolder::kDocuments), dir.path());
  MkDirRecurse(dir.File("cfg"));
  WriteTextFile(dir.File("cfg/user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  EXPECT_EQ(SystemEnv().Folder(UserFolder::kDocuments), dir.File("Dokumente"));
  EXPECT_EQ(SystemEnv().Folder(UserFolder::kConfig), dir.File("cfg"));
  EXPECT_EQ(SystemEnv().Folder(UserFolder::kTemp), "/var/tmp");
  testing::ScopedEnv appdata2("APPDATA", "/scratch/app");
  EXPECT_EQ(SystemEnv().Folder(UserFolder::kConfig), "/scratch/app");
}

TEST(FaultEnvTest, FailsOnlyTheNthCallOnTheChosenPath) {
  testing::TempDir dir;
  FaultEnv env;
  env.FailCall(testing::FileCall::kWrite, 2, ENOSPC, "b.txt");
  int a = -1, b = -1;
  ASSERT_EQ(env.Open(dir.File("a.txt"), O_WRONLY | O_CREAT, 0600, a), 0);
  ASSERT_EQ(env.Open(dir.File("b.txt"), O_WRONLY | O_CREAT, 0600, b), 0);
  size_t written = 0;
  std::vector<int> results;
  for (int fd : {a, b, a, b, b}) results.push_back(env.Write(fd, "x", 1, written));
  EXPECT_EQ(results, (std::vector<int>{0, 0, 0, ENOSPC, 0}));
  EXPECT_EQ(env.Calls(testing::FileCall::kWrite), 5);
  EXPECT_EQ(env.Close(a), 0);
  EXPECT_EQ(env.Close(b), 0);
  EXPECT_EQ(ReadTextFile(dir.File("b.txt"), ""), "xx");
}

}  // namespace
}  // namespace ferrolyte

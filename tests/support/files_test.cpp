#include "support/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/errors.h"
#include "testing/temp_dir.h"

namespace ferrolyte {
namespace {

using testing::TempDir;

std::vector<uint8_t> B(std::initializer_list<int> bytes) {
  std::vector<uint8_t> out;
  for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
  return out;
}

TEST(FilesTest, ReadTextFileDetectsMarksAndFallsBackToWindows1252) {
  TempDir dir;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* encoding;
    std::string text;
  } cases[] = {
      {"utf8bom", B({0xEF, 0xBB, 0xBF, 'h', 0xC3, 0xA9}), "", "h\xC3\xA9"},
      {"utf8bom-given", B({0xEF, 0xBB, 0xBF, 'h'}), "utf-8", "\xEF\xBB\xBFh"},
      {"two-bytes", B({0xEF, 0xBB}), "", "\xC3\xAF\xC2\xBB"},  // read as ANSI
      {"le", B({0xFF, 0xFE, 'a', 0, 0x3D, 0xD8, 0x00, 0xDE}), "", "a\xF0\x9F\x98\x80"},
      {"be", B({0xFE, 0xFF, 0, 'a', 0, 'b'}), "", "ab"},
      {"plain-utf8", B({'z', 0xC3, 0xBC}), "", "z\xC3\xBC"},
      {"cp1252", B({'z', 0xFC, 0x80}), "", "z\xC3\xBC\xE2\x82\xAC"},
      {"empty", {}, "", ""},
  };
  for (const auto& c : cases) {
    WriteFile(dir.File(c.name), c.bytes);
    EXPECT_EQ(ReadTextFile(dir.File(c.name), c.encoding), c.text) << c.name;
  }
  try {
    ReadTextFile(dir.File("missing"), "");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 53);
  }
}

TEST(FilesTest, WriteFileReplacesALongerContent) {
  TempDir dir;
  std::string p = dir.File("f.bin");
  WriteFile(p, std::vector<uint8_t>(100, 'x'));
  WriteFile(p, std::vector<uint8_t>(10, 'y'));
  EXPECT_EQ(ReadFile(p), std::vector<uint8_t>(10, 'y'));
  WriteFile(p, {});
  EXPECT_TRUE(ReadFile(p).empty());
  EXPECT_TRUE(FileExists(p));
  try {
    ReadFile("");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.description(),
              "Function ReadFile does not accept an empty file name as parameter.");
  }
}

// A file that may hold a password is never readable by others, not even for a moment: it
// is created 0600, and an existing one loses group and other access before the text goes in.
TEST(FilesTest, PrivateTextFileIsTheUsersAlone) {
  TempDir dir;
  auto mode = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
  };
  const std::string created = dir.File("new.ini"), existing = dir.File("old.ini");
  WriteTextFile(existing, "a much longer old content\n");
  ASSERT_EQ(::chmod(existing.c_str(), 0664), 0);
  for (const std::string& path : {created, existing}) {
    SCOPED_TRACE(path);
    WritePrivateTextFile(path, "pwd=secret\n");
    EXPECT_EQ(mode(path), 0600u);
    EXPECT_EQ(ReadTextFile(path, ""), "pwd=secret\n");
  }
  // Appending keeps what is there.
  const int fd = OpenPrivateFile(existing, true);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::write(fd, "more\n", 5), 5);
  ::close(fd);
  EXPECT_EQ(ReadTextFile(existing, ""), "pwd=secret\nmore\n");
  EXPECT_THROW(WritePrivateTextFile(dir.File("no/such/folder/x.ini"), "x"), Error);
}

TEST(FilesTest, ExistenceTestsWithWildcards) {
  TempDir dir;
  WriteTextFile(dir.File("a.ini"), "x");
  ::mkdir(dir.File("sub").c_str(), 0755);
  EXPECT_TRUE(FileExists(dir.File("*.ini")));
  EXPECT_TRUE(FileExists(dir.File("?.ini")));
  EXPECT_FALSE(FileExists(dir.File("*.log")));
  EXPECT_FALSE(FileExists(dir.File("sub")));  // a folder is not a file
  EXPECT_TRUE(FolderExists(dir.File("sub/"), false));
  EXPECT_FALSE(FolderExists(dir.File("a.ini"), false));
  EXPECT_TRUE(FolderExists(dir.path(), true));
  EXPECT_TRUE(FolderExists("/", false));
}

// A private folder goes with its owner, or at exit() when the owner never got to it (a
// fatal error report ends the window that way); a forked child's exit leaves it alone.
TEST(FilesTest, PrivateFolderIsRemovedByItsOwnerOrAtExit) {
  TempDir dir;
  std::string kept;
  {
    PrivateFolder folder(dir.path());
    kept = folder.path();
    CreatePrivateFile(kept + "/f", {'x'});
    EXPECT_EXIT(std::exit(0), ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(PathIsFile(kept + "/f")) << "removed by a child's exit";
    EXPECT_THROW(CreatePrivateFile(kept + "/f", {}), Error);
  }
  EXPECT_FALSE(FolderExists(kept, false));

  const std::string note = dir.File("folder.txt");
  EXPECT_EXIT(
      {
        auto* leaked = new PrivateFolder(dir.path());
        WriteTextFile(note, leaked->path());
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  const std::string leaked = ReadTextFile(note, "");
  EXPECT_FALSE(leaked.empty());
  EXPECT_FALSE(FolderExists(leaked, false));
}

TEST(FilesTest, MkDirRecurseCreatesMissingParentsAndNamesTheFailingStep) {
  TempDir dir;
  std::string deep = dir.File("a/b/c/");
  MkDirRecurse(deep);
  EXPECT_TRUE(FolderExists(deep, false));
  MkDirRecurse(dir.File("a/b"));  // existing: nothing happens
  EXPECT_TRUE(FolderExists(dir.File("a/b/c"), false));

  WriteTextFile(dir.File("file"), "x");
  try {
    MkDirRecurse(dir.File("file/sub"));
    ADD_FAILURE();
  } catch (const Error& e) {
    std::string expected = "Error in function call MkDirRecurse(\"" + dir.File("file/sub") +
                           "\"). Create folder '" + dir.File("file/sub/") + "'. ";
    EXPECT_EQ(e.description().substr(0, expected.size()), expected);
  }
}

TEST(FilesTest, PathHelpers) {
  EXPECT_EQ(FolderPart("/home/me/a.ini"), "/home/me/");
  EXPECT_EQ(FolderPart("a.ini"), "");
  EXPECT_EQ(FileNamePart("/home/me/a.ini"), "a.ini");
  EXPECT_EQ(FileNamePart("C:\\data\\db.mdb"), "db.mdb");
  EXPECT_EQ(StripTrailingSeparators("/a/b///"), "/a/b");
  EXPECT_EQ(CollapseSeparators("//srv//share///x"), "//srv/share/x");
}

// One errno gives one number wherever a file fails; only a missing file that is being made
// means its folder is missing.
TEST(ErrorFromErrnoTest, MapsEachErrnoToTheNumberAndTextOfTheFileFunctions) {
  struct Case {
    int errno_value;
    FileUse use;
    int32_t number;
    const char* text;
  };
  const Case cases[] = {
      {ENOENT, FileUse::kOpen, 53, "File not found: /d/f"},
      {ENOENT, FileUse::kCreate, 76, "Path not found: /d/f"},
      {ENOTDIR, FileUse::kOpen, 76, "Path not found: /d/f"},
      {ENOTDIR, FileUse::kCreate, 76, "Path not found: /d/f"},
      {EACCES, FileUse::kOpen, 75, "Path/File access error: /d/f"},
      {EPERM, FileUse::kCreate, 75, "Path/File access error: /d/f"},
      {EROFS, FileUse::kCreate, 75, "Path/File access error: /d/f"},
      {ENOSPC, FileUse::kCreate, 61, "Disk full: /d/f"},
      {EMFILE, FileUse::kOpen, 67, "Too many files: /d/f"},
      {ENFILE, FileUse::kOpen, 67, "Too many files: /d/f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.errno_value);
    const Error e = ErrorFromErrno(c.errno_value, "/d/f", c.use);
    EXPECT_EQ(e.number(), c.number);
    EXPECT_EQ(e.description(), c.text);
    EXPECT_EQ(e.kind(), ErrorKind::kIo);
    const Error reasoned = ErrorFromErrno(c.errno_value, "/d/f", c.use, true);
    EXPECT_EQ(reasoned.number(), c.number);
    EXPECT_EQ(reasoned.description(),
              std::string(c.text) + " (" + std::strerror(c.errno_value) + ")");
  }
}

TEST(ErrorFromErrnoTest, AnyOtherErrnoIsAnAccessErrorWithTheSystemsReason) {
  const Error e = ErrorFromErrno(EIO, "/d/f");
  EXPECT_EQ(e.number(), 75);
  EXPECT_EQ(e.description(),
            std::string("Path/File access error: /d/f (") + std::strerror(EIO) + ")");
}

}  // namespace
}  // namespace ferrolyte

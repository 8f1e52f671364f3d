// Runs the built program's command-line forms (--help, --version, tables, convert) in a scratch
// configuration folder, with standard input from /dev/null or a pseudo-terminal.
#include <accesswriter/description.h>
#include <accesswriter/writer.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "platform/pg_connection.h"
#include "support/files.h"
#include "support/text.h"
#include "support/version.h"
#include "testing/parts_database.h"
#include "testing/temp_dir.h"
#include "testing/tls_server.h"

namespace ferrolyte {
namespace {

using testing::TempDir;
using Env = std::map<std::string, std::optional<std::string>>;  // nullopt unsets

const std::string kProgram = std::string(FERROLYTE_BINARY_DIR) + "/src/ferrolyte";

struct Outcome {
  int status = -1;
  std::string output;  // standard output and standard error together
};

// In the child: the environment changes, the working folder (env "PWD"), then the program.
[[noreturn]] void Exec(const std::vector<std::string>& argv, const Env& env) {
  auto folder = env.find("PWD");
  if (folder != env.end() && folder->second && ::chdir(folder->second->c_str()) != 0) ::_exit(126);
  for (const auto& [name, value] : env)
    value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  ::_exit(127);
}

int Wait(pid_t pid) {
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

// Starts without a shell, standard input from /dev/null, output into the file; the caller
// waits for it.
pid_t StartProgram(const std::vector<std::string>& argv, const std::string& output_file,
                   const Env& env = {}) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    Exec(argv, env);
  }
  return pid;
}

Outcome Execute(const std::vector<std::string>& argv, const std::string& output_file,
                const Env& env = {}) {
  const int status = Wait(StartProgram(argv, output_file, env));
  return {status, ReadTextFile(output_file, "")};
}

struct SplitOutcome {
  int status = -1;
  std::string out, err;
};

// Standard output and standard error each into a file of its own, neither a terminal.
SplitOutcome ExecuteSplit(const std::vector<std::string>& argv, const std::string& stem,
                          const Env& env) {
  const std::string out_file = stem + ".out", err_file = stem + ".err";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::dup2(::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    ::dup2(::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    Exec(argv, env);
  }
  const int status = Wait(pid);
  return {status, ReadTextFile(out_file, ""), ReadTextFile(err_file, "")};
}

// Runs on a pseudo-terminal and types `typed` once `prompt` has appeared.
Outcome ExecuteOnTerminal(const std::vector<std::string>& argv, const Env& env,
                          const std::string& prompt, const std::string& typed) {
  int master = -1;
  pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) Exec(argv, env);
  std::string output;
  bool answered = false;
  for (;;) {
    // A safety net so that a program that never asks cannot hang the suite.
    pollfd fd{master, POLLIN, 0};
    if (::poll(&fd, 1, 60000) <= 0) break;
    char buffer[512];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    output.append(buffer, static_cast<size_t>(n));
    if (!answered && output.find(prompt) != std::string::npos) {
      answered = true;
      EXPECT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    }
  }
  ::close(master);
  return {Wait(pid), output};
}

size_t Inserts(const std::string& dump, const std::string& table) {
  size_t count = 0;
  for (const std::string& line : Split(dump, "\r\n"))
    count += line.starts_with("INSERT INTO \"" + table + "\" ");
  return count;
}

// The statements of a dump, without its comment lines (which list the settings).
std::string Statements(const std::string& dump) {
  std::string out;
  for (const std::string& line : Split(dump, "\r\n"))
    if (!line.starts_with("--")) out += line + "\n";
  return out;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FileExists(kProgram)) GTEST_SKIP() << "program not built: " << kProgram;
  }
  Outcome Run(std::vector<std::string> args, const Env& env = {}) {
    args.insert(args.begin(), kProgram);
    Env all = {{"APPDATA", dir_.path()}, {"TEMP", dir_.path()}, {"PWD", dir_.path()}};
    all.insert(env.begin(), env.end());
    return Execute(args, dir_.File("output.txt"), all);
  }
  SplitOutcome RunSplit(std::vector<std::string> args, const Env& env = {}) {
    args.insert(args.begin(), kProgram);
    Env all = {{"APPDATA", dir_.path()}, {"TEMP", dir_.path()}, {"PWD", dir_.path()}};
    all.insert(env.begin(), env.end());
    return ExecuteSplit(args, dir_.File("split"), all);
  }
  std::string LogFile() const { return dir_.path() + "/Quorvane/Ferrolyte/ferrolyte.log"; }
  std::string Log() const { return FileExists(LogFile()) ? ReadTextFile(LogFile(), "") : ""; }
  std::string Read(const std::string& name) const {
    return FileExists(dir_.File(name)) ? ReadTextFile(dir_.File(name), "") : "";
  }
  // Customers (3 rows, a key and an auto number) and Order Lines (2 rows).
  std::string MakeDatabase() {
    namespace aw = accesswriter;
    const std::string file = dir_.File("shop.mdb");
    aw::DatabaseWriter db(file);
    aw::Table customers{.name = "Customers"};
    customers.columns = {
        {.name = "Id", .type = aw::ColumnType::kLong, .auto_number = aw::AutoNumber::kIncrement},
        {.name = "Name", .type = aw::ColumnType::kText, .size = 50, .required = true}};
    customers.indexes.push_back({.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    aw::TableWriter& rows = db.AddTable(customers);
    for (const char* name : {"Zoë", "Ånund", "Plain"}) rows.AddRow({nullptr, name});
    aw::Table lines{.name = "Order Lines"};
    lines.columns = {{.name = "Line", .type = aw::ColumnType::kLong},
                     {.name = "Price", .type = aw::ColumnType::kCurrency}};
    aw::TableWriter& line_rows = db.AddTable(lines);
    line_rows.AddRow({1, aw::Value::Decimal("12.3400")});
    line_rows.AddRow({2, aw::Value::Decimal("-0.5")});
    db.Finish();
    return file;
  }

  TempDir dir_;
};

TEST_F(CliTest, HelpAndVersionWorkWithoutADisplayAndLeaveNoLog) {
  const Env no_display = {{"DISPLAY", std::nullopt},
                          {"WAYLAND_DISPLAY", std::nullopt},
                          {"QT_QPA_PLATFORM", std::nullopt}};
  for (const char* form : {"--help", "-h", "convert"}) {
    SCOPED_TRACE(form);
    Outcome out = std::string(form) == "convert" ? Run({form, "--help"}, no_display)
                                                 : Run({form}, no_display);
    EXPECT_EQ(out.status, 0) << out.output;
    for (const char* expected :
         {"ferrolyte settings=FILE autorun [hide] [clearlog] [unittest]", "ferrolyte tables SOURCE",
          "ferrolyte convert SOURCE (--dump FILE | --to URL)", "\n  0    ", "\n  1    ",
          "\n  2    ", "\n  3    ", "\n  130  ", "\n  143  "})
      EXPECT_NE(out.output.find(expected), std::string::npos) << expected;
    EXPECT_NE(out.output.find("Log: " + LogFile() + "\n"), std::string::npos) << out.output;
  }
  Outcome version = Run({"--version"}, no_display);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "Ferrolyte " + std::to_string(kVersionMajor) + "." +
                                std::to_string(kVersionMinor) + "." +
                                std::to_string(kVersionRevision) + "\n");
  EXPECT_FALSE(FileExists(LogFile()));
}

TEST_F(CliTest, UnusableCommandLinesNameTheProblemAndExit2) {
  const std::string source = MakeDatabase();
  struct Case {
    std::vector<std::string> args;
    std::string named;
  } cases[] = {
      {{"convert", source, "--dump", "x.sql", "--frobnicate"}, "unknown option '--frobnicate'"},
      {{"tables", source, "--json=1"}, "option '--json' takes no value"},
      {{"convert", source, "--dump"}, "option '--dump' needs a value"},
      {{"convert", source, "--dump", "a", "--dump=b"}, "option '--dump' is given twice"},
      {{"convert", source, "-x"}, "unknown option '-x'"},
      {{"convert", "--dump", "x.sql"}, "no source database given"},
      {{"tables"}, "no source database given"},
      {{"convert", dir_.File("absent.mdb"), "--dump", "x.sql"}, "absent.mdb' does not exist"},
      {{"convert", source, "--dump", "x.sql", "--to", "postgresql:///d"},
       "--dump and --to cannot be given together"},
      {{"convert", source}, "give --dump FILE or --to URL"},
      {{"convert", source, "--to", "mysql://h/d"}, "a URL begins with postgresql://"},
      {{"convert", source, "--to", "postgresql://h/d?sslmod=require"},
       "--to: invalid URI query parameter: \"sslmod\""},
      {{"convert", source, "--to", "host=h colour=blue"},
       "--to: invalid connection option \"colour\""},
      {{"convert", source, "--to", "postgresql://h:1/d?sslmode=tls"},
       "The setting destinationsslmode=tls is not valid"},
      {{"convert", source, "--dump=x.sql", "--set", "colour=blue"},
       "unknown settings key 'colour'"},
      {{"convert", source, "--dump=x.sql", "--set", "sourcepassword=x"},
       "passwords are never command-line values"},
      {{"convert", source, "--dump=x.sql", "--set", "dropdatabase=yes"}, "takes 0 or 1"},
      {{"convert", source, "--dump=x.sql", "--set", "storageengine=brighthouse"},
       "The setting storageengine=brighthouse is not valid: it leaves out every key and index"},
      {{"convert", source, "--to", "postgresql://h/d", "--jobs", "0"},
       "--jobs takes a whole number from 1 to 16, not '0'"},
      {{"convert", source, "--to", "postgresql://h/d", "--jobs=two"},
       "--jobs takes a whole number from 1 to 16, not 'two'"},
      {{"convert", source, "--dump=x.sql", "--set", "jobs=-1"},
       "The setting jobs=-1 is not valid: give a whole number from 1 to 16."},
      {{"convert", source, "--dump=x.sql", "--settings", dir_.File("absent.ini")},
       "cannot load the settings file"},
      {{"convert", source, "--dump=x.sql", "--password-file", dir_.File("absent")},
       "cannot read the password file"},
      // Found only once the source is scanned: the run ends before anything is written.
      {{"convert", source, "--dump", dir_.File("x.sql"), "--tables", "Customers,Nope"},
       "--tables: the source has no table 'Nope'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Join(c.args, " "));
    Outcome out = Run(c.args);
    EXPECT_EQ(out.status, 2);
    EXPECT_NE(out.output.find(c.named), std::string::npos) << out.output;
  }
  EXPECT_FALSE(FileExists(dir_.File("x.sql")));
  EXPECT_NE(Log().find("--tables: the source has no table 'Nope'"), std::string::npos);
}

// What the run writes must be neither what it reads nor the same file twice: refused before
// anything is written, the log included, and every file named stays as it was.
TEST_F(CliTest, OutputsThatNameAnInputOrEachOtherAreRefused) {
  const std::string source = MakeDatabase();
  WriteTextFile(dir_.File("pw.txt"), "secret\n");
  ::symlink(source.c_str(), dir_.File("link.mdb").c_str());
  const std::vector<uint8_t> source_bytes = ReadFile(source);
  struct Case {
    std::vector<std::string> args;
    std::string named;
  } cases[] = {
      {{"convert", source, "--dump", "x.sql", "--save-settings", "link.mdb"},
       "--save-settings names the source database"},
      {{"convert", source, "--dump", "./shop.mdb"}, "--dump names the source database"},
      {{"convert", source, "--dump", "pw.txt", "--password-file", "pw.txt"},
       "--dump names --password-file"},
      {{"convert", source, "--dump", "x.sql", "--save-settings", "no/../x.sql"},
       "--dump and --save-settings name the same file"},
      {{"convert", source, "--dump", "x.sql", "--save-settings", LogFile()},
       "--save-settings and the log name the same file"},
      {{"convert", source, "--dump", LogFile()}, "--dump and the log name the same file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Join(c.args, " "));
    Outcome out = Run(c.args);
    EXPECT_EQ(out.status, 2) << out.output;
    EXPECT_NE(out.output.find(c.named), std::string::npos) << out.output;
    EXPECT_EQ(ReadFile(source), source_bytes);
    EXPECT_EQ(Read("pw.txt"), "secret\n");
    EXPECT_FALSE(FileExists(dir_.File("x.sql")));
    EXPECT_FALSE(FileExists(LogFile()));
  }
}

// A file name is bytes; one that is not UTF-8 (a Windows-1252 "café") still names a
// database the server takes.
TEST_F(CliTest, DatabaseNamedAfterAFileNameIsUtf8) {
  const std::string latin = dir_.File("caf\xe9.mdb");
  std::filesystem::rename(MakeDatabase(), latin);
  Outcome out = Run({"convert", latin, "--dump", "cafe.sql"});
  ASSERT_EQ(out.status, 0) << out.output;
  const std::vector<uint8_t> bytes = ReadFile(dir_.File("cafe.sql"));
  const std::string dump(bytes.begin(), bytes.end());
  const size_t notice = dump.find("-- NOTICE:");
  ASSERT_NE(notice, std::string::npos);
  EXPECT_NE(dump.find("\r\nCREATE DATABASE \"caf\xc3\xa9\";\r\n"), std::string::npos);
  if (!std::getenv("PGPORT")) return;
  WriteTextFile(dir_.File("create.sql"), dump.substr(0, notice));
  EXPECT_EQ(Execute({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-f", dir_.File("create.sql")},
                    dir_.File("psql.txt"))
                .status,
            0)
      << Read("psql.txt");
  EXPECT_EQ(
      Execute({"psql", "-X", "-q", "-c", "DROP DATABASE \"caf\xc3\xa9\""}, dir_.File("psql.txt"))
          .status,
      0)
      << Read("psql.txt");
}

// A reader that goes away (--dump /dev/stdout | head) ends the run as SIGTERM does: the
// report reaches the log, the run's own folder goes, and the status says SIGPIPE.
TEST_F(CliTest, ClosedPipeEndsTheRunWithItsReport) {
  const std::string source = MakeDatabase();
  const std::string temp = dir_.File("tmp");
  MkDirRecurse(temp);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(dir_.File("output.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fds[1], 1);
    ::dup2(out, 2);
    Exec({kProgram, "convert", source, "--dump", "/dev/stdout"},
         {{"APPDATA", dir_.path()}, {"TEMP", temp}, {"PWD", dir_.path()}});
  }
  ::close(fds[1]);
  EXPECT_EQ(Wait(pid), 141) << Read("output.txt") << Log();
  EXPECT_NE(Log().find("Terminated (SIGPIPE)"), std::string::npos) << Log();
  EXPECT_NE(Log().find("\r\n                   \tRESULT\r\n"), std::string::npos) << Log();
  EXPECT_TRUE(Log().ends_with("\tEnd\r\n")) << Log();
  EXPECT_TRUE(std::filesystem::is_empty(temp));
}

TEST_F(CliTest, TablesListsCountsTypesAndOnRequestTheSystemTables) {
  const std::string source = MakeDatabase();
  Outcome out = Run({"tables", source});
  EXPECT_EQ(out.status, 0) << out.output;
  EXPECT_EQ(out.output,
            "Table        Rows  Columns\n"
            "Customers       3        2\n"
            "Order Lines     2        2\n");

  out = Run({"tables", "--columns", source});
  EXPECT_NE(out.output.find("\n  Id      AutoNumber    SERIAL\n"), std::string::npos) << out.output;

  out = Run({"tables", source, "--json", "--all"});
  EXPECT_EQ(out.status, 0) << out.output;
  const nlohmann::json listed = nlohmann::json::parse(out.output);
  const nlohmann::json customers = nlohmann::json::parse(
      R"({"name": "Customers", "kind": "table", "rows": 3, "column_count": 2})");
  bool system = false, found = false;
  for (const nlohmann::json& table : listed["tables"]) {
    system = system || (table["name"] == "MSysObjects" && table["kind"] == "system");
    found = found || table == customers;
  }
  EXPECT_TRUE(system) << out.output;
  EXPECT_TRUE(found) << out.output;
  EXPECT_EQ(Run({"tables", source}).output.find("MSys"), std::string::npos);
}

TEST_F(CliTest, ConvertToADumpIsRepeatedByItsSavedSettings) {
  const std::string source = MakeDatabase();
  // A relative dump path is the current folder's; the saved settings name it in full.
  Outcome out = Run({"convert", "shop.mdb", "--dump", "first.sql", "--save-settings", "saved.ini",
                     "--set", "tableprefix=t_"});
  ASSERT_EQ(out.status, 0) << out.output << Log();
  EXPECT_NE(Log().find("\t  Transfer completed\r\n"), std::string::npos);
  EXPECT_TRUE(Log().ends_with("\tEnd\r\n"));
  const std::string first = Read("first.sql");
  EXPECT_EQ(Inserts(first, "t_Customers"), 3u);
  EXPECT_EQ(Inserts(first, "t_Order Lines"), 2u);
  EXPECT_NE(first.find("PRIMARY KEY (\"Id\")"), std::string::npos) << "keys come along";
  EXPECT_NE(Read("saved.ini").find("  destinationdumpfilename=" + dir_.File("first.sql") + "\r\n"),
            std::string::npos)
      << Read("saved.ini");

  std::filesystem::remove(dir_.File("first.sql"));
  ASSERT_EQ(Run({"settings=" + dir_.File("saved.ini"), "autorun"}).status, 0) << Log();
  EXPECT_EQ(Read("first.sql"), first);

  // A hand-written settings file with sourcetables[]=* moves the same.
  WriteTextFile(dir_.File("star.ini"), "[Velkan Ferrolyte]\r\n  sourcefilename=" + source +
                                           "\r\n  destinationmethod=DUMP\r\n"
                                           "  destinationdumpfilename=star.sql\r\n"
                                           "  destinationdatabase=shop\r\n  tableprefix=t_\r\n"
                                           "  sourcetables[]=*\r\n");
  ASSERT_EQ(Run({"settings=star.ini", "autorun"}).status, 0) << Log();
  EXPECT_EQ(Statements(Read("star.sql")), Statements(first));

  WriteTextFile(dir_.File("plain.ini"), ReplaceAll(Read("star.ini"), "  sourcetables[]=*\r\n", ""));
  struct Case {
    std::vector<std::string> choice;
    size_t customers, lines;
  } cases[] = {
      {{"--tables", "customers"}, 3, 0},
      {{"--exclude=Customers"}, 0, 2},
      {{"--settings", "star.ini", "--exclude", "Order Lines"}, 3, 0},
      // A settings file without a selection converts everything.
      {{"--settings", "plain.ini"}, 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Join(c.choice, " "));
    std::vector<std::string> args = {"convert", source, "--dump", "chosen.sql"};
    args.insert(args.end(), c.choice.begin(), c.choice.end());
    ASSERT_EQ(Run(args).status, 0) << Log();
    const std::string prefix = c.choice[0] == "--settings" ? "t_" : "";
    EXPECT_EQ(Inserts(Read("chosen.sql"), prefix + "Customers"), c.customers);
    EXPECT_EQ(Inserts(Read("chosen.sql"), prefix + "Order Lines"), c.lines);
  }
}

// Access lets a table name hold CR and LF. The listing, a conversion named on the command
// line and an unattended run with every table selected must all reach each such table and
// its rows: a name cut at its break, or read back as two, is missed or refused.
TEST_F(CliTest, TablesNamedWithLineBreaksAreListedAndConvertedEveryWay) {
  namespace aw = accesswriter;
  struct Named {
    std::string name;
    int first;  // the table's rows are first and first + 1
  };
  const Named tables[] = {
      {"Line\r\nBreak", 10}, {"Line\rBreak", 20}, {"Line\nBreak", 30}, {"Plain", 40}};
  const std::string source = dir_.File("breaks.mdb");
  {
    aw::DatabaseWriter db(source);
    for (const Named& t : tables) {
      aw::Table table{.name = t.name};
      table.columns.push_back({.name = "Id", .type = aw::ColumnType::kLong});
      aw::TableWriter& rows = db.AddTable(table);
      rows.AddRow({t.first});
      rows.AddRow({t.first + 1});
    }
    db.Finish();
  }

  const Outcome listed = Run({"tables", source});
  ASSERT_EQ(listed.status, 0) << listed.output;
  const Outcome json = Run({"tables", source, "--json"});
  ASSERT_EQ(json.status, 0) << json.output;
  std::map<std::string, int> rows_listed;
  const nlohmann::json listing = nlohmann::json::parse(json.output);
  for (const nlohmann::json& table : listing["tables"])
    rows_listed[table["name"].get<std::string>()] = table["rows"].get<int>();
  for (const Named& t : tables) {
    SCOPED_TRACE(PrintableText(t.name));
    EXPECT_NE(listed.output.find("\n" + PrintableText(t.name) + " "), std::string::npos)
        << listed.output;
    EXPECT_EQ(rows_listed[t.name], 2) << json.output;
  }

  WriteTextFile(dir_.File("star.ini"), "[Velkan Ferrolyte]\r\n  sourcefilename=" + source +
                                           "\r\n  destinationmethod=DUMP\r\n"
                                           "  destinationdumpfilename=star.sql\r\n"
                                           "  destinationdatabase=breaks\r\n"
                                           "  sourcetables[]=*\r\n");
  struct Way {
    std::string what;
    std::vector<std::string> args;
    std::string dump;
  } ways[] = {
      {"convert", {"convert", source, "--dump", "convert.sql"}, "convert.sql"},
      {"autorun", {"settings=" + dir_.File("star.ini"), "autorun"}, "star.sql"},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    const Outcome out = Run(way.args);
    ASSERT_EQ(out.status, 0) << out.output << Log();
    const std::string dump = Read(way.dump);
    for (const Named& t : tables) {
      SCOPED_TRACE(PrintableText(t.name));
      const std::string insert = "INSERT INTO \"" + t.name + "\" ";
      std::vector<std::string> values;
      for (size_t at = dump.find(insert); at != std::string::npos; at = dump.find(insert, at + 1)) {
        const size_t end = dump.find("\r\n", at + insert.size());
        values.push_back(dump.substr(at + insert.size(), end - at - insert.size()));
      }
      ASSERT_EQ(values.size(), 2u) << dump;
      EXPECT_TRUE(values[0].ends_with("(" + std::to_string(t.first) + ");")) << values[0];
      EXPECT_TRUE(values[1].ends_with("(" + std::to_string(t.first + 1) + ");")) << values[1];
      EXPECT_NE(dump.find("CREATE TABLE \"" + t.name + "\""), std::string::npos) << dump;
    }
  }
}

// An empty selection entry selects nothing: a source with tables then has nothing selected
// and is refused before anything is written; one without tables completes with 0 tables.
TEST_F(CliTest, EmptySelectionIsRefusedWhenTheSourceHasTables) {
  const std::string shop = MakeDatabase();
  const std::string empty = dir_.File("empty.mdb");
  accesswriter::DatabaseWriter(empty).Finish();
  const struct {
    const char* what;
    std::string source;
    std::vector<std::string> args;  // none: autorun with `sourcetables[]=`
    int status;
  } cases[] = {
      {"autorun, tables in the source", shop, {}, 2},
      {"convert, every table excluded",
       shop,
       {"convert", shop, "--dump", "out.sql", "--exclude", "Customers", "--exclude", "Order Lines"},
       2},
      {"autorun, no tables in the source", empty, {}, 0},
      {"convert, no tables in the source", empty, {"convert", empty, "--dump", "out.sql"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(dir_.File("out.sql"));
    std::filesystem::remove(LogFile());
    WriteTextFile(dir_.File("job.ini"), "[Velkan Ferrolyte]\r\n  sourcefilename=" + c.source +
                                            "\r\n  destinationmethod=DUMP\r\n"
                                            "  destinationdumpfilename=out.sql\r\n"
                                            "  destinationdatabase=shop\r\n"
                                            "  sourcetables[]=\r\n");
    const Outcome out =
        Run(c.args.empty() ? std::vector<std::string>{"settings=job.ini", "autorun"} : c.args);
    EXPECT_EQ(out.status, c.status) << out.output << Log();
    if (c.status == 2) {
      EXPECT_NE(out.output.find("Select at least one table"), std::string::npos) << out.output;
      EXPECT_NE(Log().find("Select at least one table"), std::string::npos) << Log();
      EXPECT_FALSE(FileExists(dir_.File("out.sql")));
    } else {
      EXPECT_NE(Log().find("The source database holds no user tables: 0 tables to move"),
                std::string::npos)
          << Log();
      EXPECT_TRUE(FileExists(dir_.File("out.sql")));
    }
  }
}

TEST_F(CliTest, SourcePasswordComesFromAFileOrANoEchoPrompt) {
  const std::string locked =
      testing::WritePartsDatabase(dir_.File("locked.mdb"), accesswriter::Format::kJet4, "Geh eim9");
  WriteTextFile(dir_.File("pw.txt"), "Geh eim9\n");
  Outcome out = Run({"convert", locked, "--dump", "a.sql", "--password-file", "pw.txt"});
  EXPECT_EQ(out.status, 0) << out.output << Log();
  EXPECT_EQ(Inserts(Read("a.sql"), "Parts"), 2u);
  EXPECT_EQ(Log().find("Geh eim9"), std::string::npos);

  // Without a terminal nobody can be asked: the refusal ends the run.
  out = Run({"convert", locked, "--dump", "b.sql"});
  EXPECT_EQ(out.status, 1) << out.output;
  EXPECT_NE(Log().find("Reason: Not a valid password."), std::string::npos) << Log();
  EXPECT_FALSE(FileExists(dir_.File("b.sql")));

  out = ExecuteOnTerminal({kProgram, "convert", locked, "--dump", dir_.File("c.sql")},
                          {{"APPDATA", dir_.path()}, {"TEMP", dir_.path()}},
                          "Password for locked.mdb: ", "Geh eim9\n");
  EXPECT_EQ(out.status, 0) << out.output;
  EXPECT_EQ(out.output.find("Geh eim9"), std::string::npos) << "echoed: " << out.output;
  EXPECT_EQ(Inserts(Read("c.sql"), "Parts"), 2u);
}

int Psql(const std::string& sql, const std::string& output_file, const std::string& db = "") {
  std::vector<std::string> argv = {"psql", "-X", "-q", "-tA", "-v", "ON_ERROR_STOP=1", "-c", sql};
  if (!db.empty()) argv.insert(argv.end(), {"-d", db});
  return Execute(argv, output_file).status;
}

// A role with a password of its own, found through PGPASSWORD or a password file as psql
// finds it; a password file that others may read is ignored.
TEST_F(CliTest, ServerConversionFindsThePasswordAsPsqlDoes) {
  if (!std::getenv("PGPORT")) GTEST_SKIP() << "no PostgreSQL test cluster (PGPORT unset)";
  const std::string source = MakeDatabase();
  const std::string role = "ferro_cli_" + std::to_string(::getpid());
  const std::string password = "p:w\\x y";
  ASSERT_EQ(Psql("CREATE ROLE " + role + " LOGIN CREATEDB PASSWORD 'p:w\\x y'", dir_.File("r.txt")),
            0)
      << Read("r.txt");
  const std::string url = "postgresql://" + role + "@localhost:" + std::getenv("PGPORT") + "/";
  WriteTextFile(dir_.File(".pgpass"), "localhost:*:*:" + role + ":p\\:w\\\\x y\n");
  struct Case {
    std::string name;
    Env env;
    mode_t pgpass_mode;
    int status;
  } cases[] = {
      {"variable", {{"PGPASSWORD", password}, {"HOME", "/nonexistent"}}, 0600, 0},
      {"file", {{"PGPASSWORD", std::nullopt}, {"HOME", dir_.path()}}, 0600, 0},
      // libpq's own warning, and nothing was done: the first connection failed.
      {"open file", {{"PGPASSWORD", std::nullopt}, {"HOME", dir_.path()}}, 0644, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(::chmod(dir_.File(".pgpass").c_str(), c.pgpass_mode), 0);
    const std::string database = role + "_" + std::to_string(c.pgpass_mode);
    Env env = c.env;
    env["PGPASSFILE"] = std::nullopt;
    Outcome out = Run({"convert", source, "--to", url + database}, env);
    EXPECT_EQ(out.status, c.status) << out.output << Log();
    if (c.status == 0) {
      EXPECT_EQ(Psql("SELECT count(*) FROM \"Customers\"", dir_.File("q.txt"), database), 0);
      EXPECT_EQ(Read("q.txt"), "3\n");
    } else {
      EXPECT_NE(out.output.find("has group or world access"), std::string::npos) << out.output;
    }
    Psql("DROP DATABASE IF EXISTS \"" + database + "\"", dir_.File("d.txt"));
  }
  Psql("DROP ROLE " + role, dir_.File("d.txt"));
}

// The exit status once the program ended within the time; a program still running then is
// killed, and the test fails.
int WaitAtMost(pid_t pid, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      ADD_FAILURE() << "still running after " << limit.count() << " s";
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &wstatus, 0);
      return -1;
    }
    ::usleep(20000);
  }
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

// Tables of the same name in the destination database: the command line refuses them before
// it writes anything, and names them, unless --replace-tables. A run the server keeps
// waiting (here for another session's lock on such a table) still ends on SIGTERM, with
// its report.
TEST_F(CliTest, ExistingServerTablesAreRefusedAndAWaitingRunEndsOnSigterm) {
  if (!std::getenv("PGPORT")) GTEST_SKIP() << "no PostgreSQL test cluster (PGPORT unset)";
  const std::string source = MakeDatabase();
  const std::string db = "ferro_cli_existing_" + std::to_string(::getpid());
  ASSERT_EQ(Psql("CREATE DATABASE " + db, dir_.File("p.txt")), 0) << Read("p.txt");
  ASSERT_EQ(Psql("CREATE TABLE \"Customers\" (mine int); INSERT INTO \"Customers\" VALUES "
                 "(1), (2), (3), (4), (5)",
                 dir_.File("p.txt"), db),
            0)
      << Read("p.txt");
  Outcome out = Run({"convert", source, "--to", "postgresql:///" + db});
  EXPECT_EQ(out.status, 2) << out.output << Log();
  EXPECT_NE(out.output.find("holds tables this run would replace: 'Customers' (5 records); "
                            "nothing was written (give --replace-tables to replace them)"),
            std::string::npos)
      << out.output;
  EXPECT_EQ(Psql("SELECT count(mine) FROM \"Customers\"", dir_.File("q.txt"), db), 0);
  EXPECT_EQ(Read("q.txt"), "5\n");
  EXPECT_EQ(Psql("SELECT count(*) FROM pg_tables WHERE tablename = 'Order Lines'",
                 dir_.File("q.txt"), db),
            0);
  EXPECT_EQ(Read("q.txt"), "0\n");

  {
    PgConnection holder({"", "", db, "", ""});
    holder.Execute("BEGIN");
    holder.Execute("LOCK TABLE \"Customers\" IN ACCESS EXCLUSIVE MODE");
    const pid_t pid = StartProgram(
        {kProgram, "convert", source, "--to", "postgresql:///" + db, "--replace-tables"},
        dir_.File("output.txt"),
        {{"APPDATA", dir_.path()}, {"TEMP", dir_.path()}, {"PWD", dir_.path()}});
    bool waiting = false;
    for (int i = 0; i < 600 && !waiting; ++i) {
      Psql("SELECT count(*) FROM pg_stat_activity WHERE datname = '" + db +
               "' AND wait_event_type = 'Lock'",
           dir_.File("w.txt"));
      waiting = Read("w.txt") == "1\n";
      if (!waiting) ::usleep(50000);
    }
    ASSERT_TRUE(waiting) << Log();
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitAtMost(pid, std::chrono::seconds(30)), 143) << Log();
    holder.Execute("ROLLBACK");
  }
  EXPECT_NE(Log().find("Terminated (SIGTERM)"), std::string::npos) << Log();
  EXPECT_NE(Log().find("\tRESULT\r\n"), std::string::npos) << Log();
  EXPECT_TRUE(Log().ends_with("\tEnd\r\n")) << Log();
  Psql("DROP DATABASE IF EXISTS " + db, dir_.File("d.txt"));
}

// The server's own cluster, which takes TLS connections only: every session of the program
// has to be encrypted for a run to get anywhere.
class TlsCliTest : public CliTest {
 protected:
  static void SetUpTestSuite() { server_ = new testing::TlsServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override {
    CliTest::SetUp();
    if (!server_->started()) GTEST_SKIP() << "no TLS test server: " << server_->problem();
  }
  std::string Url(const std::string& database, const std::string& query) const {
    return "postgresql://postgres@localhost:" + std::to_string(server_->port()) + "/" + database +
           "?" + query;
  }
  // The program's environment: the password from PGPASSWORD unless the case says otherwise,
  // no password file and none of the variables that would change the connection.
  Env Plain(Env more = {}) const {
    Env env = {{"PGPASSWORD", testing::TlsServer::kPassword},
               {"HOME", dir_.path()},
               {"PGSSLMODE", std::nullopt},
               {"PGSSLROOTCERT", std::nullopt},
               {"PGHOST", std::nullopt},
               {"PGPORT", std::nullopt},
               {"PGDATABASE", std::nullopt},
               {"PGPASSFILE", std::nullopt}};
    for (const auto& [name, value] : more) env[name] = value;
    return env;
  }
  std::string Rows(const std::string& database) const {
    return server_->Query("SELECT count(*) FROM \"Bench\"", database);
  }
  static testing::TlsServer* server_;
};
testing::TlsServer* TlsCliTest::server_ = nullptr;

TEST_F(TlsCliTest, VerifyFullConvertsWithEverySessionEncryptedAndNamed) {
  const std::string source = dir_.File("bench.mdb");
  accesswriter::WriteBenchmarkRows(source, 100000);
  const std::string url = Url("tls_run", "sslmode=verify-full&sslrootcert=" + server_->ca());
  std::vector<std::string> argv = {kProgram, "convert", source, "--to", url};
  Env env = Plain({{"APPDATA", dir_.path()}, {"TEMP", dir_.path()}});
  const size_t log_start = server_->Log().size();
  const pid_t pid = StartProgram(argv, dir_.File("output.txt"), env);
  std::set<std::string> seen;  // "pid database ssl" of the program's sessions
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, WNOHANG) == 0) {
    const std::string now = server_->Query(
        "SELECT a.pid || ' ' || a.datname || ' ' || s.ssl FROM pg_stat_activity a "
        "JOIN pg_stat_ssl s USING (pid) WHERE a.application_name = 'ferrolyte'");
    for (const std::string& line : Split(now, "\n"))
      if (!line.empty()) seen.insert(line);
  }
  ASSERT_TRUE(WIFEXITED(wstatus));
  EXPECT_EQ(WEXITSTATUS(wstatus), 0) << Read("output.txt") << Log();
  EXPECT_EQ(Rows("tls_run"), "100000\n");
  ASSERT_FALSE(seen.empty()) << "no session of the program was seen during the run";
  for (const std::string& session : seen) EXPECT_TRUE(session.ends_with(" true")) << session;
  // Both sessions in the new database (statements over ODBC, rows over libpq) carry the name.
  int named = 0;
  for (const std::string& line : Split(server_->Log().substr(log_start), "\n"))
    if (line.find("connection authorized: user=postgres database=tls_run "
                  "application_name=ferrolyte SSL enabled") != std::string::npos)
      ++named;
  EXPECT_GE(named, 2) << server_->Log().substr(log_start);
}

TEST_F(TlsCliTest, WrongCaEndsWithTheCertificateProblemAndExit1) {
  const std::string source = MakeDatabase();
  Outcome out = Run({"convert", source, "--to",
                     Url("tls_wrong_ca", "sslmode=verify-full&sslrootcert=" + server_->other_ca())},
                    Plain());
  EXPECT_EQ(out.status, 1) << out.output << Log();
  EXPECT_NE(Log().find("Reason: connection to server at \"localhost\""), std::string::npos)
      << Log();
  EXPECT_NE(Log().find("SSL error: certificate verify failed"), std::string::npos) << Log();
  EXPECT_EQ(server_->Query("SELECT count(*) FROM pg_database WHERE datname = 'tls_wrong_ca'"),
            "0\n");
}

// libpq's variables reach the ODBC session too, which used to put its own "disable" there.
TEST_F(TlsCliTest, TlsFromTheEnvironmentAppliesToBothSessions) {
  const std::string source = MakeDatabase();
  const std::string url = "postgresql://postgres@localhost:" + std::to_string(server_->port());
  Outcome out = Run({"convert", source, "--to", url + "/tls_env"},
                    Plain({{"PGSSLMODE", "verify-full"}, {"PGSSLROOTCERT", server_->ca()}}));
  EXPECT_EQ(out.status, 0) << out.output << Log();
  EXPECT_EQ(server_->Query("SELECT count(*) FROM \"Customers\"", "tls_env"), "3\n");
  out = Run({"convert", source, "--to", url + "/tls_env_wrong"},
            Plain({{"PGSSLMODE", "verify-full"}, {"PGSSLROOTCERT", server_->other_ca()}}));
  EXPECT_EQ(out.status, 1) << out.output << Log();
  EXPECT_NE(Log().find("certificate verify failed"), std::string::npos) << Log();
}

// A password file libpq cannot use is its warning at most, never the end of the program.
TEST_F(TlsCliTest, PasswordFileIsReadAsLibpqReadsItWhateverItsSize) {
  const std::string source = MakeDatabase();
  std::string big(2 << 20, '#');
  big += "\nlocalhost:" + std::to_string(server_->port()) +
         ":*:postgres:" + testing::TlsServer::kPassword + "\n";
  WriteTextFile(dir_.File(".pgpass"), big);
  ASSERT_EQ(::chmod(dir_.File(".pgpass").c_str(), 0600), 0);
  const std::string url = Url("tls_pgpass", "sslmode=verify-full&sslrootcert=" + server_->ca());
  Outcome out = Run({"convert", source, "--to", url}, Plain({{"PGPASSWORD", std::nullopt}}));
  EXPECT_EQ(out.status, 0) << out.output << Log();
  EXPECT_EQ(server_->Query("SELECT count(*) FROM \"Customers\"", "tls_pgpass"), "3\n");

  std::filesystem::remove(dir_.File(".pgpass"));
  std::filesystem::create_directory(dir_.File(".pgpass"));
  out = Run({"convert", source, "--to", url}, Plain({{"PGPASSWORD", std::nullopt}}));
  EXPECT_EQ(out.status, 1) << out.output << Log();
  EXPECT_NE(out.output.find("is not a plain file"), std::string::npos) << out.output;
  EXPECT_NE(Log().find("Result: failed"), std::string::npos) << Log();
}

// Found by the parse that connects: a percent-encoded key, a password given twice.
TEST_F(TlsCliTest, PasswordsInAnySpellingNeverReachTheLogTheSettingsOrTheOutput) {
  const std::string source = MakeDatabase();
  const std::string encoded = "tls%20only%2C%20pw";  // kPassword
  const std::string url = Url("tls_odd", "sslmode=verify-full&sslrootcert=" + server_->ca() +
                                             "&password=Wr0ngFirst&pass%77ord=" + encoded);
  Outcome out = Run({"convert", source, "--to", url, "--save-settings", "saved.ini"},
                    Plain({{"PGPASSWORD", std::nullopt}}));
  EXPECT_EQ(out.status, 0) << out.output << Log();
  for (const std::string& place : {out.output, Log(), Read("saved.ini")})
    for (const std::string& secret :
         {std::string(testing::TlsServer::kPassword), encoded, std::string("Wr0ngFirst")})
      EXPECT_EQ(place.find(secret), std::string::npos) << secret << " in:\n" << place;
  EXPECT_NE(Log().find("password='****'"), std::string::npos) << Log();
  EXPECT_NE(Read("saved.ini").find("  destinationsslmode=verify-full\r\n"), std::string::npos)
      << Read("saved.ini");
}

// Whatever standard error is, each failure of the two forms names what failed and the reason
// the server, the reader or the system gave, then where the run's report is; the reason is
// in the log too, and the log keeps the runs before.
TEST_F(CliTest, EveryFailureTellsItsReasonOnStandardError) {
  const std::string source = MakeDatabase();
  WriteTextFile(dir_.File("junk.mdb"), "not an Access file\n");
  MkDirRecurse(dir_.File("locked"));
  // Root may write anywhere but sysfs.
  const std::string unwritable =
      ::geteuid() == 0 ? "/sys/ferrolyte-x.sql" : dir_.File("locked/x.sql");
  if (::geteuid() != 0) ::chmod(dir_.File("locked").c_str(), 0500);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string what, reason;
    Env env = {};
  };
  std::vector<Case> cases = {
      {{"convert", source, "--to", "postgresql://u@127.0.0.1:59999/x"},
       1,
       "cannot connect to the server 127.0.0.1:59999",
       "Connection refused"},
      {{"convert", source, "--dump", dir_.File("no/such/folder.sql")},
       3,
       "cannot write the dump file '" + dir_.File("no/such/folder.sql") + "'",
       "No such file or directory"},
      {{"convert", source, "--dump", dir_.File("locked")},
       3,
       "cannot write the dump file '" + dir_.File("locked") + "'",
       "Is a directory"},
      {{"convert", source, "--dump", unwritable},
       3,
       "cannot write the dump file '" + unwritable + "'",
       "Permission denied"},
      {{"convert", dir_.File("junk.mdb"), "--dump", "x.sql"},
       1,
       "cannot read the source database '" + dir_.File("junk.mdb") + "'",
       "Unrecognized database format"},
      {{"tables", dir_.File("junk.mdb")},
       1,
       "cannot read '" + dir_.File("junk.mdb") + "'",
       "Unrecognized database format"},
  };
  if (const char* port = std::getenv("PGPORT")) {
    const std::string role = "ferro_refused_" + std::to_string(::getpid());
    ASSERT_EQ(Psql("CREATE ROLE " + role + " LOGIN PASSWORD 'right'", dir_.File("r.txt")), 0)
        << Read("r.txt");
    cases.push_back({{"convert", source, "--to",
                      "postgresql://" + role + "@localhost:" + std::string(port) + "/x"},
                     1,
                     "cannot connect to the server localhost:" + std::string(port),
                     "password authentication failed for user \"" + role + "\"",
                     {{"PGPASSWORD", "wrong"}, {"PGPASSFILE", "/nonexistent"}}});
  }
  const std::string report_line = "ferrolyte: the run's report is in " + LogFile() + "\n";
  size_t runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(Join(c.args, " "));
    const SplitOutcome out = RunSplit(c.args, c.env);
    ++runs;
    EXPECT_EQ(out.status, c.status) << out.err;
    EXPECT_EQ(out.out, "");
    const size_t line = out.err.find("ferrolyte: " + c.what + ": ");
    ASSERT_NE(line, std::string::npos) << out.err;
    const std::string told = out.err.substr(line, out.err.find('\n', line) - line);
    EXPECT_NE(told.find(c.reason), std::string::npos) << told;
    EXPECT_EQ(told.find("Error -"), std::string::npos) << told;
    EXPECT_TRUE(out.err.ends_with(report_line)) << out.err;
    EXPECT_NE(Log().find(c.reason), std::string::npos);
    // Each run added its own entries; none replaced the ones before.
    size_t begins = 0;
    for (size_t at = Log().find("\tBegin\r\n"); at != std::string::npos;
         at = Log().find("\tBegin\r\n", at + 1))
      ++begins;
    EXPECT_EQ(begins, runs);
  }
  // The reasons of runs before are still there.
  EXPECT_NE(Log().find("Connection refused"), std::string::npos);
  if (std::getenv("PGPORT"))
    Psql("DROP ROLE ferro_refused_" + std::to_string(::getpid()), dir_.File("d.txt"));
}

TEST_F(CliTest, UnknownStartWordsAreErrorsAndVPrintsTheVersion) {
  const struct {
    std::vector<std::string> args;
    std::string said;
  } cases[] = {
      {{"--verison"}, "ferrolyte: unknown option '--verison'; try 'ferrolyte --help'\n"},
      {{"tabels", "shop.mdb"}, "ferrolyte: unknown word 'tabels'; try 'ferrolyte --help'\n"},
      {{"settings=a.ini", "autorun", "frobnicate"},
       "ferrolyte: unknown word 'frobnicate'; try 'ferrolyte --help'\n"},
      {{"-hide", "/autorn"}, "ferrolyte: unknown word '/autorn'; try 'ferrolyte --help'\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Join(c.args, " "));
    const SplitOutcome out = RunSplit(c.args);
    EXPECT_EQ(out.status, 2);
    EXPECT_EQ(out.err, c.said);
    EXPECT_EQ(out.out, "");
  }
  const SplitOutcome version = RunSplit({"-V"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "Ferrolyte " + ProgramVersion() + "\n");
  EXPECT_FALSE(FileExists(LogFile()));
}

// The end of a run tells each table's rows and time, and --report-json says the same for
// scripts; --quiet leaves only failures; --dump - is the dump on standard output alone.
TEST_F(CliTest, SummaryJsonReportQuietAndDumpToStandardOutput) {
  const std::string source = MakeDatabase();
  SplitOutcome out = RunSplit({"convert", source, "--dump", "shop.sql", "--report-json", "r.json"});
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_NE(out.err.find("table        read  written  errors  seconds\n"), std::string::npos)
      << out.err;
  EXPECT_NE(out.err.find("\nCustomers       3        3       0  "), std::string::npos) << out.err;
  EXPECT_NE(out.err.find("\nOrder Lines     2        2       0  "), std::string::npos) << out.err;
  EXPECT_NE(out.err.find("\ntotal           5        5       0  "), std::string::npos) << out.err;
  EXPECT_TRUE(out.err.ends_with(" rows/s\n")) << out.err;
  nlohmann::json report = nlohmann::json::parse(Read("r.json"));
  EXPECT_EQ(report["exit_status"], 0);
  EXPECT_EQ(report["result"], "completed");
  EXPECT_EQ(report["version"], ProgramVersion());
  EXPECT_EQ(report["destination"]["file"], dir_.File("shop.sql"));
  ASSERT_EQ(report["tables"].size(), 2u);
  EXPECT_EQ(report["tables"][1]["name"], "Order Lines");
  EXPECT_EQ(report["tables"][1]["rows"], 2);
  EXPECT_EQ(report["tables"][1]["result"], "complete");
  EXPECT_LE(report["started"].get<std::string>(), report["ended"].get<std::string>());

  out = RunSplit({"convert", source, "--dump", "quiet.sql", "--quiet"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.err, "");

  // A failure with --quiet: only the failure, and the report says why.
  out = RunSplit({"convert", source, "--dump", dir_.path(), "--quiet", "--report-json", "f.json"});
  EXPECT_EQ(out.status, 3);
  EXPECT_EQ(out.err.find("table "), std::string::npos) << out.err;
  EXPECT_TRUE(out.err.starts_with("ferrolyte: cannot write the dump file")) << out.err;
  report = nlohmann::json::parse(Read("f.json"));
  EXPECT_EQ(report["exit_status"], 3);
  EXPECT_EQ(report["result"], "failed");
  EXPECT_NE(report["reason"].get<std::string>().find("Is a directory"), std::string::npos);
  EXPECT_EQ(report["tables"][0]["result"], "not started");

  // An unreadable source has no outcome yet, and still its report.
  WriteTextFile(dir_.File("junk.mdb"), "junk");
  out = RunSplit({"convert", "junk.mdb", "--dump", "x.sql", "--report-json", "j.json"});
  EXPECT_EQ(out.status, 1);
  report = nlohmann::json::parse(Read("j.json"));
  EXPECT_EQ(report["exit_status"], 1);
  EXPECT_NE(report["reason"].get<std::string>().find("Unrecognized database format"),
            std::string::npos);

  // A run that halts before it starts, too.
  out = RunSplit({"convert", source, "--dump", "x.sql", "--exclude", "Customers", "--exclude",
                  "Order Lines", "--report-json", "n.json"});
  EXPECT_EQ(out.status, 2);
  EXPECT_EQ(nlohmann::json::parse(Read("n.json"))["reason"], "Select at least one table");

  out = RunSplit({"convert", source, "--dump", "-"});
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_FALSE(FileExists(dir_.File("-")));
  EXPECT_EQ(Statements(out.out), Statements(Read("shop.sql")));
  EXPECT_NE(out.err.find("\ntotal "), std::string::npos);
}

// One psql -f on the maintenance database loads the dump whole: the same tables and rows as
// the two-part load of the NOTICE line.
TEST_F(CliTest, DumpLoadsWithOnePsqlAsWithTheTwoParts) {
  if (!std::getenv("PGPORT")) GTEST_SKIP() << "no PostgreSQL test cluster (PGPORT unset)";
  const std::string source = MakeDatabase();
  const std::string one = "ferro one " + std::to_string(::getpid()),
                    two = "ferro_two_" + std::to_string(::getpid());
  ASSERT_EQ(
      Run({"convert", source, "--dump", "one.sql", "--set", "destinationdatabase=" + one}).status,
      0);
  ASSERT_EQ(
      Run({"convert", source, "--dump", "two.sql", "--set", "destinationdatabase=" + two}).status,
      0);
  EXPECT_NE(Read("one.sql").find("\r\n-- NOTICE: At this place you need to connect to the new "
                                 "database and run the rest of the statements.\r\n\\connect \"" +
                                 one + "\"\r\n"),
            std::string::npos);
  Outcome loaded = Execute(
      {"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", "postgres", "-f", dir_.File("one.sql")},
      dir_.File("psql.txt"));
  EXPECT_EQ(loaded.status, 0) << loaded.output;
  const std::string psql = "psql -X -q -v ON_ERROR_STOP=1 -d ";
  const std::string dump = dir_.File("two.sql");
  EXPECT_EQ(std::system(("sed '/^-- NOTICE:/q' " + dump + " | " + psql + "postgres >/dev/null && " +
                         "sed -n '/^-- NOTICE:/,$p' " + dump + " | " + psql + two + " >/dev/null")
                            .c_str()),
            0);
  const std::string digest =
      "SELECT string_agg(format('%s %s', table_name, "
      "(xpath('/row/c/text()', query_to_xml(format('SELECT count(*) AS c FROM %I', table_name), "
      "false, true, '')))[1]::text), ', ' ORDER BY table_name) FROM information_schema.tables "
      "WHERE table_schema = 'public'";
  ASSERT_EQ(Psql(digest, dir_.File("one.txt"), one), 0) << Read("one.txt");
  ASSERT_EQ(Psql(digest, dir_.File("two.txt"), two), 0) << Read("two.txt");
  EXPECT_EQ(Read("one.txt"), "Customers 3, Order Lines 2\n");
  EXPECT_EQ(Read("one.txt"), Read("two.txt"));
  for (const std::string& db : {one, two})
    Psql("DROP DATABASE IF EXISTS \"" + db + "\"", dir_.File("d.txt"));
}

}  // namespace
}  // namespace ferrolyte

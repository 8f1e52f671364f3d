// Runs the built program unattended, in a scratch configuration folder, and checks its log,
// its exit status and (under a PostgreSQL test cluster) that its dump loads.
#include <accesswriter/writer.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/ado.h"
#include "schema/access_scanner.h"
#include "support/errors.h"
#include "support/files.h"
#include "support/status.h"
#include "support/text.h"
#include "testing/parts_database.h"
#include "testing/run_context.h"
#include "testing/temp_dir.h"
#include "wizard/source_check.h"

namespace ferrolyte {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

const std::string kProgram = std::string(FERROLYTE_BINARY_DIR) + "/src/ferrolyte";

struct Outcome {
  int status = -1;
  std::string output;  // standard output and standard error together
};

// Starts a program with the arguments, without a shell; returns its process id.
pid_t Start(const std::vector<std::string>& argv, const std::string& output_file) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int fd = ::open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for the program; its exit status as a shell reports it (128 + a signal's number).
Outcome Wait(pid_t pid, const std::string& output_file) {
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  Outcome outcome;
  outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  outcome.output = ReadTextFile(output_file, "");
  return outcome;
}

// Runs a program with the arguments, without a shell, and waits for it.
Outcome Execute(const std::vector<std::string>& argv, const std::string& output_file) {
  return Wait(Start(argv, output_file), output_file);
}

class AutorunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FileExists(kProgram)) GTEST_SKIP() << "program not built: " << kProgram;
  }
  Outcome Run(std::vector<std::string> args) {
    args.insert(args.begin(), kProgram);
    return Execute(args, dir_.File("output.txt"));
  }
  std::string LogPath() const { return dir_.path() + "/Quorvane/Ferrolyte/ferrolyte.log"; }
  std::string Log() {
    std::string file = LogPath();
    return FileExists(file) ? ReadTextFile(file, "") : "";
  }
  // The messages of the log, time stamps removed, continuation lines kept apart.
  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    for (const std::string& line : Split(Log(), "\r\n"))
      if (line.size() >= 20) lines.push_back(line.substr(20));
    return lines;
  }
  // The lines of the last start only: the log keeps the ones before.
  std::vector<std::string> LastRunLines() {
    std::vector<std::string> lines = LogLines();
    const auto begin = std::find(lines.rbegin(), lines.rend(), "Begin");
    if (begin != lines.rend()) lines.erase(lines.begin(), std::prev(begin.base()));
    return lines;
  }
  std::string WriteSettings(const std::string& source, const std::string& dump,
                            const std::string& tables, const std::string& database) {
    std::string file = dir_.File("job.ini");
    WriteTextFile(file,
                  "[Velkan Ferrolyte]\r\n"
                  "  sourcefilename=" +
                      source +
                      "\r\n"
                      "  destinationmethod=DUMP\r\n"
                      "  destinationdatabase=" +
                      database +
                      "\r\n"
                      "  destinationdumpfilename=" +
                      dump +
                      "\r\n"
                      "  sourcetables[]=" +
                      tables + "\r\n");
    return file;
  }
  std::string MakeDatabase() {
    std::string file = dir_.File("shop.mdb");
    accesswriter::DatabaseWriter db(file);
    accesswriter::Table customers{.name = "Customers"};
    customers.columns.push_back({.name = "Id",
                                 .type = accesswriter::ColumnType::kLong,
                                 .auto_number = accesswriter::AutoNumber::kIncrement});
    customers.columns.push_back(
        {.name = "Name", .type = accesswriter::ColumnType::kText, .size = 50, .required = true});
    customers.columns.push_back({.name = "Notes", .type = accesswriter::ColumnType::kMemo});
    customers.indexes.push_back({.name = "PrimaryKey", .columns = {{"Id"}}, .primary_key = true});
    accesswriter::TableWriter& rows = db.AddTable(customers);
    rows.AddRow({nullptr, "Zoë O'Brien", "line one\r\nline \"two\" \\ back"});
    rows.AddRow({nullptr, "Ånund", nullptr});
    rows.AddRow({nullptr, "Plain", std::string(5000, 'x')});
    accesswriter::Table orders{.name = "Order Lines"};
    orders.columns.push_back({.name = "Line", .type = accesswriter::ColumnType::kLong});
    orders.columns.push_back({.name = "Price", .type = accesswriter::ColumnType::kCurrency});
    orders.columns.push_back({.name = "When", .type = accesswriter::ColumnType::kDateTime});
    accesswriter::TableWriter& lines = db.AddTable(orders);
    lines.AddRow({1, accesswriter::Value::Decimal("12.3400"),
                  accesswriter::Value::Date({.year = 2024, .month = 3, .day = 5, .hour = 14})});
    lines.AddRow({2, accesswriter::Value::Decimal("-0.5"), nullptr});
    db.Finish();
    return file;
  }

  TempDir dir_;
  ScopedEnv appdata_{"APPDATA", dir_.path().c_str()};
};

TEST_F(AutorunTest, AutorunWithoutSettingsIsRefused) {
  Outcome out = Run({"autorun"});
  EXPECT_EQ(out.status, 2);
  std::vector<std::string> log = LogLines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "Begin");
  EXPECT_NE(log[log.size() - 2].find("\"settings\" prarameter."), std::string::npos);
  EXPECT_EQ(log.back(), "End");
  EXPECT_NE(out.output.find("\"settings\" prarameter."), std::string::npos);
}

TEST_F(AutorunTest, MissingSettingsFileIsReported) {
  const std::string file = dir_.File("My Files/absent.ini");
  Outcome out = Run({"settings=" + file, "autorun", "hide"});
  EXPECT_EQ(out.status, 2);
  EXPECT_NE(Log().find("Unable to load ini file: " + file + "\r\n"), std::string::npos);
  EXPECT_EQ(LogLines().back(), "End");
  EXPECT_EQ(out.output.find("Unable"), std::string::npos) << "hide shows no message";
  // But where the report is, as every failed end says.
  EXPECT_EQ(out.output, "ferrolyte: the run's report is in " + LogPath() + "\n");
}

TEST_F(AutorunTest, UnopenableSourceEndsWithTheErrorReport) {
  const std::string settings =
      WriteSettings(dir_.File("missing.mdb"), dir_.File("out.sql"), "\"T\"", "e2e_none");
  Outcome out = Run({"settings=" + settings, "autorun", "hide"});
  EXPECT_EQ(out.status, 1);
  const std::string log = Log();
  EXPECT_NE(log.find("\tError in function 'Form_Load'"), std::string::npos) << log;
  EXPECT_NE(log.find("\tDebug information: Check autorun"), std::string::npos) << log;
  // No window, so no clipboard either.
  EXPECT_EQ(log.find("clipboard"), std::string::npos) << log;
  EXPECT_EQ(LogLines().back(), "End");
  EXPECT_TRUE(out.output.ends_with("ferrolyte: the run's report is in " + LogPath() + "\n"))
      << out.output;
  EXPECT_FALSE(FileExists(dir_.File("out.sql")));
}

// A signal mid-table: the run stops, its report still reaches the log, the dump is left only
// as NAME.incomplete, the run's own folder goes, and the exit status tells which signal it
// was. A closed terminal (SIGHUP) and a reader gone (SIGPIPE) end it as SIGTERM does.
TEST_F(AutorunTest, SignalsStopTheRunWithItsReport) {
  const std::string source = dir_.File("big.mdb");
  constexpr int kRows = 200000;
  {
    accesswriter::DatabaseWriter db(source);
    accesswriter::Table t{.name = "Big"};
    t.columns = {{.name = "N", .type = accesswriter::ColumnType::kLong},
                 {.name = "Label", .type = accesswriter::ColumnType::kText, .size = 40}};
    accesswriter::TableWriter& rows = db.AddTable(t);
    for (int i = 0; i < kRows; ++i) rows.AddRow({i, "row label " + std::to_string(i)});
    db.Finish();
  }
  const std::string dump = dir_.File("big.sql");
  const std::string settings = WriteSettings(source, dump, "\"Big\"", "e2e_signal");
  // The dump is written under a staging name until the run completes.
  auto staged_bytes = [&] {
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
      if (entry.path().filename().string().starts_with("big.sql.incomplete."))
        return static_cast<int64_t>(entry.file_size());
    return int64_t{0};
  };
  struct Case {
    int signal;
    int status;
    int rows_multiple;  // Ctrl+C is seen where events are processed: every 10 rows
  } cases[] = {{SIGINT, 130, 10}, {SIGTERM, 143, 1}, {SIGHUP, 129, 1}, {SIGPIPE, 141, 1}};
  const std::string temp = dir_.File("tmp");
  MkDirRecurse(temp);
  ScopedEnv temp_env("TEMP", temp.c_str());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal);
    std::filesystem::remove(dump + ".incomplete");
    const pid_t pid = Start({kProgram, "settings=" + settings, "autorun", "hide", "clearlog"},
                            dir_.File("output.txt"));
    bool mid_table = false;
    for (int i = 0; i < 120000 && !mid_table; ++i) {
      mid_table = staged_bytes() > (256 << 10);
      if (!mid_table) ::usleep(500);
    }
    ASSERT_TRUE(mid_table) << "the run never reached the table";
    // Stopped, the program takes the signal only when it continues: mid-table, not after.
    ::kill(pid, SIGSTOP);
    ::kill(pid, c.signal);
    ::kill(pid, SIGCONT);
    Outcome out = Wait(pid, dir_.File("output.txt"));
    EXPECT_EQ(out.status, c.status) << Log();
    EXPECT_FALSE(FileExists(dump));
    ASSERT_TRUE(FileExists(dump + ".incomplete"));
    EXPECT_TRUE(ReadTextFile(dump + ".incomplete", "")
                    .ends_with("\r\n-- INCOMPLETE DUMP: stopped on request\r\n"));
    std::vector<std::string> log = LogLines();
    auto partial = std::find_if(log.begin(), log.end(), [](const std::string& line) {
      return line.starts_with("Big: partial (");
    });
    ASSERT_NE(partial, log.end()) << Log();
    const long moved = std::stol(partial->substr(14));
    EXPECT_GT(moved, 0);
    EXPECT_LT(moved, kRows);
    EXPECT_EQ(moved % c.rows_multiple, 0) << *partial;
    EXPECT_EQ(*partial, "Big: partial (" + std::to_string(moved) + " of " + std::to_string(kRows) +
                            " records): stopped on request");
    EXPECT_EQ(log.back(), "End");
    EXPECT_TRUE(std::filesystem::is_empty(temp));
  }
}

TEST_F(AutorunTest, RunCountIncreasesOnEachStart) {
  for (int i = 1; i <= 2; ++i) {
    Run({"autorun", "hide"});
    std::vector<std::string> log = LastRunLines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], "Run count is " + std::to_string(i));
    // The log keeps every start.
    const std::vector<std::string> all = LogLines();
    EXPECT_EQ(std::count(all.begin(), all.end(), "Begin"), i);
  }
}

TEST_F(AutorunTest, ConversionErrorBlockGivesExitStatus3) {
  const std::string settings = WriteSettings(MakeDatabase(), dir_.File("no/such/folder/out.sql"),
                                             "\"Customers\"", "e2e_error");
  Outcome out = Run({"settings=" + settings, "autorun", "hide"});
  EXPECT_EQ(out.status, 3) << Log();
  EXPECT_NE(Log().find("Error opening dump file: "), std::string::npos);
  EXPECT_EQ(LogLines().back(), "End");
}

// The wizard's source check, the scan and an unattended run, each given the same source
// fields, must agree: all open the file, or all refuse it with the provider's number and text.
TEST_F(AutorunTest, SourcePasswordIsJudgedAlikeByTheWizardTheScanAndTheRun) {
  ScopedEnv temp("TEMP", dir_.path().c_str());
  auto write = [&](const std::string& name, accesswriter::Format format,
                   const std::string& password, bool encrypt = false) {
    return testing::WritePartsDatabase(dir_.File(name), format, password, encrypt);
  };
  const std::string mdb = write("locked.mdb", accesswriter::Format::kJet4, "Geheim9");
  const std::string accdb = write("locked.accdb", accesswriter::Format::kAce12, "Geheim9");
  const std::string encrypted =
      write("encrypted.accdb", accesswriter::Format::kAce12, "Geheim9", true);
  const std::string workgroup = write("system.mdw", accesswriter::Format::kJet4, "");
  const std::string odd_mdb = write("lo;ck{1}[1].mdb", accesswriter::Format::kJet4, "Ge;h}e{m 9");
  const std::string odd_accdb =
      write("en;cr}ypted[1].accdb", accesswriter::Format::kAce12, " p;w}{x", true);
  const long written = testing::kPartsRows;

  struct Case {
    std::string file, system_db, password, table;
    long rows;  // -1: refused
  };
  std::vector<Case> cases = {
      {mdb, "", "Geheim9", "Parts", written},
      {mdb, "", "geheim9", "Parts", -1},
      {mdb, "", "", "Parts", -1},
      {mdb, "", "Geheim9x", "Parts", -1},
      // Spaces around a password are part of it.
      {mdb, "", " Geheim9 ", "Parts", -1},
      // Separators and braces in the path and the password.
      {odd_mdb, "", "Ge;h}e{m 9", "Parts", written},
      {odd_mdb, "", "Ge;h}e{m", "Parts", -1},
      {odd_accdb, "", " p;w}{x", "Parts", written},
      {odd_accdb, "", "p;w}{x", "Parts", -1},
      // A workgroup file does not apply to an .accdb; its database password still does.
      {accdb, workgroup, "Geheim9", "Parts", written},
      {accdb, workgroup, "Geheim9x", "Parts", -1},
      {encrypted, "", "Geheim9", "Parts", written},
      {encrypted, "", "geheim9", "Parts", -1},
      {encrypted, "", "", "Parts", -1},
  };
  const std::string agile =
      std::string(FERROLYTE_SOURCE_DIR) + "/../shared/access/ace14-v2010-password.accdb";
  if (FileExists(agile)) {
    cases.push_back({agile, "", "password", "Table1", 3});
    cases.push_back({agile, "", "Password", "Table1", -1});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " with '" + c.password + "'" +
                 (c.system_db.empty() ? "" : " and a workgroup file"));
    const bool opens = c.rows >= 0;
    const std::string refusal = "Not a valid password.";

    std::string error_text, help_address;
    EXPECT_EQ(ValidateSource(c.file, c.system_db, "admin", c.password, testing::TestComponents(),
                             error_text, help_address),
              opens);
    if (!opens) {
      EXPECT_EQ(error_text, "Unable to open the source database.\r\nError " +
                                std::to_string(kAdoInvalidPassword) + ": " + refusal);
    }

    Error scanned(0, "no error raised");
    try {
      RecordingStatus status;
      ScanAccessDatabase(c.file, c.password, "admin", c.system_db, testing::ContextFor(status));
    } catch (const Error& e) {
      scanned = e;
    }
    EXPECT_EQ(scanned.number(), opens ? 0 : kAdoInvalidPassword) << scanned.description();
    if (!opens) {
      EXPECT_EQ(scanned.description(), refusal);
    }

    const std::string dump = dir_.File("out.sql");
    const std::string settings = dir_.File("job[1].ini");
    std::string ini = "[Velkan Ferrolyte]\r\n";
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"sourcefilename", c.file},
             {"sourcesystemdatabase", c.system_db},
             {"sourceusername", "admin"},
             // Quoted, or the settings file would drop its spaces.
             {"sourcepassword", "\"" + c.password + "\""},
             {"destinationmethod", "DUMP"},
             {"destinationdatabase", "e2e_password"},
             {"destinationdumpfilename", dump},
             {"sourcetables[]", "\"" + c.table + "\""}})
      ini += "  " + key + "=" + value + "\r\n";
    WriteTextFile(settings, ini);
    Outcome out = Run({"settings=" + settings, "autorun", "hide"});
    std::vector<std::string> log = LastRunLines();
    if (opens) {
      EXPECT_EQ(out.status, 0) << Log();
      const std::string text = FileExists(dump) ? ReadTextFile(dump, "") : "";
      long inserted = 0;
      for (const std::string& line : Split(text, "\r\n"))
        inserted += line.starts_with("INSERT INTO \"" + c.table + "\" ");
      EXPECT_EQ(inserted, c.rows) << Log();
    } else {
      EXPECT_EQ(out.status, 1) << Log();
      EXPECT_NE(std::find(log.begin(), log.end(), "Error: " + NumberWithHex(kAdoInvalidPassword)),
                log.end())
          << Log();
      EXPECT_NE(std::find(log.begin(), log.end(), "Reason: " + refusal), log.end()) << Log();
      EXPECT_EQ(std::find(log.begin(), log.end(), "Moving data to destination"), log.end())
          << Log();
      EXPECT_FALSE(FileExists(dump)) << ReadTextFile(dump, "");
    }
    std::filesystem::remove(dump);
  }
}

// A settings path names one plain file: a pipe, a device or a folder is refused before it is
// read (a pipe would block, a device never ends), and so is a file too large to be settings.
TEST_F(AutorunTest, SettingsThatAreNotAPlainFileEndWithStatus2) {
  ASSERT_EQ(::mkfifo(dir_.File("pipe.ini").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(dir_.File("folder.ini").c_str(), 0700), 0);
  WriteTextFile(dir_.File("huge.ini"), "[Velkan Ferrolyte]\r\n");
  ASSERT_EQ(::truncate(dir_.File("huge.ini").c_str(), 17 * 1024 * 1024), 0);
  struct Case {
    std::string path, reason;
  } cases[] = {
      {dir_.File("pipe.ini"), "not a regular file"},
      {dir_.File("folder.ini"), "not a regular file"},
      {"/dev/zero", "not a regular file"},
      {dir_.File("huge.ini"), "larger than 16 MB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Outcome out = Run({"settings=" + c.path, "autorun"});
    EXPECT_EQ(out.status, 2) << out.output;
    EXPECT_NE(out.output.find(c.reason), std::string::npos) << out.output;
    EXPECT_NE(Log().find(c.reason), std::string::npos) << Log();
  }
}

// The schema's file copy lives in a folder of the run's own: nothing planted in the shared
// temp folder is followed or needed, and nothing is left there after the run.
TEST_F(AutorunTest, SchemaFileNeitherFollowsPlantedNamesNorOutlivesTheRun) {
  const std::string source = MakeDatabase();
  const std::string victim = dir_.File("victim.txt");
  for (const bool as_link : {true, false}) {
    SCOPED_TRACE(as_link ? "symbolic link" : "folder");
    TempDir temp;
    ScopedEnv env("TEMP", temp.path().c_str());
    WriteTextFile(victim, "keep");
    const std::string planted = temp.File("access.xml");
    ASSERT_EQ(as_link ? ::symlink(victim.c_str(), planted.c_str()) : ::mkdir(planted.c_str(), 0755),
              0);
    const std::string settings =
        WriteSettings(source, dir_.File("out.sql"), "\"Customers\"", "e2e_private");
    Outcome out = Run({"settings=" + settings, "autorun", "hide"});
    EXPECT_EQ(out.status, 0) << Log();
    EXPECT_EQ(ReadTextFile(victim, ""), "keep");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(temp.path()))
      left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"access.xml"});
  }
}

// psql with the test cluster's connection from the environment; returns the exit status.
int Psql(const std::string& database, const std::vector<std::string>& args,
         const std::string& output_file) {
  std::vector<std::string> argv = {"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", database};
  argv.insert(argv.end(), args.begin(), args.end());
  return Execute(argv, output_file).status;
}

// A name Access allows with CR LF in it: the selection, the listing and the run read the same
// name, so every table arrives.
TEST_F(AutorunTest, TableNamedWithALineBreakIsSelectedByStarAndConverted) {
  const std::string source = dir_.File("breaks.mdb");
  {
    accesswriter::DatabaseWriter db(source);
    for (const char* name : {"Line\r\nBreak", "Plain"}) {
      accesswriter::Table t{.name = name};
      t.columns.push_back({.name = "Id", .type = accesswriter::ColumnType::kLong});
      db.AddTable(t).AddRow({7});
    }
    db.Finish();
  }
  const std::string dump = dir_.File("breaks.sql");
  Outcome out = Run({"settings=" + WriteSettings(source, dump, "*", "breaks"), "autorun"});
  ASSERT_EQ(out.status, 0) << out.output << Log();
  const std::string text = ReadTextFile(dump, "");
  EXPECT_NE(text.find("CREATE TABLE \"Line\r\nBreak\""), std::string::npos) << text;
  EXPECT_NE(text.find("CREATE TABLE \"Plain\""), std::string::npos) << text;
  EXPECT_EQ(Log().find("Not in the source database"), std::string::npos) << Log();
}

TEST_F(AutorunTest, DumpOfAWriterMadeDatabaseLoadsIntoPostgres) {
  const std::string database = "ferrolyte_e2e_" + std::to_string(::getpid());
  const std::string dump = dir_.File("shop dump.sql");
  const std::string settings =
      WriteSettings(MakeDatabase(), dump,
                    // Every table with every field, as the wizard writes it with all ticked.
                    "\"Customers\",\"Customers\\Id\",\"Customers\\Name\",\"Customers\\Notes\","
                    "\"Order Lines\",\"Order Lines\\Line\",\"Order Lines\\Price\","
                    "\"Order Lines\\When\"",
                    database);
  Outcome out = Run({"settings=" + settings, "autorun", "unittest"});
  ASSERT_EQ(out.status, 0) << out.output << Log();
  EXPECT_NE(Log().find("\t  Transfer completed\r\n"), std::string::npos);
  EXPECT_EQ(LogLines().back(), "End");
  ASSERT_TRUE(FileExists(dump));

  if (!std::getenv("PGPORT")) GTEST_SKIP() << "no PostgreSQL test cluster (PGPORT unset)";
  const std::string text = ReadTextFile(dump, "");
  const size_t notice = text.find("-- NOTICE:");
  ASSERT_NE(notice, std::string::npos);
  WriteTextFile(dir_.File("part1.sql"), text.substr(0, notice));
  WriteTextFile(dir_.File("part2.sql"), text.substr(notice));
  const std::string maintenance =
      std::getenv("PGDATABASE") ? std::getenv("PGDATABASE") : "postgres";
  Psql(maintenance, {"-c", "DROP DATABASE IF EXISTS \"" + database + "\""}, dir_.File("p0.txt"));
  ASSERT_EQ(Psql(maintenance, {"-f", dir_.File("part1.sql")}, dir_.File("p1.txt")), 0)
      << ReadTextFile(dir_.File("p1.txt"), "");
  int loaded = Psql(database, {"-f", dir_.File("part2.sql")}, dir_.File("p2.txt"));
  std::string p2 = ReadTextFile(dir_.File("p2.txt"), "");
  int queried = Psql(database,
                     {"-tA", "-c",
                      "SELECT string_agg(\"Name\" || '|' || coalesce(length(\"Notes\"), -1), ';' "
                      "ORDER BY \"Id\") FROM \"Customers\"; "
                      "SELECT string_agg((\"Price\" * 100)::bigint::text, ';' ORDER BY \"Line\") "
                      "FROM \"Order Lines\";"},
                     dir_.File("q.txt"));
  std::string rows = ReadTextFile(dir_.File("q.txt"), "");
  Psql(maintenance, {"-c", "DROP DATABASE IF EXISTS \"" + database + "\""}, dir_.File("p3.txt"));
  ASSERT_EQ(loaded, 0) << p2;
  ASSERT_EQ(queried, 0) << rows;
  EXPECT_EQ(rows, "Zoë O'Brien|27;Ånund|-1;Plain|5000\n1234;-50\n");
}

TEST_F(AutorunTest, DirectTransferFillsTheServer) {
  for (const char* var : {"PGHOST", "PGPORT", "PGUSER", "PGPASSWORD"})
    if (!std::getenv(var)) GTEST_SKIP() << "no PostgreSQL test cluster (" << var << " unset)";
  const std::string database = "ferrolyte_direct_" + std::to_string(::getpid());
  const std::string settings = dir_.File("direct.ini");
  WriteTextFile(settings,
                "[Velkan Ferrolyte]\r\n"
                "  sourcefilename=" +
                    MakeDatabase() +
                    "\r\n"
                    "  destinationmethod=DIRECT\r\n"
                    "  destinationserver=" +
                    std::getenv("PGHOST") +
                    "\r\n"
                    "  destinationport=" +
                    std::getenv("PGPORT") +
                    "\r\n"
                    "  destinationusername=" +
                    std::getenv("PGUSER") +
                    "\r\n"
                    "  destinationpassword=" +
                    std::getenv("PGPASSWORD") +
                    "\r\n"
                    "  destinationdatabase=" +
                    database +
                    "\r\n"
                    "  dropdatabase=1\r\n"
                    "  sourcetables[]=\"Customers\",\"Customers\\Id\",\"Customers\\Name\","
                    "\"Customers\\Notes\"\r\n");
  Outcome out = Run({"settings=" + settings, "autorun", "hide"});
  EXPECT_EQ(out.status, 0) << out.output << Log();
  int queried =
      Psql(database, {"-tA", "-c", "SELECT count(*) FROM \"Customers\""}, dir_.File("q.txt"));
  std::string rows = ReadTextFile(dir_.File("q.txt"), "");
  Psql("postgres", {"-c", "DROP DATABASE IF EXISTS \"" + database + "\""}, dir_.File("d.txt"));
  ASSERT_EQ(queried, 0) << rows;
  EXPECT_EQ(rows, "3\n");

  // The same run against a port nobody listens on ends with the error block, and status 1:
  // nothing was done at the server.
  WriteTextFile(settings, ReplaceAll(ReadTextFile(settings, ""),
                                     std::string("destinationport=") + std::getenv("PGPORT"),
                                     "destinationport=1"));
  out = Run({"settings=" + settings, "autorun", "hide"});
  EXPECT_EQ(out.status, 1) << Log();
  EXPECT_NE(Log().find("Error connecting to destination database."), std::string::npos);
}

}  // namespace
}  // namespace ferrolyte

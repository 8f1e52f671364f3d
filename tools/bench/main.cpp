// Measures a conversion side by side with the limits around it, on the same files:
//   (a) libmdb fetching every row and touching every value (the reader's limit)
//   (b) our dump run            (c) mdb-export -I postgres
//   (d) our direct run          (e) psql replaying the same INSERTs, one per round trip
//   (f) COPY of the same rows (the server's ingest limit)
//   (g) the schema scan of a database of many small tables
// and the peak memory of the dump run at two table sizes. scripts/bench.sh builds the
// inputs and runs this under pg_virtualenv; the server parts use PGHOST, PGPORT, PGUSER,
// PGPASSWORD and PGDATABASE.
#include <glib.h>
// glib first: mdbtools.h needs it
#include <mdbtools.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "schema/access_scanner.h"
#include "shell/status.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

[[noreturn]] void Fail(const std::string& why) {
  std::cerr << "ferrolyte-bench: " << why << "\n";
  std::exit(1);
}

double CpuSeconds(const rusage& u) {
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double SelfCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return CpuSeconds(u);
}

struct Child {
  double seconds = 0;
  double cpu = 0;     // user + system time of the child
  long peak_kb = 0;  // maximum resident set of the child
};

// Runs the command (through /bin/sh) as a child and measures its wall time and peak memory.
Child RunChild(const std::string& command) {
  Child c;
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid < 0) Fail("fork failed");
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) < 0) Fail("wait4 failed");
  c.seconds = Since(start);
  c.peak_kb = usage.ru_maxrss;
  c.cpu = CpuSeconds(usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("command failed: " + command);
  return c;
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) Fail("popen failed: " + command);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (pclose(p) != 0) Fail("command failed: " + command);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct TableShape {
  std::string name;
  std::vector<std::string> columns;
};

// (a): every row fetched, every bound value read, as a reader of this library must.
double LibmdbLoop(const std::string& path, const std::string& table_name, long& rows,
                  TableShape& shape, double* cpu = nullptr) {
  auto start = Clock::now();
  double cpu_start = SelfCpu();
  MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (!mdb || !mdb_read_catalog(mdb, MDB_TABLE)) Fail("libmdb cannot open " + path);
  MdbTableDef* table = mdb_read_table_by_name(mdb, const_cast<gchar*>(table_name.c_str()),
                                              MDB_TABLE);
  if (!table) Fail("no table " + table_name);
  mdb_read_columns(table);
  mdb_rewind_table(table);
  const unsigned n = table->num_cols;
  std::vector<char*> values(n);
  std::vector<int> lengths(n);
  shape.name = table_name;
  for (unsigned i = 0; i < n; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    shape.columns.push_back(col->name);
    values[i] = static_cast<char*>(g_malloc0(MDB_BIND_SIZE));
    mdb_bind_column(table, static_cast<int>(i + 1), values[i], &lengths[i]);
  }
  unsigned long touched = 0;
  rows = 0;
  while (mdb_fetch_row(table)) {
    for (unsigned i = 0; i < n; ++i)
      for (int k = 0; k < lengths[i]; ++k) touched += static_cast<unsigned char>(values[i][k]);
    ++rows;
  }
  for (char* v : values) g_free(v);
  mdb_free_tabledef(table);
  mdb_close(mdb);
  double s = Since(start);
  if (cpu) *cpu = SelfCpu() - cpu_start;
  if (touched == 0 && rows > 0) Fail("no values read");
  return s;
}

// The settings of an unattended run of every column of the table.
void WriteSettings(const std::string& ini, const std::string& source, const TableShape& shape,
                   const std::string& method, const std::string& target) {
  std::ostringstream list;
  list << '"' << shape.name << '"';
  for (const auto& c : shape.columns) list << ",\"" << shape.name << '\\' << c << '"';
  std::ofstream out(ini, std::ios::binary);
  out << "[Velkan Ferrolyte]\r\n  sourcefilename=" << source << "\r\n  destinationmethod="
      << method << "\r\n  destinationdatabase=" << target << "\r\n";
  if (method == "DUMP") {
    out << "  destinationdumpfilename=" << target << ".sql\r\n";
  } else {
    out << "  destinationserver=" << Env("PGHOST", "localhost")
        << "\r\n  destinationport=" << Env("PGPORT", "5432")
        << "\r\n  destinationusername=" << Env("PGUSER", "postgres")
        << "\r\n  destinationpassword=" << Env("PGPASSWORD", "")
        << "\r\n  maintenancedb=" << Env("PGDATABASE", "postgres") << "\r\n  dropdatabase=1\r\n";
  }
  out << "  sourcetables[]=" << list.str() << "\r\n";
}

// The "-- N records" line our dump ends the table with.
long DumpedRecords(const std::string& dump) {
  std::string n = Output("grep -a -m1 -E '^-- [0-9]+ records' " + ShellQuote(dump) +
                         " | cut -d' ' -f2");
  return n.empty() ? -1 : std::stol(n);
}

class QuietStatus : public ferrolyte::StatusOutput {
 public:
  void AddStatusLine(const std::string&) override {}
  void WriteLog(const std::string&) override {}
  void SetProgressRange(const std::string&, int64_t, int64_t) override {}
  void SetProgress(const std::string&, int64_t) override {}
  void ProcessEvents() override {}
};

struct Figure {
  std::string label;
  double rows = 0, seconds = 0;
  double cpu = 0;  // of our side only; 0 when not measured
  double rate() const { return seconds > 0 ? rows / seconds : 0; }
  double cpu_rate() const { return cpu > 0 ? rows / cpu : 0; }
};

// Wall-clock rate and ratio; on a loaded machine the CPU-time rate is the steadier one.
void Print(const Figure& f, const Figure* base, const char* base_name) {
  std::printf("  %-44s %8.0f rows %7.2f s %9.0f rows/s", f.label.c_str(), f.rows, f.seconds,
              f.rate());
  if (base && base->rate() > 0)
    std::printf(" %6.2fx %s", f.rate() / base->rate(), base_name);
  if (f.cpu > 0) {
    std::printf(" | cpu %6.2f s %9.0f rows/s", f.cpu, f.cpu_rate());
    if (base && base->cpu > 0) std::printf(" %6.2fx", f.cpu_rate() / base->cpu_rate());
  }
  std::printf("\n");
}

int Main(int argc, char** argv) {
  std::map<std::string, std::string> opt;
  for (int i = 1; i + 1 < argc; i += 2) opt[argv[i]] = argv[i + 1];
  for (const char* k : {"--ferrolyte", "--rows-file", "--small-file", "--tables-file", "--work"})
    if (!opt.count(k)) Fail(std::string("missing ") + k);
  const std::string ferrolyte = opt["--ferrolyte"], big = opt["--rows-file"],
                    small = opt["--small-file"], tables = opt["--tables-file"],
                    work = opt["--work"];
  const bool server = opt.count("--no-server") == 0;
  const std::string env = "APPDATA=" + ShellQuote(work) + " ";
  chdir(work.c_str());

  long big_rows = 0, small_rows = 0;
  TableShape shape, small_shape;
  // Warm the page cache so that the first reader does not pay for the disk.
  RunChild("cat " + ShellQuote(big) + " " + ShellQuote(small) + " >/dev/null");
  Figure a{"(a) libmdb fetch of every row and value"};
  a.seconds = LibmdbLoop(big, "Bench", big_rows, shape, &a.cpu);
  a.rows = static_cast<double>(big_rows);
  LibmdbLoop(small, "Bench", small_rows, small_shape);

  WriteSettings(work + "/dump.ini", big, shape, "DUMP", work + "/big");
  Child dump = RunChild(env + ShellQuote(ferrolyte) + " settings=" + work + "/dump.ini autorun");
  long dumped = DumpedRecords(work + "/big.sql");
  if (dumped != big_rows) Fail("the dump holds " + std::to_string(dumped) + " records");
  Figure b{"(b) ferrolyte dump run", static_cast<double>(big_rows), dump.seconds, dump.cpu};

  Child export_run = RunChild("mdb-export -I postgres " + ShellQuote(big) +
                              " Bench >" + ShellQuote(work + "/mdb-export.sql"));
  Figure c{"(c) mdb-export -I postgres", static_cast<double>(big_rows), export_run.seconds,
           export_run.cpu};

  WriteSettings(work + "/small.ini", small, small_shape, "DUMP", work + "/small");
  Child small_dump =
      RunChild(env + ShellQuote(ferrolyte) + " settings=" + work + "/small.ini autorun");
  if (DumpedRecords(work + "/small.sql") != small_rows) Fail("the small dump is incomplete");

  Figure g{"(g) schema scan, tables"};
  {
    QuietStatus quiet;
    auto start = Clock::now();
    double cpu_start = SelfCpu();
    auto doc = ferrolyte::ScanAccessDatabase(tables, "", "", "", quiet);
    g.seconds = Since(start);
    g.cpu = SelfCpu() - cpu_start;
    g.rows = static_cast<double>(doc->select_nodes("*/Tables/Table").size());
  }

  Figure d{"(d) ferrolyte direct run"}, e{"(e) psql, same INSERTs, one per round trip"},
      f{"(f) COPY of the same rows"};
  double d_cpu = 0;
  if (server) {
    const std::string db = "ferrolyte_bench";
    const std::string psql = "psql -X -q -v ON_ERROR_STOP=1 -d " + db;
    WriteSettings(work + "/direct.ini", small, small_shape, "DIRECT", db);
    Child direct =
        RunChild(env + ShellQuote(ferrolyte) + " settings=" + work + "/direct.ini autorun");
    long arrived = std::stol(Output(psql + " -At -c 'SELECT COUNT(*) FROM \"Bench\"'"));
    if (arrived != small_rows) Fail("the direct run left " + std::to_string(arrived) + " rows");
    d = {d.label, static_cast<double>(small_rows), direct.seconds};
    d_cpu = direct.cpu;

    RunChild("grep -a '^INSERT INTO ' " + ShellQuote(work + "/small.sql") + " >" +
             ShellQuote(work + "/inserts.sql"));
    RunChild(psql + " -c 'TRUNCATE \"Bench\"'");
    Child replay = RunChild(psql + " -f " + ShellQuote(work + "/inserts.sql"));
    arrived = std::stol(Output(psql + " -At -c 'SELECT COUNT(*) FROM \"Bench\"'"));
    if (arrived != small_rows) Fail("psql left " + std::to_string(arrived) + " rows");
    e = {e.label, static_cast<double>(small_rows), replay.seconds};

    RunChild(psql + " -c '\\copy \"Bench\" TO " + work + "/bench.copy'");
    RunChild(psql + " -c 'TRUNCATE \"Bench\"'");
    Child copy = RunChild(psql + " -c '\\copy \"Bench\" FROM " + work + "/bench.copy'");
    f = {f.label, static_cast<double>(small_rows), copy.seconds};
  }

  std::printf("\nTable \"Bench\": 10 mixed columns. Dump figures: %ld rows", big_rows);
  if (server)
    std::printf("; server figures: %ld rows (fsync %s, default settings)", small_rows,
                Output("psql -X -At -d ferrolyte_bench -c 'SHOW fsync'").c_str());
  std::printf(".\n\nReading and dump output (ratio to (a)):\n");
  Print(a, &a, "(a)");
  Print(b, &a, "(a)");
  Print(c, &a, "(a)");
  std::printf("  dump run vs mdb-export: %.2fx wall, %.2fx cpu (target 1.5x); vs (a): %.0f%% wall, "
              "%.0f%% cpu (target 70%%)\n",
              b.rate() / c.rate(), b.cpu_rate() / c.cpu_rate(), 100 * b.rate() / a.rate(),
              100 * b.cpu_rate() / a.cpu_rate());
  if (server) {
    std::printf("\nInto the server (ratio to (f)), %ld rows:\n", small_rows);
    Print(d, &f, "(f)");
    Print(e, &f, "(f)");
    Print(f, &f, "(f)");
    std::printf("  direct run vs psql one per round trip: %.2fx (target 3x); the direct run's own "
                "cpu: %.2f s\n",
                d.rate() / e.rate(), d_cpu);
  }
  std::printf("\nSchema scan:\n  (g) %.0f tables in %.3f s (cpu %.3f s), %.0f tables/s (target under "
              "1 s)\n",
              g.rows, g.seconds, g.cpu, g.rate());
  std::printf("\nPeak memory of the dump run (maximum resident set):\n");
  std::printf("  %9ld rows: %6.1f MB\n  %9ld rows: %6.1f MB (target under 64 MB, flat)\n",
              small_rows, small_dump.peak_kb / 1024.0, big_rows, dump.peak_kb / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return Main(argc, argv); }

// Measures a conversion side by side with the limits around it and with the pipeline a user
// would pick instead, on the same files:
//   (a) libmdb fetching every row and touching every value (the reader's limit)
//   (b) our dump run, INSERT form   (b2) the same, COPY form   (c) mdb-export -I postgres
// and, into the server, from the Access file to committed rows:
//   (p) the peer pipeline: mdb-schema for the table, mdb-export CSV piped into psql \copy
//   (f) psql \copy of the same rows from a CSV file prepared beforehand (the server's limit)
//   (d) our direct run                (h) our COPY-form dump written, then loaded with psql
//   (r) our reader and COPY fields straight into libpq COPY chunks, without the run around
//       them (what the direct path can reach), and the same in one COPY
//   (g) the schema scan of a database of many small tables
// and the peak memory of dump and direct runs at two table sizes. scripts/bench.sh builds the
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

#include "conversion/copy_chunks.h"
#include "conversion/copy_text.h"
#include "conversion/literals.h"
#include "conversion/typed_row.h"
#include "platform/ado.h"
#include "platform/pg_connection.h"
#include "platform/register.h"
#include "platform/source_connection.h"
#include "schema/access_scanner.h"
#include "support/errors.h"
#include "support/safe.h"
#include "support/status.h"

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
  double cpu = 0;    // user + system time of the child
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
  MdbTableDef* table =
      mdb_read_table_by_name(mdb, const_cast<gchar*>(table_name.c_str()), MDB_TABLE);
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

// The settings of an unattended run of every column of the table. `target` is the dump file
// (DUMP) or nothing (DIRECT).
void WriteSettings(const std::string& ini, const std::string& source, const TableShape& shape,
                   const std::string& method, const std::string& database,
                   const std::string& target = "", const std::string& dump_format = "") {
  std::ostringstream list;
  list << '"' << shape.name << '"';
  for (const auto& c : shape.columns) list << ",\"" << shape.name << '\\' << c << '"';
  std::ofstream out(ini, std::ios::binary);
  out << "[Velkan Ferrolyte]\r\n  sourcefilename=" << source << "\r\n  destinationmethod=" << method
      << "\r\n  destinationdatabase=" << database << "\r\n";
  // A dump recreates its database when loaded; a direct run fills one made beforehand, as
  // the peer's is, so that both do the same work.
  out << "  dropdatabase=" << (method == "DUMP" ? 1 : 0) << "\r\n";
  if (method == "DUMP") {
    out << "  destinationdumpfilename=" << target << "\r\n";
    if (!dump_format.empty()) out << "  dumpformat=" << dump_format << "\r\n";
  } else {
    out << "  destinationserver=" << Env("PGHOST", "localhost")
        << "\r\n  destinationport=" << Env("PGPORT", "5432")
        << "\r\n  destinationusername=" << Env("PGUSER", "postgres")
        << "\r\n  destinationpassword=" << Env("PGPASSWORD", "")
        << "\r\n  maintenancedb=" << Env("PGDATABASE", "postgres") << "\r\n";
  }
  out << "  sourcetables[]=" << list.str() << "\r\n";
}

// The "-- N records" line our dump ends the table with.
long DumpedRecords(const std::string& dump) {
  std::string n =
      Output("grep -a -m1 -E '^-- [0-9]+ records' " + ShellQuote(dump) + " | cut -d' ' -f2");
  return n.empty() ? -1 : std::stol(n);
}

bool HasCopyBlock(const std::string& dump) {
  return !Output("grep -a -c '^COPY ' " + ShellQuote(dump) + " || true").starts_with("0");
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
  double cpu = 0;    // of our side only; 0 when not measured
  long peak_kb = 0;  // 0 when not measured
  double rate() const { return seconds > 0 ? rows / seconds : 0; }
  double cpu_rate() const { return cpu > 0 ? rows / cpu : 0; }
};

Figure FromChild(const std::string& label, long rows, const Child& c) {
  return {label, static_cast<double>(rows), c.seconds, c.cpu, c.peak_kb};
}

// Wall-clock rate and ratio; on a loaded machine the CPU-time rate is the steadier one.
void Print(const Figure& f, const Figure* base, const char* base_name) {
  std::printf("  %-50s %8.0f rows %7.2f s %9.0f rows/s", f.label.c_str(), f.rows, f.seconds,
              f.rate());
  if (base && base->rate() > 0) std::printf(" %6.2fx %s", f.rate() / base->rate(), base_name);
  if (f.cpu > 0) {
    std::printf(" | cpu %6.2f s %9.0f rows/s", f.cpu, f.cpu_rate());
    if (base && base->cpu > 0) std::printf(" %6.2fx", f.cpu_rate() / base->cpu_rate());
  }
  std::printf("\n");
}

const char* Verdict(bool met) {
  return met ? "met" : "NOT MET";
}

// Notices ("does not exist, skipping") would only clutter the figures.
std::string Psql(const std::string& db) {
  return "PGOPTIONS='-c client_min_messages=warning' psql -X -q -v ON_ERROR_STOP=1 -d " + db;
}

long CountRows(const std::string& db, const std::string& table) {
  return std::stol(Output(Psql(db) + " -At -c " + ShellQuote("SELECT COUNT(*) FROM " + table)));
}

void ExpectRows(const std::string& db, const std::string& table, long rows,
                const std::string& what) {
  long arrived = CountRows(db, table);
  if (arrived != rows)
    Fail(what + " left " + std::to_string(arrived) + " rows of " + std::to_string(rows));
}

// (r): the rows read through our reader, each value into its COPY field, sent in the chunks a
// direct run cuts (or in one COPY) into the existing table.
Figure ReaderToCopy(const std::string& source, const std::string& db, const std::string& table,
                    bool one_copy) {
  using namespace ferrolyte;
  Figure f{one_copy ? "(r) reader + one COPY of all rows" : "(r) reader + COPY chunks"};
  PgConnection pg(
      {Env("PGHOST", ""), Env("PGPORT", ""), db, Env("PGUSER", ""), Env("PGPASSWORD", ""), {}});
  pg.Execute("TRUNCATE " + table);
  auto start = Clock::now();
  double cpu_start = SelfCpu();
  Connection access;
  access.Open(BuildSourceConnectionString(source, "", "", ""));
  Recordset rs;
  rs.Open(ferrolyte::TableRows("Bench"), access);
  const int n = rs.FieldCount();
  std::vector<int> types;
  for (int i = 0; i < n; ++i) types.push_back(rs.FieldType(i));
  CopyChunks chunks(pg, [&pg](const std::string& insert) { pg.Execute(insert); });
  chunks.StartTable(CopyFromStdin(table, ""), InsertPrefix(table, ""));
  std::vector<ColumnSpec> specs;
  for (int type : types) specs.push_back({KindOfType(type), false, false});
  std::vector<const Value*> values(specs.size());
  long rows = 0;
  for (; !rs.Eof(); rs.MoveNext()) {
    for (int i = 0; i < n; ++i) values[i] = &rs.FieldValue(i);
    chunks.Add({specs, values});
    if (++rows % 10 == 0) {
      if (!one_copy && chunks.ChunkDue()) {
        chunks.Commit();
      } else if (chunks.StreamDue()) {
        chunks.Stream();
      }
    }
  }
  chunks.Commit();
  f.seconds = Since(start);
  f.cpu = SelfCpu() - cpu_start;
  f.rows = static_cast<double>(rows);
  return f;
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
  const std::string program = env + ShellQuote(ferrolyte) + " settings=" + work;
  if (chdir(work.c_str()) != 0) Fail("cannot enter " + work);

  long big_rows = 0, small_rows = 0;
  TableShape shape, small_shape;
  // Warm the page cache so that the first reader does not pay for the disk.
  RunChild("cat " + ShellQuote(big) + " " + ShellQuote(small) + " >/dev/null");
  Figure a{"(a) libmdb fetch of every row and value"};
  a.seconds = LibmdbLoop(big, "Bench", big_rows, shape, &a.cpu);
  a.rows = static_cast<double>(big_rows);
  LibmdbLoop(small, "Bench", small_rows, small_shape);

  // Dumps of both files in both forms; the small COPY dump is loaded below.
  Figure dumps[2][2];  // [small, big][INSERT, COPY]
  bool copy_form = true;
  for (int size = 0; size < 2; ++size) {
    for (int form = 0; form < 2; ++form) {
      const std::string name = std::string(size ? "big" : "small") + (form ? "_copy" : "_insert");
      WriteSettings(work + "/" + name + ".ini", size ? big : small, size ? shape : small_shape,
                    "DUMP", "ferrolyte_" + name, work + "/" + name + ".sql",
                    form ? "COPY" : "INSERT");
      Child run = RunChild(program + "/" + name + ".ini autorun");
      long rows = size ? big_rows : small_rows;
      if (DumpedRecords(work + "/" + name + ".sql") != rows)
        Fail("the dump " + name + " is incomplete");
      if (form == 1 && !HasCopyBlock(work + "/" + name + ".sql")) copy_form = false;
      dumps[size][form] =
          FromChild(std::string("(b") + (form ? "2" : "") + ") ferrolyte dump run, " +
                        (form ? "COPY" : "INSERT") + " form",
                    rows, run);
    }
  }
  const Figure& b = dumps[1][0];
  const Figure& b2 = dumps[1][1];

  Figure c = FromChild("(c) mdb-export -I postgres", big_rows,
                       RunChild("mdb-export -I postgres " + ShellQuote(big) + " Bench >" +
                                ShellQuote(work + "/mdb-export.sql")));

  Figure g{"(g) schema scan, tables"};
  {
    QuietStatus quiet;
    auto start = Clock::now();
    double cpu_start = SelfCpu();
    const ferrolyte::ComponentRegistry components = ferrolyte::PlatformComponents();
    const ferrolyte::CancelToken never{false};
    const ferrolyte::SchemaModel schema = ferrolyte::ScanAccessDatabase(
        tables, "", "", "", {quiet, never, components, ferrolyte::SystemEnv(), "", ""});
    g.seconds = Since(start);
    g.cpu = SelfCpu() - cpu_start;
    g.rows = static_cast<double>(schema.tables.size());
  }

  Figure d, d_big, f, p, h;
  std::vector<Figure> r;
  const std::string maintenance = Env("PGDATABASE", "postgres");
  if (server) {
    const std::string db = "ferrolyte_bench";
    const std::string table = "\"Bench\"";
    RunChild(Psql(maintenance) + " -c 'DROP DATABASE IF EXISTS " + db + "' -c 'CREATE DATABASE " +
             db + "'");
    WriteSettings(work + "/direct.ini", small, small_shape, "DIRECT", db);
    d = FromChild("(d) ferrolyte direct run", small_rows,
                  RunChild(program + "/direct.ini autorun"));
    ExpectRows(db, table, small_rows, "the direct run");

    RunChild(Psql(db) + " -c " + ShellQuote("\\copy " + table + " TO " + work + "/bench.csv CSV"));
    RunChild(Psql(db) + " -c 'TRUNCATE \"Bench\"'");
    f = FromChild("(f) psql \\copy from a prepared CSV file", small_rows,
                  RunChild(Psql(db) + " -c " +
                           ShellQuote("\\copy " + table + " FROM " + work + "/bench.csv CSV")));
    f.cpu = 0;  // psql's own time says nothing about ours
    ExpectRows(db, table, small_rows, "psql \\copy");

    for (bool one_copy : {false, true}) {
      r.push_back(ReaderToCopy(small, db, table, one_copy));
      ExpectRows(db, table, small_rows, "the reader-to-COPY prototype");
    }

    // The peer: its own table from mdb-schema, its rows as CSV (ISO dates, so that the
    // server reads them right) straight into psql.
    const std::string peer_db = "ferrolyte_bench_peer";
    RunChild(Psql(maintenance) + " -c 'DROP DATABASE IF EXISTS " + peer_db +
             "' -c 'CREATE DATABASE " + peer_db + "'");
    p = FromChild("(p) mdb-schema + mdb-export CSV | psql \\copy", small_rows,
                  RunChild("mdb-schema -T Bench " + ShellQuote(small) + " postgres | " +
                           Psql(peer_db) + " >/dev/null && mdb-export -T '%Y-%m-%d %H:%M:%S' " +
                           ShellQuote(small) + " Bench | " + Psql(peer_db) + " -c " +
                           ShellQuote("\\copy bench FROM STDIN WITH (FORMAT csv, HEADER)")));
    p.cpu = 0;
    ExpectRows(peer_db, "bench", small_rows, "the peer pipeline");

    if (copy_form) {
      // Loaded as README says: the part before the NOTICE line, then the rest in the database.
      const std::string dump = ShellQuote(work + "/small_copy.sql");
      Child load = RunChild("sed '/^-- NOTICE:/q' " + dump + " | " + Psql(maintenance) +
                            " >/dev/null && sed -n '/^-- NOTICE:/,$p' " + dump + " | " +
                            Psql("ferrolyte_small_copy") + " >/dev/null");
      ExpectRows("ferrolyte_small_copy", table, small_rows, "the COPY dump");
      const Figure& w = dumps[0][1];
      h = {"(h) COPY dump written + loaded with psql", w.rows, w.seconds + load.seconds, 0};
    }

    WriteSettings(work + "/direct_big.ini", big, shape, "DIRECT", db);
    d_big = FromChild("(d) ferrolyte direct run", big_rows,
                      RunChild(program + "/direct_big.ini autorun"));
    ExpectRows(db, table, big_rows, "the large direct run");
  }

  std::printf("\nTable \"Bench\": 10 mixed columns. Dump figures: %ld rows", big_rows);
  if (server)
    std::printf("; server figures: %ld rows (fsync %s, default settings)", small_rows,
                Output(Psql(maintenance) + " -At -c 'SHOW fsync'").c_str());
  std::printf(".\n\nReading and dump output (ratio to (a)):\n");
  Print(a, &a, "(a)");
  Print(b, &a, "(a)");
  Print(b2, &a, "(a)");
  Print(c, &a, "(a)");
  std::printf(
      "  dump run vs mdb-export: INSERT form %.2fx wall, %.2fx cpu; COPY form %.2fx wall "
      "(goal >= 15x wall)   %s\n",
      b.rate() / c.rate(), b.cpu_rate() / c.cpu_rate(), b2.rate() / c.rate(),
      Verdict(b.rate() >= 15 * c.rate() && b2.rate() >= 15 * c.rate()));
  if (!copy_form)
    std::printf("  (b2): this program writes no COPY blocks yet; the figure is INSERTs\n");
  if (server) {
    std::printf(
        "\nFrom the Access file to rows committed in PostgreSQL, %ld rows (ratio to (p)):\n",
        small_rows);
    Print(p, &p, "(p)");
    Print(f, &p, "(p)");
    Print(d, &p, "(p)");
    if (copy_form) Print(h, &p, "(p)");
    for (const Figure& one : r) Print(one, &p, "(p)");
    std::printf("\nGoals:\n");
    std::printf("  direct run vs peer pipeline:       %6.2fx   (goal >= 3x)    %s\n",
                d.rate() / p.rate(), Verdict(d.rate() >= 3 * p.rate()));
    std::printf("  direct run vs prepared \\copy:      %5.0f%%    (goal >= 50%%)   %s\n",
                100 * d.rate() / f.rate(), Verdict(d.rate() >= 0.5 * f.rate()));
    if (copy_form)
      std::printf("  COPY dump write+load vs peer time: %5.0f%%    (goal <= 50%%)   %s\n",
                  100 * h.seconds / p.seconds, Verdict(h.seconds <= 0.5 * p.seconds));
    else
      std::printf("  COPY dump write+load vs peer time:   n/a    (no COPY-form dump)\n");
    std::printf("  direct run, %ld rows: %.2f s, %.0f rows/s\n", big_rows, d_big.seconds,
                d_big.rate());
  }
  std::printf(
      "\nSchema scan:\n  (g) %.0f tables in %.3f s (cpu %.3f s), %.0f tables/s (target under "
      "1 s)\n",
      g.rows, g.seconds, g.cpu, g.rate());
  std::printf("\nPeak memory (maximum resident set; goal under 64 MB and flat):\n");
  struct Row {
    const char* what;
    long small_kb, big_kb;
    long held_kb;  // what the run may hold by design once the table is large enough
  } memory[] = {{"dump run, INSERT form", dumps[0][0].peak_kb, dumps[1][0].peak_kb, 0},
                {"dump run, COPY form", dumps[0][1].peak_kb, dumps[1][1].peak_kb, 0},
                {"direct run", d.peak_kb, d_big.peak_kb,
                 static_cast<long>(ferrolyte::CopyChunks::kChunkBytes / 1024)}};
  for (const Row& m : memory) {
    if (m.small_kb == 0) continue;
    // A smaller table may not fill a COPY chunk: growth up to one chunk is bounded, not a leak.
    bool met = m.big_kb < 64 * 1024 && m.big_kb - m.small_kb < 8 * 1024 + m.held_kb;
    std::printf("  %-22s %9ld rows: %6.1f MB   %9ld rows: %6.1f MB   %s\n", m.what, small_rows,
                m.small_kb / 1024.0, big_rows, m.big_kb / 1024.0, Verdict(met));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const ferrolyte::Error& e) {
    Fail("error " + std::to_string(e.number()) + ": " + e.description());
  }
}

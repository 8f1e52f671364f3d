// Byte-flip campaign. Writes a two-table Jet 4 database (400 + 50 rows, memos over several
// long-value pages) with the test-database writer, changes one byte of its table-definition,
// data and long-value pages at a time (and a sample of bytes of an encrypted .accdb), converts
// every variant into a dump with the real program, and compares each dump with the intact
// one. The classification rests on the rows found, not on the exit status alone.
//
//   ferrolyte-campaign [--sample N] [--jobs N] [--timeout S] [--mask HEX] [--encrypted N]
//                      [--seed N] [--work DIR] [--program PATH] [--replay PAGE:OFFSET]
//                      [--page N]...
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "campaign_database.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kPageSize = 4096;

struct Options {
  size_t sample = 0;  // 0: every byte
  int jobs = 2;
  double timeout = 30;
  uint8_t mask = 0xFF;
  size_t encrypted = 200;
  unsigned seed = 1;
  fs::path work = fs::temp_directory_path() / "ferrolyte-campaign";
  std::string program = FERROLYTE_PROGRAM;
  std::string replay;
  std::vector<uint32_t> pages;  // only these pages; empty: every damageable page
};

enum class Outcome { kIntact, kRefused, kRefusedQuietly, kChanged, kRowsLost, kCrash, kHang };
constexpr int kOutcomes = 7;
const char* const kOutcomeNames[kOutcomes] = {
    "converted intact", "refused with a reason", "failed without a reason", "values changed",
    "rows lost",        "crash (signal)",        "hang (timeout)"};

// One variant: the byte at `offset` of `file` XORed with `mask`.
struct Variant {
  int file = 0;  // 0 the Jet 4 file, 1 the encrypted one
  size_t offset = 0;
  uint8_t mask = 0xFF;
  std::string page_kind;
};

struct Result {
  Outcome outcome = Outcome::kIntact;
  int exit_status = 0;
  std::string reason;
  bool rows_missing = false;
  // A selected table the scan did not list: its name in the catalogue was changed, and the
  // run passes over a selected name it cannot find.
  bool table_renamed = false;
};

// The rows of a dump by table, in order, and everything else as one text.
struct Dump {
  std::map<std::string, std::vector<std::string>> rows;
  std::string rest;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// `dir` is left out of the text: each run works in a folder of its own.
Dump ParseDump(std::string text, const fs::path& dir) {
  for (size_t at; (at = text.find(dir.string())) != std::string::npos;)
    text.replace(at, dir.string().size(), "@");
  Dump d;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("INSERT INTO \"", 0) == 0) {
      size_t end = line.find('"', 13);
      d.rows[line.substr(13, end == std::string::npos ? 0 : end - 13)].push_back(line);
    } else {
      d.rest += line + "\n";
    }
  }
  return d;
}

// The first reason the run reported: the "Reason:" line of an error block, else a failed
// table of the run's summary.
std::string ReportedReason(const std::string& log) {
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    size_t at = line.find("Reason: ");
    if (at != std::string::npos) return line.substr(at + 8);
  }
  // The run's result section: "Orders: failed (400 of 367 records): 400 records read, ...",
  // "Orders: partial (50 of 205 records): ...".
  std::istringstream again(log);
  while (std::getline(again, line)) {
    if (line.find(": failed: ") != std::string::npos ||
        line.find(": failed (") != std::string::npos ||
        line.find(": partial (") != std::string::npos)
      return line.substr(line.find_first_not_of(" \t"));
  }
  return "";
}

// The pages the campaign damages: definition pages (type 2) and data pages (type 1, of
// tables or of long values).
std::vector<std::pair<uint32_t, std::string>> DamageablePages(const std::string& image) {
  std::vector<std::pair<uint32_t, std::string>> pages;
  for (size_t p = 1; (p + 1) * kPageSize <= image.size(); ++p) {
    const char* page = image.data() + p * kPageSize;
    if (page[0] == 0x02) {
      pages.emplace_back(p, "definition");
    } else if (page[0] == 0x01) {
      pages.emplace_back(p, std::memcmp(page + 4, "LVAL", 4) == 0 ? "long value" : "data");
    }
  }
  return pages;
}

struct Slot {
  fs::path dir;
  pid_t pid = 0;
  Clock::time_point started;
  size_t variant = 0;
};

void WriteSettings(const fs::path& dir, const std::string& password) {
  std::ofstream ini(dir / "job.ini");
  ini << "[Velkan Ferrolyte]\r\n"
      << "  sourcefilename=" << (dir / "source.accdb").string() << "\r\n";
  if (!password.empty()) ini << "  sourcepassword=" << password << "\r\n";
  ini << "  destinationmethod=DUMP\r\n"
      << "  destinationdatabase=campaign\r\n"
      << "  destinationdumpfilename=" << (dir / "out.sql").string() << "\r\n"
      << "  sourcetables[]=\"Customers\",\"Orders\"\r\n";
}

pid_t Start(const Options& options, const fs::path& dir) {
  fs::remove(dir / "out.sql");
  fs::remove_all(dir / "app");
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    setenv("APPDATA", (dir / "app").c_str(), 1);
    std::string settings = "settings=" + (dir / "job.ini").string();
    execl(options.program.c_str(), options.program.c_str(), settings.c_str(), "autorun", "hide",
          "unittest", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

std::string LogOf(const fs::path& dir) {
  std::string text;
  std::error_code ec;
  if (!fs::exists(dir / "app", ec)) return text;
  for (const auto& e : fs::recursive_directory_iterator(dir / "app", ec))
    if (e.path().extension() == ".log") text += ReadFile(e.path());
  return text;
}

Result Classify(int status, bool timed_out, const fs::path& dir, const Dump& intact) {
  Result r;
  if (timed_out) {
    r.outcome = Outcome::kHang;
    return r;
  }
  if (WIFSIGNALED(status)) {
    r.outcome = Outcome::kCrash;
    r.reason = strsignal(WTERMSIG(status));
    return r;
  }
  r.exit_status = WEXITSTATUS(status);
  const Dump dump = ParseDump(ReadFile(dir / "out.sql"), dir);
  for (const auto& [table, rows] : intact.rows) {
    auto it = dump.rows.find(table);
    if (it == dump.rows.end() || it->second.size() < rows.size()) r.rows_missing = true;
  }
  const std::string log = LogOf(dir);
  r.reason = ReportedReason(log);
  for (const auto& [table, rows] : intact.rows)
    if (log.find("  - Reading " + table + "\r\n") == std::string::npos &&
        log.find("  - Reading " + table + "\n") == std::string::npos)
      r.table_renamed = true;
  if (!r.reason.empty()) {
    r.outcome = Outcome::kRefused;
  } else if (r.exit_status != 0) {
    r.outcome = Outcome::kRefusedQuietly;
  } else if (dump.rows == intact.rows && dump.rest == intact.rest) {
    r.outcome = Outcome::kIntact;
  } else if (r.rows_missing) {
    r.outcome = Outcome::kRowsLost;
  } else {
    r.outcome = Outcome::kChanged;
  }
  return r;
}

// Runs every variant, at most options.jobs at a time; results by variant.
std::vector<Result> RunAll(const Options& options, const std::vector<Variant>& variants,
                           const std::vector<std::string>& images,
                           const std::vector<std::string>& passwords,
                           const std::vector<Dump>& intact) {
  std::vector<Result> results(variants.size());
  std::vector<Slot> slots(static_cast<size_t>(options.jobs));
  for (size_t i = 0; i < slots.size(); ++i) {
    slots[i].dir = options.work / ("slot" + std::to_string(i));
    fs::create_directories(slots[i].dir);
  }
  size_t next = 0, done = 0;
  auto last_note = Clock::now();
  while (done < variants.size()) {
    for (Slot& slot : slots) {
      if (slot.pid != 0 || next >= variants.size()) continue;
      const Variant& v = variants[next];
      std::string image = images[v.file];
      image[v.offset] = static_cast<char>(image[v.offset] ^ v.mask);
      std::ofstream(slot.dir / "source.accdb", std::ios::binary | std::ios::trunc) << image;
      WriteSettings(slot.dir, passwords[v.file]);
      slot.variant = next++;
      slot.started = Clock::now();
      slot.pid = Start(options, slot.dir);
    }
    bool any = false;
    for (Slot& slot : slots) {
      if (slot.pid == 0) continue;
      int status = 0;
      pid_t got = waitpid(slot.pid, &status, WNOHANG);
      bool timed_out = false;
      if (got == 0) {
        if (std::chrono::duration<double>(Clock::now() - slot.started).count() < options.timeout)
          continue;
        kill(-slot.pid, SIGKILL);
        waitpid(slot.pid, &status, 0);
        timed_out = true;
      }
      results[slot.variant] =
          Classify(status, timed_out, slot.dir, intact[variants[slot.variant].file]);
      slot.pid = 0;
      ++done;
      any = true;
    }
    if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (Clock::now() - last_note > std::chrono::seconds(30)) {
      std::cerr << done << " of " << variants.size() << " variants run\n";
      last_note = Clock::now();
    }
  }
  return results;
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << a << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--sample")
      o.sample = std::stoul(value());
    else if (a == "--jobs")
      o.jobs = std::max(1, std::stoi(value()));
    else if (a == "--timeout")
      o.timeout = std::stod(value());
    else if (a == "--mask")
      o.mask = static_cast<uint8_t>(std::stoul(value(), nullptr, 16));
    else if (a == "--encrypted")
      o.encrypted = std::stoul(value());
    else if (a == "--seed")
      o.seed = static_cast<unsigned>(std::stoul(value()));
    else if (a == "--work")
      o.work = value();
    else if (a == "--program")
      o.program = value();
    else if (a == "--replay")
      o.replay = value();
    else if (a == "--page")
      o.pages.push_back(static_cast<uint32_t>(std::stoul(value())));
    else {
      std::cerr << "usage: ferrolyte-campaign [--sample N] [--jobs N] [--timeout SECONDS] "
                   "[--mask HEX] [--encrypted N] [--seed N] [--work DIR] [--program PATH] "
                   "[--replay PAGE:OFFSET] [--page N]...\n";
      std::exit(2);
    }
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  fs::create_directories(options.work);
  const fs::path plain = options.work / "campaign.mdb";
  const fs::path encrypted = options.work / "campaign-encrypted.accdb";
  ferrolyte::campaign::WriteCampaignDatabase(plain, false);
  ferrolyte::campaign::WriteCampaignDatabase(encrypted, true);
  const std::vector<std::string> images = {ReadFile(plain), ReadFile(encrypted)};
  const std::vector<std::string> passwords = {"", "campaign"};

  // The intact conversions everything is compared with.
  std::vector<Dump> intact;
  for (size_t f = 0; f < images.size(); ++f) {
    const fs::path base = options.work / ("intact" + std::to_string(f));
    fs::create_directories(base);
    std::ofstream(base / "source.accdb", std::ios::binary | std::ios::trunc) << images[f];
    WriteSettings(base, passwords[f]);
    int status = 0;
    waitpid(Start(options, base), &status, 0);
    intact.push_back(ParseDump(ReadFile(base / "out.sql"), base));
    const auto& rows = intact.back().rows;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || rows.size() != 2 ||
        rows.at("Customers").size() != 400 || rows.at("Orders").size() != 50) {
      std::cerr << "the intact database did not convert with 400 + 50 rows; see " << base << "\n";
      return 1;
    }
  }

  std::vector<Variant> variants;
  std::map<std::string, int> page_kinds;
  for (const auto& [page, kind] : DamageablePages(images[0])) {
    if (!options.pages.empty() &&
        std::find(options.pages.begin(), options.pages.end(), page) == options.pages.end())
      continue;
    ++page_kinds[kind];
    for (size_t b = 0; b < kPageSize; ++b)
      variants.push_back({0, page * kPageSize + b, options.mask, kind});
  }
  const size_t flips = variants.size();
  if (!options.replay.empty()) {
    const size_t colon = options.replay.find(':');
    const size_t offset = std::stoul(options.replay.substr(0, colon)) * kPageSize +
                          std::stoul(options.replay.substr(colon + 1));
    variants = {{0, offset, options.mask, "replay"}};
  } else if (options.sample && options.sample < variants.size()) {
    std::mt19937 random(options.seed);
    std::shuffle(variants.begin(), variants.end(), random);
    variants.resize(options.sample);
    std::sort(variants.begin(), variants.end(),
              [](const Variant& a, const Variant& b) { return a.offset < b.offset; });
  }
  const size_t plain_variants = variants.size();
  if (options.replay.empty()) {
    std::mt19937 random(options.seed + 1);
    for (size_t i = 0; i < options.encrypted; ++i)
      variants.push_back({1, random() % images[1].size(), options.mask, "encrypted"});
  }

  const auto started = Clock::now();
  std::vector<Result> results = RunAll(options, variants, images, passwords, intact);
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

  // Figures: the plain file's flips by outcome and exit status, then the encrypted sample.
  std::array<std::array<size_t, 2>, kOutcomes> counts{};
  std::array<size_t, kOutcomes> encrypted_counts{};
  size_t rows_missing_exit0 = 0, rows_missing_unreported = 0, renamed = 0;
  std::map<std::string, size_t> reasons;
  std::ofstream findings(options.work / "findings.txt");
  for (size_t i = 0; i < variants.size(); ++i) {
    const Result& r = results[i];
    const int outcome = static_cast<int>(r.outcome);
    if (variants[i].file == 1) {
      ++encrypted_counts[outcome];
    } else {
      ++counts[outcome][r.exit_status == 0 ? 0 : 1];
      if (r.rows_missing && r.exit_status == 0 && r.outcome != Outcome::kCrash &&
          r.outcome != Outcome::kHang)
        ++rows_missing_exit0;
      if (r.outcome == Outcome::kRowsLost) ++rows_missing_unreported;
      if (r.outcome == Outcome::kRowsLost && r.table_renamed) ++renamed;
      if (!r.reason.empty()) {
        std::string key = r.reason;
        for (char& ch : key)
          if (ch >= '0' && ch <= '9') ch = '#';
        ++reasons[key];
      }
    }
    if (r.outcome == Outcome::kCrash || r.outcome == Outcome::kHang ||
        r.outcome == Outcome::kRowsLost || r.outcome == Outcome::kRefusedQuietly)
      findings << kOutcomeNames[outcome] << " file " << variants[i].file << " page "
               << variants[i].offset / kPageSize << " offset " << variants[i].offset % kPageSize
               << " mask " << std::hex << int{variants[i].mask} << std::dec << " "
               << (r.table_renamed ? "(a selected table was renamed) " : "") << r.reason << "\n";
  }
  std::printf("Byte-flip campaign: %zu of %zu flips (byte XOR 0x%02X) over %zu pages (",
              plain_variants, flips, options.mask, flips / kPageSize);
  const char* sep = "";
  for (const auto& [kind, n] : page_kinds) {
    std::printf("%s%d %s", sep, n, kind.c_str());
    sep = ", ";
  }
  std::printf(") of a two-table Jet 4 file; %.0f s on %d jobs\n\n", seconds, options.jobs);
  std::printf("%-26s %8s %8s %8s\n", "outcome", "exit 0", "exit!=0", "all");
  for (int k = 0; k < kOutcomes; ++k)
    std::printf("%-26s %8zu %8zu %8zu\n", kOutcomeNames[k], counts[k][0], counts[k][1],
                counts[k][0] + counts[k][1]);
  std::printf("\nruns that exit 0 with rows missing:          %zu\n", rows_missing_exit0);
  std::printf("runs with rows missing and no reason given: %zu\n", rows_missing_unreported);
  std::printf("  of which a selected table was renamed:     %zu\n", renamed);
  if (options.encrypted && options.replay.empty()) {
    std::printf("\nEncrypted .accdb, %zu random flips:\n", options.encrypted);
    for (int k = 0; k < kOutcomes; ++k)
      if (encrypted_counts[k]) std::printf("  %-24s %8zu\n", kOutcomeNames[k], encrypted_counts[k]);
  }
  std::printf("\nMost frequent reasons:\n");
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const auto& [reason, n] : reasons) ranked.emplace_back(n, reason);
  std::sort(ranked.rbegin(), ranked.rend());
  for (size_t i = 0; i < ranked.size() && i < 12; ++i)
    std::printf("  %6zu  %s\n", ranked[i].first, ranked[i].second.substr(0, 110).c_str());
  std::printf("\nCrashes, hangs, silent losses: %s\n", (options.work / "findings.txt").c_str());
  const size_t bad =
      counts[static_cast<int>(Outcome::kCrash)][0] + counts[static_cast<int>(Outcome::kCrash)][1] +
      counts[static_cast<int>(Outcome::kHang)][0] + counts[static_cast<int>(Outcome::kHang)][1] +
      rows_missing_unreported + encrypted_counts[static_cast<int>(Outcome::kCrash)] +
      encrypted_counts[static_cast<int>(Outcome::kHang)];
  return bad == 0 ? 0 : 1;
}

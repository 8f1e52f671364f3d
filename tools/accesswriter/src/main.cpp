// ferrolyte-mkdb: writes an Access database from a JSON description, or a benchmark one.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "accesswriter/description.h"
#include "accesswriter/writer.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: ferrolyte-mkdb [--ace12] [--password P [--encrypt [--encryption M]]]\n"
               "                      (description.json | --bench-rows N [--tables T] | "
               "--bench-tables N) out.mdb\n"
               "--encrypt encrypts the whole .accdb with the password, as Access 2010 does; M is\n"
               "agile (the default), standard, nonstandard, rc4-cryptoapi or rc4-office.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  accesswriter::DatabaseOptions options;
  bool ace = false;
  std::string password;
  bool have_password = false;
  int tables = 1;  // --bench-rows: that many tables alike
  bool encrypt = false;
  std::string encryption;
  std::string bench;
  std::string count;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string_view a = argv[i];
    if (a == "--ace12") {
      ace = true;
    } else if (a == "--password" && i + 1 < argc) {
      password = argv[++i];
      have_password = true;
    } else if (a == "--encrypt") {
      encrypt = true;
    } else if (a == "--encryption" && i + 1 < argc) {
      encryption = argv[++i];
    } else if ((a == "--bench-rows" || a == "--bench-tables") && i + 1 < argc) {
      bench = std::string(a);
      count = argv[++i];
    } else if (a == "--tables" && i + 1 < argc) {
      tables = std::atoi(argv[++i]);
    } else if (a == "-h" || a == "--help") {
      Usage();
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      return Usage();
    } else {
      positional.emplace_back(a);
    }
  }
  try {
    if (!encryption.empty()) options.encryption = accesswriter::EncryptionFromName(encryption);
    if (!bench.empty()) {
      if (positional.size() != 1) return Usage();
      if (ace) options.format = accesswriter::Format::kAce12;
      options.password = password;
      options.encrypt = encrypt;
      char* end = nullptr;
      unsigned long long n = std::strtoull(count.c_str(), &end, 10);
      if (end == count.c_str() || *end != '\0') return Usage();
      if (bench == "--bench-rows") {
        accesswriter::WriteBenchmarkRows(positional[0], n, options, tables);
      } else {
        accesswriter::WriteBenchmarkTables(positional[0], static_cast<int>(n), options);
      }
      return 0;
    }
    if (positional.size() != 2) return Usage();
    auto d = accesswriter::ReadDescriptionFile(positional[0]);
    if (ace) d.options.format = accesswriter::Format::kAce12;
    if (have_password) d.options.password = password;
    if (encrypt) d.options.encrypt = true;
    if (!encryption.empty()) d.options.encryption = options.encryption;
    accesswriter::WriteDatabase(positional[1], d);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ferrolyte-mkdb: %s\n", e.what());
    return 1;
  }
  return 0;
}

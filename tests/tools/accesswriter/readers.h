// Runs the two independent Access readers on a file and returns what they saw.
#ifndef FERROLYTE_TESTS_TOOLS_ACCESSWRITER_READERS_H_
#define FERROLYTE_TESTS_TOOLS_ACCESSWRITER_READERS_H_

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace readers {

// Output and exit status of a shell command.
struct Result {
  int status = -1;
  std::string out;
};
Result Run(const std::string& command);
std::string Quote(const std::string& arg);

// The JSON that tests/node/dump.mjs prints for `file` (mdb-reader). Fails the test (by
// throwing) with a clear message when node or its modules are missing.
nlohmann::json MdbReaderDump(const std::filesystem::path& file, const std::string& password = "");

// One row as libmdb's mdb-export renders it: text per column, nullopt for NULL.
using Row = std::map<std::string, std::optional<std::string>>;
std::vector<Row> LibmdbRows(const std::filesystem::path& file, const std::string& table);

// libmdb's tool output (mdb-schema postgres, mdb-prop, mdb-tables) for text checks.
std::string LibmdbSchema(const std::filesystem::path& file);
std::string LibmdbProps(const std::filesystem::path& file, const std::string& table);
std::vector<std::string> LibmdbTables(const std::filesystem::path& file, bool system);

}  // namespace readers

#endif  // FERROLYTE_TESTS_TOOLS_ACCESSWRITER_READERS_H_
